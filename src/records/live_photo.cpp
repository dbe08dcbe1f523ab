// DoorPic: one pushed live photo, block by block, into "curpic", with resend
// requests for blocks that come out of order or not at all.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/export_guard.h"
#include "core/paths.h"
#include "doorlink/doorlink.h"
#include "platform/files.h"
#include "records/pushed.h"
#include "records/record_files.h"

namespace doorlink::records {
namespace {

// Live photo block.
constexpr size_t kImageAt = 10;
constexpr size_t kImageBytes = 1024;
constexpr size_t kSiteAt = 1034;
constexpr size_t kCardAt = 1035;
constexpr size_t kEchoAt = 1034;  // site, card and three bytes the controller reads back
constexpr size_t kEchoLength = 6;
constexpr size_t kYearAt = 1040, kMonthAt = 1041, kDayAt = 1042, kHourAt = 1043, kMinuteAt = 1044;
constexpr size_t kBlockCountAt = 1050;
constexpr size_t kBlockNumberAt = 1051;

// Photo resend request: code, then the six echo bytes of the last datagram.
constexpr uint8_t kResendCode[4] = {0x73, 0x37, 0x47, 0x57};
constexpr size_t kResendLength = 10;

void copy_text(char* to, const char* from, size_t characters) {
    size_t n = std::strlen(from);
    if (n > characters) n = characters;
    std::memcpy(to, from, n);
    to[n] = '\0';
}

class LivePhoto {
public:
    LivePhoto(core::Transport& transport, core::SocketHandle socket)
        : transport_(transport), socket_(socket) {}

    // -1 on silence; else the datagram's length.
    int receive() {
        std::memset(buffer_, 0, sizeof buffer_);
        const int length = transport_.receive(socket_, buffer_, kPushBufferCapacity, sender_);
        if (length != -1) std::memcpy(echo_.data(), buffer_ + kEchoAt, kEchoLength);
        return length;
    }
    bool is_block(int length, uint32_t number) const {
        return length == kLivePhotoBlockLength && buffer_[kBlockNumberAt] == number;
    }
    // The resend request echoes the last datagram and goes to its sender.
    bool request_resend(int copies) {
        uint8_t request[kResendLength];
        std::memcpy(request, kResendCode, 4);
        std::memcpy(request + 4, echo_.data(), kEchoLength);
        for (int i = 0; i < copies; ++i) {
            if (transport_.send(socket_, request, kResendLength, sender_) == -1) return false;
        }
        return true;
    }
    const uint8_t* image() const { return buffer_ + kImageAt; }
    uint8_t at(size_t offset) const { return buffer_[offset]; }

private:
    core::Transport& transport_;
    core::SocketHandle socket_;
    core::Endpoint sender_;
    uint8_t buffer_[kPushBufferCapacity + 1] = {};
    std::array<uint8_t, kEchoLength> echo_{};
};

}  // namespace

uint32_t ReceiveLivePhoto(core::Transport& transport, core::SocketHandle socket, char* cardText,
                          char* timeText, LocalClock clock) {
    const platform::LocalTime now = clock();
    const std::string directory = core::module_path({"curpic"});
    platform::make_directory(directory);
    platform::make_directory(core::module_path({"filepic"}));

    LivePhoto photo(transport, socket);
    int length = photo.receive();
    for (int rejected = 0; length == -1 || !photo.is_block(length, 0); ++rejected) {
        if (length == -1 || rejected >= kMaxRejectedReplies) return 0;
        if (!photo.request_resend(1)) return 0;
        length = photo.receive();
    }

    const std::string card =
        CardText(photo.at(kSiteAt), photo.at(kCardAt) * 256u + photo.at(kCardAt + 1));
    char time[32];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d", FourDigitYear(photo.at(kYearAt), now),
                  photo.at(kMonthAt), photo.at(kDayAt), photo.at(kHourAt), photo.at(kMinuteAt));
    // A later photo of the same card replaces this one.
    std::FILE* file = std::fopen(core::join_path(directory, card + ".jpg").c_str(), "wb+");
    if (!file) return 0;
    // 8 and 16 characters; a field beyond its range cannot overrun the buffers.
    copy_text(cardText, card.c_str(), 8);
    copy_text(timeText, time, 16);

    const uint32_t blocks = photo.at(kBlockCountAt);
    bool ok = std::fwrite(photo.image(), 1, kImageBytes, file) == kImageBytes;
    for (uint32_t i = 1; ok && i < blocks; ++i) {
        int silences = 0;
        int rejected = 0;
        for (;;) {
            length = photo.receive();
            if (length == -1) {
                // The file keeps what came; a controller gone quiet ends it.
                if (++silences >= kMaxPhotoSilences || !photo.request_resend(2)) {
                    ok = false;
                    break;
                }
                continue;
            }
            silences = 0;
            if (photo.is_block(length, i)) break;
            if (++rejected >= kMaxRejectedReplies || !photo.request_resend(1)) {
                ok = false;
                break;
            }
        }
        if (ok) ok = std::fwrite(photo.image(), 1, kImageBytes, file) == kImageBytes;
    }
    std::fclose(file);
    return ok ? 1 : 0;
}

}  // namespace doorlink::records

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorPic(uint32_t unused, char* cardText,
                                                       char* timeText, uint32_t socket) {
    (void)unused;
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!cardText || !timeText || socket == 0) return 0;
        return records::ReceiveLivePhoto(core::udp_transport(), socket, cardText, timeText);
    });
}
