// The handlers of the REST API's routes (routes.cpp lists them with their
// methods, paths and roles), grouped by what they serve.
#pragma once

#include "http/api_call.h"

namespace doorlinkd {

// service_api.cpp
void get_health(Services& services, Call& call);
void get_me(Services& services, Call& call);
void get_metrics(Services& services, Call& call);
void get_audit(Services& services, Call& call);
void get_openapi(Services& services, Call& call);

// sites_api.cpp
void list_sites(Services& services, Call& call);
void add_site(Services& services, Call& call);
void put_site(Services& services, Call& call);
void remove_site(Services& services, Call& call);

// controllers_api.cpp
void list_controllers(Services& services, Call& call);
void add_controller(Services& services, Call& call);
void get_controller(Services& services, Call& call);
void put_controller(Services& services, Call& call);
void remove_controller(Services& services, Call& call);
void open_door(Services& services, Call& call);
void set_clock(Services& services, Call& call);

// cards_api.cpp
void list_cards(Services& services, Call& call);
void put_card(Services& services, Call& call);
void remove_card(Services& services, Call& call);
void import_cards(Services& services, Call& call);
void export_cards(Services& services, Call& call);

// runs_api.cpp
void start_sync(Services& services, Call& call);
void list_sync_runs(Services& services, Call& call);
void get_sync_run(Services& services, Call& call);
void start_archive(Services& services, Call& call);
void list_archive_runs(Services& services, Call& call);
void get_archive_run(Services& services, Call& call);

// records_api.cpp
void list_records(Services& services, Call& call);
void get_photo(Services& services, Call& call);

// plans_api.cpp
void make_plan(Services& services, Call& call);
void get_plan(Services& services, Call& call);
void apply_plan(Services& services, Call& call);
void disable_person(Services& services, Call& call);

// policy_api.cpp
void list_people(Services& services, Call& call);
void get_person(Services& services, Call& call);
void add_person(Services& services, Call& call);
void put_person(Services& services, Call& call);
void remove_person(Services& services, Call& call);
void list_groups(Services& services, Call& call);
void add_group(Services& services, Call& call);
void put_group(Services& services, Call& call);
void remove_group(Services& services, Call& call);
void list_schedules(Services& services, Call& call);
void add_schedule(Services& services, Call& call);
void put_schedule(Services& services, Call& call);
void remove_schedule(Services& services, Call& call);
void list_holidays(Services& services, Call& call);
void add_holiday(Services& services, Call& call);
void put_holiday(Services& services, Call& call);
void remove_holiday(Services& services, Call& call);
void get_policy_revision(Services& services, Call& call);

// reports_api.cpp
void report_access(Services& services, Call& call);
void report_entry(Services& services, Call& call);
void report_unused_cards(Services& services, Call& call);

// events_api.cpp
void list_events(Services& services, Call& call);
void stream_events(Services& services, Call& call);

}  // namespace doorlinkd
