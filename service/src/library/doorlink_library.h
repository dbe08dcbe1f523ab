// The one adapter between the service and the library: every call the
// service makes goes through the public header here, as any host's would.
// The library keeps its files under its module directory, which the
// service's command line sets to the data directory (DOORLINK_HOME) before
// the library loads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/card.h"
#include "model/controller.h"

namespace doorlinkd::library {

// SetPortRange.
bool set_port_range(int start, int end);

// Every call below that talks to a controller first sets the library's
// resend wait for it: adaptive for a lossy controller (Controller::lossy),
// the library's fixed one otherwise. With lossy true every controller is
// taken as lossy (serve --lossy-all), for the rest of the process.
void set_every_controller_lossy(bool lossy);

// One record of a card list from arguments (NameToText, or NameToText1 for
// long records with the card's further cards): starts the list file of
// `list` when append is false, else appends to it.
bool write_list_record(const Card& card, bool longRecords, int list, bool append);

// DoorDownName / DoorDownName1: the first count records of the list file.
bool download_list(const Controller& controller, int count, int list);

// LookDoorName into the read-back card file of `list`.
bool read_back_list(const Controller& controller, int list);

// NameToini: the read-back card file of `list` into its INI file.
bool read_back_to_ini(const std::string& readBackPath, int list);

// DataRtn (controllers with photos) or TxDataRtn: the export's result.
uint32_t retrieve_records(const Controller& controller);

// DoorShowTime: the controller's clock, "yy-mm-dd hh:mm:ss" (the local time
// it keeps); none when it did not answer.
std::optional<std::string> read_clock(const Controller& controller);

// DoorSetTimeTo: sets the controller's clock to a local time
// "yyyymmddhhmmss", which the caller takes in the controller's site's zone.
bool set_clock_to(const Controller& controller, const std::string& localText);

// DoorCurState: the current state, 0..3; none when it did not answer.
std::optional<int> door_state(const Controller& controller);

// DoorCompelOpenOrClose: door 0..3.
bool open_door(const Controller& controller, int door);

// DoorTransIP: tells the controller to push its error reports and photos to
// a new socket of this host, and returns that socket (the caller's, to be
// closed with close()); -1 when the controller did not acknowledge.
int arm_monitoring(const Controller& controller);

// ErrorScore: takes one error report from a monitoring socket (appending it
// to the library's error log of the controller's number); its text (the
// controller number line, then the report), or none.
std::optional<std::string> receive_error_report(int socket, int controllerNumber);

// DoorPic: takes one pushed photo from a monitoring socket into
// "curpic/<card>.jpg" under the data directory; none when no whole photo came.
struct PushedPhoto {
    std::string card;  // 8 digits
    std::string time;  // "yyyy-mm-dd hh:mm", the controller's
};
std::optional<PushedPhoto> receive_photo(int socket);

}  // namespace doorlinkd::library
