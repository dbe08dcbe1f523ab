/*
 * winhost: a Windows host application for the Wine suite (32-bit, and
 * 64-bit in the test build of build-win64). It loads
 * doorlink.dll from its own directory with LoadLibraryA, finds every export
 * by its plain name with GetProcAddress, and runs one scenario:
 *
 *     winhost.exe SCENARIO [name=value ...]
 *
 * The Linux driver (tests/windows/wine_driver.cpp) starts the simulated
 * controllers, passes their addresses and MACs as name=value arguments and
 * checks on its side what the controllers received. A scenario is one
 * function in the table at the end; it prints a line per failed check and
 * the program exits with 0 only when every check held.
 */
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The header only lends its declarations to EXPORT below: nothing is linked
 * against the import library. */
#define DOORLINK_STATIC
#include "doorlink/doorlink.h"

/* The exports as a host declares them when it loads the DLL at run time. */
typedef uint32_t(__stdcall* SetPortRangeFn)(int32_t start, int32_t end);
typedef uint32_t(__stdcall* SetAdaptiveWaitFn)(const char* address, int32_t minimumMs);
typedef uint32_t(__stdcall* DoorSetTimeFn)(const char* address, const char* macText);
typedef uint32_t(__stdcall* DoorShowTimeFn)(const char* address, char* text, uint32_t* weekDay,
                                            const char* macText);

static HMODULE library;
static int failures;
static int argCount;
static char** args;

#define CHECK(condition)                                                    \
    do {                                                                    \
        if (!(condition)) {                                                 \
            printf("  failed at winhost.c:%d: %s\n", __LINE__, #condition); \
            ++failures;                                                     \
        }                                                                   \
    } while (0)

/* The value of a name=value argument; NULL when it was not given. */
static const char* arg(const char* name) {
    size_t n = strlen(name);
    for (int i = 0; i < argCount; ++i) {
        if (strncmp(args[i], name, n) == 0 && args[i][n] == '=') return args[i] + n + 1;
    }
    return NULL;
}

static const char* need_arg(const char* name) {
    const char* value = arg(name);
    if (!value) {
        printf("  missing argument %s=\n", name);
        exit(2);
    }
    return value;
}

static FARPROC need_export(const char* name) {
    FARPROC p = GetProcAddress(library, name);
    if (!p) {
        printf("  doorlink.dll does not export %s\n", name);
        exit(1);
    }
    return p;
}

/* The export of that name, typed as the header declares it. */
#define EXPORT(name) ((__typeof__(&name))need_export(#name))

static DWORD elapsed_since(DWORD start) { return GetTickCount() - start; }

/* A file in the directory of this program, which is the DLL's module
 * directory. */
static void module_file(const char* name, char* path, size_t size) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self) {
        printf("  GetModuleFileNameA failed\n");
        exit(1);
    }
    char* slash = strrchr(self, '\\');
    if (slash) *slash = '\0';
    snprintf(path, size, "%s\\%s", self, name);
}

/* A value of an INI file, read with the platform's own profile function. */
static const char* profile(const char* section, const char* key, const char* path) {
    static char value[256];
    GetPrivateProfileStringA(section, key, "<absent>", value, sizeof value, path);
    return value;
}

#define CHECK_PROFILE(section, key, path, expected)                                                     \
    do {                                                                                                \
        const char* got_ = profile(section, key, path);                                                 \
        if (strcmp(got_, expected) != 0) {                                                              \
            printf("  failed at winhost.c:%d: [%s] %s is \"%s\", not \"%s\"\n", __LINE__, section, key, \
                   got_, expected);                                                                     \
            ++failures;                                                                                 \
        }                                                                                               \
    } while (0)

/* The whole content of a file; NULL when it cannot be read. */
static unsigned char* read_file(const char* path, long* size) {
    FILE* in = fopen(path, "rb");
    if (!in) return NULL;
    fseek(in, 0, SEEK_END);
    *size = ftell(in);
    fseek(in, 0, SEEK_SET);
    unsigned char* bytes = malloc(*size > 0 ? (size_t)*size : 1);
    if (fread(bytes, 1, (size_t)*size, in) != (size_t)*size) {
        free(bytes);
        bytes = NULL;
    }
    fclose(in);
    return bytes;
}

/* Tells the driver something it checks on its side: a line name=value in
 * results.txt beside this program. */
static void tell_driver(const char* name, const char* value) {
    char path[MAX_PATH];
    module_file("results.txt", path, sizeof path);
    FILE* out = fopen(path, "a");
    if (!out) return;
    fprintf(out, "%s=%s\n", name, value);
    fclose(out);
}

/* Waits up to timeoutMs for a datagram on the socket and receives it; its
 * length, or -1. */
static int receive_within(SOCKET s, unsigned char* buffer, int size, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    struct timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &set, NULL, NULL, &tv) != 1) return -1;
    return recv(s, (char*)buffer, size, 0);
}

static int bound_port(SOCKET s) {
    struct sockaddr_in a;
    int length = sizeof a;
    memset(&a, 0, sizeof a);
    if (getsockname(s, (struct sockaddr*)&a, &length) != 0) return -1;
    return ntohs(a.sin_port);
}

/* True when no start-up of the socket library is left without its clean-up:
 * a socket cannot be created then. */
static int sockets_not_started(void) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s != INVALID_SOCKET) {
        closesocket(s);
        return 0;
    }
    return WSAGetLastError() == WSANOTINITIALISED;
}

/* ---- Scenarios ------------------------------------------------------------ */

/* Every name given resolves by its plain name, none by a decorated one; the
 * DLL carries the version resource of the project version. */
static void scenario_exports(void) {
    int names = 0;
    for (int i = 0; i < argCount; ++i) {
        if (strchr(args[i], '=')) continue;
        ++names;
        char decorated[128];
        CHECK(GetProcAddress(library, args[i]) != NULL);
        for (int bytes = 0; bytes <= 64; bytes += 4) {
            snprintf(decorated, sizeof decorated, "%s@%d", args[i], bytes);
            if (GetProcAddress(library, decorated)) {
                printf("  decorated export %s\n", decorated);
                ++failures;
            }
        }
    }
    CHECK(names > 0);

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(library, path, sizeof path);
    CHECK(length > 0 && length < sizeof path);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    CHECK(size > 0);
    if (size == 0) return;
    void* info = malloc(size);
    char* version = NULL;
    UINT versionLength = 0;
    CHECK(GetFileVersionInfoA(path, 0, size, info));
    CHECK(VerQueryValueA(info, "\\StringFileInfo\\040904B0\\FileVersion", (void**)&version, &versionLength));
    if (version) {
        printf("  file version %s\n", version);
        CHECK(strcmp(version, need_arg("version")) == 0);
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT fixedLength = 0;
    CHECK(VerQueryValueA(info, "\\", (void**)&fixed, &fixedLength));
    if (fixed) CHECK((fixed->dwFileType) == VFT_DLL);
    free(info);
}

/* The clock is set from this host's local time and read back. */
static void scenario_clock(void) {
    DoorSetTimeFn setTime = (DoorSetTimeFn)need_export("DoorSetTime");
    DoorShowTimeFn showTime = (DoorShowTimeFn)need_export("DoorShowTime");
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");

    CHECK(setTime(address, mac) == 1);
    char text[32];
    memset(text, '#', sizeof text);
    uint32_t weekDay = 99;
    CHECK(showTime(address, text, &weekDay, mac) == 1);
    SYSTEMTIME now;
    GetLocalTime(&now);
    printf("  controller clock %s, day %u\n", text, (unsigned)weekDay);
    CHECK(text[17] == '\0' && text[18] == '#');
    char date[16];
    snprintf(date, sizeof date, "%02u-%02u-%02u", now.wYear % 100u, now.wMonth, now.wDay);
    CHECK(strncmp(text, date, 8) == 0); /* the date, unless midnight passed */
    CHECK(text[8] == ' ' && text[11] == ':' && text[14] == ':');
    CHECK(weekDay == now.wDayOfWeek);

    /* A MAC in upper case names the same controller. */
    char upper[16];
    snprintf(upper, sizeof upper, "%s", mac);
    CharUpperA(upper);
    CHECK(showTime(address, text, &weekDay, upper) == 1);
    CHECK(sockets_not_started());
}

/* The clock is set to a given local time, far from this host's, and read
 * back with the day of the week of that date (the driver checks the
 * request's bytes). */
static void scenario_clock_to(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");

    CHECK(EXPORT(DoorSetTimeTo)(address, mac, "20301231235950") == 1);
    char text[18] = "";
    uint32_t weekDay = 99;
    CHECK(EXPORT(DoorShowTime)(address, text, &weekDay, mac) == 1);
    printf("  controller clock %s, day %u\n", text, (unsigned)weekDay);
    CHECK(strncmp(text, "30-12-31 23:59:5", 16) == 0); /* seconds after the set */
    CHECK(weekDay == 2);                               /* a Tuesday */
    CHECK(sockets_not_started());
}

/* Invalid arguments give 0 at once, without a datagram (the driver counts
 * them) and without writing the outputs. */
static void scenario_refusals(void) {
    DoorSetTimeFn setTime = (DoorSetTimeFn)need_export("DoorSetTime");
    DoorShowTimeFn showTime = (DoorShowTimeFn)need_export("DoorShowTime");
    SetPortRangeFn setPortRange = (SetPortRangeFn)need_export("SetPortRange");
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    char text[18] = "untouched";
    uint32_t weekDay = 77;

    DWORD start = GetTickCount();
    CHECK(setTime(address, NULL) == 0);
    CHECK(setTime(NULL, mac) == 0);
    CHECK(setTime(address, "00-A0-C9-00-00-01") == 0);
    CHECK(setTime(address, "00a0c900000g") == 0);
    CHECK(setTime(address, "00a0c900000") == 0);
    CHECK(setTime(address, "00a0c90000011") == 0);
    CHECK(EXPORT(DoorSetTimeTo)(NULL, mac, "20301231235950") == 0);
    CHECK(EXPORT(DoorSetTimeTo)(address, "00a0c900000g", "20301231235950") == 0);
    CHECK(EXPORT(DoorSetTimeTo)(address, mac, NULL) == 0);
    CHECK(EXPORT(DoorSetTimeTo)(address, mac, "2030123123595") == 0);  /* 13 digits */
    CHECK(EXPORT(DoorSetTimeTo)(address, mac, "20300229120000") == 0); /* no leap year */
    CHECK(EXPORT(DoorSetTimeTo)(address, mac, "21000101000000") == 0); /* beyond the two-digit year */
    CHECK(showTime(address, NULL, &weekDay, mac) == 0);
    CHECK(showTime(address, text, NULL, mac) == 0);
    CHECK(showTime(NULL, text, &weekDay, mac) == 0);
    CHECK(showTime(address, text, &weekDay, "") == 0);
    CHECK(strcmp(text, "untouched") == 0 && weekDay == 77);
    CHECK(setPortRange(-1, 100) == 0);
    CHECK(setPortRange(0, 65536) == 0);
    CHECK(setPortRange(INT32_MIN, INT32_MAX) == 0);
    DWORD took = elapsed_since(start);
    printf("  refusals took %lu ms\n", (unsigned long)took);
    CHECK(took < 1000);
}

/* Sockets bind within the port range: with its only port taken the call
 * fails at once; once the port is free it succeeds from that port (the
 * driver checks the source port of every datagram). */
static void scenario_port_range(void) {
    SetPortRangeFn setPortRange = (SetPortRangeFn)need_export("SetPortRange");
    DoorShowTimeFn showTime = (DoorShowTimeFn)need_export("DoorShowTime");
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    int port = atoi(need_arg("port"));
    char text[18];
    uint32_t weekDay = 0;

    CHECK(setPortRange(0, 65535) == 1);
    CHECK(setPortRange(65535, 0) == 1);
    CHECK(setPortRange(port, port) == 1);
    CHECK(setPortRange(-1, port) == 0); /* leaves port..port in force */

    WSADATA data;
    CHECK(WSAStartup(MAKEWORD(2, 2), &data) == 0);
    SOCKET blocker = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    BOOL on = TRUE;
    setsockopt(blocker, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char*)&on, sizeof on);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    CHECK(bind(blocker, (struct sockaddr*)&a, sizeof a) == 0);

    DWORD start = GetTickCount();
    CHECK(showTime(address, text, &weekDay, mac) == 0);
    DWORD took = elapsed_since(start);
    printf("  with the port taken: %lu ms\n", (unsigned long)took);
    CHECK(took < 1500); /* no socket, so no readiness wait */

    closesocket(blocker);
    WSACleanup();
    CHECK(showTime(address, text, &weekDay, mac) == 1);
    CHECK(showTime(address, text, &weekDay, mac) == 1); /* the port is free again */
    CHECK(sockets_not_started());
}

/* A silent controller: 0 after one readiness wait of about 2 seconds. */
static void scenario_silent(void) {
    DoorShowTimeFn showTime = (DoorShowTimeFn)need_export("DoorShowTime");
    DoorSetTimeFn setTime = (DoorSetTimeFn)need_export("DoorSetTime");
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    char text[18] = "untouched";
    uint32_t weekDay = 77;

    DWORD start = GetTickCount();
    CHECK(showTime(address, text, &weekDay, mac) == 0);
    DWORD took = elapsed_since(start);
    printf("  silent show took %lu ms\n", (unsigned long)took);
    CHECK(took >= 1500 && took < 8000);
    CHECK(strcmp(text, "untouched") == 0 && weekDay == 77);
    CHECK(setTime(address, mac) == 0);
    CHECK(sockets_not_started());
}

/* DOORLINK_ADAPTIVE_WAIT, which the driver sets, switched the adaptive wait
 * on when the DLL loaded: the clock query whose first copy the controller
 * ignores goes again after the timeout and is answered, where the fixed wait
 * gives up after 2 seconds (the driver counts the two copies). */
static void scenario_adaptive_wait(void) {
    DoorShowTimeFn showTime = (DoorShowTimeFn)need_export("DoorShowTime");
    SetAdaptiveWaitFn setAdaptiveWait = (SetAdaptiveWaitFn)need_export("SetAdaptiveWait");
    const char* address = need_arg("address");
    char text[18] = "";
    uint32_t weekDay = 99;
    CHECK(showTime(address, text, &weekDay, need_arg("mac")) == 1);
    CHECK(weekDay <= 6);
    CHECK(setAdaptiveWait(NULL, 2001) == 0);
    CHECK(setAdaptiveWait("127.0.0.256", 20) == 0);
    CHECK(setAdaptiveWait(address, 0) == 1);
    CHECK(setAdaptiveWait(NULL, 0) == 1);
    CHECK(sockets_not_started());
}

/* Wrong replies are answered with the request again until the right one. */
static void scenario_wrong_replies(void) {
    DoorSetTimeFn setTime = (DoorSetTimeFn)need_export("DoorSetTime");
    CHECK(setTime(need_arg("address"), need_arg("mac")) == 1);
}

/* Calls from several host threads at once, each with its own socket and its
 * own start-up and clean-up of the socket library. */
struct Worker {
    const char* address;
    const char* mac;
    DoorShowTimeFn showTime;
    int successes;
};

static DWORD WINAPI worker_main(LPVOID raw) {
    struct Worker* w = (struct Worker*)raw;
    for (int i = 0; i < 5; ++i) {
        char text[18];
        uint32_t weekDay = 0;
        DWORD t0 = GetTickCount();
        if (w->showTime(w->address, text, &weekDay, w->mac) == 1) {
            ++w->successes;
        } else {
            printf("  call %d failed after %lu ms, last error %lu\n", i, (unsigned long)(GetTickCount() - t0),
                   (unsigned long)GetLastError());
        }
    }
    return 0;
}

static void scenario_threads(void) {
    enum { kThreads = 4 };
    struct Worker workers[kThreads];
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        workers[i].address = need_arg("address");
        workers[i].mac = need_arg("mac");
        workers[i].showTime = (DoorShowTimeFn)need_export("DoorShowTime");
        workers[i].successes = 0;
        threads[i] = CreateThread(NULL, 0, worker_main, &workers[i], 0, NULL);
        CHECK(threads[i] != NULL);
    }
    CHECK(WaitForMultipleObjects(kThreads, threads, TRUE, 60000) == WAIT_OBJECT_0);
    for (int i = 0; i < kThreads; ++i) {
        CloseHandle(threads[i]);
        CHECK(workers[i].successes == 5);
    }
    CHECK(sockets_not_started());
}

/* Door actuation and the state queries; DoorState hands out a buffer of the
 * calling thread, which another thread's call leaves alone. */
struct StateReader {
    const char* address;
    const char* mac;
    const uint8_t* bytes;
    uint8_t copy[10];
};

static DWORD WINAPI state_reader_main(LPVOID raw) {
    struct StateReader* r = (struct StateReader*)raw;
    r->bytes = EXPORT(DoorState)(r->address, 3, r->mac);
    if (r->bytes) memcpy(r->copy, r->bytes, sizeof r->copy);
    return 0;
}

static int all_bytes(const uint8_t* bytes, size_t n, uint8_t value) {
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] != value) return 0;
    return 1;
}

static void scenario_doors(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");

    CHECK(EXPORT(DoorCompelOpenOrClose)(address, 2, mac) == 1);
    CHECK(EXPORT(MulDoorCompelOpenOrClose)(address, 3, 254, mac) == 1);
    CHECK(EXPORT(DoorCompelOpenOrClose)(address, 4, mac) == 0); /* no door 4: nothing sent */
    CHECK(EXPORT(DoorInit)(address, mac) == 1);

    uint32_t state = 9;
    CHECK(EXPORT(DoorCurState)(address, mac, &state) == 1);
    CHECK(state == 2);
    state = 9;
    CHECK(EXPORT(MulDoorCurState)(address, mac, &state, 255) == 1);
    CHECK(state == 2);
    uint32_t rec = 0, dir = 0;
    CHECK(EXPORT(DoorRecAndDir)(address, &rec, &dir, mac) == 1);
    CHECK(rec == 300 && dir == 5);

    const uint8_t* wide = EXPORT(DoorState)(address, 1, mac);
    CHECK(wide != NULL);
    if (wide)
        for (int i = 0; i < 14; ++i) CHECK(wide[i] == 0x40 + i);
    const uint8_t* mine = EXPORT(DoorState)(address, 2, mac);
    CHECK(mine != NULL);
    struct StateReader other = {address, mac, NULL, {0}};
    HANDLE thread = CreateThread(NULL, 0, state_reader_main, &other, 0, NULL);
    CHECK(thread != NULL);
    if (thread) {
        CHECK(WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    CHECK(other.bytes != NULL && other.bytes != mine);
    CHECK(all_bytes(other.copy, 10, 0x33));
    if (mine) CHECK(all_bytes(mine, 10, 0x22)); /* still this thread's reply */
    CHECK(sockets_not_started());
}

/* Lock and button times, modes, rest days, a card flag and the photo test. */
static void scenario_door_times(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    DWORD start = GetTickCount();
    CHECK(EXPORT(DoorLockAndButtonTime)(address, "0830,1730", "0830,17", mac) == 1);
    CHECK(EXPORT(DoorLockAndButtonTime3)(address, "0800-1200-01;1300-1730-02", "0700-0800-03", mac) == 1);
    const uint8_t modes[3] = {0x01, 0x02, 0x03};
    CHECK(EXPORT(SetMode)(modes, address, mac) == 1);
    CHECK(EXPORT(DoorRestDay)(address, "0000011", "0101,1225", mac) == 1);
    CHECK(EXPORT(DoorRestDay)(address, "000001", "", mac) == 0); /* week text too short */
    CHECK(EXPORT(DoorFlag)(address, 1, "12345678", mac) == 1);
    CHECK(EXPORT(PhotoTest)(address) == 1);
    DWORD took = elapsed_since(start);
    printf("  six commands took %lu ms\n", (unsigned long)took);
    CHECK(took >= 4500); /* the commands that wait a second after sending did */
    CHECK(sockets_not_started());
}

/* Monitoring sockets: DoorScout and DoorTransIP hand an open socket to this
 * host, which receives on it and closes it with closesocket and one
 * WSACleanup, as the header says. */
static void scenario_scout(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    char text[32];

    uint32_t handle = 0;
    CHECK(EXPORT(DoorScout)(address, &handle) == 1);
    CHECK(handle != 0);
    if (handle != 0) {
        SOCKET s = (SOCKET)handle;
        snprintf(text, sizeof text, "%d", bound_port(s));
        tell_driver("scout_port", text);
        unsigned char buffer[64];
        int n = receive_within(s, buffer, sizeof buffer, 10000); /* the driver pushes */
        CHECK(n == 3);
        if (n == 3) CHECK(buffer[0] == 0x5A && buffer[1] == 0xA5 && buffer[2] == 0x01);
        CHECK(closesocket(s) == 0);
        CHECK(WSACleanup() == 0);
    }
    CHECK(sockets_not_started());

    handle = 0;
    CHECK(EXPORT(DoorScout1)(address, 3, &handle) == 1);
    CHECK(handle != 0);
    if (handle != 0) {
        snprintf(text, sizeof text, "%d", bound_port((SOCKET)handle));
        tell_driver("scout1_port", text);
        CHECK(closesocket((SOCKET)handle) == 0);
        CHECK(WSACleanup() == 0);
    }
    CHECK(sockets_not_started());

    /* DoorTransIP tells the controller the address this host reaches it
     * from: that of a UDP socket connected to it. Without one it must fail
     * without a datagram. */
    char own[32] = "";
    WSADATA data;
    CHECK(WSAStartup(MAKEWORD(2, 2), &data) == 0);
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe != INVALID_SOCKET) {
        struct sockaddr_in remote, local;
        int len = sizeof local;
        memset(&remote, 0, sizeof remote);
        memset(&local, 0, sizeof local);
        remote.sin_family = AF_INET;
        remote.sin_addr.s_addr = inet_addr(address);
        remote.sin_port = htons(9000);
        if (connect(probe, (struct sockaddr*)&remote, sizeof remote) == 0 &&
            getsockname(probe, (struct sockaddr*)&local, &len) == 0 && local.sin_addr.s_addr != 0) {
            snprintf(own, sizeof own, "%s", inet_ntoa(local.sin_addr));
        }
        closesocket(probe);
    }
    WSACleanup();
    tell_driver("host_address", own[0] ? own : "none");
    handle = 77;
    uint32_t result = EXPORT(DoorTransIP)(address, &handle, mac);
    if (!own[0]) {
        CHECK(result == 0 && handle == 77);
    } else {
        CHECK(result == 1);
        if (result == 1) {
            snprintf(text, sizeof text, "%d", bound_port((SOCKET)handle));
            tell_driver("transip_port", text);
            CHECK(closesocket((SOCKET)handle) == 0);
            CHECK(WSACleanup() == 0);
        }
    }
    CHECK(sockets_not_started());
}

/* Unicast discovery into eqminfo.ini, then new settings for the controller
 * found; the registry file is read with the platform's profile functions. */
static void scenario_discovery(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    const char* moved = need_arg("moved");
    char registry[MAX_PATH];
    module_file("eqminfo.ini", registry, sizeof registry);

    DWORD start = GetTickCount();
    int32_t found = EXPORT(FindEqm)(address, 0);
    printf("  discovery returned %d after %lu ms\n", (int)found, (unsigned long)elapsed_since(start));
    CHECK(found == 1); /* five replies: the four later ones read a count of 1 */
    CHECK_PROFILE("EqmTotal", "EqmTotal", registry, "1");
    CHECK_PROFILE("EqmIP", "EqmIP1", registry, address);
    CHECK_PROFILE("EqmNO", "EqmNo1", registry, "9");
    CHECK_PROFILE("EqmNet", "EqmNet1", registry, "255.255.0.0");
    CHECK_PROFILE("EqmGate", "EqmGate1", registry, "127.0.0.1");
    CHECK_PROFILE("EqmTime", "EqmTime1", registry, "42");
    CHECK_PROFILE("EqmImg", "EqmImg1", registry, "3");
    CHECK(GetPrivateProfileIntA("EqmTotal", "EqmTotal", -1, registry) == 1);

    /* New address, time value 99, image mode 5 (recorded as 1), device 254,
     * mask 255.0.0.0, gateway 127.0.0.1. */
    uint8_t settings[15] = {0, 0, 0, 0, 99, 5, 254, 255, 0, 0, 0, 127, 0, 0, 1};
    uint32_t movedAddress = inet_addr(moved);
    memcpy(settings, &movedAddress, 4);
    CHECK(EXPORT(modifyEqm)(settings, address, mac) == 1);
    CHECK_PROFILE("EqmIP", "EqmIP1", registry, moved);
    CHECK_PROFILE("EqmNO", "EqmNo1", registry, "254");
    CHECK_PROFILE("EqmTime", "EqmTime1", registry, "99");
    CHECK_PROFILE("EqmImg", "EqmImg1", registry, "1");
    CHECK_PROFILE("EqmNet", "EqmNet1", registry, "255.0.0.0");
    CHECK_PROFILE("EqmGate", "EqmGate1", registry, "127.0.0.1");
    CHECK_PROFILE("EqmTotal", "EqmTotal", registry, "1");
    CHECK_PROFILE("EqmIP", "EqmIP2", registry, "<absent>");

    char text[18];
    uint32_t weekDay = 0;
    CHECK(EXPORT(DoorShowTime)(moved, text, &weekDay, mac) == 1); /* it answers there now */
    CHECK(sockets_not_started());
}

/* MAC query and change, serial numbers, and a new MAC by SetMacAddr. */
static void scenario_mac(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    char first[13] = "";
    char second[13] = "";

    snprintf(second, sizeof second, "%s", mac);
    CHECK(EXPORT(MacInfo)(address, 3, first, second) == 1);
    CHECK(strcmp(first, mac) == 0);

    snprintf(first, sizeof first, "0123456789AB");
    second[0] = '\0';
    CHECK(EXPORT(MacInfo)(address, 2, first, second) == 1);
    CHECK(strcmp(second, "547698BADCFE") == 0);

    char serial[13] = "untouched";
    CHECK(EXPORT(TransMacToSerialNo)("0123456789ab", serial) == 1);
    CHECK(strcmp(serial, "547698BADCFE") == 0);
    CHECK(EXPORT(TransMacToSerialNo)("0123456789A", serial) == 0);
    CHECK(serial[0] == '\0');

    const uint8_t newMac[6] = {0x02, 0xAB, 0xCD, 0x00, 0x00, 0x07};
    char reported[16];
    memset(reported, '#', sizeof reported);
    CHECK(EXPORT(SetMacAddr)(address, newMac, reported) == 1);
    CHECK(strcmp(reported, "02abcd000007") == 0 && reported[13] == '#');

    char text[18];
    uint32_t weekDay = 0;
    CHECK(EXPORT(DoorShowTime)(address, text, &weekDay, "02ABCD000007") == 1);
    CHECK(sockets_not_started());
}

/* Ping through a raw ICMP socket (expect=answer), or a refused socket where
 * the process may not have one (expect=refused): 0 at once, no status file. */
static void scenario_ping(void) {
    const char* expect = need_arg("expect");
    CHECK(EXPORT(Ping)(NULL) == 0);
    CHECK(EXPORT(Ping)("not an address") == 0);
    DWORD start = GetTickCount();
    uint32_t result = EXPORT(Ping)("127.0.0.1");
    DWORD took = elapsed_since(start);
    printf("  ping returned %u after %lu ms\n", (unsigned)result, (unsigned long)took);
    /* The status file is relative to the current directory, which the
     * driver made the run directory. */
    const char* status = profile("PingStatue", "PingStatue1", ".\\ping.ini");
    printf("  PingStatue1=%s\n", status);
    if (strcmp(expect, "answer") == 0) {
        CHECK(result == 1);
        CHECK(strncmp(status, "64 bytes from 127.0.0.1:icmp_seq = 0.time: ", 43) == 0);
        CHECK(strlen(status) > 46 && strcmp(status + strlen(status) - 3, " ms") == 0);
        CHECK_PROFILE("PingStatue", "PingStatue2", ".\\ping.ini", "<absent>");
    } else {
        CHECK(result == 0);
        CHECK(took < 1500);
        CHECK(strcmp(status, "<absent>") == 0);
    }
    CHECK(sockets_not_started());
}

/* A card list from a source file written here with the platform's profile
 * functions: converted, downloaded, read back and turned into an INI file
 * again, whose values must be the source's. */
/* 101 cards: two groups, one of them converted on a worker thread. */
#define CARDS 101
static const char* const kDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

static void source_values(int i, char* card, char* serialNo, char* password, char* day, size_t size) {
    snprintf(card, size, "%03d%05d", i % 256, (i * 37) % 65536);
    snprintf(serialNo, size, "%06d", (i * 7919 + 1) % 1000000);
    snprintf(password, size, "%06d", (i * 7919 + 2) % 1000000);
    if (i % 3 == 0) day[0] = '\0';
    else if (i % 3 == 1) snprintf(day, size, "0800-1200-01;");
    else snprintf(day, size, "0800-1200-01;1300-17%02d-%02d;", i % 60, i % 100);
}

static void write_source(const char* path) {
    char card[40], serialNo[40], password[40], day[40], key[40], value[40];
    for (int i = 1; i <= CARDS; ++i) {
        source_values(i, card, serialNo, password, day, sizeof card);
        snprintf(key, sizeof key, "CardNo%d", i);
        WritePrivateProfileStringA("CardNo", key, card, path);
        snprintf(key, sizeof key, "SerialNo%d", i);
        WritePrivateProfileStringA("SerialNo", key, serialNo, path);
        snprintf(key, sizeof key, "Password%d", i);
        WritePrivateProfileStringA("Password", key, password, path);
        snprintf(key, sizeof key, "UserStyle%d", i);
        snprintf(value, sizeof value, "%d", i % 2);
        WritePrivateProfileStringA("UserStyle", key, value, path);
        snprintf(key, sizeof key, "OpenStyle%d", i);
        snprintf(value, sizeof value, "%d", i % 3);
        WritePrivateProfileStringA("OpenStyle", key, value, path);
        for (int d = 0; d < 7; ++d) {
            snprintf(key, sizeof key, "%s%d", kDays[d], i);
            WritePrivateProfileStringA(kDays[d], key, (i + d) % 2 ? day : "", path);
        }
    }
}

static void scenario_cardlists(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    char source[MAX_PATH], registry[MAX_PATH], list[MAX_PATH], readBack[MAX_PATH], ini[MAX_PATH];
    module_file("cards.ini", source, sizeof source);
    module_file("eqminfo.ini", registry, sizeof registry);
    module_file("list\\doorname007.dat", list, sizeof list);
    module_file("list\\ReCardInfo007.dat", readBack, sizeof readBack);
    module_file("list\\ReCard007.ini", ini, sizeof ini);
    write_source(source);

    DWORD start = GetTickCount();
    CHECK(EXPORT(FormatName)(source, CARDS, 7) == 1);
    printf("  conversion took %lu ms\n", (unsigned long)elapsed_since(start));
    long listSize = 0;
    unsigned char* listBytes = read_file(list, &listSize);
    CHECK(listBytes != NULL && listSize == CARDS * 300);
    uint8_t record[360];
    for (int i = 1; listBytes && listSize == CARDS * 300 && i <= CARDS; i += 37) {
        memset(record, 0xEE, sizeof record);
        CHECK(EXPORT(FormatSignalName)(source, i, record) == 1);
        CHECK(memcmp(record, listBytes + (i - 1) * 300, 300) == 0);
        CHECK(record[300] == 0xEE);
    }

    start = GetTickCount();
    CHECK(EXPORT(DoorDownName)(address, CARDS, 7, mac) == 1);
    printf("  download took %lu ms\n", (unsigned long)elapsed_since(start));
    CHECK_PROFILE("TolNameList", "TolNameList7", registry, "101");
    CHECK_PROFILE("CurNameList", "CurNameList7", registry, "101");

    start = GetTickCount();
    CHECK(EXPORT(LookDoorName)(address, 7, mac) == 1);
    printf("  read-back took %lu ms\n", (unsigned long)elapsed_since(start));
    CHECK_PROFILE("ReTolNameList", "ReTolNameList7", registry, "101");
    CHECK_PROFILE("ReCurNameList", "ReCurNameList7", registry, "101");
    long readBackSize = 0;
    unsigned char* readBackBytes = read_file(readBack, &readBackSize);
    CHECK(readBackBytes != NULL && readBackSize == CARDS * 360);
    if (listBytes && readBackBytes && listSize == CARDS * 300 && readBackSize == CARDS * 360) {
        for (int i = 0; i < CARDS; ++i) {
            /* A short record comes back with the 60 bytes of a long one as 0. */
            CHECK(memcmp(readBackBytes + i * 360, listBytes + i * 300, 300) == 0);
            CHECK(all_bytes(readBackBytes + i * 360 + 300, 60, 0));
        }
    }
    free(listBytes);
    free(readBackBytes);

    start = GetTickCount();
    CHECK(EXPORT(NameToini)(readBack, 7) == 1);
    printf("  INI file took %lu ms\n", (unsigned long)elapsed_since(start));
    char key[40], expected[200], got[200];
    int differences = 0;
    static const char* const kSections[] = {"CardNo",    "SerialNo", "Password", "UserStyle",
                                            "OpenStyle", "Sunday",   "Monday",   "Tuesday",
                                            "Wednesday", "Thursday", "Friday",   "Saturday"};
    for (int i = 1; i <= CARDS; ++i) {
        for (size_t k = 0; k < sizeof kSections / sizeof kSections[0]; ++k) {
            snprintf(key, sizeof key, "%s%d", kSections[k], i);
            GetPrivateProfileStringA(kSections[k], key, "<absent>", expected, sizeof expected, source);
            GetPrivateProfileStringA(kSections[k], key, "<absent>", got, sizeof got, ini);
            if (strcmp(expected, got) != 0 && ++differences <= 5)
                printf("  %s: source \"%s\", read back \"%s\"\n", key, expected, got);
        }
    }
    CHECK(differences == 0);
    CHECK_PROFILE("CardNo", "CardNo101", ini, "10103737");
    CHECK(sockets_not_started());
}

/* NameToini of the read-back files the driver put beside this program: each
 * of numbers=N,N,... must succeed and refused=N must fail; the driver
 * compares the INI files with the ones written before. */
static void scenario_readback_ini(void) {
    char name[48], path[MAX_PATH];
    for (const char* p = need_arg("numbers"); p; p = strchr(p, ',') ? strchr(p, ',') + 1 : NULL) {
        const int number = atoi(p);
        snprintf(name, sizeof name, "ReCardInfo%03d.dat", number);
        module_file(name, path, sizeof path);
        CHECK(EXPORT(NameToini)(path, number) == 1);
    }
    const int refused = atoi(need_arg("refused"));
    snprintf(name, sizeof name, "ReCardInfo%03d.dat", refused);
    module_file(name, path, sizeof path);
    CHECK(EXPORT(NameToini)(path, refused) == 0);
}

/* A framed echo and clock query, and a frame for another node that draws
 * no answer. */
static void scenario_framed(void) {
    const char* address = need_arg("address");
    const uint16_t node = (uint16_t)atoi(need_arg("node"));
    const uint8_t station[2] = {0x01, 0x02};
    uint8_t answer[3 + 1024];

    memset(answer, 0xEE, sizeof answer);
    const uint8_t echo[] = {0x01, 0x00, 0x03, 'a', 'b', 'c'};
    CHECK(EXPORT(SysComInter)(address, node, 7, 9, station, echo, answer) == 1);
    const uint8_t echoed[] = {0x01, 0x00, 0x03, 'a', 'b', 'c', 0xEE};
    CHECK(memcmp(answer, echoed, sizeof echoed) == 0);

    memset(answer, 0xEE, sizeof answer);
    const uint8_t clock[] = {0x02, 0x00, 0x00};
    CHECK(EXPORT(SysComInter)(address, node, 0, 0, station, clock, answer) == 1);
    CHECK(answer[0] == 0x01 && answer[1] == 0x00 && answer[2] == 0x07 && answer[10] == 0xEE);
    SYSTEMTIME now;
    GetLocalTime(&now);
    CHECK(answer[4] == (now.wMonth / 10) * 16 + now.wMonth % 10);
    CHECK(answer[9] == now.wDayOfWeek);

    memset(answer, 0xEE, sizeof answer);
    DWORD start = GetTickCount();
    CHECK(EXPORT(SysComInter)(address, (uint16_t)(node + 1), 0, 0, station, echo, answer) == 0);
    DWORD took = elapsed_since(start);
    printf("  a frame for another node: 0 after %lu ms\n", (unsigned long)took);
    CHECK(took >= 1500 && took < 8000);
    CHECK(answer[0] == 0xEE);
    CHECK(sockets_not_started());
}

/* A card from the reader on the serial port named by port=, twice in a row;
 * a port that does not exist fails at once. */
static void scenario_card_reader(void) {
    const char* port = need_arg("port");
    char result[32];
    for (int call = 0; call < 2; ++call) {
        memset(result, '#', sizeof result);
        DWORD start = GetTickCount();
        CHECK(EXPORT(GetCardNo)(port, result) == 1);
        printf("  card %.19s after %lu ms\n", result, (unsigned long)elapsed_since(start));
        CHECK(memcmp(result, "0000798777,01212345", 20) == 0 && result[20] == '#');
    }
    memset(result, '#', sizeof result);
    DWORD start = GetTickCount();
    CHECK(EXPORT(GetCardNo)("\\\\.\\COM39", result) == 0);
    CHECK(elapsed_since(start) < 1000);
    CHECK(result[0] == '#');
}

/* The size of a file; -1 when it does not exist. */
static long file_size(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (long)data.nFileSizeLow;
}

/* Records with photos, fetched twice for controller 7 (the driver checks the
 * record files and every photo); the progress keys are read here with the
 * platform's profile functions. The second time the final photo names are
 * taken, so MoveFileA refuses and the photos keep their temporary names. */
static void scenario_records(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    const char* total = need_arg("total");
    char registry[MAX_PATH], path[MAX_PATH], name[32];
    module_file("eqminfo.ini", registry, sizeof registry);

    for (int round = 0; round < 2; ++round) {
        DWORD start = GetTickCount();
        CHECK(EXPORT(DataRtn)(address, 7, mac) == 2); /* the controller ends with its end marker */
        printf("  retrieval %d took %lu ms\n", round + 1, (unsigned long)elapsed_since(start));
        CHECK_PROFILE("TotalImg", "TotalImg7", registry, total);
        CHECK_PROFILE("CurrentImg", "CurrentImg7", registry, "10");
        CHECK(GetPrivateProfileIntA("TotalImg", "TotalImg7", -1, registry) == atoi(total));
        /* The temporary file of the image after the last one stays, empty. */
        snprintf(name, sizeof name, "pic\\007%s.jpg", total);
        module_file(name, path, sizeof path);
        CHECK(file_size(path) == 0);
    }
    module_file("pic", path, sizeof path);
    DWORD attributes = GetFileAttributesA(path);
    CHECK(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    /* Invalid arguments: 0 at once, without a request (the driver counts two). */
    CHECK(EXPORT(DataRtn)(address, 7, "00a0c9") == 0);
    CHECK(EXPORT(DataRtn)(NULL, 7, mac) == 0);
    CHECK(sockets_not_started());
}

/* Records without photos in numbered blocks, for controller 12. */
static void scenario_records_transfer(void) {
    const char* address = need_arg("address");
    const char* mac = need_arg("mac");
    const char* total = need_arg("total");
    char registry[MAX_PATH];
    module_file("eqminfo.ini", registry, sizeof registry);

    DWORD start = GetTickCount();
    CHECK(EXPORT(TxDataRtn)(address, 12, mac) == 1);
    printf("  transfer took %lu ms\n", (unsigned long)elapsed_since(start));
    CHECK_PROFILE("TotalImg", "TotalImg12", registry, total);
    CHECK_PROFILE("CurrentImg", "CurrentImg12", registry, total);
    char path[MAX_PATH];
    module_file("pic", path, sizeof path);
    CHECK(GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES); /* no photos, no photo directory */
    CHECK(sockets_not_started());
}

/* What a monitored controller pushes, on the socket DoorScout hands over:
 * an error report behind an acknowledgement pattern, then a live photo of
 * several blocks, one of them out of order (DoorPic asks for it again, at
 * the address it came from). The host closes the socket as the header says. */
static void scenario_pushed(void) {
    const char* address = need_arg("address");
    const char* report = need_arg("report");
    uint32_t handle = 0;
    CHECK(EXPORT(DoorScout)(address, &handle) == 1);
    CHECK(handle != 0);
    if (handle == 0) return;

    char text[1066 + 2];
    memset(text, 0x7F, sizeof text);
    DWORD start = GetTickCount();
    CHECK(EXPORT(ErrorScore)(address, text, 3, handle) == 1);
    printf("  error report after %lu ms\n", (unsigned long)elapsed_since(start));
    char expected[1100];
    snprintf(expected, sizeof expected, "\xBB\xFA\xBA\xC5: 003\n%s", report);
    CHECK(strcmp(text, expected) == 0);
    CHECK(text[strlen(expected) + 1] == 0x7F);

    char card[16], when[32];
    memset(card, '#', sizeof card);
    memset(when, '#', sizeof when);
    start = GetTickCount();
    CHECK(EXPORT(DoorPic)(0, card, when, handle) == 1);
    printf("  live photo after %lu ms\n", (unsigned long)elapsed_since(start));
    CHECK(card[8] == '\0' && card[9] == '#');
    CHECK(when[16] == '\0' && when[17] == '#');
    if (card[8] == '\0') tell_driver("card", card);
    if (when[16] == '\0') tell_driver("time", when);

    char path[MAX_PATH];
    module_file("filepic", path, sizeof path);
    DWORD attributes = GetFileAttributesA(path);
    CHECK(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));

    CHECK(closesocket((SOCKET)handle) == 0);
    CHECK(WSACleanup() == 0);
    CHECK(sockets_not_started());
}

struct Scenario {
    const char* name;
    void (*run)(void);
};

static const struct Scenario kScenarios[] = {
    {"exports", scenario_exports},
    {"clock", scenario_clock},
    {"clock_to", scenario_clock_to},
    {"refusals", scenario_refusals},
    {"port_range", scenario_port_range},
    {"silent", scenario_silent},
    {"adaptive_wait", scenario_adaptive_wait},
    {"wrong_replies", scenario_wrong_replies},
    {"threads", scenario_threads},
    {"doors", scenario_doors},
    {"door_times", scenario_door_times},
    {"scout", scenario_scout},
    {"discovery", scenario_discovery},
    {"mac", scenario_mac},
    {"ping", scenario_ping},
    {"cardlists", scenario_cardlists},
    {"readback_ini", scenario_readback_ini},
    {"framed", scenario_framed},
    {"card_reader", scenario_card_reader},
    {"records", scenario_records},
    {"records_transfer", scenario_records_transfer},
    {"pushed", scenario_pushed},
};

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 2) {
        printf("usage: winhost.exe SCENARIO [name=value ...]\nscenarios:");
        for (size_t i = 0; i < sizeof kScenarios / sizeof kScenarios[0]; ++i)
            printf(" %s", kScenarios[i].name);
        printf("\n");
        return 2;
    }
    args = argv + 2;
    argCount = argc - 2;
    library = LoadLibraryA("doorlink.dll");
    if (!library) {
        printf("  LoadLibraryA(doorlink.dll) failed: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    for (size_t i = 0; i < sizeof kScenarios / sizeof kScenarios[0]; ++i) {
        if (strcmp(kScenarios[i].name, argv[1]) != 0) continue;
        kScenarios[i].run();
        printf("%s: %s\n", argv[1], failures == 0 ? "passed" : "FAILED");
        FreeLibrary(library);
        return failures == 0 ? 0 : 1;
    }
    printf("unknown scenario %s\n", argv[1]);
    return 2;
}
