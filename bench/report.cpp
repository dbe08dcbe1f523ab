#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>
#include <utility>

namespace doorlink::bench {
namespace {

using Run = benchmark::BenchmarkReporter::Run;

std::string key_of(const Run& run) {
    return run.run_name.args.empty() ? run.run_name.function_name
                                     : run.run_name.function_name + "/" + run.run_name.args;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// Three significant digits and a metric prefix: 15.9k, 126m, 33.4u.
std::string scaled(double value, const std::string& unit) {
    static const struct {
        double factor;
        const char* prefix;
    } steps[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}, {1e-6, "u"}, {1e-9, "n"}};
    for (const auto& s : steps) {
        if (std::fabs(value) >= s.factor || s.factor == 1e-9) {
            const double v = value / s.factor;
            const char* pattern = v >= 100 ? "%.0f" : v >= 10 ? "%.1f" : "%.2f";
            return format(pattern, v) + " " + s.prefix + unit;
        }
    }
    return format("%g", value) + " " + unit;
}

double counter(const Run& run, const char* name) {
    auto it = run.counters.find(name);
    return it == run.counters.end() ? NAN : it->second.value;
}

double seconds_per_iteration(const Run& run) {
    double perUnit = 1e-9;
    switch (run.time_unit) {
        case benchmark::kNanosecond: perUnit = 1e-9; break;
        case benchmark::kMicrosecond: perUnit = 1e-6; break;
        case benchmark::kMillisecond: perUnit = 1e-3; break;
        case benchmark::kSecond: perUnit = 1; break;
    }
    return run.GetAdjustedRealTime() * perUnit;
}

// What a figure is read from a run, and how it is shown.
struct Metric {
    std::function<double(const Run&)> read;
    std::function<std::string(double)> show;
};

const Metric kSecondsPerItem{[](const Run& r) { return 1 / counter(r, "items_per_second"); },
                             [](double v) { return scaled(v, "s"); }};
const Metric kRecordsPerSecond{[](const Run& r) { return counter(r, "items_per_second"); },
                               [](double v) { return scaled(v, "rec/s"); }};
const Metric kExchangesPerSecond{[](const Run& r) { return counter(r, "items_per_second"); },
                                 [](double v) { return scaled(v, "/s"); }};
const Metric kBytesPerSecond{[](const Run& r) { return counter(r, "bytes_per_second"); },
                             [](double v) { return scaled(v, "B/s"); }};
const Metric kSeconds{seconds_per_iteration, [](double v) { return scaled(v, "s"); }};
const Metric kMegabytes{[](const Run& r) { return counter(r, "peak_rss_MB"); },
                        [](double v) { return format("%.1f MB", v); }};
const Metric kIdleMegabytes{[](const Run& r) { return counter(r, "idle_rss_MB"); }, kMegabytes.show};

// A goal on a ratio or on a value: at most or at least a bound.
struct Goal {
    enum Kind { None, AtMost, AtLeast } kind = None;
    double bound = 0;
    bool percent = false;  // shown as a percentage rather than a factor
    std::string text() const {
        if (kind == None) return "-";
        const std::string b = percent ? format("%.0f%%", bound * 100) : format("%.2gx", bound);
        return (kind == AtMost ? "<= " : ">= ") + b;
    }
    bool met(double v) const { return kind == None || (kind == AtMost ? v <= bound : v >= bound); }
    std::string show(double ratio) const {
        return percent ? format("%.0f%%", ratio * 100) : format("%.2fx", ratio);
    }
};

struct Row {
    std::string figure, value, floor, ratio, goal, met;
};

class Table {
public:
    explicit Table(const std::map<std::string, Run>& results) : results_(results) {}

    void section(const std::string& title) { rows_.push_back({"", "", "", "", "", title}); }

    // value of a beside value of b (the floor), their ratio against the goal.
    void compare(const std::string& figure, const std::string& a, const std::string& b, const Metric& m,
                 const Goal& goal, const Metric* floorMetric = nullptr) {
        Row row{figure, "-", "-", "-", goal.text(), ""};
        const Metric& fm = floorMetric ? *floorMetric : m;
        if (!available(a, row) || !available(b, row)) return rows_.push_back(row);
        const double va = m.read(results_.at(a));
        const double vb = fm.read(results_.at(b));
        row.value = m.show(va);
        row.floor = fm.show(vb);
        if (floorMetric) {
            row.met = "";
        } else {
            const double ratio = va / vb;
            row.ratio = goal.show(ratio);
            row.met = goal.kind == Goal::None ? "" : goal.met(ratio) ? "met" : "NOT MET";
        }
        rows_.push_back(row);
    }

    // A value alone against a bound of its own.
    void absolute(const std::string& figure, const std::string& a, const Metric& m, double atMost,
                  const std::string& goalText) {
        Row row{figure, "-", "-", "-", goalText, ""};
        if (!available(a, row)) return rows_.push_back(row);
        const double v = m.read(results_.at(a));
        row.value = m.show(v);
        row.met = v <= atMost ? "met" : "NOT MET";
        rows_.push_back(row);
    }

    // A peak beside that of the same program doing nothing, and how far above
    // it; with a bound (in the counters' MiB) on that difference, met or not.
    void peak_memory(const std::string& figure, const std::string& name, double aboveIdleAtMost = NAN) {
        const bool bounded = !std::isnan(aboveIdleAtMost);
        Row row{figure, "-", "-", "-", bounded ? format("<= +%.0f MiB", aboveIdleAtMost) : "-", ""};
        if (!available(name, row)) return rows_.push_back(row);
        const Run& run = results_.at(name);
        const double peak = kMegabytes.read(run);
        const double idle = kIdleMegabytes.read(run);
        row.value = kMegabytes.show(peak);
        row.floor = kIdleMegabytes.show(idle);
        row.ratio = format("+%.1f MB", peak - idle);
        if (bounded) row.met = peak - idle <= aboveIdleAtMost ? "met" : "NOT MET";
        rows_.push_back(row);
    }

    // A figure measured once, in another revision, shown for comparison.
    void recorded(const std::string& figure, double peak, double idle) {
        rows_.push_back({figure, kMegabytes.show(peak), kIdleMegabytes.show(idle),
                         format("+%.1f MB", peak - idle), "-", "(recorded)"});
    }

    // The time per item at each size beside that at the smallest size:
    // linear growth keeps it within 1.5x.
    void growth(const std::string& what, const std::string& family, const std::vector<int>& sizes,
                const std::string& items) {
        const std::string smallest = family + "/" + std::to_string(sizes.front());
        for (int size : sizes) {
            const std::string name = family + "/" + std::to_string(size);
            compare(what + ", " + std::to_string(size) + " " + items + ", per item", name, smallest,
                    kSecondsPerItem, Goal{Goal::AtMost, 1.5});
        }
    }

    void print(std::ostream& out) const {
        const Row head{"Figure", "value", "floor", "ratio", "goal", ""};
        size_t w[5] = {0, 0, 0, 0, 0};
        for (const Row* r : all(head)) {
            const std::string* cells[5] = {&r->figure, &r->value, &r->floor, &r->ratio, &r->goal};
            for (size_t i = 0; i < 5; ++i) w[i] = std::max(w[i], cells[i]->size());
        }
        auto pad = [](const std::string& s, size_t width, bool right) {
            const std::string fill(width > s.size() ? width - s.size() : 0, ' ');
            return right ? fill + s : s + fill;
        };
        const size_t total = w[0] + w[1] + w[2] + w[3] + w[4] + 8 + 14;
        out << '\n' << std::string(total, '=') << '\n';
        for (const Row* r : all(head)) {
            if (r->figure.empty()) {
                out << '\n' << r->met << '\n';
                continue;
            }
            out << pad(r->figure, w[0], false) << "  " << pad(r->value, w[1], true) << "  "
                << pad(r->floor, w[2], true) << "  " << pad(r->ratio, w[3], true) << "  "
                << pad(r->goal, w[4], false) << "  " << r->met << '\n';
        }
        out << std::string(total, '=') << '\n';
    }

private:
    bool available(const std::string& name, Row& row) const {
        auto it = results_.find(name);
        if (it == results_.end()) {
            row.met = "not run (" + name + ")";
            return false;
        }
        if (it->second.error_occurred) {
            row.met = "error (" + name + "): " + it->second.error_message;
            return false;
        }
        return true;
    }

    std::vector<const Row*> all(const Row& head) const {
        std::vector<const Row*> out = {&head};
        for (const Row& r : rows_) out.push_back(&r);
        return out;
    }

    const std::map<std::string, Run>& results_;
    std::vector<Row> rows_;
};

}  // namespace

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
        if (median || single || (run.error_occurred && !results_.count(key_of(run)))) {
            results_[key_of(run)] = run;
        }
    }
}

void TableReporter::Finalize() {
    ConsoleReporter::Finalize();
    Table t(results_);
    const Goal atMost15{Goal::AtMost, 1.5};
    const Goal atLeast80{Goal::AtLeast, 0.8, true};

    t.section("Beside the floor (raw sockets, same datagrams, same simulator)");
    t.compare("DoorShowTime / raw round trip, per exchange", "BM_DoorShowTime", "BM_RawUdpRoundTrip",
              kSecondsPerItem, atMost15);
    t.compare("SysComInter echo / raw round trip, per exchange", "BM_SysComInterEcho", "BM_RawUdpRoundTrip",
              kSecondsPerItem, atMost15);
    t.compare("Download of 2,000 records / raw floor", "BM_Download", "BM_RawDownloadFloor",
              kRecordsPerSecond, atLeast80);
    t.compare("Read-back of 2,000 records / raw floor", "BM_ReadBack", "BM_RawReadBackFloor",
              kRecordsPerSecond, atLeast80);
    t.compare("DataRtn 4.7 kB photos / raw stream, 7 acks", "BM_DataRtnPhotos/50/160",
              "BM_RawUdpBlockStream/50/160/7", kBytesPerSecond, atLeast80);
    t.compare("DataRtn 29 kB photos / raw stream, 7 acks", "BM_DataRtnPhotos/20/480",
              "BM_RawUdpBlockStream/20/480/7", kBytesPerSecond, atLeast80);
    t.absolute("Conversion of 5,000 cards, short records", "BM_ConvertList/0", kSeconds, 0.1, "<= 100 ms");
    t.absolute("Conversion of 5,000 cards, long records", "BM_ConvertList/1", kSeconds, 0.1, "<= 100 ms");

    t.section("Many controllers (exchanges/s of all threads together)");
    t.compare("ShowTime, 64 threads / 1 thread", "BM_ConcurrentShowTime/64", "BM_ConcurrentShowTime/1",
              kExchangesPerSecond, Goal{Goal::AtLeast, 1.5});
    t.compare("ShowTime / raw round trips, 64 threads", "BM_ConcurrentShowTime/64",
              "BM_ConcurrentRawRoundTrip/64", kExchangesPerSecond, Goal{Goal::AtLeast, 0.7, true});
    t.compare("ShowTime / raw round trips, 8 threads", "BM_ConcurrentShowTime/8",
              "BM_ConcurrentRawRoundTrip/8", kExchangesPerSecond, Goal{});
    t.compare("Raw round trips (the simulator), 64 threads / 1", "BM_ConcurrentRawRoundTrip/64",
              "BM_ConcurrentRawRoundTrip/1", kExchangesPerSecond, Goal{});

    // Args of the link runs: doorsim's faults, then the adaptive wait (1) or
    // the fixed one (0), which runs with DOORLINK_BENCH_FIXED_WAIT=1 only.
    const struct {
        const char* figure;
        const char* faulty;
        const char* clean;
    } links[] = {{"5% loss / clean", "1", "0"},
                 {"20 ms delay and 5% loss / 20 ms delay", "3", "2"},
                 {"5% loss, 10% twice / clean", "4", "0"}};
    for (const char* wait : {"1", "0"}) {
        const bool adaptive = *wait == '1';
        if (!adaptive && !results_.count("BM_LinkReadBack/0/0")) break;
        t.section(adaptive ? "Over a lossy link (doorsim's faults), adaptive wait from 5 ms, every run exact"
                           : "The same with the fixed 2-second wait");
        for (const auto& transfer : {std::make_pair("Read-back of 1,000 records", "BM_LinkReadBack/"),
                                     std::make_pair("200 records with photos", "BM_LinkPhotoRetrieval/")}) {
            for (const auto& link : links) {
                const std::string figure = std::string(transfer.first) + ", " + link.figure;
                const std::string faulty = transfer.second + std::string(link.faulty) + "/" + wait;
                const std::string clean = transfer.second + std::string(link.clean) + "/" + wait;
                t.compare(figure, faulty, clean, kSeconds, Goal{Goal::AtMost, 20});
            }
        }
    }

    t.section("Growth (time per item beside that at the smallest size)");
    t.growth("Conversion", "BM_ConvertListGrowth", {500, 1000, 2000, 5000}, "cards");
    t.growth("Download", "BM_DownloadGrowth", {500, 2000, 5000}, "records");
    t.growth("Read-back", "BM_ReadBackGrowth", {500, 2000, 5000}, "records");

    t.section("Peak resident memory (floor: the same program doing nothing; ratio: the difference)");
    t.peak_memory("NameToini, 5,000 cards", "BM_NameToIniPeakMemory/5000", 4);
    t.recorded("NameToini, 5,000 cards, when it built the INI in memory", 39.3, 3.9);
    t.peak_memory("LookDoorName, 5,000 cards", "BM_ReadBackPeakMemory/5000");
    t.peak_memory("DoorDownName1, 65,535 records", "BM_DownloadPeakMemory/65535");
    t.peak_memory("FormatName, 5,000 cards", "BM_ConvertListPeakMemory/5000");
    t.peak_memory("FormatName1, 5,000 cards", "BM_SourceFilePeakMemory/FormatName1");
    t.peak_memory("FormatSignalName1, one of 5,000 cards", "BM_SourceFilePeakMemory/FormatSignalName1");
    t.peak_memory("DataRtn, 200 records with photos", "BM_DataRtnPeakMemory/200");
    t.peak_memory("TxDataRtn, 65,535 records", "BM_TransferPeakMemory/65535");
    t.peak_memory("Progress key, registry of 4,096 controllers", "BM_RegistryPeakMemory/4096");
    t.print(GetOutputStream());
}

}  // namespace doorlink::bench
