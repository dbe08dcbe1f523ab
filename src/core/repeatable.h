// The requests that the adaptive wait (core/adaptive_wait.h) may send again
// before the readiness wait has passed, and why each may: a controller that
// gets one of them twice does nothing that the first copy did not do. This
// list is the one place that decides it; an exchange profile or a transfer's
// request names its entry, and whatever names none (Repeatable::No) keeps
// the fixed 2-second wait, with the adaptive wait on or off.
//
// Not in the list, so never sent early: the card list download's records
// and its announcement (each one is stored as it comes), door opening and
// closing, lock times, modes, rest days, clock setting, network and MAC
// settings, framed commands, discovery, the requests that open a photo
// retrieval or a transfer (a copy past their burst begins it anew), DataRtn's
// trailer echo (it lets the controller free the records of the block it
// echoes), the final block request of TxDataRtn (it ends the transfer), and
// the pushed photos' resend requests on the host's monitoring socket. Ping
// keeps its own attempts: they are ICMP echoes, and the host reads each
// attempt's time-out from the status file.
#pragma once

namespace doorlink::core {

enum class Repeatable {
    No,
    // DoorShowTime, DoorRecAndDir: the clock query only reads the clock, or
    // the record and direction values.
    ClockQuery,
    // DoorCurState, MulDoorCurState, DoorState: the state query only reads
    // the doors' state.
    StateQuery,
    // LookDoorName: the read-back's request for one index only reads the
    // record stored there.
    ReadBackIndex,
    // DataRtn: the resend request names the last block the host holds and
    // asks for the one after it, whichever copy comes. The records it lets the
    // controller free are those of blocks that the host has already stored
    // (a record's line and photo are on disk before its block is
    // acknowledged), the same ones each time. The library has always sent it
    // after every silence. Only after a request that named a block: after the
    // alternative request, it would name none and begin the stream anew.
    PhotoStreamResend,
    // TxDataRtn: the block request names the number of blocks and the last
    // block had, and asks for the next one. It lets the controller free only
    // the records of blocks the host has written, the same ones each time;
    // every block request goes six times in a row, and again after a wrong
    // reply, so controllers already take its repeats.
    TransferBlock,
};

}  // namespace doorlink::core
