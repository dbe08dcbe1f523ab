#include "serve/monitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "archive/photo_hash.h"
#include "library/doorlink_library.h"
#include "model/errors.h"

namespace doorlinkd {
namespace {

// How long a replaced socket is still read: what the controller sent before
// it acknowledged its new target.
constexpr auto kRetiredSocketGrace = std::chrono::seconds(2);
constexpr int kPollMs = 500;
// Photos whose late copies a socket knows: no fewer than the photo export
// remembers over all sockets.
constexpr size_t kPhotosRemembered = 64;

bool is_card_text(const std::string& card) {
    return card.size() == 8 &&
           std::all_of(card.begin(), card.end(), [](unsigned char c) { return std::isdigit(c); });
}

// FNV-1a over a datagram's bytes: tells a copy of a photo's first block.
uint64_t fingerprint(const uint8_t* bytes, size_t length) {
    uint64_t hash = 1469598103934665603ULL;
    for (size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
    return hash;
}

// The photo's file holds whole blocks: the last one is padded with zeros
// after the JPEG's end of image, which is cut off.
std::vector<uint8_t> without_padding(std::vector<uint8_t> bytes) {
    size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    if (end >= 2 && bytes[end - 2] == 0xFF && bytes[end - 1] == 0xD9) bytes.resize(end);
    return bytes;
}

Event event_of(const Controller& controller, const char* kind, const nlohmann::ordered_json& data) {
    Event event;
    event.controller = controller.name;
    event.kind = kind;
    // Reports are whatever bytes the controller sent: kept as UTF-8.
    event.data = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return event;
}

}  // namespace

struct Monitor::Socket {
    Socket(Controller c, int descriptor) : controller(std::move(c)), fd(descriptor) {}
    ~Socket() { ::close(fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool took_photo(uint64_t firstBlock) const {
        return std::find(photosTaken.begin(), photosTaken.end(), firstBlock) != photosTaken.end();
    }
    void remember_photo(uint64_t firstBlock) {
        photosTaken.push_back(firstBlock);
        if (photosTaken.size() > kPhotosRemembered) photosTaken.pop_front();
    }

    const Controller controller;
    const int fd;
    bool busy = false;  // with a worker, out of the poll set
    bool retired = false;
    std::chrono::steady_clock::time_point closeAfter{};
    // The fingerprints of the first blocks of the photos taken whole here,
    // newest last: the poll thread reads them while no worker has the socket.
    std::deque<uint64_t> photosTaken;
};

Monitor::Monitor(Store& store, EventHub& hub, DataDir dataDir, int workers)
    : Background("monitoring"),
      store_(store),
      hub_(hub),
      dataDir_(std::move(dataDir)),
      workers_(std::max(workers, 1)) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw StoreError("cannot make an eventfd: " + errno_text(errno));
}

Monitor::~Monitor() {
    stop();
    join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sockets_.clear();
        jobs_.clear();
    }
    ::close(wakeFd_);
}

void Monitor::start() {
    threads_.spawn([this] { poll_loop(); });
    for (int i = 0; i < workers_; ++i) threads_.spawn([this] { work_loop(); });
}

void Monitor::wake_poll() {
    const uint64_t one = 1;
    ssize_t written = ::write(wakeFd_, &one, sizeof one);
    (void)written;  // a full counter wakes the poll all the same
}

void Monitor::retire(const std::shared_ptr<Socket>& socket) {
    if (socket->retired) return;
    socket->retired = true;
    socket->closeAfter = Clock::now() + kRetiredSocketGrace;
}

void Monitor::watch(const Controller& controller, int socket) {
    auto watched = std::make_shared<Socket>(controller, socket);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;  // closed with `watched`
        for (const auto& other : sockets_) {
            if (other->controller.name == controller.name) retire(other);
        }
        sockets_.push_back(std::move(watched));
    }
    wake_poll();
}

void Monitor::keep_only(const std::set<std::string>& names) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& socket : sockets_) {
        if (!names.count(socket->controller.name)) retire(socket);
    }
}

void Monitor::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        // An export waiting on a socket returns at once.
        for (const auto& socket : sockets_) ::shutdown(socket->fd, SHUT_RDWR);
    }
    jobsReady_.notify_all();
    wake_poll();
}

void Monitor::poll_loop() {
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Socket>> polled;
    for (;;) {
        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        polled.clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            for (const auto& socket : sockets_) {
                if (socket->busy) continue;
                fds.push_back(pollfd{socket->fd, POLLIN, 0});
                polled.push_back(socket);
            }
        }
        if (::poll(fds.data(), fds.size(), kPollMs) < 0 && errno != EINTR) {
            throw StoreError("poll: " + errno_text(errno));
        }
        uint64_t count = 0;
        if (fds[0].revents & POLLIN) (void)!::read(wakeFd_, &count, sizeof count);
        std::vector<Socket*> readable;
        for (size_t i = 0; i < polled.size(); ++i) {
            if (fds[i + 1].revents == 0) continue;
            readable.push_back(polled[i].get());
            look_at(polled[i]);
        }
        // A retired socket is closed once its grace is over and it is quiet.
        std::lock_guard<std::mutex> lock(mutex_);
        const auto now = Clock::now();
        sockets_.erase(std::remove_if(sockets_.begin(), sockets_.end(),
                                      [&](const std::shared_ptr<Socket>& socket) {
                                          return socket->retired && !socket->busy &&
                                                 now >= socket->closeAfter &&
                                                 std::find(readable.begin(), readable.end(), socket.get()) ==
                                                     readable.end();
                                      }),
                       sockets_.end());
    }
}

void Monitor::look_at(const std::shared_ptr<Socket>& socket) {
    uint8_t bytes[kPushedCapacity];
    // The whole length of the datagram (MSG_TRUNC), and its first bytes.
    const ssize_t length = ::recv(socket->fd, bytes, sizeof bytes, MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0) return;  // nothing after all, or an error the peek cleared
    const Pushed kind = classify_pushed(bytes, static_cast<size_t>(length));
    const size_t taken = std::min(static_cast<size_t>(length), sizeof bytes);
    const uint64_t first = kind == Pushed::PhotoStart ? fingerprint(bytes, taken) : 0;
    // A copy of the first block of a photo taken whole on this socket: the
    // export would pass over it and take the next photo, of another card
    // than the one locked.
    const bool copy = kind == Pushed::PhotoStart && socket->took_photo(first);
    if ((kind == Pushed::PhotoStart && !copy) || kind == Pushed::ErrorReport) {
        std::optional<std::string> card;
        if (kind == Pushed::PhotoStart) card = photo_card(bytes, taken);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            socket->busy = true;
            jobs_.push_back(Job{socket, kind, std::move(card), first});
        }
        jobsReady_.notify_one();
        return;
    }
    // Acknowledgement copies, copies of photos taken, late photo blocks and
    // empty datagrams: the exports would wait past them for what they expect.
    (void)::recv(socket->fd, bytes, sizeof bytes, MSG_DONTWAIT);
}

void Monitor::work_loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            jobsReady_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            if (job.kind == Pushed::PhotoStart) {
                take_photo(*job.socket, job);
            } else {
                take_error_report(*job.socket);
            }
        } catch (const std::exception& e) {
            std::cerr << "doorlinkd: " << job.socket->controller.name
                      << ": what it pushed is lost: " << e.what() << std::endl;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job.socket->busy = false;
        }
        wake_poll();
    }
}

void Monitor::take_photo(Socket& socket, const Job& job) {
    const std::optional<std::string>& card = job.card;
    std::optional<library::PushedPhoto> pushed;
    std::optional<std::vector<uint8_t>> bytes;
    {
        // The export takes the block looked at first, whose card this is.
        const CardLocks::Held lock(photoFiles_, card);
        pushed = library::receive_photo(socket.fd);
        // Unless it still knew that block for a copy of a photo it took
        // before (and this socket forgot) and went on to the next photo:
        // written without its card's lock, the file may be mixed with another's.
        if (pushed && card && pushed->card != *card) {
            std::cerr << "doorlinkd: " << socket.controller.name << ": the photo of card " << pushed->card
                      << " came after a copy of an earlier one and is dropped" << std::endl;
            return;
        }
        if (pushed) socket.remember_photo(job.firstBlock);
        if (pushed && is_card_text(pushed->card)) {
            const std::string file = dataDir_.pushed_photo(pushed->card);
            bytes = read_photo_file(file);
            std::error_code ignored;  // the next photo of the card replaces it anyway
            (void)std::filesystem::remove(file, ignored);
        }
    }
    // No whole photo: a late copy of one taken before, or a controller that
    // fell silent in the middle.
    if (!pushed) return;
    if (!bytes || bytes->empty()) {
        std::cerr << "doorlinkd: " << socket.controller.name << ": the photo of card " << pushed->card
                  << " could not be read back" << std::endl;
        return;
    }
    const Photo photo = photo_of(without_padding(std::move(*bytes)));
    store_.put_photo(photo);
    nlohmann::ordered_json data;
    data["card"] = pushed->card;
    data["time"] = pushed->time;
    data["sha256"] = photo.sha256;
    data["path"] = "/api/v1/photos/" + photo.sha256;
    hub_.append({event_of(socket.controller, "photo", data)});
}

void Monitor::take_error_report(const Socket& socket) {
    const std::optional<std::string> text =
        library::receive_error_report(socket.fd, socket.controller.number);
    // The reports are kept as events; the library's log would only grow.
    std::error_code ignored;
    (void)std::filesystem::remove(dataDir_.error_log(socket.controller.number), ignored);
    if (!text) return;
    // The library's text begins with a line naming the controller number.
    const size_t newline = text->find('\n');
    nlohmann::ordered_json data;
    data["text"] = newline == std::string::npos ? *text : text->substr(newline + 1);
    hub_.append({event_of(socket.controller, "error", data)});
}

}  // namespace doorlinkd
