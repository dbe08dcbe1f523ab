// A simulated card reader on a pseudo-terminal: the library opens the
// terminal's device as it would a serial port, polls with 0xF5 0xF5 and gets
// a four-byte card reply. The reader answers only while the line is set as a
// real reader needs it (9600 baud, 8 data bits, no parity, two stop bits,
// raw), as a reader on a wrongly set line hears nothing but noise.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace doorsim {

using Card = std::array<uint8_t, 4>;

class CardReader {
public:
    enum class Mode {
        Answer,  // every poll gets the card reply
        Silent,  // polls are heard but never answered
        Short,   // every poll gets only the first two bytes of the reply
    };

    // The line as the reader last saw it when a poll came in.
    struct Line {
        uint32_t baud = 0;
        int dataBits = 0;
        int stopBits = 0;
        bool parity = false;
        bool raw = false;
    };

    // Opens the pseudo-terminal; throws std::runtime_error when it cannot.
    CardReader();
    ~CardReader();
    CardReader(const CardReader&) = delete;
    CardReader& operator=(const CardReader&) = delete;

    // The device path a host opens, such as /dev/pts/3.
    std::string path() const;

    void start();
    void stop();

    // The card answered to every poll; none: polls go unanswered unless a
    // card was presented.
    void set_card(std::optional<Card> card);
    // A card that answers the next poll only, before the steady card.
    void present(const Card& card);
    void set_mode(Mode mode);
    // A line for every poll heard and every reply sent.
    void set_log(std::ostream* log);

    size_t polls() const;      // polls heard
    size_t replies() const;    // replies sent, full or short
    size_t misframed() const;  // polls heard on a line set wrongly
    Line line() const;
    // Waits until at least count polls were heard.
    bool wait_polls(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Eight hexadecimal digits (spaces between bytes allowed) as a card reply.
bool card_from_text(const std::string& text, Card& card);

}  // namespace doorsim
