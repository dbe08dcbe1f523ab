// doorctl framed ADDRESS --node N --station HEX --command BYTE [--payload HEX]
#include <cctype>
#include <memory>
#include <vector>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "doorsim/framed_state.h"

namespace doorctl {
namespace {

struct FramedArgs {
    std::string address;
    std::string node = "1";
    std::string station = "0001";
    std::string command;
    std::string payload;
};

// Hexadecimal digits, spaces allowed between bytes, as bytes.
bool parse_hex(const std::string& text, std::vector<uint8_t>& out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

// Decimal, or hexadecimal after 0x.
bool parse_number(const std::string& text, unsigned long limit, unsigned long& value) {
    try {
        size_t used = 0;
        value = std::stoul(text, &used, 0);
        return used == text.size() && value <= limit;
    } catch (const std::exception&) {
        return false;
    }
}

// Sends the command; answer holds the answer block on success.
Result run_framed(const FramedArgs& a, std::vector<uint8_t>* answerOut = nullptr) {
    unsigned long node = 0, command = 0;
    std::vector<uint8_t> station, payload;
    if (!parse_number(a.node, 0xFFFF, node))
        return Result::failure(kUsageError, "--node is a number from 0 to 65535");
    if (!parse_number(a.command, 0xFF, command)) {
        return Result::failure(kUsageError, "--command is a byte, 0 to 255 or 0x00 to 0xff");
    }
    if (!parse_hex(a.station, station) || station.size() != 2) {
        return Result::failure(kUsageError, "--station is 4 hexadecimal digits, such as 0001");
    }
    if (!parse_hex(a.payload, payload) || payload.size() > 1002) {
        return Result::failure(kUsageError, "--payload is hexadecimal bytes, at most 1002 of them");
    }
    std::vector<uint8_t> block = {static_cast<uint8_t>(command), static_cast<uint8_t>(payload.size() >> 8),
                                  static_cast<uint8_t>(payload.size() & 0xFF)};
    block.insert(block.end(), payload.begin(), payload.end());
    std::vector<uint8_t> answer(3 + 1024, 0);
    if (SysComInter(a.address.c_str(), static_cast<uint16_t>(node), 0, 0, station.data(), block.data(),
                    answer.data()) != 1) {
        return not_confirmed("SysComInter", {a.address, ""},
                             "no answer to the framed command from " + a.address);
    }
    size_t length = answer[1] * 256u + answer[2];
    if (answerOut) answerOut->assign(answer.begin(), answer.begin() + static_cast<long>(3 + length));
    return Result()
        .set("address", a.address)
        .set("command", answer[0])
        .set("length", length)
        .set("payload", hex_bytes(answer.data() + 3, length))
        .line(length ? "command {command:%02x}, length {length}, payload {payload}"
                     : "command {command:%02x}, length {length}, payload (none)");
}

}  // namespace

void add_framed_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto args = std::make_shared<FramedArgs>();
    auto* framed =
        app.add_subcommand("framed",
                           "send a command byte and payload in a command frame; prints the answer's\n"
                           "command byte, payload length and payload in hex");
    framed->add_option("ADDRESS", args->address, "controller address, dotted IPv4")->required();
    framed->add_option("--node", args->node, "node number (0..65535)")->capture_default_str();
    framed->add_option("--station", args->station, "station address, 4 hex digits")->capture_default_str();
    framed->add_option("--command", args->command, "command byte (decimal, or hex after 0x)")->required();
    framed->add_option("--payload", args->payload, "payload bytes in hex (spaces allowed)");
    framed->callback([args] { emit(run_framed(*args)); });

    demo.push_back(
        {"framed command: echo a payload", [](DemoContext& c) {
             FramedArgs a{c.address, "1", "0001", std::to_string(doorsim::kFramedEcho), "48656c6c6f"};
             std::vector<uint8_t> answer;
             return emit(run_framed(a, &answer)) &&
                    answer == std::vector<uint8_t>{1, 0, 5, 'H', 'e', 'l', 'l', 'o'};
         }});
    demo.push_back({"framed command: read the controller's clock", [](DemoContext& c) {
                        FramedArgs a{c.address, "1", "0001", std::to_string(doorsim::kFramedClock), ""};
                        std::vector<uint8_t> answer;
                        return emit(run_framed(a, &answer)) && answer.size() == 3 + 7;
                    }});
}

}  // namespace doorctl
