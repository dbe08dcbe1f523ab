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

/* ---- Devices and network settings ---------------------------------------- */

/* Sends the discovery request as a broadcast (broadcast == 1; address unused)
 * or five times to address, and records every controller that answers in
 * "eqminfo.ini". Returns the entry count read while recording the last
 * answer (the count before that answer's own entry was added; 0 when none
 * answered), or -1 when no socket could be opened or a send failed. Lasts
 * until six receives have failed (about 12 seconds). */
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

#ifdef __cplusplus
}
#endif

#endif /* DOORLINK_DOORLINK_H */
