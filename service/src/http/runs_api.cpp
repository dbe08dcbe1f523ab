// The routes of sync and archive runs: started in the background (202 with
// the run's id), listed, and read with their results.
#include "fleet/json_forms.h"
#include "http/handlers.h"

namespace doorlinkd {
namespace {

Json run_json(const SyncRunInfo& run) {
    return Json{{"id", run.id},
                {"started", iso_time(run.started)},
                {"owner", run.owner},
                {"check_only", run.checkOnly},
                {"controllers", run.controllers},
                {"drift", run.drift},
                {"failed", run.failed}};
}

Json run_json(const ArchiveRunInfo& run) {
    return Json{{"id", run.id},           {"started", iso_time(run.started)},
                {"owner", run.owner},     {"controllers", run.controllers},
                {"records", run.records}, {"photos", run.photos}};
}

using Start = int64_t (Fleet::*)(const std::vector<std::string>&, const Actor&);

void start_run(Services& services, Call& call, Start start) {
    const std::vector<std::string> names = controller_names_of_body(body_object(call));
    call.target = join_words(names);
    const int64_t run = (services.fleet.*start)(names, call.actor);
    call.detail = "run " + std::to_string(run);
    reply(call, 202, Json{{"run", run}});
}

template <class Info>
void list_runs(Services& services, Call& call, Page<Info> (RunStore::*runs)(int, int)) {
    const Paging page = paging(call);
    const Page<Info> found = (services.store.*runs)(page.offset, page.limit);
    Json list = Json::array();
    for (const Info& run : found.items) list.push_back(run_json(run));
    reply(call, 200, Json{{"runs", list}, {"total", found.total}});
}

// A run without results yet is one still starting, unless it is newer than
// the newest run.
template <class Info, class Result, class Form>
void get_run(Services& services, Call& call, Page<Info> (RunStore::*runs)(int, int),
             std::vector<Result> (RunStore::*results)(int64_t), Form form) {
    const std::string& text = call.param("id");
    const int64_t id = run_path_id(text);
    const std::vector<Result> found = (services.store.*results)(id);
    if (found.empty()) {
        const Page<Info> newest = (services.store.*runs)(0, 1);
        if (id < 1 || newest.items.empty() || newest.items.front().id < id) throw NotFound("no run " + text);
    }
    Json list = Json::array();
    for (const Result& result : found) list.push_back(form(result));
    reply(call, 200, Json{{"run", id}, {"results", list}});
}

}  // namespace

void start_sync(Services& services, Call& call) { start_run(services, call, &Fleet::start_sync); }
void list_sync_runs(Services& services, Call& call) { list_runs(services, call, &Store::sync_runs); }
void get_sync_run(Services& services, Call& call) {
    const PinView pin = pin_view(call);
    get_run(services, call, &Store::sync_runs, &Store::sync_results,
            [pin](const SyncResult& result) { return to_json(result, pin); });
}

void start_archive(Services& services, Call& call) { start_run(services, call, &Fleet::start_archive); }
void list_archive_runs(Services& services, Call& call) { list_runs(services, call, &Store::archive_runs); }
void get_archive_run(Services& services, Call& call) {
    get_run(services, call, &Store::archive_runs, &Store::archive_results,
            [](const ArchiveResult& result) { return to_json(result); });
}

}  // namespace doorlinkd
