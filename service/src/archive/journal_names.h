// The names the library gives a retrieval's files, for one controller
// number NNN ("%03d"): retrieval record files in cardinfo/, photos under
// pic/<CARD>/, and the temporary photo files in pic/; and the lines of its
// record files.
#pragma once

#include <optional>
#include <string>

namespace doorlinkd {

// "%03d" of a controller number.
std::string number_text(int number);

// A retrieval record file "<yyyymmddhhmmss>NNN.txt", or "..._<n>.txt" (n
// from 2, as the library counts) where another retrieval of the same
// number started in the same second. Each name has a key of its own.
struct RetrievalFileName {
    std::string stem;  // the 17 digits
    long copy = 1;     // the n of "_<n>"
    bool operator<(const RetrievalFileName& other) const {
        return stem != other.stem ? stem < other.stem : copy < other.copy;
    }
};
std::optional<RetrievalFileName> retrieval_file_name(const std::string& name, const std::string& number);

// A temporary photo file "NNN<image>.jpg" of this number: the photo that
// was arriving, or the empty file opened for the next one.
bool temporary_photo_name(const std::string& name, const std::string& number);

// The photo's name: "<CARD><time>NNN<image %04d>.jpg".
std::string photo_name(const std::string& card, const std::string& time, const std::string& number,
                       int image);
// A photo name with that card, time and number, whatever its image number.
bool photo_name_of(const std::string& name, const std::string& card, const std::string& time,
                   const std::string& number);

// A record file's line "CARD,yyyymmddhhmmss,NNN,K": the card's 8 digits,
// the record's time, this controller's number and the kind (0 to 255).
struct RecordLine {
    std::string card;
    std::string time;
    int kind = 1;
};
std::optional<RecordLine> parse_record_line(const std::string& line, const std::string& number);

// Only the digits 0 to 9, at least one.
bool all_digits(const std::string& text);

}  // namespace doorlinkd
