// doorctl reader read PORT
#include <memory>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "doorsim/card_reader.h"

namespace doorctl {
namespace {

// The result text is the card value (ten digits), a comma and the card text.
Result read_card(const std::string& port, std::string* text = nullptr) {
    char result[20] = {};
    if (GetCardNo(port.c_str(), result) != 1) {
        return Result::failure(kNotConfirmed,
                               "no card from the reader on " + port +
                                   " (no such port, port in use, or no card within about 5 seconds)")
            .set("export", "GetCardNo")
            .set("port", port);
    }
    const std::string read = result;
    if (text) *text = read;
    const size_t comma = read.find(',');
    return Result()
        .set("port", port)
        .set("result", read)
        .set("card_value", read.substr(0, comma))
        .set("card", comma == std::string::npos ? std::string() : read.substr(comma + 1))
        .line("{result}");
}

// The demo's reader: a simulated one on a pseudo-terminal holding the card
// 00 0C 30 39 (site 12, number 12345).
bool demo_read_card() {
    try {
        doorsim::CardReader reader;
        reader.set_card(doorsim::Card{0x00, 0x0C, 0x30, 0x39});
        reader.start();
        note("simulated card reader on " + reader.path() + "\n");
        std::string text;
        if (!emit(read_card(reader.path(), &text))) return false;
        note("card value " + text.substr(0, 10) + ", card " + text.substr(11) + "\n");
        return text == "0000798777,01212345";
    } catch (const std::exception& e) {
        return emit(Result::failure(kNotConfirmed,
                                    std::string("cannot start the simulated card reader: ") + e.what()));
    }
}

}  // namespace

void add_reader_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto* reader = app.add_subcommand("reader", "the card reader on a serial port");
    reader->require_subcommand(1);
    auto port = std::make_shared<std::string>();
    auto* read =
        reader->add_subcommand("read",
                               "poll the reader until a card is presented (about 5 s at most); prints\n"
                               "the card value as ten digits, a comma and the card text");
    read->add_option("PORT", *port, "serial port device (/dev/ttyS0, or the path doorsim reader prints)")
        ->required();
    read->callback([port] { emit(read_card(*port)); });

    demo.push_back(
        {"read a card from a simulated card reader", [](DemoContext&) { return demo_read_card(); }});
}

}  // namespace doorctl
