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

#ifdef __cplusplus
}
#endif

#endif /* DOORLINK_DOORLINK_H */
