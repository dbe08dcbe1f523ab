// The one adapter between the service and the library: every call the
// service makes goes through the public header here, as any host's would.
// The library keeps its files under its module directory, which the
// service's command line sets to the data directory (DOORLINK_HOME) before
// the library loads.
#pragma once

#include <cstdint>
#include <string>

#include "model/card.h"
#include "model/controller.h"

namespace doorlinkd::library {

// SetPortRange.
bool set_port_range(int start, int end);

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

}  // namespace doorlinkd::library
