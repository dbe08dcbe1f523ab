// DataRtn: the photo/record block stream, its acknowledgements and resend
// requests, and the files it turns into.
#include "records/record_retrieval.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/bytes.h"
#include "core/controller_link.h"
#include "core/export_guard.h"
#include "core/owned_file.h"
#include "core/paths.h"
#include "doorlink/doorlink.h"
#include "platform/files.h"
#include "records/record_files.h"

namespace doorlink::records {
namespace {

using Trailer = std::array<uint8_t, 5>;

// Retrieval request: code, sub-code, MAC, a final zero.
constexpr size_t kRequestLength = 12;
constexpr uint8_t kRetrievalCode[4] = {0x41, 0x14, 0x24, 0x34};
constexpr uint8_t kRetrievalSubCode = 0x77;
constexpr size_t kSubCodeAt = 4;
constexpr size_t kMacAt = 5;

constexpr size_t kImageBytes = 1024;
constexpr size_t kShortImageBytes = 512;

// Offsets counted back from the end of a block (L - n).
constexpr int kTrailerFromEnd = 5;
constexpr int kImageNumberFromEnd = 3;
constexpr int kSequenceFromEnd = 1;
constexpr int kSiteFromEnd = 21;
constexpr int kCardFromEnd = 20;
constexpr int kYearFromEnd = 15;
constexpr int kMonthFromEnd = 14;
constexpr int kDayFromEnd = 13;
constexpr int kHourFromEnd = 12;
constexpr int kMinuteFromEnd = 11;
constexpr int kSecondFromEnd = 10;
constexpr int kTotalImagesFromEnd = 7;
// The end-of-image search starts here and runs down towards the start.
constexpr int kImageEndSearchFromEnd = 23;

constexpr uint8_t kResendLead = 0xFF;
constexpr Trailer kAlternativeResend = {0x47, 0x74, 0x84, 0x94, 0x33};

std::string format(const char* pattern, int a) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a);
    return text;
}

class Retrieval {
public:
    Retrieval(core::Transport& transport, const char* address, int controller, LocalClock clock)
        : link_(transport, address), controller_(controller), clock_(clock) {}

    uint32_t run(const core::Mac& mac);

private:
    enum class Handled { Acknowledge, Rejected, Finished };

    Handled handle(int length);
    Handled record_block(int length);
    bool in_order(int length) const;
    // A block of an image before the current one, or one whose trailer this
    // call has acknowledged lately.
    bool acknowledged(int length) const {
        if (length != kPhotoBlockLength && length != kRecordBlockLength &&
            length != kShortRecordBlockLength) {
            return false;
        }
        const Trailer t = trailer_of(length);
        const uint32_t image = t[2] * 256u + t[3];
        const uint32_t behind = (imageNumber_ - image) & 0xFFFFu;  // image numbers wrap
        return (imageKnown_ && behind != 0 && behind < 0x8000u) ||
               std::find(acknowledged_.begin(), acknowledged_.begin() + acknowledgedCount_, t) !=
                   acknowledged_.begin() + acknowledgedCount_;
    }
    void remember_acknowledged(const Trailer& t) {
        acknowledged_[acknowledgedNext_] = t;
        acknowledgedNext_ = (acknowledgedNext_ + 1) % acknowledged_.size();
        if (acknowledgedCount_ < acknowledged_.size()) ++acknowledgedCount_;
    }
    // Appends image bytes to the photo file; false when the write fails or
    // the photo outgrows kMaxPhotoBytes.
    bool append_photo(size_t count) {
        photoBytes_ += count;
        if (photoBytes_ > kMaxPhotoBytes) {
            photoTooLarge_ = true;
            return false;
        }
        return std::fwrite(buffer_, 1, count, photo_.get()) == count;
    }
    Trailer resend_request() const;
    Trailer answer_to_unexpected() const;
    Trailer trailer_of(int length) const {
        Trailer t;
        std::memcpy(t.data(), buffer_ + length - kTrailerFromEnd, t.size());
        return t;
    }
    uint32_t at(int length, int fromEnd) const { return buffer_[length - fromEnd]; }
    int receive() {
        std::memset(buffer_, 0, sizeof buffer_);
        return link_.receive(buffer_, kRetrievalBufferSize);
    }
    bool open_photo_file(const std::string& path) {
        photoPath_ = path;
        photoTail_ = {0, 0};
        photoBytes_ = 0;
        photo_.reset(std::fopen(path.c_str(), "wb+"));
        // Most photos then reach the file in one write when they are closed.
        if (photo_) (void)std::setvbuf(photo_.get(), photoBuffer_.get(), _IOFBF, kPhotoBufferSize);
        return photo_ != nullptr;
    }
    // The photo file left open is one that did not come whole.
    uint32_t finish(uint32_t result, bool deletePhoto = false) {
        name_finished_photo();
        (void)core::CloseNow(photo_);
        if (deletePhoto && !photoPath_.empty()) platform::delete_file(photoPath_);
        files_.close();
        link_.close();
        return result;
    }

    core::ControllerLink link_;
    const int controller_;
    const LocalClock clock_;
    uint8_t buffer_[kRetrievalBufferSize + 1] = {};

    RecordFiles files_;
    std::string photoDirectory_;
    std::string photoPath_;
    // The last two bytes written to the photo file: its end-of-image marker
    // may lie across the boundary of a photo block and the record block.
    std::array<uint8_t, 2> photoTail_{};
    size_t photoBytes_ = 0;
    static constexpr size_t kPhotoBufferSize = size_t{32} * 1024;
    std::unique_ptr<char[]> photoBuffer_{new char[kPhotoBufferSize]};
    // After its buffer, so that it is closed first on every way out.
    core::OwnedFile photo_;
    bool photoTooLarge_ = false;
    // A photo that came whole, written and closed, waiting for its final name
    // until its record's acknowledgement is on its way; the controller then
    // makes the next block while the file is moved and the next one opened.
    struct FinishedPhoto {
        std::string directory;
        std::string path;
        uint32_t image = 0;
    };
    std::optional<FinishedPhoto> finishedPhoto_;
    void name_finished_photo();
    bool settle_finished_photo();
    // The trailers of the last blocks acknowledged, to know their copies;
    // fewer than the 256 after which a sequence byte comes round again.
    std::array<Trailer, 128> acknowledged_{};
    size_t acknowledgedNext_ = 0;
    size_t acknowledgedCount_ = 0;

    uint32_t imageNumber_ = 0;
    bool imageKnown_ = false;  // imageNumber_ is one the controller sent
    uint32_t totalImages_ = 0;
    uint8_t lastSequence_ = 0;
    int retries_ = 0;
    // Replies rejected while the block that is due has not come: wrong ones,
    // and stale ones whose grace ran out.
    int rejectedForDue_ = 0;
    uint32_t result_ = kRetrievalFailed;
};

uint32_t Retrieval::run(const core::Mac& mac) {
    if (!link_.open()) return kRetrievalFailed;

    std::array<uint8_t, kRequestLength> request{};
    core::ByteWriter(request)
        .bytes(0, kRetrievalCode, 4)
        .u8(kSubCodeAt, kRetrievalSubCode)
        .bytes(kMacAt, mac);

    // Every file is opened before anything is sent, so a retrieval never
    // takes records from the controller that it cannot keep.
    photoDirectory_ = core::module_path({"pic"});
    platform::make_directory(photoDirectory_);
    if (!files_.open(controller_, clock_()) ||
        !open_photo_file(core::join_path(photoDirectory_, format("%03d0.jpg", controller_)))) {
        return finish(kRetrievalFailed);
    }

    if (!link_.send_copies(request.data(), request.size(), kRetrievalRequestCopies)) {
        return finish(kRetrievalFailed);
    }
    int length = receive();
    if (length == -1) return finish(kRetrievalFailed);

    for (;;) {
        Handled handled = handle(length);
        if (handled == Handled::Finished) return finish(result_, photoTooLarge_);
        if (handled == Handled::Acknowledge) {
            remember_acknowledged(trailer_of(length));
            rejectedForDue_ = 0;  // the next block is due
        }
        Trailer acknowledgement =
            handled == Handled::Acknowledge ? trailer_of(length) : answer_to_unexpected();
        if (handled == Handled::Rejected && ++rejectedForDue_ >= core::kMaxRejectedReplies) {
            return finish(kRetrievalFailed);
        }
        // Acknowledge until a reply in order arrives. A copy of a block
        // already acknowledged is stale, even one whose sequence byte has
        // come round to the next: the block that is due may still follow it.
        auto fit = [this](int n) {
            return acknowledged(n) ? core::Fit::Stale : in_order(n) ? core::Fit::Due : core::Fit::Wrong;
        };
        core::ResendSchedule schedule = link_.resend_schedule(core::Repeatable::PhotoStreamResend);
        for (;;) {
            lastSequence_ = acknowledgement[4];
            imageNumber_ = acknowledgement[2] * 256u + acknowledgement[3];
            imageKnown_ = acknowledgement != kAlternativeResend;
            // The photo gets its final name before its record is acknowledged:
            // a controller frees what the host acknowledged, so a host that
            // dies after the acknowledgement must already hold the photo
            // where the record's line says, not under a temporary name that
            // the next retrieval overwrites.
            name_finished_photo();
            if (!link_.send_copies(acknowledgement.data(), acknowledgement.size(), kAcknowledgementCopies) ||
                !settle_finished_photo()) {
                return finish(kRetrievalFailed);
            }
            schedule.sent();
            // Early, only the resend request of a known block goes again.
            const std::optional<core::ControllerLink::Reply> awaited = link_.await_resending(
                buffer_, kRetrievalBufferSize, true, fit, imageKnown_ ? &schedule : nullptr, [this] {
                    const Trailer again = resend_request();
                    return link_.send_copies(again.data(), again.size(), kAcknowledgementCopies);
                });
            if (!awaited) return finish(kRetrievalFailed);
            const core::ControllerLink::Reply& got = *awaited;
            length = got.length;
            if (got.outcome == core::Awaited::Due) break;
            if (got.outcome == core::Awaited::StaleFlood) return finish(kRetrievalFailed);
            if (got.outcome == core::Awaited::Silence) {
                WriteCurrentImage(controller_, static_cast<long>(imageNumber_));
                // Without a known total (image 1 not seen) this also ends here.
                if (imageNumber_ >= totalImages_) return finish(kRetrievalSilentAfterAll, true);
                if (retries_ >= kMaxSilences) return finish(kRetrievalFailed, true);
                ++retries_;
            } else if (++rejectedForDue_ >= core::kMaxRejectedReplies) {  // wrong, or stale too long
                return finish(kRetrievalFailed);
            }
            acknowledgement = resend_request();
        }
    }
}

bool Retrieval::in_order(int length) const {
    if (length == 0) return true;  // an empty datagram ends the call
    if (length < kTrailerFromEnd) return false;
    const uint32_t sequence = at(length, kSequenceFromEnd);
    const uint32_t image = at(length, kImageNumberFromEnd) * 256u + at(length, kImageNumberFromEnd - 1);
    return sequence == ((lastSequence_ + 1u) & 0xFFu) || image == imageNumber_ + 1;
}

// Asks for the block after the last one acknowledged; the answer to a
// silence and to a reply out of order.
Trailer Retrieval::resend_request() const {
    return {kResendLead, kResendLead, static_cast<uint8_t>(imageNumber_ / 256),
            static_cast<uint8_t>(imageNumber_ % 256), lastSequence_};
}

// A reply of a length no block has: after sequence byte 0xFF the controller
// takes the alternative request instead.
Trailer Retrieval::answer_to_unexpected() const {
    return lastSequence_ == 0xFF ? kAlternativeResend : resend_request();
}

Retrieval::Handled Retrieval::handle(int length) {
    switch (length) {
        case 0: result_ = kRetrievalFailed; return Handled::Finished;
        case kPhotoBlockLength:
            if (!append_photo(kImageBytes)) {
                result_ = kRetrievalFailed;
                return Handled::Finished;
            }
            photoTail_ = {buffer_[kImageBytes - 2], buffer_[kImageBytes - 1]};
            return Handled::Acknowledge;
        case kRecordBlockLength:
        case kShortRecordBlockLength: return record_block(length);
        case kShortReplyLength: result_ = kRetrievalShortReply; return Handled::Finished;
        default:
            if (length == 5 && std::memcmp(buffer_, kEndMarker, 5) == 0) {
                result_ = kRetrievalEndMarker;
                return Handled::Finished;
            }
            return Handled::Rejected;
    }
}

Retrieval::Handled Retrieval::record_block(int length) {
    // The image ends at the last end-of-image marker; without one the whole
    // image area belongs to it. A marker whose 0xFF closed the last photo
    // block ends the image at byte 0, and a photo that ended in its photo
    // blocks takes nothing from the record block.
    size_t imageLength = length == kRecordBlockLength ? kImageBytes : kShortImageBytes;
    bool found = false;
    for (int p = length - kImageEndSearchFromEnd; p >= 1 && !found; --p) {
        if (buffer_[p] == 0xD9 && buffer_[p - 1] == 0xFF) {
            imageLength = static_cast<size_t>(p) + 1;
            found = true;
        }
    }
    if (!found && buffer_[0] == 0xD9 && photoTail_[1] == 0xFF) {
        imageLength = 1;
    } else if (!found && photoTail_ == std::array<uint8_t, 2>{0xFF, 0xD9}) {
        imageLength = 0;
    }
    result_ = kRetrievalFailed;
    if (!append_photo(imageLength)) return Handled::Finished;

    const uint32_t image = at(length, kImageNumberFromEnd) * 256u + at(length, kImageNumberFromEnd - 1);
    const std::string card =
        CardText(at(length, kSiteFromEnd), at(length, kCardFromEnd) * 256u + at(length, kCardFromEnd - 1));
    RecordTime t;
    t.year = FourDigitYear(at(length, kYearFromEnd), clock_());
    t.month = static_cast<int>(at(length, kMonthFromEnd));
    t.day = static_cast<int>(at(length, kDayFromEnd));
    t.hour = static_cast<int>(at(length, kHourFromEnd));
    t.minute = static_cast<int>(at(length, kMinuteFromEnd));
    t.second = static_cast<int>(at(length, kSecondFromEnd));
    if (!files_.write_line(RecordLine(card, t, controller_, 1), RecordFiles::Order::RetrievalFirst)) {
        return Handled::Finished;
    }
    if (image == 1) {
        totalImages_ = at(length, kTotalImagesFromEnd) * 256u + at(length, kTotalImagesFromEnd - 1);
        WriteTotalImages(controller_, static_cast<long>(totalImages_));
    }
    if (image % 10 == 0) WriteCurrentImage(controller_, static_cast<long>(image));

    const bool closed = core::CloseNow(photo_);
    if (!closed) return Handled::Finished;  // the photo may lack its last bytes
    char name[96];
    std::snprintf(name, sizeof name, "%s%04d%02d%02d%02d%02d%02d%03d%04d.jpg", card.c_str(), t.year, t.month,
                  t.day, t.hour, t.minute, t.second, controller_, static_cast<int>(image));
    const std::string cardDirectory = core::join_path(photoDirectory_, card);
    finishedPhoto_ = FinishedPhoto{cardDirectory, core::join_path(cardDirectory, name), image};
    return Handled::Acknowledge;
}

// A photo whose final name is taken keeps its temporary name.
void Retrieval::name_finished_photo() {
    if (!finishedPhoto_ || photoPath_.empty()) return;  // none, or named already
    platform::make_directory(finishedPhoto_->directory);
    platform::move_file(photoPath_, finishedPhoto_->path);
    photoPath_.clear();
}

// The finished photo named and the file of the next one open; false when it
// cannot be opened, before any block of the next photo is acknowledged.
bool Retrieval::settle_finished_photo() {
    if (!finishedPhoto_) return true;
    const uint32_t image = finishedPhoto_->image;
    name_finished_photo();
    finishedPhoto_.reset();
    char next[64];
    std::snprintf(next, sizeof next, "%03d%d.jpg", controller_, static_cast<int>(image));
    return open_photo_file(core::join_path(photoDirectory_, next));
}

}  // namespace

uint32_t RetrieveRecords(core::Transport& transport, const char* address, int controller,
                         const core::Mac& mac, LocalClock clock) {
    Retrieval retrieval(transport, address, controller, clock);
    return retrieval.run(mac);
}

}  // namespace doorlink::records

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DataRtn(const char* address, int32_t controller,
                                                       const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac) || !address) return 0;
        return records::RetrieveRecords(core::udp_transport(), address, controller, mac);
    });
}
