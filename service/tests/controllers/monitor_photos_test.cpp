// Photos that two controllers push at the same time to the monitor: one
// that falls silent in the middle of its photo holds up no photo of another
// card, and two photos of one card each come out whole.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <thread>
#include <tuple>

#include "common/sha256.h"
#include "doorsim/records_state.h"
#include "fleet/event_hub.h"
#include "fleet/metrics.h"
#include "serve/monitor.h"

namespace doorlinkd {
namespace {

using Seconds = std::chrono::duration<double>;

// A UDP socket on 127.0.0.1, any port.
int loopback_socket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("no loopback socket");
    }
    return fd;
}

// A controller that pushes from a socket of its own to its monitoring socket.
class Pusher {
public:
    explicit Pusher(int target) {
        socklen_t length = sizeof to_;
        ::getsockname(target, reinterpret_cast<sockaddr*>(&to_), &length);
    }
    ~Pusher() { ::close(fd_); }
    Pusher(const Pusher&) = delete;
    Pusher& operator=(const Pusher&) = delete;
    void push(const doorsim::Bytes& block) const {
        const ssize_t sent =
            ::sendto(fd_, block.data(), block.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
        ASSERT_EQ(sent, static_cast<ssize_t>(block.size()));
    }

private:
    const int fd_ = loopback_socket();
    sockaddr_in to_{};
};

struct StoredPhoto {
    std::string controller, card, sha256;
    bool operator<(const StoredPhoto& other) const {
        return std::tie(controller, card, sha256) < std::tie(other.controller, other.card, other.sha256);
    }
    bool operator==(const StoredPhoto& other) const { return !(*this < other) && !(other < *this); }
    friend void PrintTo(const StoredPhoto& photo, std::ostream* out) {
        *out << photo.controller << " " << photo.card << " " << photo.sha256;
    }
};

class MonitorPhotos : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(directory);
        store = Store::open("sqlite:" + directory + "/fleet.db");
        store->initialise();
        hub = std::make_unique<EventHub>(*store, metrics);
        monitor = std::make_unique<Monitor>(*store, *hub, DataDir(std::getenv("DOORLINK_HOME")), 4);
        monitor->start();
        for (int i = 0; i < 2; ++i) {
            const Controller controller{"door" + std::to_string(i + 1),
                                        "127.0.0.1",
                                        "00112233445" + std::to_string(i),
                                        i + 1,
                                        false,
                                        true};
            store->add_controller(controller);
            const int socket = loopback_socket();
            pushers.push_back(std::make_unique<Pusher>(socket));
            monitor->watch(controller, socket);
        }
    }
    void TearDown() override {
        monitor.reset();  // its sockets shut: an export still waiting ends at once
        store.reset();
        std::filesystem::remove_all(directory);
    }

    std::set<StoredPhoto> stored() const {
        std::set<StoredPhoto> photos;
        for (const Event& event : store->events(0, "", "photo", 100)) {
            const auto data = nlohmann::json::parse(event.data);
            photos.insert({event.controller, data.at("card"), data.at("sha256")});
        }
        return photos;
    }
    // The photos stored once `count` are, or when `within` has passed.
    std::set<StoredPhoto> wait_for_photos(size_t count, Seconds within) const {
        const auto deadline = std::chrono::steady_clock::now() + within;
        std::set<StoredPhoto> photos = stored();
        while (photos.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            photos = stored();
        }
        return photos;
    }

    const std::string directory =
        (std::filesystem::temp_directory_path() / ("monitor_photos_" + std::to_string(::getpid()))).string();
    std::unique_ptr<Store> store;
    Metrics metrics;
    std::unique_ptr<EventHub> hub;
    std::unique_ptr<Monitor> monitor;
    std::vector<std::unique_ptr<Pusher>> pushers;
};

// A photo of the card at the moment (a few blocks), the JPEG differing with
// the moment.
doorsim::StoredRecord photo_of(uint16_t card, std::time_t when) {
    return doorsim::make_record(1, card, when, 1, 320, 240);
}

TEST_F(MonitorPhotos, AControllerSilentInItsPhotoHoldsUpNoPhotoOfAnotherCard) {
    const std::time_t now = std::time(nullptr);
    const auto halted = doorsim::live_photo_blocks(photo_of(11111, now), 1);
    const doorsim::StoredRecord whole = photo_of(22222, now);
    ASSERT_GE(halted.size(), 2u);
    pushers[0]->push(halted[0]);  // and nothing more: its export waits about 10 s
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    const auto pushed = std::chrono::steady_clock::now();
    for (const doorsim::Bytes& block : doorsim::live_photo_blocks(whole, 1)) pushers[1]->push(block);
    const std::set<StoredPhoto> photos = wait_for_photos(1, Seconds(5));
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - pushed).count(), 4.0);
    EXPECT_EQ(photos, (std::set<StoredPhoto>{{"door2", "00122222", sha256_hex(whole.photo)}}));
}

TEST_F(MonitorPhotos, TwoControllersPushingOneCardEachStoreTheirWholePhoto) {
    const std::time_t now = std::time(nullptr);
    const doorsim::StoredRecord first = photo_of(33333, now);
    const doorsim::StoredRecord second = photo_of(33333, now - 3600);
    ASSERT_NE(first.photo, second.photo);
    const auto firstBlocks = doorsim::live_photo_blocks(first, 1);
    const auto secondBlocks = doorsim::live_photo_blocks(second, 1);
    ASSERT_GE(firstBlocks.size(), 3u);
    // Block by block in turn, at a controller's pace: the two exports would
    // write curpic/00133333.jpg at the same time.
    for (size_t i = 0; i < std::max(firstBlocks.size(), secondBlocks.size()); ++i) {
        if (i < firstBlocks.size()) pushers[0]->push(firstBlocks[i]);
        if (i < secondBlocks.size()) pushers[1]->push(secondBlocks[i]);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(wait_for_photos(2, Seconds(10)),
              (std::set<StoredPhoto>{{"door1", "00133333", sha256_hex(first.photo)},
                                     {"door2", "00133333", sha256_hex(second.photo)}}));
}

// The export passes over a late copy of a photo's first block and takes the
// next photo: the monitor drains the copy first, so that next photo is taken
// under its own card's lock.
TEST_F(MonitorPhotos, ALateCopyOfAPhotosFirstBlockIsNoLockForTheNextPhoto) {
    const std::time_t now = std::time(nullptr);
    const doorsim::StoredRecord earlier = photo_of(44444, now);
    const doorsim::StoredRecord next = photo_of(55555, now);
    const auto earlierBlocks = doorsim::live_photo_blocks(earlier, 1);
    for (const doorsim::Bytes& block : earlierBlocks) pushers[0]->push(block);
    ASSERT_EQ(wait_for_photos(1, Seconds(30)).size(), 1u);
    pushers[0]->push(earlierBlocks[0]);
    for (const doorsim::Bytes& block : doorsim::live_photo_blocks(next, 2)) pushers[0]->push(block);
    EXPECT_EQ(wait_for_photos(2, Seconds(10)),
              (std::set<StoredPhoto>{{"door1", "00144444", sha256_hex(earlier.photo)},
                                     {"door1", "00155555", sha256_hex(next.photo)}}));
}

}  // namespace
}  // namespace doorlinkd
