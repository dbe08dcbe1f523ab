/*
 * A small doorlink host in plain C99: discovers a controller, reads its
 * clock, opens a door and downloads a card list of two cards.
 *
 *     doorlink_example MAC [ADDRESS]
 *
 * With ADDRESS, discovery asks that controller alone; without it, discovery
 * broadcasts on the local network and the first controller in the registry
 * is used. The MAC (12 hexadecimal digits) is the controller's, as printed on
 * its label. The library keeps its data files (the registry "eqminfo.ini" and
 * the card lists) in the directory named by DOORLINK_HOME, else in the
 * directory of this program.
 *
 * Exits with 0 when every step succeeded, 1 when one failed, 2 on bad usage.
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <doorlink/doorlink.h>

/* The value of key in [section] of an INI file into value (size bytes); 1
 * when found. Names match without regard to case, as the library writes them. */
static int ini_value(const char* path, const char* section, const char* key, char* value, size_t size) {
    FILE* file = fopen(path, "r");
    char line[256];
    int inSection = 0;
    int found = 0;
    if (file == NULL) return 0;
    while (!found && fgets(line, sizeof line, file) != NULL) {
        char* end = line + strcspn(line, "\r\n");
        char* equals;
        *end = '\0';
        if (line[0] == '[') {
            char* close = strchr(line, ']');
            size_t length = strlen(section);
            inSection = close != NULL && (size_t)(close - line - 1) == length;
            for (size_t i = 0; inSection && i < length; ++i)
                inSection = tolower((unsigned char)line[i + 1]) == tolower((unsigned char)section[i]);
            continue;
        }
        equals = strchr(line, '=');
        if (!inSection || equals == NULL || (size_t)(equals - line) != strlen(key)) continue;
        found = 1;
        for (size_t i = 0; found && i < strlen(key); ++i)
            found = tolower((unsigned char)line[i]) == tolower((unsigned char)key[i]);
        if (found) snprintf(value, size, "%s", equals + 1);
    }
    fclose(file);
    return found;
}

/* Where the library keeps eqminfo.ini: DOORLINK_HOME, else this program's
 * directory. */
static void registry_path(const char* program, char* path, size_t size) {
    const char* home = getenv("DOORLINK_HOME");
    const char* slash = strrchr(program, '/');
    if (home != NULL && home[0] != '\0') snprintf(path, size, "%s/eqminfo.ini", home);
    else if (slash != NULL) snprintf(path, size, "%.*s/eqminfo.ini", (int)(slash - program), program);
    else snprintf(path, size, "eqminfo.ini");
}

static int report(int ok, const char* step) {
    printf("%s: %s\n", step, ok ? "ok" : "FAILED");
    return ok;
}

int main(int argc, char** argv) {
    const char* mac;
    char address[50] = "";
    char registry[1024];
    char key[32];
    char deviceNumber[16] = "?";
    char clock[18];
    uint32_t weekDay = 0;
    uint32_t state = 0;
    int32_t found;
    int ok;
    const char* day = "0800-1800-01;";

    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s MAC [ADDRESS]\n", argv[0]);
        return 2;
    }
    mac = argv[1];
    registry_path(argv[0], registry, sizeof registry);

    /* Discovery: every controller that answers gets an entry in the registry. */
    if (argc == 3) {
        snprintf(address, sizeof address, "%s", argv[2]);
        found = FindEqm(address, 0);
    } else {
        found = FindEqm("", 1);
        ini_value(registry, "EqmIP", "EqmIP1", address, sizeof address);
    }
    if (found < 0 || address[0] == '\0') {
        printf("discovery: FAILED\n");
        return 1;
    }
    /* Find the controller's entry for its device number. */
    {
        char total[16] = "0";
        ini_value(registry, "EqmTotal", "EqmTotal", total, sizeof total);
        for (int i = 1; i <= atoi(total); ++i) {
            char entry[50] = "";
            snprintf(key, sizeof key, "EqmIP%d", i);
            if (ini_value(registry, "EqmIP", key, entry, sizeof entry) && strcmp(entry, address) == 0) {
                snprintf(key, sizeof key, "EqmNo%d", i);
                ini_value(registry, "EqmNO", key, deviceNumber, sizeof deviceNumber);
                break;
            }
        }
        printf("discovered %s (device %s; %s controllers registered)\n", address, deviceNumber, total);
        if (strcmp(deviceNumber, "?") == 0) {
            report(0, "registry entry");
            return 1;
        }
    }

    ok = report(DoorSetTime(address, mac) == 1, "set clock");
    if (DoorShowTime(address, clock, &weekDay, mac) == 1)
        printf("clock: %s, day %u\n", clock, (unsigned)weekDay);
    else ok = report(0, "read clock");

    ok &= report(DoorCompelOpenOrClose(address, 1, mac) == 1, "open door 1");
    if (DoorCurState(address, mac, &state) == 1) printf("door state: %u\n", (unsigned)state);
    else ok = report(0, "door state");

    /* A card list of two cards (list 1), then the list to the controller. */
    ok &= report(
        NameToText("00112345", "123456", 0, day, day, day, day, day, day, day, "654321", 0, 1, 0) == 1 &&
            NameToText("00254321", "223344", 1, day, day, day, day, day, day, day, "443322", 1, 1, 1) == 1,
        "card list of 2 cards");
    ok &= report(DoorDownName(address, 2, 1, mac) == 1, "download card list");
    return ok ? 0 : 1;
}
