#include "cli.h"

namespace doorctl {

void add_target(CLI::App* command, Target& target) {
    command->add_option("ADDRESS", target.address, "controller address, dotted IPv4")->required();
    static const CLI::Validator macText(
        [](const std::string& text) -> std::string {
            bool ok =
                text.size() == 12 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
            return ok ? std::string() : "a MAC is 12 hexadecimal digits without separators";
        },
        "MAC");
    command->add_option("MAC", target.mac, "controller MAC, 12 hexadecimal digits")
        ->required()
        ->check(macText);
}

Result not_confirmed(const std::string& exportName, const Target& target, const std::string& reason) {
    Result r = Result::failure(kNotConfirmed, reason);
    r.set("export", exportName).set("address", target.address);
    if (!target.mac.empty()) r.set("mac", target.mac);
    return r;
}

}  // namespace doorctl
