/*
 * A host that links doorlink.dll through its import library and the public
 * header, as a C program built with MinGW does: the __stdcall symbols of the
 * header must resolve to the DLL's plain export names.
 *
 *     implib_host.exe address mac
 */
#include <stdio.h>
#include <string.h>

#include "doorlink/doorlink.h"

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc != 3) {
        printf("usage: implib_host.exe address mac\n");
        return 2;
    }
    int failures = 0;
    if (SetPortRange(-1, 100) != 0) ++failures;
    if (SetPortRange(0, 65535) != 1) ++failures;
    if (SetAdaptiveWait(NULL, 2001) != 0) ++failures;
    if (SetAdaptiveWait(argv[1], 20) != 1) ++failures;
    char text[18] = "";
    uint32_t weekDay = 99;
    if (DoorSetTimeTo(argv[1], argv[2], "20301231235950") != 1) ++failures;
    if (DoorSetTime(argv[1], argv[2]) != 1) ++failures;
    if (DoorShowTime(argv[1], text, &weekDay, argv[2]) != 1) ++failures;
    if (strlen(text) != 17 || weekDay > 6) ++failures;
    printf("implib: clock %s, day %u: %s\n", text, (unsigned)weekDay, failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
