#include "cli/policy_command_line.h"

#include <iostream>

#include "cli/commands.h"
#include "zones/instant_text.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

constexpr std::array<const char*, kDays> kDayOptions = {"--sunday",   "--monday", "--tuesday", "--wednesday",
                                                        "--thursday", "--friday", "--saturday"};
constexpr size_t kSaturday = 6;

const char* const kRangesHelp = "time ranges, e.g. 07:00-12:00,13:00-19:00 (\"\" for none; 24:00 ends a day)";

// The first line of standard input, without its line end.
std::string first_line_of_stdin(const char* what) {
    std::string line;
    if (!std::getline(std::cin, line) && line.empty())
        throw Refused(std::string(what) + ": standard input is empty");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

CLI::App* PolicyCommandLine::add(CLI::App& parent, const std::string& name, const std::string& help) {
    CLI::App* command = parent.add_subcommand(name, help);
    commands_.push_back(command);
    return command;
}

void PolicyCommandLine::add_revision(CLI::App& command) {
    command.add_option(
        "--revision", revision_,
        "the revision the change was made on (from list): refused, exit 5, when it changed since");
}

void PolicyCommandLine::add_schedule_options(CLI::App& command) {
    command.add_option("NAME", name_, "the schedule's name")->required();
    command.add_option("--every-day", everyDay_, "the same ranges on every day");
    command.add_option("--weekdays", weekdays_, "the same ranges Monday to Friday");
    command.add_option("--weekend", weekend_, "the same ranges on Saturday and Sunday");
    for (size_t day = 0; day < kDays; ++day)
        command.add_option(kDayOptions.at(day), days_.at(day), kRangesHelp);
    command.add_option("--holidays", holidays_, "closed (no access on the site's holidays) or open")
        ->check(CLI::IsMember({"closed", "open"}));
}

void PolicyCommandLine::add_person_options(CLI::App& command) {
    command.add_option("ID", person_.id, "the site's own id, e.g. an employee number")->required();
    command.add_option("--name", person_.name);
    command.add_option("--email", person_.email, "\"\" for none");
    command.add_option("--notes", person_.notes);
    command.add_option("--active", person_.active, "true or false: whether their cards open doors at all");
    command.add_option("--valid-from", person_.validFrom,
                       "yyyy-mm-dd, read in each controller's site's zone");
    command.add_option("--valid-until", person_.validUntil, "yyyy-mm-dd, the last day (\"\" for none)");
    command.add_option("--groups", person_.groups, "their groups, separated by spaces");
    auto* cards = command.add_option(
        "--cards", person_.cards,
        "their cards as CARD:SERIAL:PIN separated by spaces; other users see it in the process list: "
        "prefer --cards-stdin");
    command
        .add_flag("--cards-stdin", cardsStdin_,
                  "read the cards (CARD:SERIAL:PIN ...) from the first line of standard input")
        ->excludes(cards);
    command.add_option("--user-style", person_.userStyle, "0 or 1 (default 1)");
    command.add_option("--open-style", person_.openStyle, "0, 1 or 2 (default 2)");
}

PolicyCommandLine::PolicyCommandLine(CLI::App& app) {
    auto* schedule =
        add(app, "schedule", "schedules: time ranges per weekday; always and never are built in");
    schedule->require_subcommand(1);
    scheduleAdd_ = add(*schedule, "add", "add a schedule (days not given have no ranges)");
    add_schedule_options(*scheduleAdd_);
    scheduleChange_ = add(*schedule, "change", "change the days given of a schedule");
    add_schedule_options(*scheduleChange_);
    add_revision(*scheduleChange_);
    scheduleList_ = add(*schedule, "list", "list the schedules");
    scheduleRemove_ = add(*schedule, "remove", "remove a schedule (refused while a group grants it)");
    scheduleRemove_->add_option("NAME", name_)->required();
    add_revision(*scheduleRemove_);

    auto* holiday = add(app, "holiday", "the holidays of each site");
    holiday->require_subcommand(1);
    holidayAdd_ = add(*holiday, "add", "add a holiday to a site");
    holidayChange_ = add(*holiday, "change", "change whether a holiday comes every year");
    holidayRemove_ = add(*holiday, "remove", "remove a holiday");
    for (CLI::App* command : {holidayAdd_, holidayChange_, holidayRemove_}) {
        command->add_option("SITE", name_)->required();
        command->add_option("DATE", date_, "yyyy-mm-dd")->required();
    }
    holidayAdd_->add_option("--yearly", yearly_, "true: on that day of every year");
    holidayChange_->add_option("--yearly", yearly_, "true: on that day of every year")->required();
    add_revision(*holidayChange_);
    add_revision(*holidayRemove_);
    holidayList_ = add(*holiday, "list", "list the holidays");
    holidayList_->add_option("--site", name_, "those of one site");

    auto* group = add(app, "group", "groups: the schedules their people have, on sites or controllers");
    group->require_subcommand(1);
    groupAdd_ = add(*group, "add", "add a group");
    groupChange_ = add(*group, "change", "change a group's grants");
    const char* const grantHelp =
        "a schedule on every controller of a site (SCHEDULE@site:SITE) or on named controllers "
        "(SCHEDULE@controllers:A,B); repeat for more (change: they replace the group's grants)";
    for (CLI::App* command : {groupAdd_, groupChange_}) {
        command->add_option("NAME", name_, "1 to 32 letters, digits, '-', '_', '.'")->required();
        command->add_option("--grant", grants_, grantHelp);
    }
    groupChange_->add_flag("--no-grants", noGrants_, "take every grant away")->excludes("--grant");
    add_revision(*groupChange_);
    groupList_ = add(*group, "list", "list the groups");
    groupRemove_ = add(*group, "remove", "remove a group (refused while people are in it)");
    groupRemove_->add_option("NAME", name_)->required();
    add_revision(*groupRemove_);

    auto* person = add(app, "person", "people, their groups and cards");
    person->require_subcommand(1);
    personAdd_ = add(*person, "add", "add a person");
    add_person_options(*personAdd_);
    personChange_ = add(*person, "change", "change what is given of a person");
    add_person_options(*personChange_);
    add_revision(*personChange_);
    personList_ = add(*person, "list", "list the people (never a PIN)");
    personRemove_ = add(*person, "remove", "remove a person; their records keep their id");
    personErase_ =
        add(*person, "erase",
            "remove a person and their personal data (name, email, notes, cards); their records keep "
            "the card number, marked as an erased person's");
    for (CLI::App* command : {personRemove_, personErase_}) {
        command->add_option("ID", name_)->required();
        add_revision(*command);
    }
    personImport_ = add(*person, "import",
                        "add and change people from a CSV file: id,name,email,active,valid_from,valid_until,"
                        "groups,cards (all rows checked first)");
    personImport_->add_option("FILE", file_)->required();
    personImport_->add_flag("--replace", replace_, "the file becomes the whole set of people");
    personExport_ = add(*person, "export", "write every person to a CSV file (with PINs: made 0600)");
    personExport_->add_option("FILE", file_)->required();

    compile_ = add(app, "compile",
                   "print the card records the policy gives a controller (with the card rows), PINs hidden");
    compile_->add_option("NAME", name_, "a controller")->required();
    compile_->add_option("--at", at_, "the instant, ISO 8601 with its offset or Z (default: now)");
}

bool PolicyCommandLine::parsed() const {
    return std::any_of(commands_.begin(), commands_.end(),
                       [](const CLI::App* command) { return command->parsed(); });
}

ScheduleArgs PolicyCommandLine::schedule_args() const {
    ScheduleArgs args;
    args.name = name_;
    for (size_t day = 0; day < kDays; ++day) {
        const bool weekend = day == 0 || day == kSaturday;
        if (everyDay_) args.days.at(day) = everyDay_;
        if (weekend && weekend_) args.days.at(day) = weekend_;
        if (!weekend && weekdays_) args.days.at(day) = weekdays_;
        if (days_.at(day)) args.days.at(day) = days_.at(day);
    }
    args.holidays = holidays_;
    args.revision = revision_;
    return args;
}

PersonArgs PolicyCommandLine::person_args() {
    PersonArgs args = person_;
    if (cardsStdin_) args.cards = first_line_of_stdin("--cards-stdin");
    args.revision = revision_;
    return args;
}

Outcome PolicyCommandLine::run(Store& store) {
    const Actor cli = cli_actor();
    const GroupArgs groupArgs{name_, grants_.empty() && !noGrants_ ? std::nullopt : std::optional(grants_),
                              revision_};
    const HolidayArgs holidayArgs{name_, date_, yearly_, revision_};
    if (scheduleAdd_->parsed()) return schedule_add(store, schedule_args(), cli);
    if (scheduleChange_->parsed()) return schedule_change(store, schedule_args(), cli);
    if (scheduleList_->parsed()) return schedule_list(store);
    if (scheduleRemove_->parsed()) return schedule_remove(store, name_, revision_, cli);
    if (holidayAdd_->parsed()) return holiday_add(store, holidayArgs, cli);
    if (holidayChange_->parsed()) return holiday_change(store, holidayArgs, cli);
    if (holidayList_->parsed()) return holiday_list(store, name_);
    if (holidayRemove_->parsed()) return holiday_remove(store, holidayArgs, cli);
    if (groupAdd_->parsed()) return group_add(store, groupArgs, cli);
    if (groupChange_->parsed()) return group_change(store, groupArgs, cli);
    if (groupList_->parsed()) return group_list(store);
    if (groupRemove_->parsed()) return group_remove(store, name_, revision_, cli);
    if (personAdd_->parsed()) {
        if (!person_.name) throw Refused("person add: --name is required");
        return person_add(store, person_args(), cli);
    }
    if (personChange_->parsed()) return person_change(store, person_args(), cli);
    if (personList_->parsed()) return person_list(store);
    if (personRemove_->parsed()) return person_remove(store, name_, revision_, cli);
    if (personErase_->parsed()) return person_erase(store, name_, revision_, cli);
    if (personImport_->parsed()) return person_import(store, file_, replace_, cli);
    if (personExport_->parsed()) return person_export(store, file_);
    if (compile_->parsed())
        return policy_compile(store, name_, at_.empty() ? policy_now_ms() : parsed_iso_instant(at_));
    throw Refused("give a command of schedule, holiday, group or person");
}

}  // namespace doorlinkd
