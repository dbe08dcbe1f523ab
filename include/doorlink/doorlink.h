/*
 * doorlink: client library for networked door access controllers.
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
 * Output texts go into buffers the caller provides; each declaration says
 * how large the buffer must be.
 */
#ifndef DOORLINK_DOORLINK_H
#define DOORLINK_DOORLINK_H

#include <stdint.h>

/* The calling convention of every export: __stdcall on 32-bit Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define DOORLINK_CALL __stdcall
#else
#define DOORLINK_CALL
#endif

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

/* ---- Library set-up ------------------------------------------------------ */

/* Binds every later socket within start..end (each 0..65535); 1, or 0 when
 * either bound is out of range (the previous range then stays). */
DOORLINK_API uint32_t DOORLINK_CALL SetPortRange(int32_t start, int32_t end);

/* ---- Controller clock ----------------------------------------------------- */

/* Sets the controller's clock to this host's local time; 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL DoorSetTime(const char* address, const char* macText);

/* Reads the controller's clock as "yy-mm-dd hh:mm:ss" into text (at least 18
 * bytes) and its day-of-week value into weekDay; 1 on success, else 0 and
 * neither output is written. */
DOORLINK_API uint32_t DOORLINK_CALL DoorShowTime(const char* address, char* text,
                                                 uint32_t* weekDay, const char* macText);

/* ---- Door actuation ------------------------------------------------------ */

/* Forces the actuation of door 0..3; 1 when acknowledged, 0 for another door. */
DOORLINK_API uint32_t DOORLINK_CALL DoorCompelOpenOrClose(const char* address, uint32_t door,
                                                          const char* macText);

/* As DoorCompelOpenOrClose with an extra request byte (below 255; negative
 * values send their low 8 bits). */
DOORLINK_API uint32_t DOORLINK_CALL MulDoorCompelOpenOrClose(const char* address, uint32_t door,
                                                             int32_t extra, const char* macText);

/* Sends the controller its initialisation command; 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL DoorInit(const char* address, const char* macText);

/* ---- Door state queries --------------------------------------------------- */

/* Reads the current state (0..3) into state; 1 on success, else 0 and state
 * is not written. */
DOORLINK_API uint32_t DOORLINK_CALL DoorCurState(const char* address, const char* macText,
                                                 uint32_t* state);

/* As DoorCurState with an extra request byte (below 256). */
DOORLINK_API uint32_t DOORLINK_CALL MulDoorCurState(const char* address, const char* macText,
                                                    uint32_t* state, int32_t extra);

/* Asks with selector 0..3 and returns the raw reply: 14 bytes for selector 1,
 * else 10; null on failure. The bytes live in a buffer of the calling thread
 * and stay valid until that thread's next DoorState call. */
DOORLINK_API const uint8_t* DOORLINK_CALL DoorState(const char* address, uint32_t selector,
                                                    const char* macText);

/* Reads the record and direction values (16 bits each); 1 on success. */
DOORLINK_API uint32_t DOORLINK_CALL DoorRecAndDir(const char* address, uint32_t* rec,
                                                  uint32_t* dir, const char* macText);

/* ---- Lock and button times ------------------------------------------------ */

/* Sends lock and button time lists of up to 8 items "hhmm," each (the last
 * may omit its separator); 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL DoorLockAndButtonTime(const char* address,
                                                          const char* lockTimes,
                                                          const char* buttonTimes,
                                                          const char* macText);

/* As DoorLockAndButtonTime with an extra request byte. */
DOORLINK_API uint32_t DOORLINK_CALL MulDoorLockAndButtonTime(const char* address,
                                                             const char* lockTimes,
                                                             const char* buttonTimes,
                                                             uint8_t extra, const char* macText);

/* Sends lists of up to 4 long items "hhmm-hhmm-nn;" each; 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL DoorLockAndButtonTime3(const char* address,
                                                           const char* lockTimes,
                                                           const char* buttonTimes,
                                                           const char* macText);

/* Kind 0: DoorLockAndButtonTime, 1: DoorLockAndButtonTime3, 2:
 * MulDoorLockAndButtonTime with extra; its result, or 0 for another kind. */
DOORLINK_API uint32_t DOORLINK_CALL LockAndButtonTime(const char* address, const char* lockTimes,
                                                      const char* buttonTimes,
                                                      const char* macText, int32_t extra,
                                                      int32_t kind);

/* ---- Modes and rest days -------------------------------------------------- */

/* Sends the 3 mode bytes at modes; 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL SetMode(const uint8_t* modes, const char* address,
                                            const char* macText);

/* As SetMode with an extra request byte. */
DOORLINK_API uint32_t DOORLINK_CALL MulSetMode(const uint8_t* modes, uint8_t extra,
                                               const char* address, const char* macText);

/* Sends the week pattern (7 characters, '0' or '1' per day from Sunday) and up
 * to 20 rest days "mmdd," each; 1 when acknowledged, 0 also for a week text
 * shorter than 7 characters. */
DOORLINK_API uint32_t DOORLINK_CALL DoorRestDay(const char* address, const char* weekDays,
                                                const char* restDays, const char* macText);

/* ---- Monitoring, photo test and flags ------------------------------------- */

/* Asks the controller to report to this host and writes the open socket into
 * socketOut; 1 on success. The socket then belongs to the caller, who closes
 * it: closesocket() and one WSACleanup() on Windows, close() elsewhere. On
 * failure nothing is written and no socket stays open. */
DOORLINK_API uint32_t DOORLINK_CALL DoorScout(const char* address, uint32_t* socketOut);

/* As DoorScout with an extra request byte. */
DOORLINK_API uint32_t DOORLINK_CALL DoorScout1(const char* address, uint8_t extra,
                                               uint32_t* socketOut);

/* Asks the controller to take a test photo; 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL PhotoTest(const char* address);

/* Sends the flag of kind 1 (any other kind: the other flag) for the card text
 * "sssnnnnn" (site, number); 1 when the controller confirms the card. */
DOORLINK_API uint32_t DOORLINK_CALL DoorFlag(const char* address, uint8_t kind,
                                             const char* cardText, const char* macText);

/* ---- Card reader ---------------------------------------------------------- */

/* Reads one card from the card reader on the serial port portName (COM1,
 * /dev/ttyS0...), polling it for about 5 seconds at most. On success writes
 * "vvvvvvvvvv,sssnnnnn" into result (at least 20 bytes): the card value as ten
 * decimal digits, then the card text (site byte, card number); 1, else 0 and
 * result is not written. */
DOORLINK_API uint32_t DOORLINK_CALL GetCardNo(const char* portName, char* result);

/* ---- Framed commands ------------------------------------------------------ */

/* Sends a framed command to the controller at address: station is 2 bytes;
 * command holds the command byte, the payload length L (2 bytes, high first)
 * and L payload bytes. On success answer receives the answer's command byte,
 * its payload length M (2 bytes, high first) and M payload bytes (size it for
 * 3 + 1006 bytes) and 1 is returned; 0 after silence or ten refused replies.
 * unused1 and unused2 are ignored. */
DOORLINK_API uint32_t DOORLINK_CALL SysComInter(const char* address, uint16_t node,
                                                uint32_t unused1, uint32_t unused2,
                                                const uint8_t* station, const uint8_t* command,
                                                uint8_t* answer);
/* ---- Card lists ------------------------------------------------------------
 *
 * A card list source file is an INI file with one numbered key per card and
 * field ("CardNo1", "SerialNo1", ... "Saturday1"); a card list file
 * list/doorname%03d.dat holds one record per card: 300 bytes (short) or 360
 * bytes (long, ten further card numbers). Functions whose names end in 1 use
 * long records. Progress of downloads and read-backs goes to the keys
 * TolNameList/CurNameList and ReTolNameList/ReCurNameList of eqminfo.ini. */

/* Converts cards 1..count (0 to 5000) of the source file into the short-record
 * list file of listNumber (0 to 999); 1, or 0 (count 0 leaves the file empty). */
DOORLINK_API uint32_t DOORLINK_CALL FormatName(const char* sourcePath, int32_t count,
                                               uint32_t listNumber);

/* The same with long records. */
DOORLINK_API uint32_t DOORLINK_CALL FormatName1(const char* sourcePath, int32_t count,
                                                uint32_t listNumber);

/* kind 0: FormatName, kind 1: FormatName1; any other kind returns 0. */
DOORLINK_API uint32_t DOORLINK_CALL TransformName(const char* sourcePath, int32_t count,
                                                  uint32_t listNumber, uint32_t kind);

/* Builds the short record of one card of the source file into record (300
 * bytes); 1. Missing serial and password digits become 0xD0. */
DOORLINK_API uint32_t DOORLINK_CALL FormatSignalName(const char* sourcePath, int32_t cardIndex,
                                                     uint8_t* record);

/* The same for the long record (360 bytes). */
DOORLINK_API uint32_t DOORLINK_CALL FormatSignalName1(const char* sourcePath, int32_t cardIndex,
                                                      uint8_t* record);

/* Writes one short record from arguments into the list file of listNumber
 * (0 to 255): a new list when append is 0, else appended. card is 8 digits,
 * serialNo and password 6 characters each, userStyle 0 or 1, openStyle 0 to
 * 2; the day texts are like "0800-1200-01;1300-1730-01;". 1, or 0 with the
 * file untouched. */
DOORLINK_API uint32_t DOORLINK_CALL NameToText(const char* card, const char* serialNo,
                                               uint32_t userStyle, const char* sunday,
                                               const char* monday, const char* tuesday,
                                               const char* wednesday, const char* thursday,
                                               const char* friday, const char* saturday,
                                               const char* password, uint32_t openStyle,
                                               int32_t listNumber, uint32_t append);

/* The same with long records; card holds 1 to 11 card texts of 8 digits at
 * 9-character steps ("00112345,00254321"), 8 + 9k characters. */
DOORLINK_API uint32_t DOORLINK_CALL NameToText1(const char* card, const char* serialNo,
                                                uint32_t userStyle, const char* sunday,
                                                const char* monday, const char* tuesday,
                                                const char* wednesday, const char* thursday,
                                                const char* friday, const char* saturday,
                                                const char* password, uint32_t openStyle,
                                                int32_t listNumber, uint32_t append);

/* Sends the first count (0 to 65535) short records of the list file of
 * listNumber to the controller; 1 when every record was acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL DoorDownName(const char* address, int32_t count,
                                                 int32_t listNumber, const char* macText);

/* The same for a list of long records. */
DOORLINK_API uint32_t DOORLINK_CALL DoorDownName1(const char* address, int32_t count,
                                                  int32_t listNumber, const char* macText);

/* kind 0: DoorDownName, kind 1: DoorDownName1; any other kind returns 0. */
DOORLINK_API uint32_t DOORLINK_CALL DownName(const char* address, int32_t count,
                                             int32_t listNumber, const char* macText,
                                             uint32_t kind);

/* Reads every card record the controller holds into list/ReCardInfo%03d.dat
 * (360 bytes each); 1 when all were read. */
DOORLINK_API uint32_t DOORLINK_CALL LookDoorName(const char* address, int32_t listNumber,
                                                 const char* macText);

/* Turns a read-back card file into ReCard%03d.ini (number) beside it, with
 * the source file's keys; 1, or 0 for a missing or malformed file. */
DOORLINK_API uint32_t DOORLINK_CALL NameToini(const char* readBackPath, int32_t number);
/* ---- Devices and network settings ---------------------------------------- */

/* Sends the discovery request as a broadcast (broadcast == 1; address unused)
 * or five times to address, and records every controller that answers in
 * "eqminfo.ini". Returns the entry count read while recording the last
 * answer (the count before that answer's own entry was added; 0 when none
 * answered), or -1 when no socket could be opened or a send failed. Lasts
 * until six receives have failed (about 12 seconds); records at most 4096
 * answers, and stops receiving after 60 seconds whatever peers send. */
DOORLINK_API int32_t DOORLINK_CALL FindEqm(const char* address, uint8_t broadcast);

/* Gives the controller at address the settings of the 15-byte record (new
 * address, time value 0..60 or 99, image mode, device number 1..254, mask,
 * gateway) and, once acknowledged, records them in the controller's registry
 * entry (found by address); 1 when acknowledged. */
DOORLINK_API uint32_t DOORLINK_CALL modifyEqm(const uint8_t* settings, const char* address,
                                              const char* macText);

/* Tells the controller this host's address and the local port of a new
 * socket; when acknowledged, stores that socket's handle in *socketHandle and
 * leaves it open for the caller (the monitoring socket), and returns 1. */
DOORLINK_API uint32_t DOORLINK_CALL DoorTransIP(const char* address, uint32_t* socketHandle,
                                                const char* macText);

/* Gives the controller at address the 6-byte MAC newMac; 1 when acknowledged,
 * with the MAC the controller reports in macText (at least 13 bytes). */
DOORLINK_API uint32_t DOORLINK_CALL SetMacAddr(const char* address, const uint8_t* newMac,
                                               char* macText);

/* Mode 2: gives the controller the MAC of the 12-character firstText and, when
 * acknowledged, writes its serial number text into secondText (13 bytes).
 * Mode 3: asks the controller whose MAC text is secondText for its MAC and
 * writes it into firstText (13 bytes). One request, one reply; 1 on success.
 * Any other mode sends 30 zero bytes and returns 0. */
DOORLINK_API uint32_t DOORLINK_CALL MacInfo(const char* address, int32_t mode, char* firstText,
                                            char* secondText);

/* Writes the serial number text of macText (12 upper-case hexadecimal digits)
 * into serial (13 bytes); 0, with serial empty, for an invalid MAC text. */
DOORLINK_API uint32_t DOORLINK_CALL TransMacToSerialNo(const char* macText, char* serial);

/* Sends up to four ICMP echo requests to address; 1 when an echo reply for
 * this process came back. Writes a line per attempt into "ping.ini" in the
 * current directory. Needs a raw ICMP socket, or an unprivileged ICMP socket
 * where the system allows one; else returns 0. */
DOORLINK_API uint32_t DOORLINK_CALL Ping(const char* address);

/* ---- Records and images -------------------------------------------------- */

/* Fetches the controller's access records and their photos into "mjNNN.txt",
 * a new record file in "cardinfo" and JPEG files under "pic" (NNN: the
 * controller number), publishing "TotalImg"/"CurrentImg" progress keys.
 * 0 on failure; 1 when the controller fell silent after every announced
 * image, 2 when it sent its end marker, 3 when it answered with a short reply. */
DOORLINK_API uint32_t DOORLINK_CALL DataRtn(const char* address, int32_t controller,
                                            const char* macText);

/* Fetches the access records without photos, in numbered blocks of up to 64,
 * into the same record files; 1 when every block came, 2 when the controller
 * had nothing (end marker), 0 on failure. */
DOORLINK_API uint32_t DOORLINK_CALL TxDataRtn(const char* address, int32_t controller,
                                              const char* macText);

/* Waits on a monitoring socket for one error report; puts the error text into
 * text (1066 bytes) and appends it to "error\errorNNN.txt". 1, or 0 when none
 * came within 2 seconds. The address is not used. */
DOORLINK_API uint32_t DOORLINK_CALL ErrorScore(const char* address, char* text,
                                               int32_t controller, uint32_t socket);

/* Waits on a monitoring socket for one pushed photo and writes it to
 * "curpic\<card text>.jpg"; the card text (9 bytes) and the time text
 * "yyyy-mm-dd hh:mm" (17 bytes) go to the caller. 1, or 0 when no photo
 * came, the file cannot be created or the controller fell silent. */
DOORLINK_API uint32_t DOORLINK_CALL DoorPic(uint32_t unused, char* cardText, char* timeText,
                                            uint32_t socket);

#ifdef __cplusplus
}
#endif

#endif /* DOORLINK_DOORLINK_H */
