#include "framed/udp_channel.h"

namespace doorlink::framed {

UdpChannel::~UdpChannel() { Close(); }

void UdpChannel::SetRemote(const std::string& address, uint32_t port) {
    remoteAddress_ = address;
    remotePort_ = port;
}

void UdpChannel::SetRange(uint16_t start, uint16_t end) {
    rangeSet_ = true;
    rangeStart_ = start;
    rangeEnd_ = end;
}

int UdpChannel::Open(uint16_t& localPort) {
    core::PortRange range;
    range.set = rangeSet_;
    range.start = rangeStart_;
    range.end = rangeEnd_;
    socket_ = core::OpenSocketInRange(range, localPort);
    return socket_ != 0 ? 1 : 0;
}

int UdpChannel::Send(const uint8_t* data, int length) {
    if (socket_ == 0) return -1;
    core::Endpoint to;
    to.address = platform::ipv4_from_text(remoteAddress_.c_str());
    to.port = platform::port_to_network(static_cast<uint16_t>(remotePort_ & 0xFFFF));
    return core::SendToController(socket_, data, length, to);
}

int UdpChannel::Receive(uint8_t* buffer, int size, std::string& fromAddress, uint16_t& fromPort) {
    if (socket_ == 0) return -1;
    core::Endpoint from;
    int received = core::ReceiveOnOwnSocket(socket_, buffer, size, from);
    if (received < 0) return -1;
    fromAddress = platform::ipv4_to_text(from.address);
    fromPort = platform::port_from_network(from.port);
    return received;
}

void UdpChannel::Close() {
    if (socket_ == 0) return;
    core::CloseControllerSocket(socket_);
    socket_ = 0;
}

}  // namespace doorlink::framed
