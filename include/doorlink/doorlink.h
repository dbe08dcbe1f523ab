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
