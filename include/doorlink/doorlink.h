/**
 * \file doorlink.h
 * \brief doorlink: client library for networked door access controllers.
 *
 * Every function does one job against one controller (over UDP, port 9000)
 * or against the data files the library keeps under its module directory.
 * Results are 1 for success and 0 for failure unless a function says
 * otherwise. No function throws, and none crashes on a null pointer or an
 * invalid argument: it returns 0 before any socket is opened.
 *
 * Controllers are named by their IPv4 address as dotted text and identified
 * by a MAC text of exactly 12 hexadecimal digits, either case, no separators.
 *
 * Buffers: input texts and byte blocks are the caller's and are only read
 * during the call. Output texts go into buffers the caller provides; their
 * sizes are not passed, so each declaration says how large the buffer must
 * be and when it is written. No export keeps a pointer the caller gave it,
 * and no export returns memory the caller must free.
 *
 * Threads: every export may be called from any thread, at any time, and runs
 * wholly on the calling thread (only whole-list conversions start worker
 * threads, and wait for them before they return). Each controller command
 * opens its own socket, so calls to the same controller at once are
 * independent exchanges: the library does not serialize them. What is shared
 * is serialized as each declaration says: the registry entries of
 * "eqminfo.ini" (one lookup with its write at a time), the card list file of
 * a list number (one writer, or readers together), the whole-list
 * conversions (one at a time in the process), and the writes of each INI
 * file (one at a time).
 */
#ifndef DOORLINK_DOORLINK_H
#define DOORLINK_DOORLINK_H

#include <stdint.h>

/**
 * \def DOORLINK_CALL
 * \brief The calling convention of every export: __stdcall on 32-bit
 * Windows, the platform's default elsewhere.
 */
#if defined(_WIN32) && !defined(_WIN64)
#define DOORLINK_CALL __stdcall
#else
#define DOORLINK_CALL
#endif

/**
 * \def DOORLINK_API
 * \brief Marks an export: imported from the DLL on Windows (exported while
 * the library itself is built, nothing for a static build with
 * DOORLINK_STATIC), default visibility elsewhere.
 */
#if defined(_WIN32)
#if defined(DOORLINK_BUILDING)
#define DOORLINK_API __declspec(dllexport)
#elif defined(DOORLINK_STATIC)
#define DOORLINK_API
#else
#define DOORLINK_API __declspec(dllimport)
#endif
#else
#define DOORLINK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * \defgroup setup Library set-up
 * \brief The local port range of every socket the library opens, and the
 * adaptive wait for lossy links.
 * \{
 */

/**
 * \brief Binds every later socket within a range of local ports.
 *
 * From the next socket on, binding starts at \p start and moves up one port
 * at a time until it succeeds or passes \p end; without a range, a socket
 * binds to a random port from 9000 to 17999. A range stays set for the life
 * of the process; a later call replaces it.
 *
 * \param start First local port, 0..65535.
 * \param end   Last local port, 0..65535 (a start above it allows the start
 *              port alone).
 * \retval 1 The range is set.
 * \retval 0 Either bound lies outside 0..65535; the previous range, set or
 *           not, stays.
 *
 * \par Threads
 * Any thread. The range is stored as one atomic value: sockets opened after
 * the call returns use it, a socket being opened at the same moment uses the
 * old or the new range whole.
 */
DOORLINK_API uint32_t DOORLINK_CALL SetPortRange(int32_t start, int32_t end);

/**
 * \brief Switches the adaptive wait on or off, for one controller or all.
 *
 * Off (the default), a request whose reply does not come is sent again only
 * after the readiness wait of 2 seconds. On, the requests that a controller
 * may safely get twice (the clock and state queries DoorShowTime(),
 * DoorRecAndDir(), DoorCurState(), MulDoorCurState() and DoorState(), the
 * read-back's requests of LookDoorName(), the resend requests of DataRtn()
 * and the block requests of TxDataRtn()) go again as soon as a timeout
 * computed from the round trips measured to that controller passes: the
 * smoothed round trip plus four times its variation, doubled after each
 * timeout until a reply measures again (a quarter second before the first
 * one), never below \p minimumMs nor above 2 seconds. Every other request
 * keeps the fixed wait. A call still fails only after 2 seconds in which
 * nothing at all came, and the silences that transfers forgive are still
 * 2-second silences. The round trips are kept per controller address across
 * calls, for the life of the process.
 *
 * The environment variable DOORLINK_ADAPTIVE_WAIT, read once when the library
 * loads, does the same for every controller for a host that cannot call this:
 * its value is the lower bound in milliseconds (1..2000); any other value
 * leaves the adaptive wait off.
 *
 * \param address   Controller address, dotted IPv4 text (four decimal numbers
 *                  0..255); read only. Null for every controller, which also
 *                  drops what was set for single controllers.
 * \param minimumMs The lower bound of the timeout in milliseconds, 1..2000;
 *                  0 switches the adaptive wait off.
 * \retval 1 The setting is made; it holds from the next request on.
 * \retval 0 An address that is not dotted IPv4 text, a bound outside
 *           0..2000, or 65,536 controllers set on their own already; nothing
 *           changes.
 *
 * \par Threads
 * Any thread. Settings and round trips are kept in one table under a lock;
 * requests of other threads use the new setting from their next request on.
 */
DOORLINK_API uint32_t DOORLINK_CALL SetAdaptiveWait(const char* address, int32_t minimumMs);

/** \} */

/**
 * \defgroup clock Controller clock
 * \brief Set a controller's clock, to this host's local time or a given one,
 * and read it.
 * \{
 */

/**
 * \brief Sets the controller's clock to this host's local time.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Invalid MAC text (nothing sent), no socket, a failed send, 2
 *           seconds without a reply, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorSetTime(const char* address, const char* macText);

/**
 * \brief Sets the controller's clock to a given local time.
 *
 * The one export beyond the library's 46: DoorSetTime() can only send the
 * local time of this process's time zone, and a host that serves
 * controllers in several zones from one process needs to send each the
 * local time of its own. The request is the one DoorSetTime() sends, with
 * the day of the week (0 = Sunday) computed from the date itself, never
 * from a time zone.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \param localTime The time to set, "yyyymmddhhmmss": exactly 14 decimal
 *        digits naming a real date and time (month 1-12, the day within its
 *        month, leap years included, hour 0-23, minute and second 0-59) of
 *        the years 2000 to 2099, the years the clock's two-digit year holds;
 *        read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 A null pointer, an invalid MAC text or local time (nothing
 *           sent), no socket, a failed send, 2 seconds without a reply, or
 *           100 wrong replies in a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorSetTimeTo(const char* address, const char* macText,
                                                  const char* localTime);

/**
 * \brief Reads the controller's clock and day of the week.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param[out] text Caller's buffer of at least 18 bytes: receives
 *             "yy-mm-dd hh:mm:ss" and a terminating zero on success only.
 * \param[out] weekDay Receives the controller's day-of-week value on success
 *             only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 Both outputs are written.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no socket, a
 *           failed send, 2 seconds without a reply, or 100 wrong replies in
 *           a row; neither output is written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorShowTime(const char* address, char* text, uint32_t* weekDay,
                                                 const char* macText);

/** \} */

/**
 * \defgroup doors Door actuation
 * \brief Force a door, and initialise a controller.
 * \{
 */

/**
 * \brief Forces the actuation of one of the controller's four doors.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param door    Door 0..3.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Another door or an invalid MAC text (nothing sent), no socket, a
 *           failed send, 2 seconds without a reply, or 100 wrong replies in
 *           a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorCompelOpenOrClose(const char* address, uint32_t door,
                                                          const char* macText);

/**
 * \brief As DoorCompelOpenOrClose() with an extra request byte.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param door    Door 0..3.
 * \param extra   Extra request byte, below 255; negative values send their
 *                low 8 bits.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Another door, extra of 255 or more, or an invalid MAC text
 *           (nothing sent), no socket, a failed send, 2 seconds without a
 *           reply, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL MulDoorCompelOpenOrClose(const char* address, uint32_t door,
                                                             int32_t extra, const char* macText);

/**
 * \brief Sends the controller its initialisation command.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Invalid MAC text (nothing sent), no socket, a failed send, 2
 *           seconds without a reply, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorInit(const char* address, const char* macText);

/** \} */

/**
 * \defgroup state Door state queries
 * \brief The current state, the raw state replies, the record and direction
 * values.
 * \{
 */

/**
 * \brief Reads the controller's current state, 0..3.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \param[out] state Receives the state 0..3 on success only.
 * \retval 1 The state is written.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no socket, a
 *           failed send, 2 seconds without a reply, 100 wrong replies in a
 *           row, or a reply whose two state bytes differ or exceed 3; state
 *           is not written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorCurState(const char* address, const char* macText, uint32_t* state);

/**
 * \brief As DoorCurState() with an extra request byte.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \param[out] state Receives the state 0..3 on success only.
 * \param extra   Extra request byte, below 256; negative values send their
 *                low 8 bits.
 * \retval 1 The state is written.
 * \retval 0 As for DoorCurState(), or extra of 256 or more (nothing sent);
 *           state is not written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL MulDoorCurState(const char* address, const char* macText, uint32_t* state,
                                                    int32_t extra);

/**
 * \brief Asks with a state selector and returns the controller's raw reply.
 *
 * \param address  Controller address, dotted IPv4 text; read only.
 * \param selector Selector 0..3.
 * \param macText  Controller MAC text (12 hexadecimal digits); read only.
 * \return The reply bytes: 14 for selector 1, else 10. They lie in a buffer
 *         of the calling thread that the library owns (never free it) and
 *         stay valid until that thread's next DoorState() call; copy them
 *         before. Null for another selector or an invalid MAC text (nothing
 *         sent), no socket, a failed send, 2 seconds without a reply of the
 *         right length, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread: each thread has its own reply buffer, which other threads'
 * calls leave alone. The call has its own socket.
 */
DOORLINK_API const uint8_t* DOORLINK_CALL DoorState(const char* address, uint32_t selector,
                                                    const char* macText);

/**
 * \brief Reads the record and direction values, 16 bits each.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param[out] rec Receives the record value on success only.
 * \param[out] dir Receives the direction value on success only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 Both values are written.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no socket, a
 *           failed send, 2 seconds without a 14-byte reply, or 100 wrong
 *           replies in a row; nothing is written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorRecAndDir(const char* address, uint32_t* rec, uint32_t* dir,
                                                  const char* macText);

/** \} */

/**
 * \defgroup times Lock and button times
 * \brief Time lists of a controller's locks and buttons.
 *
 * A short item is "hhmm," (a list holds up to 8); a long item is
 * "hhmm-hhmm-nn;" (up to 4). The last item may omit its separator; items
 * beyond the maximum are ignored, and missing ones are sent as zeros.
 * \{
 */

/**
 * \brief Sends lock and button time lists of short items.
 *
 * \param address     Controller address, dotted IPv4 text; read only.
 * \param lockTimes   Lock time list, up to 8 items "hhmm,"; read only.
 * \param buttonTimes Button time list, up to 8 items "hhmm,"; read only.
 * \param macText     Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no socket, a
 *           failed send, 2 seconds without a reply, or 100 wrong replies in
 *           a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing. It waits
 * 1 second after its first send.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorLockAndButtonTime(const char* address, const char* lockTimes,
                                                          const char* buttonTimes, const char* macText);

/**
 * \brief As DoorLockAndButtonTime() with an extra request byte.
 *
 * \param address     Controller address, dotted IPv4 text; read only.
 * \param lockTimes   Lock time list, up to 8 items "hhmm,"; read only.
 * \param buttonTimes Button time list, up to 8 items "hhmm,"; read only.
 * \param extra       Extra request byte.
 * \param macText     Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 As for DoorLockAndButtonTime().
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL MulDoorLockAndButtonTime(const char* address, const char* lockTimes,
                                                             const char* buttonTimes, uint8_t extra,
                                                             const char* macText);

/**
 * \brief Sends lock and button time lists of long items.
 *
 * \param address     Controller address, dotted IPv4 text; read only.
 * \param lockTimes   Lock time list, up to 4 items "hhmm-hhmm-nn;"; read
 *                    only.
 * \param buttonTimes Button time list, up to 4 items "hhmm-hhmm-nn;"; read
 *                    only.
 * \param macText     Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 As for DoorLockAndButtonTime().
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorLockAndButtonTime3(const char* address, const char* lockTimes,
                                                           const char* buttonTimes, const char* macText);

/**
 * \brief Calls the time-list variant that kind chooses.
 *
 * \param address     Controller address, dotted IPv4 text; read only.
 * \param lockTimes   Lock time list in the items of that variant; read only.
 * \param buttonTimes Button time list in the items of that variant; read
 *                    only.
 * \param macText     Controller MAC text (12 hexadecimal digits); read only.
 * \param extra       Extra request byte for kind 2 (its low 8 bits); unused
 *                    otherwise.
 * \param kind        0: DoorLockAndButtonTime(), 1: DoorLockAndButtonTime3(),
 *                    2: MulDoorLockAndButtonTime().
 * \return The result of the chosen variant; 0 for another kind (nothing
 *         sent).
 *
 * \par Threads
 * Any thread, as the chosen variant.
 */
DOORLINK_API uint32_t DOORLINK_CALL LockAndButtonTime(const char* address, const char* lockTimes,
                                                      const char* buttonTimes, const char* macText,
                                                      int32_t extra, int32_t kind);

/** \} */

/**
 * \defgroup modes Modes and rest days
 * \brief A controller's three mode bytes, and its week pattern and rest
 * days.
 * \{
 */

/**
 * \brief Sends the controller its three mode bytes.
 *
 * \param modes   Caller's block of 3 mode bytes; read only.
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no socket, a
 *           failed send, 2 seconds without a reply, or 100 wrong replies in
 *           a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing. It waits
 * 1 second after each send.
 */
DOORLINK_API uint32_t DOORLINK_CALL SetMode(const uint8_t* modes, const char* address, const char* macText);

/**
 * \brief As SetMode() with an extra request byte.
 *
 * \param modes   Caller's block of 3 mode bytes; read only.
 * \param extra   Extra request byte.
 * \param address Controller address, dotted IPv4 text; read only.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 As for SetMode().
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL MulSetMode(const uint8_t* modes, uint8_t extra, const char* address,
                                               const char* macText);

/**
 * \brief Sends the week pattern and up to 20 rest days.
 *
 * \param address  Controller address, dotted IPv4 text; read only.
 * \param weekDays Week pattern: 7 characters, '0' or '1' per day from
 *                 Sunday (further characters are ignored); read only.
 * \param restDays Up to 20 rest days "mmdd," (the last may omit its comma);
 *                 read only.
 * \param macText  Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 Invalid MAC text, a null pointer or a week text shorter than 7
 *           characters (nothing sent), no socket, a failed send, 2 seconds
 *           without a reply, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorRestDay(const char* address, const char* weekDays,
                                                const char* restDays, const char* macText);

/** \} */

/**
 * \defgroup monitoring Monitoring, photo test and flags
 * \brief Monitoring sockets for the host, the photo test, card flags.
 *
 * A monitoring socket is an open UDP socket handed to the host, on which
 * ErrorScore() and DoorPic() receive what the controller pushes. It belongs
 * to the host, who closes it once done: closesocket() and one WSACleanup()
 * on Windows, close() elsewhere. No export closes it.
 * \{
 */

/**
 * \brief Asks the controller to report to this host; hands the open socket
 * to the caller.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param[out] socketOut Receives the monitoring socket on success only; it
 *             then belongs to the caller, who closes it.
 * \retval 1 The controller acknowledged; the socket stays open.
 * \retval 0 A null pointer (nothing sent), no socket, a failed send, 2
 *           seconds without a reply, or 100 wrong replies in a row; nothing
 *           is written and no socket stays open.
 *
 * \par Threads
 * Any thread; the call shares nothing. Receive on the socket it hands over
 * from one thread at a time.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorScout(const char* address, uint32_t* socketOut);

/**
 * \brief As DoorScout() with an extra request byte.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param extra   Extra request byte.
 * \param[out] socketOut Receives the monitoring socket on success only; it
 *             then belongs to the caller, who closes it.
 * \retval 1 The controller acknowledged; the socket stays open.
 * \retval 0 As for DoorScout(); nothing is written and no socket stays open.
 *
 * \par Threads
 * Any thread; the call shares nothing. Receive on the socket it hands over
 * from one thread at a time.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorScout1(const char* address, uint8_t extra, uint32_t* socketOut);

/**
 * \brief Asks the controller to take a test photo.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \retval 1 The controller acknowledged.
 * \retval 0 A null address (nothing sent), no socket, a failed send, 2
 *           seconds without a reply, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing. It waits
 * 1 second after each send.
 */
DOORLINK_API uint32_t DOORLINK_CALL PhotoTest(const char* address);

/**
 * \brief Sends one of the two card flags for a card.
 *
 * \param address  Controller address, dotted IPv4 text; read only.
 * \param kind     1: the first flag; any other value: the other flag.
 * \param cardText Card text "sssnnnnn" (site, card number); read only.
 * \param macText  Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller confirmed the card.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no socket, a
 *           failed send, 2 seconds without a reply, or 100 wrong replies in
 *           a row.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorFlag(const char* address, uint8_t kind, const char* cardText,
                                             const char* macText);

/** \} */

/**
 * \defgroup reader Card reader
 * \brief One card from a card reader on a serial port.
 * \{
 */

/**
 * \brief Reads one card from the card reader on a serial port.
 *
 * Opens the port for itself alone (9600 baud, 8 data bits, no parity, two
 * stop bits) and polls the reader every 50 ms, 100 times (about 5 seconds)
 * at most. What the reader sent before a poll is dropped, and only an answer
 * of exactly four bytes to that poll is a card.
 *
 * \param portName Serial port: COM1 (higher ports as \\\\.\\COM10) on
 *                 Windows, /dev/ttyS0 or /dev/ttyUSB0 elsewhere; read only.
 * \param[out] result Caller's buffer of at least 20 bytes: receives
 *             "vvvvvvvvvv,sssnnnnn" and a terminating zero on success only:
 *             the card value as ten decimal digits, then the card text (site
 *             byte, card number).
 * \retval 1 A card was read; result is written.
 * \retval 0 A null pointer, a port that does not exist, is in use or refuses
 *           the line settings, or no card within 100 polls; result is not
 *           written.
 *
 * \par Threads
 * Any thread. A port is held exclusively for the call: a second call on the
 * same port at once finds it in use and returns 0; calls on different ports
 * are independent.
 */
DOORLINK_API uint32_t DOORLINK_CALL GetCardNo(const char* portName, char* result);

/** \} */

/**
 * \defgroup framed Framed commands
 * \brief Any command byte and payload, wrapped in a command frame.
 * \{
 */

/**
 * \brief Sends a framed command to the controller and returns its answer.
 *
 * Sends at most ten times: a reply that does not carry the frame's node and
 * station, comes from another address, or promises more payload than it
 * holds costs one of them.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param node    Node number of the frame.
 * \param unused1 Ignored.
 * \param unused2 Ignored.
 * \param station Caller's block of 2 bytes: the station address; read only.
 * \param command Caller's block: the command byte, the payload length L (2
 *                bytes, high first) and L payload bytes (3 + L bytes); read
 *                only.
 * \param[out] answer Caller's buffer of 3 + 1006 bytes: receives on success
 *             only the answer's command byte, its payload length M (2 bytes,
 *             high first) and M payload bytes (M is at most 1006).
 * \retval 1 An answer came; answer is written.
 * \retval 0 A null pointer (nothing sent), no socket, a failed send, 2
 *           seconds of silence, or ten refused replies; answer is not
 *           written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL SysComInter(const char* address, uint16_t node, uint32_t unused1,
                                                uint32_t unused2, const uint8_t* station,
                                                const uint8_t* command, uint8_t* answer);
/** \} */

/**
 * \defgroup cardlists Card lists
 * \brief Card list files: conversion, records from arguments, download and
 * read-back.
 *
 * A card list source file is an INI file with one numbered key per card and
 * field ("CardNo1", "SerialNo1", ... "Saturday1"); a card list file
 * list/doornameNNN.dat (NNN: the list number in three digits) holds one
 * record per card: 300 bytes (short) or 360 bytes (long, ten further card
 * numbers). Functions whose names end in 1 use long records. Progress of
 * downloads and read-backs goes to the keys TolNameList/CurNameList and
 * ReTolNameList/ReCurNameList of eqminfo.ini.
 *
 * The card list file of a list number is written by one call at a time (a
 * conversion or a record from arguments) and read by any number of
 * downloads together; a download waits while the list is being written, and
 * a writer waits for the downloads under way.
 * \{
 */

/**
 * \brief Converts cards 1..count of a source file into the short-record
 * list file of a list number.
 *
 * Lists above 100 cards are converted by worker threads, one per 100 cards,
 * started 2 seconds apart; the call waits for them all.
 *
 * \param sourcePath Path of the card list source file; read only.
 * \param count      Cards to convert, 0 to 5000.
 * \param listNumber List number, 0 to 999.
 * \retval 1 The list file holds the count records.
 * \retval 0 A null path or an argument out of range (no file touched), count
 *           0 (the list file is left empty), or a file that cannot be
 *           written; a list that failed part-way is left empty.
 *
 * \par Threads
 * Any thread. Whole-list conversions run one at a time in the process (a
 * second one waits), and each holds its list file as its one writer.
 */
DOORLINK_API uint32_t DOORLINK_CALL FormatName(const char* sourcePath, int32_t count, uint32_t listNumber);

/**
 * \brief As FormatName() with long records.
 *
 * \param sourcePath Path of the card list source file; read only.
 * \param count      Cards to convert, 0 to 5000.
 * \param listNumber List number, 0 to 999.
 * \retval 1 The list file holds the count records.
 * \retval 0 As for FormatName().
 *
 * \par Threads
 * Any thread, as FormatName().
 */
DOORLINK_API uint32_t DOORLINK_CALL FormatName1(const char* sourcePath, int32_t count, uint32_t listNumber);

/**
 * \brief Calls the conversion that kind chooses.
 *
 * \param sourcePath Path of the card list source file; read only.
 * \param count      Cards to convert, 0 to 5000.
 * \param listNumber List number, 0 to 999.
 * \param kind       0: FormatName(), 1: FormatName1().
 * \return The result of the chosen conversion; 0 for another kind (no file
 *         touched).
 *
 * \par Threads
 * Any thread, as FormatName().
 */
DOORLINK_API uint32_t DOORLINK_CALL TransformName(const char* sourcePath, int32_t count, uint32_t listNumber,
                                                  uint32_t kind);

/**
 * \brief Builds the short record of one card of a source file in the
 * caller's memory.
 *
 * \param sourcePath Path of the card list source file; read only. A missing
 *                   file or key reads as the empty text.
 * \param cardIndex  Number of the card's keys in the source file ("CardNo5":
 *                   5).
 * \param[out] record Caller's buffer of 300 bytes, all written. Missing
 *             serial and password digits become 0xD0.
 * \retval 1 The record is written.
 * \retval 0 A null pointer; nothing is written.
 *
 * \par Threads
 * Any thread; the call only reads the source file and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL FormatSignalName(const char* sourcePath, int32_t cardIndex,
                                                     uint8_t* record);

/**
 * \brief As FormatSignalName() for the long record.
 *
 * \param sourcePath Path of the card list source file; read only.
 * \param cardIndex  Number of the card's keys in the source file.
 * \param[out] record Caller's buffer of 360 bytes, all written.
 * \retval 1 The record is written.
 * \retval 0 A null pointer; nothing is written.
 *
 * \par Threads
 * Any thread; the call only reads the source file and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL FormatSignalName1(const char* sourcePath, int32_t cardIndex,
                                                      uint8_t* record);

/**
 * \brief Writes one short record from arguments into the list file of a
 * list number.
 *
 * Every text is the caller's and is only read.
 *
 * \param card      Card text, 8 digits.
 * \param serialNo  Serial number, 6 characters.
 * \param userStyle User style, 0 or 1.
 * \param sunday    Time ranges of Sunday, like "0800-1200-01;1300-1730-01;".
 * \param monday    Time ranges of Monday, as sunday.
 * \param tuesday   Time ranges of Tuesday, as sunday.
 * \param wednesday Time ranges of Wednesday, as sunday.
 * \param thursday  Time ranges of Thursday, as sunday.
 * \param friday    Time ranges of Friday, as sunday.
 * \param saturday  Time ranges of Saturday, as sunday.
 * \param password  Password, 6 characters.
 * \param openStyle Open style, 0 to 2.
 * \param listNumber List number, 0 to 255.
 * \param append    0: the record starts a new list file; else it is
 *                  appended.
 * \retval 1 The record is written.
 * \retval 0 A null pointer or an argument out of range or of the wrong
 *           length (the file is untouched), or a list file that cannot be
 *           opened or written (the record is taken back: an appended list
 *           keeps its earlier records, a new one stays empty).
 *
 * \par Threads
 * Any thread. The call holds the list file as its one writer: calls for the
 * same list number run one after the other, so appended records never mix.
 */
DOORLINK_API uint32_t DOORLINK_CALL NameToText(const char* card, const char* serialNo, uint32_t userStyle,
                                               const char* sunday, const char* monday, const char* tuesday,
                                               const char* wednesday, const char* thursday,
                                               const char* friday, const char* saturday, const char* password,
                                               uint32_t openStyle, int32_t listNumber, uint32_t append);

/**
 * \brief As NameToText() with long records.
 *
 * \param card      1 to 11 card texts of 8 digits at 9-character steps
 *                  ("00112345,00254321"): 8 + 9k characters.
 * \param serialNo  Serial number, 6 characters.
 * \param userStyle User style, 0 or 1.
 * \param sunday    Time ranges of Sunday, like "0800-1200-01;1300-1730-01;".
 * \param monday    Time ranges of Monday, as sunday.
 * \param tuesday   Time ranges of Tuesday, as sunday.
 * \param wednesday Time ranges of Wednesday, as sunday.
 * \param thursday  Time ranges of Thursday, as sunday.
 * \param friday    Time ranges of Friday, as sunday.
 * \param saturday  Time ranges of Saturday, as sunday.
 * \param password  Password, 6 characters.
 * \param openStyle Open style, 0 to 2.
 * \param listNumber List number, 0 to 255.
 * \param append    0: the record starts a new list file; else it is
 *                  appended.
 * \retval 1 The record is written.
 * \retval 0 As for NameToText().
 *
 * \par Threads
 * Any thread, as NameToText().
 */
DOORLINK_API uint32_t DOORLINK_CALL NameToText1(const char* card, const char* serialNo, uint32_t userStyle,
                                                const char* sunday, const char* monday, const char* tuesday,
                                                const char* wednesday, const char* thursday,
                                                const char* friday, const char* saturday,
                                                const char* password, uint32_t openStyle, int32_t listNumber,
                                                uint32_t append);

/**
 * \brief Sends the first count short records of a list file to the
 * controller.
 *
 * Writes TolNameListN (the count, first of all) and CurNameListN (records
 * sent, every 50 and at the end) into eqminfo.ini, N being the list number.
 *
 * \param address    Controller address, dotted IPv4 text; read only.
 * \param count      Records to send, 0 to 65535.
 * \param listNumber List number of the list file.
 * \param macText    Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged every record.
 * \retval 0 A null address, a count out of range or an invalid MAC text
 *           (nothing sent), a list file shorter than count records, no
 *           socket, a failed send, a silence, or 100 replies that were
 *           wrong or old (answers to records already acknowledged) while
 *           one record was due.
 *
 * \par Threads
 * Any thread. Downloads read their list file together, never while a call
 * writes it. Each progress write holds the library lock. Calls to the same
 * controller at once are not serialized: do not download two lists to one
 * controller at the same time.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorDownName(const char* address, int32_t count, int32_t listNumber,
                                                 const char* macText);

/**
 * \brief As DoorDownName() for a list of long records.
 *
 * \param address    Controller address, dotted IPv4 text; read only.
 * \param count      Records to send, 0 to 65535.
 * \param listNumber List number of the list file.
 * \param macText    Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged every record.
 * \retval 0 As for DoorDownName().
 *
 * \par Threads
 * Any thread, as DoorDownName().
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorDownName1(const char* address, int32_t count, int32_t listNumber,
                                                  const char* macText);

/**
 * \brief Calls the download that kind chooses.
 *
 * \param address    Controller address, dotted IPv4 text; read only.
 * \param count      Records to send, 0 to 65535.
 * \param listNumber List number of the list file.
 * \param macText    Controller MAC text (12 hexadecimal digits); read only.
 * \param kind       0: DoorDownName(), 1: DoorDownName1().
 * \return The result of the chosen download; 0 for another kind (nothing
 *         sent).
 *
 * \par Threads
 * Any thread, as DoorDownName().
 */
DOORLINK_API uint32_t DOORLINK_CALL DownName(const char* address, int32_t count, int32_t listNumber,
                                             const char* macText, uint32_t kind);

/**
 * \brief Reads every card record the controller holds into the read-back
 * card file list/ReCardInfoNNN.dat, 360 bytes each.
 *
 * Writes ReTolNameListN (the controller's count) and ReCurNameListN
 * (records read, every 50 and at the end) into eqminfo.ini.
 *
 * \param address    Controller address, dotted IPv4 text; read only.
 * \param listNumber List number naming the read-back file (NNN) and the
 *                   progress keys (N).
 * \param macText    Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 Every record was read and written.
 * \retval 0 A null address or an invalid MAC text (nothing sent), a file
 *           that cannot be written, no socket, a failed send, a silence, or
 *           100 replies that were wrong or old (records of earlier indexes)
 *           while one index was due; the file keeps the records read.
 *
 * \par Threads
 * Any thread. Each progress write holds the library lock. The read-back
 * file is not locked: two calls with the same list number at once write the
 * same file, so give concurrent read-backs different list numbers.
 */
DOORLINK_API uint32_t DOORLINK_CALL LookDoorName(const char* address, int32_t listNumber,
                                                 const char* macText);

/**
 * \brief Turns a read-back card file into ReCardNNN.ini beside it, with the
 * source file's keys.
 *
 * An earlier ReCardNNN.ini is deleted first, also when the call then fails.
 *
 * \param readBackPath Path of the read-back card file; read only.
 * \param number       Number of the INI file (NNN).
 * \retval 1 The INI file is written.
 * \retval 0 A null path, a missing or empty file, a size that is not a
 *           multiple of 360 bytes, or an INI file that cannot be written.
 *
 * \par Threads
 * Any thread. The INI file is written in one step, one writer of a file at a
 * time.
 */
DOORLINK_API uint32_t DOORLINK_CALL NameToini(const char* readBackPath, int32_t number);

/** \} */

/**
 * \defgroup devices Devices and network settings
 * \brief Discovery and the registry file, network settings, MAC addresses,
 * serial numbers, ping.
 *
 * The registry file "eqminfo.ini" in the module directory lists the known
 * controllers (sections "EqmIP", "EqmNO", "EqmNet", "EqmTime", "EqmGate",
 * "EqmImg", one key per entry, and the count in "EqmTotal"). Every lookup of
 * an entry and the write that follows it hold the library lock, so calls
 * that record controllers at once never give two of them one entry.
 * \{
 */

/**
 * \brief Discovers controllers and records every one that answers in the
 * registry file.
 *
 * Sends the discovery request as a broadcast, or five times to one address,
 * and takes answers until six receives have failed (about 12 seconds); it
 * records at most 4096 answers and stops receiving after 60 seconds,
 * whatever peers send.
 *
 * \param address   Controller address, dotted IPv4 text; read only; unused
 *                  for a broadcast.
 * \param broadcast 1: broadcast; any other value: ask address.
 * \return The entry count read while recording the last answer (the count
 *         before that answer's own entry was added); 0 when none answered
 *         or address is null without a broadcast; -1 when no socket could be
 *         opened or a send failed.
 *
 * \par Threads
 * Any thread; discoveries may run at once (each asks its own address). Each
 * registry lookup and write holds the library lock.
 */
DOORLINK_API int32_t DOORLINK_CALL FindEqm(const char* address, uint8_t broadcast);

/**
 * \brief Gives the controller new network settings and records them in its
 * registry entry.
 *
 * \param settings Caller's 15-byte record; read only: new address (4 bytes,
 *                 first octet first), time value 0..60 or 99, image mode,
 *                 device number 1..254, mask (4 bytes), gateway (4 bytes).
 * \param address  Current controller address, dotted IPv4 text; read only.
 *                 Its registry entry is the one updated.
 * \param macText  Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged, and the registry entry of address
 *           holds the new settings (for an address not in the registry, the
 *           keys of the next entry, which "EqmTotal" does not count).
 * \retval 0 Invalid MAC text, a null pointer or a time value or device
 *           number out of range (nothing sent), no socket, a failed send, 2
 *           seconds without a reply, or 100 wrong replies in a row.
 *
 * \par Threads
 * Any thread. The registry lookup and write hold the library lock.
 */
DOORLINK_API uint32_t DOORLINK_CALL modifyEqm(const uint8_t* settings, const char* address,
                                              const char* macText);

/**
 * \brief Tells the controller where this host listens; hands the open socket
 * to the caller.
 *
 * The request carries this host's address toward the controller and the
 * local port of a new socket.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param[out] socketHandle Receives the monitoring socket on success only;
 *             it then belongs to the caller, who closes it.
 * \param macText Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 The controller acknowledged; the socket stays open.
 * \retval 0 Invalid MAC text or a null pointer (nothing sent), no address
 *           of this host that reaches the controller, no socket, a failed
 *           send, 2 seconds without a reply, or 100 wrong replies in a row;
 *           nothing is written and no socket stays open.
 *
 * \par Threads
 * Any thread; the call shares nothing. Receive on the socket it hands over
 * from one thread at a time.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorTransIP(const char* address, uint32_t* socketHandle,
                                                const char* macText);

/**
 * \brief Gives the controller a new MAC.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param newMac  Caller's 6-byte MAC; read only.
 * \param[out] macText Caller's buffer of at least 13 bytes: receives the MAC
 *             the controller reports, 12 lower-case hexadecimal digits and a
 *             terminating zero, on success only.
 * \retval 1 The controller acknowledged.
 * \retval 0 A null pointer (nothing sent), no socket, a failed send, 2
 *           seconds without a reply, or 100 wrong replies in a row; macText
 *           is not written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL SetMacAddr(const char* address, const uint8_t* newMac, char* macText);

/**
 * \brief Gives the controller a MAC (mode 2) or asks it for its MAC
 * (mode 3): one request, one reply, no resend.
 *
 * \param address Controller address, dotted IPv4 text; read only.
 * \param mode    2: give the MAC of firstText; 3: ask the controller whose
 *                MAC text is secondText. Any other mode sends 30 zero bytes
 *                and returns 0.
 * \param[in,out] firstText Mode 2: the new MAC as 12 hexadecimal digits,
 *                read only. Mode 3: caller's buffer of 13 bytes, receives
 *                the controller's MAC (lower case) on success only.
 * \param[in,out] secondText Mode 2: caller's buffer of 13 bytes, receives
 *                the serial number text of the new MAC on success only
 *                (empty when firstText holds other than hexadecimal
 *                digits). Mode 3: the controller's MAC text, read only.
 * \retval 1 Mode 2: the controller acknowledged. Mode 3: a reply came.
 * \retval 0 A null pointer, a firstText of other than 12 characters in
 *           mode 2 or an invalid MAC text in mode 3 (nothing sent); another
 *           mode; no socket, a failed send, no reply within 2 seconds, an
 *           empty reply, or in mode 2 a reply other than the
 *           acknowledgement. No output is written.
 *
 * \par Threads
 * Any thread; the call has its own socket and shares nothing.
 */
DOORLINK_API uint32_t DOORLINK_CALL MacInfo(const char* address, int32_t mode, char* firstText,
                                            char* secondText);

/**
 * \brief Writes the serial number text of a MAC text.
 *
 * \param macText MAC text, 12 hexadecimal digits; read only.
 * \param[out] serial Caller's buffer of 13 bytes: receives 12 upper-case
 *             hexadecimal digits and a terminating zero; the empty text on
 *             failure.
 * \retval 1 The serial number is written.
 * \retval 0 A null pointer or an invalid MAC text; serial, when not null,
 *           holds the empty text.
 *
 * \par Threads
 * Any thread; no socket, no file, nothing shared.
 */
DOORLINK_API uint32_t DOORLINK_CALL TransMacToSerialNo(const char* macText, char* serial);

/**
 * \brief Pings an address: up to four ICMP echo requests.
 *
 * Writes a status line per attempt (keys PingStatue1 ...) into "ping.ini"
 * in the current directory. Needs a raw ICMP socket, or an unprivileged
 * ICMP socket where the system allows one.
 *
 * \param address Address to ping, dotted IPv4 text; read only.
 * \retval 1 An echo reply for this call came back.
 * \retval 0 A null or invalid address, no ICMP socket, a failed send, or no
 *           reply to four attempts.
 *
 * \par Threads
 * Any thread; each call knows its own echo replies. Calls at once write the
 * same keys of "ping.ini", one write at a time: the last one stays.
 */
DOORLINK_API uint32_t DOORLINK_CALL Ping(const char* address);

/** \} */

/**
 * \defgroup records Records and images
 * \brief Stored access records and photos, pushed error reports and photos.
 *
 * Record lines go to the controller record file "mjNNN.txt" (appended to)
 * and to a new retrieval record file of the call in "cardinfo"; photos go
 * under "pic"; NNN is the controller number, the host's number of the
 * controller in three digits. The image progress keys TotalImgN and
 * CurrentImgN go to eqminfo.ini.
 * \{
 */

/**
 * \brief Fetches the controller's access records and their photos.
 *
 * \param address    Controller address, dotted IPv4 text; read only.
 * \param controller Controller number of the file names and progress keys.
 * \param macText    Controller MAC text (12 hexadecimal digits); read only.
 * \retval 0 Failure: invalid MAC text or a null address (nothing sent), a
 *           file that cannot be opened (nothing sent), no socket, a failed
 *           send or write, an empty datagram, a controller silent too long
 *           before every announced image came, or 100 replies that were
 *           wrong or old (blocks already acknowledged) while one block was
 *           due.
 * \retval 1 The controller fell silent after every announced image.
 * \retval 2 The controller sent its end marker.
 * \retval 3 The controller answered with a short reply.
 *
 * \par Threads
 * Any thread. Calls for different controller numbers are independent. Two
 * calls with the same controller number at once share that number's
 * temporary photo files under "pic" and are not serialized: run them one
 * after the other.
 */
DOORLINK_API uint32_t DOORLINK_CALL DataRtn(const char* address, int32_t controller, const char* macText);

/**
 * \brief Fetches the access records without photos, in numbered blocks of
 * up to 64.
 *
 * \param address    Controller address, dotted IPv4 text; read only.
 * \param controller Controller number of the file names and progress keys.
 * \param macText    Controller MAC text (12 hexadecimal digits); read only.
 * \retval 1 Every block came and its records are written.
 * \retval 2 The controller had nothing (end marker).
 * \retval 0 Failure: invalid MAC text or a null address (nothing sent), a
 *           file that cannot be opened, no socket, a failed send or write,
 *           a silence, or 100 replies that were wrong or old (earlier
 *           blocks) while one block was due.
 *
 * \par Threads
 * Any thread. Every call writes a retrieval record file of its own; lines
 * appended to "mjNNN.txt" by calls at once do not mix within a line.
 */
DOORLINK_API uint32_t DOORLINK_CALL TxDataRtn(const char* address, int32_t controller, const char* macText);

/**
 * \brief Waits on a monitoring socket for one error report.
 *
 * \param address    Not used.
 * \param[out] text  Caller's buffer of 1066 bytes: receives the error text
 *                   (the controller number line, then the report) once a
 *                   report came.
 * \param controller Controller number of the error log file
 *                   "error/errorNNN.txt", to which the text is appended.
 * \param socket     Monitoring socket from DoorScout(), DoorScout1() or
 *                   DoorTransIP(); it stays open and the caller's.
 * \retval 1 A report came and was logged.
 * \retval 0 A null text or socket 0, a log that cannot be opened, no report
 *           within 2 seconds, 100 empty datagrams or acknowledgement copies
 *           in a row, or a log write that failed (text is then written).
 *
 * \par Threads
 * Any thread, one receiver on a socket at a time: calls of ErrorScore() and
 * DoorPic() on the same socket at once would take each other's datagrams.
 */
DOORLINK_API uint32_t DOORLINK_CALL ErrorScore(const char* address, char* text, int32_t controller,
                                               uint32_t socket);

/**
 * \brief Waits on a monitoring socket for one pushed photo and writes it to
 * "curpic/CARD.jpg" (CARD: its card text).
 *
 * A later photo of the same card replaces the file.
 *
 * \param unused Not used.
 * \param[out] cardText Caller's buffer of 9 bytes: receives the card text
 *             once the photo's first block came and its file was created.
 * \param[out] timeText Caller's buffer of 17 bytes: receives
 *             "yyyy-mm-dd hh:mm", at the same moment.
 * \param socket Monitoring socket from DoorScout(), DoorScout1() or
 *               DoorTransIP(); it stays open and the caller's.
 * \retval 1 The whole photo is written.
 * \retval 0 A null pointer or socket 0, no photo within 2 seconds, a file
 *           that cannot be created, or a controller that fell silent or
 *           kept sending other datagrams in the middle of the photo.
 *
 * \par Threads
 * Any thread, one receiver on a socket at a time, as ErrorScore(). The
 * memory of photos lately taken on each socket, which keeps late copies
 * from passing for a new photo, is shared under a lock.
 */
DOORLINK_API uint32_t DOORLINK_CALL DoorPic(uint32_t unused, char* cardText, char* timeText, uint32_t socket);

/** \} */

#ifdef __cplusplus
}
#endif

#endif /* DOORLINK_DOORLINK_H */
