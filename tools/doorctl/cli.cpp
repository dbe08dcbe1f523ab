#include "cli.h"

#include <iostream>

namespace doorctl {

void add_target(CLI::App* command, Target& target) {
    command->add_option("ADDRESS", target.address, "controller address, dotted IPv4")->required();
    static const CLI::Validator macText(
        [](const std::string& text) -> std::string {
            bool ok = text.size() == 12 &&
                      text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
            return ok ? std::string() : "a MAC is 12 hexadecimal digits without separators";
        },
        "MAC");
    command->add_option("MAC", target.mac, "controller MAC, 12 hexadecimal digits")
        ->required()
        ->check(macText);
}

int& exit_status() {
    static int status = 0;
    return status;
}

void fail(const std::string& reason) {
    std::cerr << "doorctl: " << reason << '\n';
    exit_status() = 1;
}

}  // namespace doorctl
