// doorctl reader read PORT
#include <iostream>
#include <memory>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "doorsim/card_reader.h"

namespace doorctl {
namespace {

bool read_card(const std::string& port, std::string* text = nullptr) {
    char result[20] = {};
    if (GetCardNo(port.c_str(), result) != 1) {
        fail("no card from the reader on " + port +
             " (no such port, port in use, or no card within about 5 seconds)");
        return false;
    }
    std::cout << result << '\n';
    if (text) *text = result;
    return true;
}

// The demo's reader: a simulated one on a pseudo-terminal holding the card
// 00 0C 30 39 (site 12, number 12345).
bool demo_read_card() {
    try {
        doorsim::CardReader reader;
        reader.set_card(doorsim::Card{0x00, 0x0C, 0x30, 0x39});
        reader.start();
        std::cout << "simulated card reader on " << reader.path() << "\n";
        std::string text;
        if (!read_card(reader.path(), &text)) return false;
        std::cout << "card value " << text.substr(0, 10) << ", card " << text.substr(11) << "\n";
        return text == "0000798777,01212345";
    } catch (const std::exception& e) {
        fail(std::string("cannot start the simulated card reader: ") + e.what());
        return false;
    }
}

}  // namespace

void add_reader_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto* reader = app.add_subcommand("reader", "the card reader on a serial port");
    reader->require_subcommand(1);
    auto port = std::make_shared<std::string>();
    auto* read = reader->add_subcommand(
        "read", "poll the reader until a card is presented (about 5 s at most); prints\n"
                "the card value as ten digits, a comma and the card text");
    read->add_option("PORT", *port, "serial port device (/dev/ttyS0, or the path doorsim reader prints)")
        ->required();
    read->callback([port] { read_card(*port); });

    demo.push_back({"read a card from a simulated card reader", [](DemoContext&) { return demo_read_card(); }});
}

}  // namespace doorctl
