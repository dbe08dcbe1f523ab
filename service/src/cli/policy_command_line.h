// The commands of the policy: schedule, holiday, group and person, each to
// add, change, list and remove, the people file, and what the policy
// compiles to for a controller.
#pragma once

#include <CLI/CLI.hpp>

#include <vector>

#include "fleet/policy_operations.h"

namespace doorlinkd {

class PolicyCommandLine {
public:
    // Adds the commands to app.
    explicit PolicyCommandLine(CLI::App& app);
    PolicyCommandLine(const PolicyCommandLine&) = delete;
    PolicyCommandLine& operator=(const PolicyCommandLine&) = delete;

    // Every command and subcommand added.
    const std::vector<CLI::App*>& commands() const { return commands_; }
    // Whether one of them was given.
    bool parsed() const;
    // Runs the one given, as the command line's doing.
    Outcome run(Store& store);

private:
    CLI::App* add(CLI::App& parent, const std::string& name, const std::string& help);
    void add_schedule_options(CLI::App& command);
    void add_person_options(CLI::App& command);
    void add_revision(CLI::App& command);
    ScheduleArgs schedule_args() const;
    PersonArgs person_args();

    std::vector<CLI::App*> commands_;
    CLI::App *scheduleAdd_ = nullptr, *scheduleChange_ = nullptr, *scheduleList_ = nullptr,
             *scheduleRemove_ = nullptr;
    CLI::App *holidayAdd_ = nullptr, *holidayChange_ = nullptr, *holidayList_ = nullptr,
             *holidayRemove_ = nullptr;
    CLI::App *groupAdd_ = nullptr, *groupChange_ = nullptr, *groupList_ = nullptr, *groupRemove_ = nullptr;
    CLI::App *personAdd_ = nullptr, *personChange_ = nullptr, *personList_ = nullptr,
             *personRemove_ = nullptr, *personErase_ = nullptr, *personImport_ = nullptr,
             *personExport_ = nullptr;
    CLI::App* compile_ = nullptr;
    std::string at_;

    std::string name_;  // a schedule's or group's name, a person's id, a site
    std::string date_;
    std::string file_;
    bool replace_ = false;
    std::optional<int64_t> revision_;
    // Schedules: a day's ranges, and what sets several days at once.
    std::array<std::optional<std::string>, kDays> days_;
    std::optional<std::string> everyDay_, weekdays_, weekend_, holidays_;
    std::optional<bool> yearly_;
    std::vector<std::string> grants_;
    bool noGrants_ = false;
    PersonArgs person_;
    bool cardsStdin_ = false;
};

}  // namespace doorlinkd
