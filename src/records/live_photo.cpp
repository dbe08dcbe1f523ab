// DoorPic: one pushed live photo, block by block, into "curpic", with resend
// requests for blocks that come out of order or not at all.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/controller_link.h"
#include "core/export_guard.h"
#include "core/library_state.h"
#include "core/owned_file.h"
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
constexpr size_t kEchoAt = 1034;  // site, card and the photo's id, which the controller reads back
constexpr size_t kPhotoIdAt = 1037;
constexpr size_t kEchoLength = 6;
constexpr size_t kYearAt = 1040, kMonthAt = 1041, kDayAt = 1042, kHourAt = 1043, kMinuteAt = 1044;
constexpr size_t kBlockCountAt = 1050;
constexpr size_t kBlockNumberAt = 1051;

// Photo resend request: code, then six echo bytes.
constexpr uint8_t kResendCode[4] = {0x73, 0x37, 0x47, 0x57};
constexpr size_t kResendLength = 10;

void copy_text(char* to, const char* from, size_t characters) {
    size_t n = std::strlen(from);
    if (n > characters) n = characters;
    std::memcpy(to, from, n);
    to[n] = '\0';
}

// What every block of one photo carries alike: card, photo id, time and
// block count. Two swipes of one card within a minute differ in their id.
core::RecentPhotos::Key key_of(const uint8_t* block) {
    return {block[kSiteAt],        block[kCardAt],        block[kCardAt + 1], block[kPhotoIdAt],
            block[kPhotoIdAt + 1], block[kPhotoIdAt + 2], block[kYearAt],     block[kMonthAt],
            block[kDayAt],         block[kHourAt],        block[kMinuteAt],   block[kBlockCountAt]};
}

class LivePhoto {
public:
    LivePhoto(core::Transport& transport, core::SocketHandle socket)
        : link_(transport, socket), socket_(socket) {}

    // Receives until block number `awaited` of this photo comes (Due), or a
    // datagram that is no such block (Wrong), or nothing does. A block of
    // another photo never joins this one. Stale: copies of the monitoring
    // acknowledgement, of this photo's blocks already written, and of the
    // photos taken before on this socket; the block that is due may still
    // follow them.
    core::Awaited await(uint32_t awaited) {
        return link_
            .await(buffer_, kPushBufferCapacity, true,
                   [&](int length) {
                       const bool block = length == kLivePhotoBlockLength;
                       const uint32_t number = buffer_[kBlockNumberAt];
                       const bool ours = taking_ && block && key_of(buffer_) == photo_.key;
                       // The resend request echoes the last datagram, but never one of
                       // another photo while this one is being taken.
                       if (!taking_ || ours) std::memcpy(echo_.data(), buffer_ + kEchoAt, kEchoLength);
                       if (!taking_) {
                           const bool earlier = block && core::LibraryState::get().recent_photos().took(
                                                             socket_, key_of(buffer_), number, fingerprint());
                           if (block && number == 0 && !earlier) return core::Fit::Due;
                           return earlier || IsMonitoringAcknowledgement(buffer_, length) ? core::Fit::Stale
                                                                                          : core::Fit::Wrong;
                       }
                       if (ours && number == awaited) return core::Fit::Due;
                       return (ours && number < awaited) || IsMonitoringAcknowledgement(buffer_, length)
                                  ? core::Fit::Stale
                                  : core::Fit::Wrong;
                   })
            .outcome;
    }
    // Block 0 names the photo whose blocks follow.
    void take_photo() {
        photo_ = {fingerprint(), key_of(buffer_)};
        taking_ = true;
    }
    // A photo received whole: its late copies are no new photo.
    void taken_whole() { core::LibraryState::get().recent_photos().remember(socket_, photo_); }
    // Goes to the sender of the last datagram.
    bool request_resend(int copies) {
        uint8_t request[kResendLength];
        std::memcpy(request, kResendCode, 4);
        std::memcpy(request + 4, echo_.data(), kEchoLength);
        return link_.send_copies(request, kResendLength, copies);
    }
    const uint8_t* image() const { return buffer_ + kImageAt; }
    uint8_t at(size_t offset) const { return buffer_[offset]; }

private:
    uint64_t fingerprint() const { return core::Fingerprint(buffer_, kLivePhotoBlockLength); }

    core::ControllerLink link_;
    const core::SocketHandle socket_;
    uint8_t buffer_[kPushBufferCapacity + 1] = {};
    std::array<uint8_t, kEchoLength> echo_{};
    core::RecentPhotos::Photo photo_;  // the photo being taken
    bool taking_ = false;
};

// Receives block number `block`, asking for it again while other datagrams
// come (at most kMaxRejectedReplies) and, after block 0, while the controller
// is silent (at most kMaxPhotoSilences in a row). Before block 0 a silence
// means there is no photo.
bool receive_block(LivePhoto& photo, uint32_t block) {
    for (int rejected = 0, silences = 0;;) {
        switch (photo.await(block)) {
            case core::Awaited::Due: return true;
            case core::Awaited::Silence:
                // The file keeps what came; a controller gone quiet ends it.
                if (block == 0 || ++silences >= kMaxPhotoSilences || !photo.request_resend(2)) return false;
                continue;
            case core::Awaited::StaleFlood:
            case core::Awaited::ResendDue: return false;  // the host's socket has no adaptive wait
            case core::Awaited::Wrong:
            case core::Awaited::GraceOver: break;
        }
        silences = 0;
        if (++rejected >= core::kMaxRejectedReplies || !photo.request_resend(1)) return false;
    }
}

}  // namespace

uint32_t ReceiveLivePhoto(core::Transport& transport, core::SocketHandle socket, char* cardText,
                          char* timeText, LocalClock clock) {
    const platform::LocalTime now = clock();
    const std::string directory = core::module_path({"curpic"});
    platform::make_directory(directory);
    platform::make_directory(core::module_path({"filepic"}));

    LivePhoto photo(transport, socket);
    if (!receive_block(photo, 0)) return 0;
    photo.take_photo();

    const std::string card = CardText(photo.at(kSiteAt), photo.at(kCardAt) * 256u + photo.at(kCardAt + 1));
    char time[32];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d", FourDigitYear(photo.at(kYearAt), now),
                  photo.at(kMonthAt), photo.at(kDayAt), photo.at(kHourAt), photo.at(kMinuteAt));
    // A later photo of the same card replaces this one.
    core::OwnedFile file(std::fopen(core::join_path(directory, card + ".jpg").c_str(), "wb+"));
    if (!file) return 0;
    // 8 and 16 characters; a field beyond its range cannot overrun the buffers.
    copy_text(cardText, card.c_str(), 8);
    copy_text(timeText, time, 16);

    const uint32_t blocks = photo.at(kBlockCountAt);
    bool ok = std::fwrite(photo.image(), 1, kImageBytes, file.get()) == kImageBytes;
    for (uint32_t i = 1; ok && i < blocks; ++i) {
        ok = receive_block(photo, i) && std::fwrite(photo.image(), 1, kImageBytes, file.get()) == kImageBytes;
    }
    if (!core::CloseNow(file)) ok = false;
    if (ok) photo.taken_whole();
    return ok ? 1 : 0;
}

}  // namespace doorlink::records

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorPic(uint32_t unused, char* cardText, char* timeText,
                                                       uint32_t socket) {
    (void)unused;
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!cardText || !timeText || socket == 0) return 0;
        return records::ReceiveLivePhoto(core::udp_transport(), socket, cardText, timeText);
    });
}
