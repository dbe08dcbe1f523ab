// doorctl cards convert|add|download|readback: card lists from source files
// or arguments, to a controller and back. Transfers run on a thread of their
// own while a progress bar follows their keys in the registry file, as a host
// would.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "ini_peek.h"

namespace doorctl {
namespace {

namespace fs = std::filesystem;

const char* const kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

std::string list_path(const char* format, int list) {
    char name[64];
    std::snprintf(name, sizeof name, format, list);
    return module_directory() + "/list/" + name;
}
std::string list_file(int list) { return list_path("doorname%03d.dat", list); }
std::string readback_file(int list) { return list_path("ReCardInfo%03d.dat", list); }
std::string readback_ini(int list) { return list_path("ReCard%03d.ini", list); }

size_t record_size(bool longRecords) { return longRecords ? 360 : 300; }

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs call on a thread of its own and draws the progress keys of the list
// from the registry file until it returns.
uint32_t with_progress(const std::function<uint32_t()>& call, const std::string& totalName,
                       const std::string& currentName, int list) {
    const std::string registry = module_directory() + "/eqminfo.ini";
    const std::string totalKey = totalName + std::to_string(list);
    const std::string currentKey = currentName + std::to_string(list);
    // The keys keep the values of the last transfer until this one writes them.
    const std::string staleCurrent = ini_value(registry, currentName, currentKey);
    const bool live = !json_output() && ::isatty(STDOUT_FILENO) != 0;
    bool moved = false;
    auto draw = [&](bool final) {
        std::string current = ini_value(registry, currentName, currentKey);
        std::string total = ini_value(registry, totalName, totalKey);
        moved = moved || current != staleCurrent;
        long done = moved && !current.empty() ? std::strtol(current.c_str(), nullptr, 10) : 0;
        long all = total.empty() ? 0 : std::strtol(total.c_str(), nullptr, 10);
        constexpr int kWidth = 30;
        int filled = all > 0 ? static_cast<int>(kWidth * std::min(done, all) / all) : 0;
        std::cout << (live ? "\r" : "") << "  [" << std::string(static_cast<size_t>(filled), '#')
                  << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << done << "/" << all
                  << " records" << (final || !live ? "\n" : "") << std::flush;
    };
    std::atomic<bool> finished{false};
    uint32_t result = 0;
    std::thread worker([&] {
        result = call();
        finished = true;
    });
    auto lastDraw = std::chrono::steady_clock::now();
    while (!finished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (live && !finished &&
            std::chrono::steady_clock::now() - lastDraw > std::chrono::milliseconds(100)) {
            draw(false);
            lastDraw = std::chrono::steady_clock::now();
        }
    }
    worker.join();
    if (result == 1 && !json_output()) draw(true);
    else if (live) std::cout << "\n";
    return result;
}

// The number of cards in a source file: "CardNo1", "CardNo2", ... without a gap.
int count_source_cards(const std::string& source) {
    auto values = read_ini(source);
    int count = 0;
    while (values.count("cardno/cardno" + std::to_string(count + 1))) ++count;
    return count;
}

struct ConvertOptions {
    std::string source;
    int list = 0;
    int count = -1;
    bool longRecords = false;
};

Result convert(const ConvertOptions& o) {
    prepared_module_directory();
    std::error_code error;
    if (!fs::is_regular_file(o.source, error)) {
        return Result::failure(kFileError, "no card list source file " + o.source).set("source", o.source);
    }
    const int count = o.count >= 0 ? o.count : count_source_cards(o.source);
    if (count < 1 || count > 5000) {
        return Result::failure(kFileError,
                               o.source + " holds " + std::to_string(count) + " cards; a list has 1 to 5000")
            .set("source", o.source);
    }
    const int workers = (count - 1) / 100;
    note("converting " + std::to_string(count) + " cards" +
         (workers > 0 ? " (" + std::to_string(workers) + " worker threads, started 2 s apart)" : "") +
         "...\n");
    auto start = std::chrono::steady_clock::now();
    uint32_t ok =
        TransformName(o.source.c_str(), count, static_cast<uint32_t>(o.list), o.longRecords ? 1 : 0);
    if (ok != 1) {
        return Result::failure(kFileError,
                               "cannot convert " + o.source + " into list " + std::to_string(o.list))
            .set("export", "TransformName")
            .set("source", o.source)
            .set("list", o.list);
    }
    return Result()
        .set("source", o.source)
        .set("list", o.list)
        .set("records", count)
        .set("long_records", o.longRecords)
        .set("file", list_file(o.list))
        .set("seconds", seconds_since(start))
        .line(std::string("list {list}: {records} ") + (o.longRecords ? "long" : "short") +
              " records in {file} ({seconds:%.1f} s)");
}

struct AddOptions {
    std::string card, serial, password;
    uint32_t userStyle = 1;
    uint32_t openStyle = 2;
    std::array<std::string, 7> days;
    std::string allDays;
    int list = 0;
    bool fresh = false;
    bool longRecords = false;
};

Result add(const AddOptions& o) {
    prepared_module_directory();
    std::array<std::string, 7> days = o.days;
    for (auto& d : days) {
        if (d.empty()) d = o.allDays;
    }
    auto call = o.longRecords ? &NameToText1 : &NameToText;
    if (call(o.card.c_str(), o.serial.c_str(), o.userStyle, days[0].c_str(), days[1].c_str(), days[2].c_str(),
             days[3].c_str(), days[4].c_str(), days[5].c_str(), days[6].c_str(), o.password.c_str(),
             o.openStyle, o.list, o.fresh ? 0 : 1) != 1) {
        return Result::failure(
                   kUsageError,
                   "card refused: the card is 8 digits (long records: 8 + 9k characters), serial number "
                   "and password 6 characters each, user style 0-1, open style 0-2, list 0-255")
            .set("export", o.longRecords ? "NameToText1" : "NameToText")
            .set("card", o.card)
            .set("list", o.list);
    }
    std::error_code ignored;
    auto size = fs::file_size(list_file(o.list), ignored);
    return Result()
        .set("card", o.card)
        .set("list", o.list)
        .set("new", o.fresh)
        .set("records", size / record_size(o.longRecords))
        .set("file", list_file(o.list))
        .line(std::string(o.fresh ? "started" : "appended to") + " list {list}: {records} records in {file}");
}

struct TransferOptions {
    Target target;
    int list = 0;
    int count = -1;
    bool longRecords = false;
    bool ini = false;
};

Result download(const TransferOptions& o) {
    int count = o.count;
    if (count < 0) {
        std::error_code error;
        auto size = fs::file_size(list_file(o.list), error);
        if (error)
            return Result::failure(kFileError, "no list file " + list_file(o.list))
                .set("file", list_file(o.list));
        count = static_cast<int>(size / record_size(o.longRecords));
    }
    note("downloading " + std::to_string(count) + " records of list " + std::to_string(o.list) + " to " +
         o.target.address + "\n");
    auto start = std::chrono::steady_clock::now();
    uint32_t ok = with_progress(
        [&] {
            return DownName(o.target.address.c_str(), count, o.list, o.target.mac.c_str(),
                            o.longRecords ? 1 : 0);
        },
        "TolNameList", "CurNameList", o.list);
    if (ok != 1) {
        return not_confirmed("DownName", o.target,
                             "the download to " + o.target.address + " did not complete")
            .set("list", o.list);
    }
    double s = seconds_since(start);
    return Result()
        .set("address", o.target.address)
        .set("list", o.list)
        .set("records", count)
        .set("seconds", s)
        .set("records_per_second", s > 0 ? count / s : 0.0)
        .line("{records} records acknowledged in {seconds:%.2f} s ({records_per_second:%.0f} records/s)");
}

Result readback(const TransferOptions& o) {
    prepared_module_directory();
    note("reading list " + std::to_string(o.list) + " back from " + o.target.address + "\n");
    auto start = std::chrono::steady_clock::now();
    uint32_t ok =
        with_progress([&] { return LookDoorName(o.target.address.c_str(), o.list, o.target.mac.c_str()); },
                      "ReTolNameList", "ReCurNameList", o.list);
    if (ok != 1) {
        return not_confirmed("LookDoorName", o.target,
                             "the read-back from " + o.target.address + " did not complete")
            .set("list", o.list);
    }
    std::error_code ignored;
    Result r;
    r.set("address", o.target.address)
        .set("list", o.list)
        .set("records", fs::file_size(readback_file(o.list), ignored) / 360)
        .set("file", readback_file(o.list))
        .set("seconds", seconds_since(start))
        .line("{records} records in {file} ({seconds:%.2f} s)");
    if (o.ini) {
        if (NameToini(readback_file(o.list).c_str(), o.list) != 1) {
            return r.fail(kFileError, "cannot turn " + readback_file(o.list) + " into an INI file")
                .set("export", "NameToini");
        }
        r.set("ini", readback_ini(o.list)).line("cards as INI keys in {ini}");
    }
    return r;
}

// The demo's source file: values in the form the read-back writes them, so
// the round trip can be compared value by value.
void write_demo_source(const std::string& path, int count) {
    std::ofstream out(path, std::ios::trunc);
    auto section = [&](const char* name, const std::function<std::string(int)>& value) {
        out << '[' << name << "]\n";
        for (int i = 1; i <= count; ++i) out << name << i << '=' << value(i) << '\n';
    };
    auto format = [](const char* f, int a, int b) {
        char text[32];
        std::snprintf(text, sizeof text, f, a, b);
        return std::string(text);
    };
    section("CardNo", [&](int i) {
        std::string v = format("%03d%05d", i % 256, i * 211 % 65536);
        for (int k = 1; k <= i % 4; ++k) v += format(",%03d%05d", (i + k) % 256, (i * 17 + k) % 65535 + 1);
        return v;
    });
    section("SerialNo", [&](int i) { return format("%03d%03d", i % 1000, i * 7 % 1000); });
    section("Password", [&](int i) { return format("%03d%03d", i * 13 % 1000, i % 1000); });
    section("UserStyle", [](int i) { return std::to_string(i % 2); });
    section("OpenStyle", [](int i) { return std::to_string(i % 3); });
    for (int d = 0; d < 7; ++d) {
        section(kDayNames[d], [&](int i) {
            std::string v;
            for (int r = 0; r < (i + d) % 3; ++r) {
                v += format("%02d00-", 7 + r * 5, 0) + format("%02d%02d-", 11 + r * 5, (i * 7) % 60) +
                     format("%02d;", (i + r) % 100, 0);
            }
            return v;
        });
    }
}

constexpr int kDemoList = 1;
constexpr int kDemoCards = 250;

Result demo_round_trip_exact() {
    const std::string source = module_directory() + "/demo-cards.ini";
    auto original = read_ini(source);
    auto returned = read_ini(readback_ini(kDemoList));
    size_t differing = 0;
    for (const auto& [key, value] : original) {
        auto it = returned.find(key);
        if (it == returned.end() || it->second != value) ++differing;
    }
    differing += returned.size() > original.size() ? returned.size() - original.size() : 0;
    if (differing != 0 || original.empty()) {
        return Result::failure(kNotConfirmed, std::to_string(differing) + " values differ between " + source +
                                                  " and " + readback_ini(kDemoList));
    }
    return Result()
        .set("cards", kDemoCards)
        .set("values", original.size())
        .set("ini", readback_ini(kDemoList))
        .line("round trip exact: {cards} cards, {values} values of {ini} equal the source file");
}

}  // namespace

void add_card_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto* cards = app.add_subcommand("cards", "card lists: convert, add, download, read back");
    cards->require_subcommand(1);

    auto c = std::make_shared<ConvertOptions>();
    auto* convertCommand =
        cards->add_subcommand("convert", "convert a card list source file (INI) into a list file");
    convertCommand->add_option("SOURCE", c->source, "card list source file")->required();
    convertCommand->add_option("--list", c->list, "list number, 0-999")
        ->required()
        ->check(CLI::Range(0, 999));
    convertCommand->add_option("--count", c->count, "cards to convert (default: all CardNo keys)")
        ->check(CLI::Range(1, 5000));
    convertCommand->add_flag("--long", c->longRecords, "long records (ten further card numbers each)");
    convertCommand->callback([c] { emit(convert(*c)); });

    auto a = std::make_shared<AddOptions>();
    auto* addCommand = cards->add_subcommand("add", "write one card from arguments into a list file");
    addCommand->add_option("CARD", a->card, "card text: site (3 digits) and number (5 digits)")->required();
    addCommand->add_option("SERIAL", a->serial, "serial number, 6 digits")->required();
    addCommand->add_option("PASSWORD", a->password, "password, 6 digits")->required();
    addCommand->add_option("--list", a->list, "list number, 0-255")->required();
    addCommand->add_flag("--new", a->fresh, "start a new list with this card (default: append)");
    addCommand->add_flag("--long", a->longRecords, "long records");
    addCommand->add_option("--user-style", a->userStyle, "0 or 1")->capture_default_str();
    addCommand->add_option("--open-style", a->openStyle, "0, 1 or 2")->capture_default_str();
    addCommand->add_option("--days", a->allDays, "time ranges of every day, e.g. 0800-1200-01;1300-1730-01;");
    for (int d = 0; d < 7; ++d) {
        std::string name =
            std::string("--") + static_cast<char>(std::tolower(kDayNames[d][0])) + (kDayNames[d] + 1);
        addCommand->add_option(name, a->days[static_cast<size_t>(d)],
                               std::string("time ranges of ") + kDayNames[d]);
    }
    addCommand->callback([a] { emit(add(*a)); });

    auto d = std::make_shared<TransferOptions>();
    auto* downloadCommand = cards->add_subcommand("download", "send a list file to a controller");
    add_target(downloadCommand, d->target);
    downloadCommand->add_option("--list", d->list, "list number")->required();
    downloadCommand->add_option("--count", d->count, "records to send (default: the whole file)")
        ->check(CLI::Range(0, 65535));
    downloadCommand->add_flag("--long", d->longRecords, "the list holds long records");
    downloadCommand->callback([d] { emit(download(*d)); });

    auto r = std::make_shared<TransferOptions>();
    auto* readbackCommand = cards->add_subcommand("readback", "read a controller's card list back");
    add_target(readbackCommand, r->target);
    readbackCommand->add_option("--list", r->list, "list number naming the read-back files")->required();
    readbackCommand->add_flag("--ini", r->ini, "also write the cards as INI keys (ReCard%03d.ini)");
    readbackCommand->callback([r] { emit(readback(*r)); });

    demo.push_back({"generate a source file of 250 cards and convert it into long records", [](DemoContext&) {
                        std::error_code ignored;
                        fs::create_directories(module_directory(), ignored);
                        const std::string source = module_directory() + "/demo-cards.ini";
                        write_demo_source(source, kDemoCards);
                        return emit(convert({source, kDemoList, kDemoCards, true}));
                    }});
    demo.push_back({"download the list to the controller", [](DemoContext& ctx) {
                        return emit(download({{ctx.address, ctx.mac}, kDemoList, kDemoCards, true, false}));
                    }});
    demo.push_back({"read the list back into an INI file", [](DemoContext& ctx) {
                        return emit(readback({{ctx.address, ctx.mac}, kDemoList, -1, true, true}));
                    }});
    demo.push_back({"compare the read-back cards with the source file",
                    [](DemoContext&) { return emit(demo_round_trip_exact()); }});
}

}  // namespace doorctl
