/*
 * winhost: a 32-bit Windows host application for the Wine suite. It loads
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

/* The exports as a host declares them when it loads the DLL at run time. */
typedef uint32_t(__stdcall* SetPortRangeFn)(int32_t start, int32_t end);
typedef uint32_t(__stdcall* DoorSetTimeFn)(const char* address, const char* macText);
typedef uint32_t(__stdcall* DoorShowTimeFn)(const char* address, char* text, uint32_t* weekDay,
                                            const char* macText);

static HMODULE library;
static int failures;
static int argCount;
static char** args;

#define CHECK(condition)                                                             \
    do {                                                                             \
        if (!(condition)) {                                                          \
            printf("  failed at winhost.c:%d: %s\n", __LINE__, #condition);          \
            ++failures;                                                              \
        }                                                                            \
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

static DWORD elapsed_since(DWORD start) { return GetTickCount() - start; }

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
    CHECK(VerQueryValueA(info, "\\StringFileInfo\\040904B0\\FileVersion", (void**)&version,
                         &versionLength));
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
            printf("  call %d failed after %lu ms, last error %lu\n", i,
                   (unsigned long)(GetTickCount() - t0), (unsigned long)GetLastError());
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

struct Scenario {
    const char* name;
    void (*run)(void);
};

static const struct Scenario kScenarios[] = {
    {"exports", scenario_exports},
    {"clock", scenario_clock},
    {"refusals", scenario_refusals},
    {"port_range", scenario_port_range},
    {"silent", scenario_silent},
    {"wrong_replies", scenario_wrong_replies},
    {"threads", scenario_threads},
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
