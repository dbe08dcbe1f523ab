#include "doorsim/card_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "doorsim/simulator.h"
#include "errno_text.h"

namespace doorsim {

struct CardReader::Impl {
    int master = -1;
    // The reader keeps the terminal's device open itself, so that the
    // terminal survives between two hosts' openings without hanging up.
    int slave = -1;
    int wake = -1;
    std::string path;

    mutable std::mutex lock;
    mutable std::condition_variable pollSignal;
    std::optional<Card> card;
    std::deque<Card> presented;
    Mode mode = Mode::Answer;
    std::ostream* log = nullptr;
    size_t polls = 0;
    size_t replies = 0;
    size_t misframed = 0;
    Line line;
    bool running = false;
    std::thread thread;
    bool halfPoll = false;  // the first 0xF5 of a poll has come

    ~Impl() {
        for (int fd : {master, slave, wake}) {
            if (fd >= 0) ::close(fd);
        }
    }

    void log_line(const char* direction, const uint8_t* bytes, size_t count) {
        if (!log) return;
        std::ostringstream text;
        text << "reader " << direction << " [" << count << "] " << hex(Bytes(bytes, bytes + count)) << '\n';
        *log << text.str() << std::flush;
    }

    Line read_line() const {
        Line l;
        termios t{};
        if (::tcgetattr(slave, &t) != 0) return l;
        l.baud = ::cfgetospeed(&t) == B9600 && ::cfgetispeed(&t) == B9600 ? 9600 : 0;
        switch (t.c_cflag & CSIZE) {
            case CS5: l.dataBits = 5; break;
            case CS6: l.dataBits = 6; break;
            case CS7: l.dataBits = 7; break;
            default: l.dataBits = 8; break;
        }
        l.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
        l.parity = (t.c_cflag & PARENB) != 0;
        // Raw: bytes pass unchanged both ways and nothing is echoed.
        l.raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) &&
                !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF)) && !(t.c_oflag & OPOST);
        return l;
    }

    static bool line_fits(const Line& l) {
        return l.baud == 9600 && l.dataBits == 8 && l.stopBits == 2 && !l.parity && l.raw;
    }

    // Bytes the host has not read yet.
    int unread() const {
        int queued = 0;
        return ::ioctl(slave, FIONREAD, &queued) == 0 ? queued : 0;
    }

    // Called with the lock held for every complete poll.
    void answer_poll() {
        ++polls;
        line = read_line();
        pollSignal.notify_all();
        if (!line_fits(line)) {
            ++misframed;
            return;
        }
        if (mode == Mode::Silent) return;
        std::optional<Card> reply;
        if (!presented.empty()) {
            reply = presented.front();
            presented.pop_front();
        } else {
            reply = card;
        }
        if (!reply) return;
        size_t count = 4;
        if (mode == Mode::Short) {
            // Two bytes, and never while two are still unread, so that the
            // host never finds a whole reply.
            if (unread() > 0) return;
            count = 2;
        }
        ssize_t n = ::write(master, reply->data(), count);
        if (n > 0) {
            ++replies;
            log_line("->", reply->data(), static_cast<size_t>(n));
        }
    }

    void serve() {
        uint8_t buffer[256];
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (!running) return;
            }
            pollfd fds[2] = {{wake, POLLIN, 0}, {master, POLLIN, 0}};
            int r = ::poll(fds, 2, 200);
            if (r < 0 && errno != EINTR) return;
            if (fds[0].revents & POLLIN) {
                uint64_t count;
                [[maybe_unused]] ssize_t n = ::read(wake, &count, sizeof count);
            }
            if (!(fds[1].revents & POLLIN)) continue;
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) continue;
            std::lock_guard<std::mutex> guard(lock);
            log_line("<-", buffer, static_cast<size_t>(n));
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != 0xF5) {
                    halfPoll = false;
                } else if (halfPoll) {
                    halfPoll = false;
                    answer_poll();
                } else {
                    halfPoll = true;
                }
            }
        }
    }
};

CardReader::CardReader() : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m.master < 0 || ::grantpt(m.master) != 0 || ::unlockpt(m.master) != 0) {
        throw std::runtime_error("cannot open a pseudo-terminal: " + errno_text(errno));
    }
    char name[128] = {};
    if (::ptsname_r(m.master, name, sizeof name) != 0) {
        throw std::runtime_error("cannot name the pseudo-terminal");
    }
    m.path = name;
    m.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    m.wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m.slave < 0 || m.wake < 0) {
        throw std::runtime_error(std::string("cannot open ") + name + ": " + errno_text(errno));
    }
    // The terminal starts with its default settings (38400 baud, one stop
    // bit, line editing and echo on); the host has to set the line itself.
}

CardReader::~CardReader() { stop(); }

std::string CardReader::path() const { return impl_->path; }

void CardReader::start() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->running) return;
    impl_->running = true;
    impl_->thread = std::thread([this] { impl_->serve(); });
}

void CardReader::stop() {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->running) return;
        impl_->running = false;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(impl_->wake, &one, sizeof one);
    }
    impl_->thread.join();
}

void CardReader::set_card(std::optional<Card> card) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->card = card;
}

void CardReader::present(const Card& card) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->presented.push_back(card);
}

void CardReader::set_mode(Mode mode) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->mode = mode;
}

void CardReader::set_log(std::ostream* log) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->log = log;
}

size_t CardReader::polls() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->polls;
}

size_t CardReader::replies() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->replies;
}

size_t CardReader::misframed() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->misframed;
}

CardReader::Line CardReader::line() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->line;
}

bool CardReader::wait_polls(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(impl_->lock);
    return impl_->pollSignal.wait_for(guard, timeout, [&] { return impl_->polls >= count; });
}

bool card_from_text(const std::string& text, Card& card) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() != 8) return false;
    for (size_t i = 0; i < 4; ++i) {
        card[i] = static_cast<uint8_t>(std::stoul(digits.substr(i * 2, 2), nullptr, 16));
    }
    return true;
}

}  // namespace doorsim
