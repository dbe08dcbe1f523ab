// The sites' time zones against values written out by hand from the zones'
// rules: the European Union's clocks change at 01:00 UTC on the last Sundays
// of March and October, the United States' at 02:00 local time on the second
// Sunday of March and the first of November.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "model/errors.h"
#include "utc_text.h"
#include "zones/host_zone.h"
#include "zones/instant_text.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

struct Conversion {
    const char* zone;
    const char* local;
    const char* utc;
    LocalTimeKind kind;
};

constexpr Conversion kConversions[] = {
    {"Europe/Berlin", "20240115120000", "20240115110000", LocalTimeKind::exact},
    {"Europe/Berlin", "20240715120000", "20240715100000", LocalTimeKind::exact},
    {"Europe/Berlin", "20240331015959", "20240331005959", LocalTimeKind::exact},
    {"Europe/Berlin", "20240331020000", "20240331010000", LocalTimeKind::nonexistent},
    {"Europe/Berlin", "20240331023000", "20240331010000", LocalTimeKind::nonexistent},
    {"Europe/Berlin", "20240331030000", "20240331010000", LocalTimeKind::exact},
    {"Europe/Berlin", "20241027015959", "20241026235959", LocalTimeKind::exact},
    {"Europe/Berlin", "20241027023000", "20241027003000", LocalTimeKind::ambiguous},
    {"Europe/Berlin", "20241027030000", "20241027020000", LocalTimeKind::exact},
    {"America/New_York", "20240115120000", "20240115170000", LocalTimeKind::exact},
    {"America/New_York", "20240310023000", "20240310070000", LocalTimeKind::nonexistent},
    {"America/New_York", "20240310030000", "20240310070000", LocalTimeKind::exact},
    {"America/New_York", "20241103013000", "20241103053000", LocalTimeKind::ambiguous},
    {"America/New_York", "20241103020000", "20241103070000", LocalTimeKind::exact},
    // After 2037 the zone files list no changes: the rule at their end does.
    {"Europe/Berlin", "20400325023000", "20400325010000", LocalTimeKind::nonexistent},
    {"Europe/Berlin", "20400715120000", "20400715100000", LocalTimeKind::exact},
    {"Europe/Berlin", "20401028023000", "20401028003000", LocalTimeKind::ambiguous},
    {"America/New_York", "20400311023000", "20400311070000", LocalTimeKind::nonexistent},
    // No daylight saving: India half an hour off the hour, and UTC.
    {"Asia/Kolkata", "20240715120000", "20240715063000", LocalTimeKind::exact},
    {"Asia/Kolkata", "20240331023000", "20240330210000", LocalTimeKind::exact},
    {"UTC", "20241027023000", "20241027023000", LocalTimeKind::exact},
    {"UTC", "20000229235959", "20000229235959", LocalTimeKind::exact},
};

void expect_conversions() {
    for (const Conversion& c : kConversions) {
        const ZonedInstant instant = instant_of(c.local, c.zone);
        EXPECT_EQ(instant.utcMs, utc_ms(c.utc)) << c.zone << " " << c.local;
        EXPECT_EQ(instant.kind, c.kind) << c.zone << " " << c.local;
        if (c.kind == LocalTimeKind::exact) {
            EXPECT_EQ(local_text(instant.utcMs, c.zone), c.local) << c.zone;
        }
    }
}

struct Transitions {
    const char* zone;
    const char* after;  // UTC
    const char* first;  // UTC, "" for none
    const char* second;
};

constexpr Transitions kTransitions[] = {
    {"Europe/Berlin", "20240101000000", "20240331010000", "20241027010000"},
    {"America/New_York", "20240101000000", "20240310070000", "20241103060000"},
    {"Europe/Berlin", "20400101000000", "20400325010000", "20401028010000"},
    {"Asia/Kolkata", "20240101000000", "", ""},
    {"UTC", "20240101000000", "", ""},
};

void expect_transitions() {
    for (const Transitions& t : kTransitions) {
        const std::optional<int64_t> first = next_transition(t.zone, utc_ms(t.after));
        if (*t.first == '\0') {
            EXPECT_FALSE(first) << t.zone;
            continue;
        }
        ASSERT_TRUE(first) << t.zone;
        EXPECT_EQ(*first, utc_ms(t.first)) << t.zone;
        EXPECT_EQ(next_transition(t.zone, *first - 1), *first) << t.zone;  // the next after, not at
        EXPECT_EQ(next_transition(t.zone, *first), utc_ms(t.second)) << t.zone;
    }
}

TEST(Zones, LocalTimesStandForTheirUtcInstantsTheGapsEndAndTheRepeatedHoursEarlier) {
    expect_conversions();
    // The repeated hour's two instants read back alike.
    EXPECT_EQ(local_text(utc_ms("20241027003000"), "Europe/Berlin"), "20241027023000");
    EXPECT_EQ(local_text(utc_ms("20241027013000"), "Europe/Berlin"), "20241027023000");
    EXPECT_EQ(local_text(utc_ms("20241027013000") + 999, "Europe/Berlin"), "20241027023000");
    EXPECT_EQ(local_text(0, "America/New_York"), "19691231190000");
    EXPECT_EQ(local_text(-1, "UTC"), "19691231235959");  // whole seconds, floored
}

TEST(Zones, TheNextTransitionIsTheNextChangeOfTheOffset) { expect_transitions(); }

TEST(Zones, TheHostsZoneChangesNothing) {
    const char* before = std::getenv("TZ");
    const std::string saved = before == nullptr ? "" : before;
    ::setenv("TZ", "Pacific/Kiritimati", 1);
    ::tzset();
    expect_conversions();
    expect_transitions();
    if (before == nullptr) {
        ::unsetenv("TZ");
    } else {
        ::setenv("TZ", saved.c_str(), 1);
    }
    ::tzset();
}

TEST(Zones, TextsThatAreNoLocalTimeAndUnknownZonesAreRefused) {
    for (const char* text : {"2024011512000", "202401151200000", "2024011512000a", "2024-1-15120000",
                             "20240230120000", "20230229120000", "20241315120000", "20240100120000",
                             "20240115240000", "20240115126000", "20240115120060", ""}) {
        EXPECT_THROW(instant_of(text, "Europe/Berlin"), Refused) << text;
    }
    EXPECT_THROW(instant_of("20240115120000", "Mars/Olympus"), Refused);
    EXPECT_THROW(local_text(0, "Mars/Olympus"), Refused);
    EXPECT_THROW(next_transition("Mars/Olympus", 0), Refused);
    EXPECT_THROW(local_text(utc_ms("99991231235959") + 1000, "UTC"), Refused);  // year 10000
    EXPECT_EQ(local_text(utc_ms("99991231235959"), "UTC"), "99991231235959");
    EXPECT_FALSE(next_transition("Europe/Berlin", utc_ms("99991231235959")));

    EXPECT_EQ(zone_problem("Europe/Berlin"), "");
    EXPECT_EQ(zone_problem("US/Eastern"), "");  // a link
    for (const char* odd : {"../../../etc/passwd", "/etc/localtime", "Europe/Berlin;id", "Europe/",
                            "Europe//Berlin", "Europe/../Europe/Berlin", ""}) {
        EXPECT_NE(zone_problem(odd).find("is no time zone name"), std::string::npos) << odd;
    }
    // Files of the directory that are no zone, and the host's own zone.
    for (const char* notZone :
         {"Mars/Olympus", "zone.tab", "tzdata.zi", "posixrules", "localtime", "right"}) {
        EXPECT_EQ(zone_problem(notZone),
                  std::string("no time zone \"") + notZone + "\" in /usr/share/zoneinfo");
    }
}

// The host's zone: TZ when it names one, else the zone the localtime link
// points into, whether the link is absolute or relative, else UTC.
// Instants as callers write them: every offset form, the fraction's first
// three digits, and a text without an offset (whose instant is unknown)
// refused; the older 14 digits stay a local time.
TEST(InstantText, IsoTimesWithTheirOffsets) {
    const int64_t eight = utc_ms("20261208080000");
    for (const char* text :
         {"2026-12-08T08:00:00Z", "2026-12-08t08:00:00z", "2026-12-08T09:00:00+01:00",
          "2026-12-08T09:00:00+0100", "2026-12-08T09:00:00+01", "2026-12-08T02:30:00-05:30"}) {
        EXPECT_EQ(parsed_iso_instant(text), eight) << text;
    }
    EXPECT_EQ(parsed_iso_instant("2026-12-08T08:00:00.25Z"), eight + 250);
    EXPECT_EQ(parsed_iso_instant("2026-12-08T08:00:00.9999Z"), eight + 999);
    EXPECT_EQ(iso_instant(eight + 999), "2026-12-08T08:00:00Z");
    EXPECT_EQ(iso_instant(parsed_iso_instant("1969-12-31T23:59:59Z")), "1969-12-31T23:59:59Z");
    for (const char* text :
         {"2026-12-08T08:00:00", "2026-12-08 08:00:00Z", "2026-02-30T08:00:00Z", "2026-12-08T24:00:00Z",
          "2026-12-08T08:00:00+24:00", "2026-12-08T08:00:00.Z", "2026-12-08T08:00:00Zx", "2026-12-08", ""}) {
        EXPECT_THROW(parsed_iso_instant(text), Refused) << text;
    }
    EXPECT_EQ(record_bound("since", "20261208090000").local, "20261208090000");
    EXPECT_FALSE(record_bound("since", "20261208090000").instant);
    EXPECT_EQ(record_bound("since", "2026-12-08T08:00:00Z").instant, eight);
    EXPECT_FALSE(record_bound("since", "").instant);
    try {
        record_bound("since", "2026120809");
        ADD_FAILURE() << "not refused";
    } catch (const Refused& refused) {
        EXPECT_EQ(std::string(refused.what()).rfind("since: ", 0), 0u) << refused.what();
    }
}

TEST(HostZone, FromTzThenTheLocaltimeLinkThenUtc) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("host-zone-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string absolute = (dir / "absolute").string();
    const std::string relative = (dir / "relative").string();
    const std::string elsewhere = (dir / "elsewhere").string();
    fs::create_symlink(std::string(kZoneDirectory) + "/Europe/Lisbon", absolute);
    // As seen from dir: up to the root, then into the zones.
    std::string up;
    for (auto it = dir.begin(); it != dir.end(); ++it) {
        if (it->string() != "/") up += "../";
    }
    fs::create_symlink(up + std::string(kZoneDirectory).substr(1) + "/America/New_York", relative);
    fs::create_symlink("/etc/hostname", elsewhere);

    EXPECT_EQ(host_time_zone("Asia/Tokyo", absolute), "Asia/Tokyo");
    EXPECT_EQ(host_time_zone(":Asia/Tokyo", absolute), "Asia/Tokyo");
    EXPECT_EQ(host_time_zone("Nowhere/Land", absolute), "Europe/Lisbon");
    EXPECT_EQ(host_time_zone(nullptr, absolute), "Europe/Lisbon");
    EXPECT_EQ(host_time_zone("", relative), "America/New_York");
    EXPECT_EQ(host_time_zone(nullptr, elsewhere), "UTC");
    EXPECT_EQ(host_time_zone(nullptr, (dir / "missing").string()), "UTC");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace doorlinkd
