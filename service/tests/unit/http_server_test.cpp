// The REST API in process: a server on a free loopback port over a real
// SQLite store, and a double of the fleet (the controllers' side is tested
// end to end against doorsim).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "access/tokens.h"
#include "archive/photo_hash.h"
#include "http/auth.h"
#include "http/client_address.h"
#include "http/http_server.h"
#include "http/routes.h"
#include "unit/test_databases.h"

namespace doorlinkd {
namespace {

using nlohmann::json;

// Answers as a fleet of reachable controllers unless told to fail; runs are
// begun in the store, as the real fleet begins them.
class FleetDouble : public Fleet {
public:
    explicit FleetDouble(Store& store) : store_(store) {}
    std::function<void()> fail = [] {};

    ControllerStatus live_status(const std::string& name) override {
        fail();
        ControllerStatus status;
        status.controller = *store_.controller(name);
        status.reachable = true;
        status.clock = "26-12-08 14:00:00";
        status.skew = 2;
        status.doorState = 1;
        return status;
    }
    void open_door(const std::string&, int) override { fail(); }
    int64_t set_clock(const std::string&) override {
        fail();
        return 2;
    }
    int64_t start_sync(const std::vector<std::string>&, const Actor& actor) override {
        fail();
        return store_.begin_sync_run(actor.who, false);
    }
    int64_t start_archive(const std::vector<std::string>&, const Actor& actor) override {
        fail();
        return store_.begin_archive_run(actor.who);
    }
    void wake_leavers() override {}

private:
    Store& store_;
};

struct Answer {
    int status = 0;
    httplib::Headers headers;
    std::string body;
    json object() const { return json::parse(body); }
    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

const char* const kCard = "00110001";
const char* const kCardRow = "00110001,123456,654321,1,2,0800-1200-01;,,,,,,,,";
const char* const kCsvHeader =
    "card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,thursday,friday,saturday,"
    "extra_cards,controllers\n";

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        store->add_controller(
            Controller{"door1", "127.0.0.1", "0011223344aa", 1, false, true, kMainSite, ""});
        for (Role role : {Role::Viewer, Role::Operator, Role::Admin}) {
            tokens[role] = new_token();
            store->add_token(TokenInfo{role_name(role), role, 0, std::nullopt}, token_hash(tokens[role]));
        }
        options.listen = "127.0.0.1:0";
        options.threads = 4;
        options.maxStreams = 2;
        options.bodyLimit = 256 * 1024;
    }

    void start() {
        server = std::make_unique<HttpServer>(*store, fleet, hub, metrics, options);
        server->start();
    }

    Answer send(const std::string& method, const std::string& path, const std::string& token,
                const std::string& body = "", const httplib::Headers& extra = {}) {
        if (!server) start();
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(10, 0);
        httplib::Request request;
        request.method = method;
        request.path = path;
        request.headers = extra;
        if (!token.empty()) request.headers.emplace("Authorization", "Bearer " + token);
        if (!body.empty() || method == "POST" || method == "PUT") {
            request.body = body;
            request.headers.emplace("Content-Type", "application/json");
        }
        if (path == "/api/v1/events/stream") {
            // The stream lasts: its status and headers are enough.
            Answer answer;
            request.response_handler = [&](const httplib::Response& response) {
                answer.status = response.status;
                answer.headers = response.headers;
                return false;
            };
            client.send(request);
            return answer;
        }
        const httplib::Result result = client.send(request);
        if (!result) return Answer{};
        return Answer{result->status, result->headers, result->body};
    }

    static std::unique_ptr<Store> opened(const test::TestDatabase& database) {
        std::unique_ptr<Store> store = Store::open(database.location());
        store->initialise();
        return store;
    }

    test::TestDatabase database{"sqlite"};
    std::unique_ptr<Store> store = opened(database);
    FleetDouble fleet{*store};
    Metrics metrics;
    EventHub hub{*store, metrics};
    HttpOptions options;
    std::map<Role, std::string> tokens;
    std::unique_ptr<HttpServer> server;
};

// What each operation needs, written here rather than read from the
// server's table: nullopt is no token at all.
struct Operation {
    std::string method;
    std::string path;
    std::optional<Role> least;
};
const std::vector<Operation> kOperations = {
    {"GET", "/health", std::nullopt},
    {"GET", "/metrics", Role::Viewer},
    {"GET", "/api/v1/openapi.json", Role::Viewer},
    {"GET", "/api/v1/me", Role::Viewer},
    {"GET", "/api/v1/controllers", Role::Viewer},
    {"POST", "/api/v1/controllers", Role::Operator},
    {"GET", "/api/v1/controllers/{name}", Role::Viewer},
    {"PUT", "/api/v1/controllers/{name}", Role::Operator},
    {"DELETE", "/api/v1/controllers/{name}", Role::Operator},
    {"POST", "/api/v1/controllers/{name}/doors/{door}/open", Role::Operator},
    {"POST", "/api/v1/controllers/{name}/time", Role::Operator},
    {"GET", "/api/v1/sites", Role::Viewer},
    {"POST", "/api/v1/sites", Role::Operator},
    {"PUT", "/api/v1/sites/{name}", Role::Operator},
    {"DELETE", "/api/v1/sites/{name}", Role::Operator},
    {"POST", "/api/v1/plans", Role::Operator},
    {"GET", "/api/v1/plans/{id}", Role::Viewer},
    {"POST", "/api/v1/plans/{id}/apply", Role::Operator},
    {"GET", "/api/v1/people", Role::Viewer},
    {"GET", "/api/v1/people/{id}", Role::Viewer},
    {"POST", "/api/v1/people", Role::Operator},
    {"PUT", "/api/v1/people/{id}", Role::Operator},
    {"DELETE", "/api/v1/people/{id}", Role::Operator},
    {"POST", "/api/v1/people/{id}/disable", Role::Operator},
    {"GET", "/api/v1/groups", Role::Viewer},
    {"POST", "/api/v1/groups", Role::Operator},
    {"PUT", "/api/v1/groups/{name}", Role::Operator},
    {"DELETE", "/api/v1/groups/{name}", Role::Operator},
    {"GET", "/api/v1/schedules", Role::Viewer},
    {"POST", "/api/v1/schedules", Role::Operator},
    {"PUT", "/api/v1/schedules/{name}", Role::Operator},
    {"DELETE", "/api/v1/schedules/{name}", Role::Operator},
    {"GET", "/api/v1/holidays", Role::Viewer},
    {"POST", "/api/v1/holidays", Role::Operator},
    {"PUT", "/api/v1/holidays/{site}/{date}", Role::Operator},
    {"DELETE", "/api/v1/holidays/{site}/{date}", Role::Operator},
    {"GET", "/api/v1/policy/revision", Role::Viewer},
    {"GET", "/api/v1/reports/access", Role::Viewer},
    {"GET", "/api/v1/reports/entry", Role::Viewer},
    {"GET", "/api/v1/reports/unused-cards", Role::Viewer},
    {"GET", "/api/v1/cards", Role::Viewer},
    {"PUT", "/api/v1/cards/{card}", Role::Operator},
    {"DELETE", "/api/v1/cards/{card}", Role::Operator},
    {"POST", "/api/v1/cards/import", Role::Operator},
    {"GET", "/api/v1/cards/export", Role::Operator},
    {"POST", "/api/v1/sync", Role::Operator},
    {"GET", "/api/v1/sync/runs", Role::Viewer},
    {"GET", "/api/v1/sync/runs/{id}", Role::Viewer},
    {"POST", "/api/v1/archive", Role::Operator},
    {"GET", "/api/v1/archive/runs", Role::Viewer},
    {"GET", "/api/v1/archive/runs/{id}", Role::Viewer},
    {"GET", "/api/v1/records", Role::Viewer},
    {"GET", "/api/v1/photos/{sha256}", Role::Viewer},
    {"GET", "/api/v1/events", Role::Viewer},
    {"GET", "/api/v1/events/stream", Role::Viewer},
    {"GET", "/api/v1/audit", Role::Admin},
};

std::string replaced(std::string path, const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) {
        const std::string part = "{" + name + "}";
        for (size_t at; (at = path.find(part)) != std::string::npos;) path.replace(at, part.size(), value);
    }
    return path;
}

class HttpApiTest : public HttpServerTest {
protected:
    // Things for every path parameter to name, and a body that each write
    // takes.
    void SetUp() override {
        HttpServerTest::SetUp();
        store->put_cards({card_of_row()}, false);
        const Photo photo = photo_of({0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9});
        store->put_photo(photo);
        values = {{"name", "door1"},
                  {"door", "2"},
                  {"site", "door1"},
                  {"date", "2026-12-25"},
                  {"card", kCard},
                  {"sha256", photo.sha256},
                  {"id", std::to_string(store->begin_sync_run("test", false))}};
        store->begin_archive_run("test");
        store->add_site(Site{"door1", "UTC", ""});  // {name} names a site too
        // {id} names a person too, {name} a group and a schedule, {site} and
        // {date} a holiday; a plan of that id is made by POST /api/v1/plans.
        PolicyEdit edit;
        edit.basedOn = store->policy_revision();
        Person person;
        person.id = values["id"];
        person.name = "Someone";
        edit.people.push_back(person);
        edit.groups.push_back(Group{"door1", {}, 0});
        edit.schedules.push_back(AccessSchedule{"door1", {}, HolidayMode::closed, 0});
        edit.holidays.push_back(Holiday{"door1", {2026, 12, 25}, false, 0});
        store->save_policy(edit);
        bodies = {{"/api/v1/controllers",
                   R"({"name":"door2","address":"127.0.0.2","mac":"0011223344bb","site":"main"})"},
                  {"/api/v1/controllers/{name}", R"({"lossy":true})"},
                  {"/api/v1/sites", R"({"name":"lisbon","zone":"Europe/Lisbon"})"},
                  {"/api/v1/sites/{name}", R"({"description":"the warehouse"})"},
                  {"/api/v1/cards/{card}", R"({"serial":"123456","password":"654321"})"},
                  {"/api/v1/cards/import", std::string(kCsvHeader) + kCardRow + "\n"},
                  {"/api/v1/people", R"({"id":"e2","name":"Another"})"},
                  {"/api/v1/people/{id}", R"({"name":"Someone else","revision":{revision}})"},
                  {"/api/v1/groups", R"({"name":"visitors"})"},
                  {"/api/v1/groups/{name}", R"({"grants":["always@site:main"],"revision":{revision}})"},
                  {"/api/v1/schedules", R"({"name":"nights","holidays":"open"})"},
                  {"/api/v1/schedules/{name}", R"({"holidays":"open","revision":{revision}})"},
                  {"/api/v1/holidays", R"({"site":"door1","date":"2026-12-26"})"},
                  {"/api/v1/holidays/{site}/{date}", R"({"yearly":true,"revision":{revision}})"}};
        queries = {{"DELETE /api/v1/people/{id}", "?revision={revision}"},
                   {"DELETE /api/v1/groups/{name}", "?revision={revision}"},
                   {"DELETE /api/v1/schedules/{name}", "?revision={revision}"},
                   {"DELETE /api/v1/holidays/{site}/{date}", "?revision={revision}"},
                   {"GET /api/v1/reports/access", "?person={id}"},
                   {"GET /api/v1/reports/entry", "?controller={name}"}};
    }

    // The saved revision of the value a policy's path names: a change must
    // name it.
    int64_t revision_of(const std::string& path) {
        const Policy policy = store->policy().policy;
        const auto saved = [](const auto& kept, const auto& named) {
            for (const auto& value : kept) {
                if (named(value)) return value.revision;
            }
            return int64_t{0};
        };
        if (path.rfind("/api/v1/people/", 0) == 0)
            return saved(policy.people, [&](const Person& p) { return p.id == values["id"]; });
        if (path.rfind("/api/v1/groups/", 0) == 0)
            return saved(policy.groups, [](const Group& g) { return g.name == "door1"; });
        if (path.rfind("/api/v1/schedules/", 0) == 0)
            return saved(policy.schedules, [](const AccessSchedule& s) { return s.name == "door1"; });
        return saved(policy.holidays, [](const Holiday& h) { return date_text(h.date) == "2026-12-25"; });
    }

    static Card card_of_row() {
        Card card;
        card.card = kCard;
        card.serial = "123456";
        card.password = "654321";
        return card;
    }

    Answer perform(const Operation& op, const std::string& token) {
        const auto body = bodies.find(op.path);
        const auto query = queries.find(op.method + " " + op.path);
        std::map<std::string, std::string> filled = values;
        if (body != bodies.end() || query != queries.end())
            filled["revision"] = std::to_string(revision_of(op.path));
        return send(op.method, replaced(op.path + (query == queries.end() ? "" : query->second), filled),
                    token, body == bodies.end() ? "" : replaced(body->second, filled));
    }

    std::map<std::string, std::string> values;
    std::map<std::string, std::string> bodies;
    std::map<std::string, std::string> queries;  // by "METHOD path"
};

std::set<std::string> operations_of(const json& document) {
    std::set<std::string> found;
    for (const auto& [path, methods] : document.at("paths").items()) {
        for (const auto& [method, operation] : methods.items()) {
            std::string upper = method;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            found.insert(upper + " " + path);
        }
    }
    return found;
}

TEST_F(HttpApiTest, TheDocumentListsEveryOperationAndEachAnswers) {
    const Answer answer = send("GET", "/api/v1/openapi.json", tokens[Role::Viewer]);
    ASSERT_EQ(answer.status, 200);
    const json document = answer.object();
    EXPECT_EQ(document.at("openapi").get<std::string>().substr(0, 2), "3.");
    std::set<std::string> expected;
    for (const Operation& op : kOperations) expected.insert(op.method + " " + op.path);
    EXPECT_EQ(operations_of(document), expected);
    std::set<std::string> routed;
    for (const Route& route : api_routes()) routed.insert(std::string(route.method) + " " + route.path);
    EXPECT_EQ(operations_of(document), routed);

    std::vector<Operation> operations = kOperations;  // the removals last
    std::stable_partition(operations.begin(), operations.end(),
                          [](const Operation& op) { return op.method != "DELETE"; });
    for (const Operation& op : operations) {
        std::string method = op.method;
        for (char& c : method) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const json& documented = document.at("paths").at(op.path).at(method);
        EXPECT_EQ(documented.at("security").empty(), !op.least) << op.path;
        const Answer done = perform(op, tokens[Role::Admin]);
        EXPECT_TRUE(done.status >= 200 && done.status < 400)
            << op.method << ' ' << op.path << ": " << done.status << ' ' << done.body;
    }
}

TEST_F(HttpApiTest, EachRoleMayDoWhatItsRoleAllows) {
    for (Role role : {Role::Viewer, Role::Operator, Role::Admin}) {
        for (const Operation& op : kOperations) {
            const int status = perform(op, tokens[role]).status;
            if (op.least && !role_allows(role, *op.least)) {
                EXPECT_EQ(status, 403) << role_name(role) << ' ' << op.method << ' ' << op.path;
            } else {
                EXPECT_TRUE(status != 401 && status != 403 && status != 0)
                    << role_name(role) << ' ' << op.method << ' ' << op.path << ": " << status;
            }
        }
    }
    for (const Operation& op : kOperations) {
        EXPECT_EQ(perform(op, "").status, op.least ? 401 : 200) << op.method << ' ' << op.path;
    }
}

TEST_F(HttpServerTest, ARevokedTokenIsRefusedAtOnce) {
    EXPECT_EQ(send("GET", "/api/v1/me", tokens[Role::Operator]).object(),
              (json{{"name", "operator"}, {"role", "operator"}}));
    ASSERT_TRUE(store->revoke_token("operator"));
    const Answer answer = send("GET", "/api/v1/me", tokens[Role::Operator]);
    EXPECT_EQ(answer.status, 401);
    EXPECT_TRUE(answer.object().contains("error"));
}

TEST_F(HttpServerTest, RepeatedBadTokensAreThrottledButNeverAValidOne) {
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(send("GET", "/api/v1/me", "dl_wrong" + std::to_string(i)).status, 401);
    const Answer blocked = send("GET", "/api/v1/me", "dl_wrong");
    EXPECT_EQ(blocked.status, 429);
    EXPECT_GT(std::stoi(blocked.header("Retry-After")), 0);
    // The same address with a valid token: what other clients did does not
    // count against it. What needs no token still answers.
    EXPECT_EQ(send("GET", "/api/v1/me", tokens[Role::Admin]).status, 200);
    EXPECT_EQ(send("GET", "/health", "").status, 200);
    EXPECT_EQ(send("GET", "/api/v1/me", "dl_wrong").status, 429);
}

TEST_F(HttpServerTest, ABearerSchemeWithoutATokenIsNoTokenAndNeverCounted) {
    // What a browser sends for "Bearer " and an empty token, in any case.
    for (int i = 0; i < 30; ++i) {
        for (const char* header : {"Bearer", "bearer   ", "BEARER \t", "  Bearer "}) {
            const Answer answer = send("GET", "/api/v1/me", "", "", {{"Authorization", header}});
            ASSERT_EQ(answer.status, 401) << header;
            ASSERT_EQ(answer.object().at("error"), "a token is required (Authorization: Bearer TOKEN)");
        }
    }
    EXPECT_EQ(send("GET", "/api/v1/me", "dl_wrong").status, 401);  // not blocked
    EXPECT_EQ(bearer_token("Bearer  dl_abc "), "dl_abc");
    EXPECT_EQ(bearer_token("Basic dXNlcg=="), "Basic dXNlcg==");  // presented: counted as not valid
}

TEST_F(HttpServerTest, BehindATrustedProxyTheClientIsTheRightmostUntrustedForwardedAddress) {
    options.trustedProxies = {"127.0.0.1", "10.0.0.9"};
    const auto from = [](const std::string& forwardedFor) {
        return httplib::Headers{{"X-Forwarded-For", forwardedFor}};
    };
    // One client guessing behind the proxy blocks only itself.
    for (int i = 0; i < 11; ++i) send("GET", "/api/v1/me", "dl_wrong", "", from("6.6.6.6, 192.0.2.7"));
    EXPECT_EQ(send("GET", "/api/v1/me", "dl_wrong", "", from("192.0.2.7")).status, 429);
    EXPECT_EQ(send("GET", "/api/v1/me", "dl_wrong", "", from("192.0.2.8")).status, 401);
    // The entries left of the first untrusted one are the client's own
    // words; trusted proxies on the way are passed over.
    EXPECT_EQ(send("POST", "/api/v1/controllers/door1/doors/1/open", tokens[Role::Operator], "",
                   from("192.0.2.66, 192.0.2.5, 10.0.0.9"))
                  .status,
              200);
    const json entry = send("GET", "/api/v1/audit", tokens[Role::Admin]).object().at("audit").at(0);
    EXPECT_EQ(entry.at("address"), "192.0.2.5");

    EXPECT_EQ(client_address("::ffff:127.0.0.1", {"192.0.2.1"}, {"127.0.0.1"}), "192.0.2.1");
    EXPECT_EQ(client_address("192.0.2.3", {"192.0.2.1"}, {"127.0.0.1"}), "192.0.2.3");  // not trusted
    EXPECT_EQ(client_address("127.0.0.1", {"junk, 192.0.2.1"}, {"127.0.0.1"}), "192.0.2.1");
    EXPECT_EQ(client_address("127.0.0.1", {"192.0.2.1, junk"}, {"127.0.0.1"}), "127.0.0.1");
    EXPECT_EQ(client_address("127.0.0.1", {"10.0.0.9", "127.0.0.1"}, {"127.0.0.1", "10.0.0.9"}), "10.0.0.9");
}

TEST_F(HttpServerTest, EveryAnswerCarriesTheSecurityHeaders) {
    const std::vector<std::pair<std::string, std::string>> requests = {
        {"/api/v1/me", tokens[Role::Viewer]}, {"/api/v1/me", ""}, {"/nowhere", ""}, {"/", ""}};
    for (const auto& [path, token] : requests) {
        const Answer answer = send("GET", path, token);
        EXPECT_NE(answer.header("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos)
            << path;
        EXPECT_EQ(answer.header("X-Content-Type-Options"), "nosniff") << path;
        EXPECT_EQ(answer.header("Referrer-Policy"), "no-referrer") << path;
        if (path != "/") {
            EXPECT_EQ(answer.header("Cache-Control"), "no-store") << path;
        }
    }
    const Answer page = send("GET", "/", "");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(send("GET", "/metrics", tokens[Role::Viewer])
                  .body.find("doorlinkd_http_requests_total{code=\"401\"} 1"),
              std::string::npos);
}

TEST_F(HttpServerTest, UnknownPathsAre404AndOtherMethods405) {
    const Answer unknown = send("GET", "/api/v1/nothing", tokens[Role::Admin]);
    EXPECT_EQ(unknown.status, 404);
    EXPECT_TRUE(unknown.object().contains("error"));
    const Answer wrong = send("PUT", "/api/v1/sync", tokens[Role::Admin], "{}");
    EXPECT_EQ(wrong.status, 405);
    EXPECT_EQ(wrong.header("Allow"), "POST");
    EXPECT_TRUE(wrong.object().contains("error"));
    EXPECT_EQ(send("POST", "/", "", "{}").header("Allow"), "GET, HEAD");
}

// A connection that writes what it is told when it is told, as a slow or
// hostile client does.
class RawConnection {
public:
    explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection() { close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool write(const std::string& text) { return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) > 0; }
    // What arrives within `wait`, up to the first blank line; "" when the
    // server closed the connection or sent nothing.
    std::string answer(std::chrono::milliseconds wait) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (text.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }
    // Whether the server closed the connection within `wait` (anything it
    // sent before is read and dropped).
    bool closed_within(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, 1, 50) <= 0) continue;
            char buffer[4096];
            if (recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
        }
        return false;
    }
    bool connected() const { return connected_; }

private:
    int fd_;
    bool connected_ = false;
};

std::string status_line(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

TEST_F(HttpServerTest, ClientsThatSendSlowlyAreCutOffAtTheirDeadlineAndHoldUpNoOne) {
    start();
    // Ten times the workers and stream slots, each sending a byte a second:
    // each read is quick, the request never ends.
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 60; ++i) slow.push_back(std::make_unique<RawConnection>(server->port()));
    const std::string request = "GET /health HTTP/1.1\r\nX-Slow: " + std::string(100, 'a');
    const auto began = std::chrono::steady_clock::now();
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        for (size_t at = 0; at < request.size() && !done; ++at) {
            for (auto& connection : slow) connection->write(request.substr(at, 1));
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    for (int i = 0; i < 5; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(send("GET", "/health", "").status, 200);
        EXPECT_EQ(send("GET", "/api/v1/controllers", tokens[Role::Viewer]).status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    // Their headers did not arrive within 10 s: each is closed, none before.
    for (auto& connection : slow) {
        EXPECT_TRUE(connection->closed_within(std::chrono::seconds(20)));
    }
    EXPECT_GT(std::chrono::steady_clock::now() - began, std::chrono::seconds(9));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
    done = true;
    trickle.join();
}

TEST_F(HttpServerTest, TheTokenAndTheBodysSizeAreCheckedBeforeAnyBodyIsRead) {
    start();
    const auto headers = [](const std::string& path, const std::string& token, size_t length,
                            const std::string& more = "") {
        return "POST " + path + " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
               "\r\nContent-Length: " + std::to_string(length) + "\r\n" + more + "\r\n";
    };
    RawConnection guessing(server->port());
    guessing.write(headers("/api/v1/cards/import", "dl_wrong", 10'000'000));
    EXPECT_EQ(status_line(guessing.answer(std::chrono::seconds(5))), "HTTP/1.1 401 Unauthorized");
    // Past 64 KiB only an import's body is taken.
    RawConnection large(server->port());
    large.write(headers("/api/v1/sync", tokens[Role::Operator], 100'000));
    EXPECT_EQ(status_line(large.answer(std::chrono::seconds(5))), "HTTP/1.1 413 Payload Too Large");
    RawConnection importing(server->port());
    importing.write(
        headers("/api/v1/cards/import", tokens[Role::Operator], 100'000, "Expect: 100-continue\r\n"));
    EXPECT_EQ(status_line(importing.answer(std::chrono::seconds(5))), "HTTP/1.1 100 Continue");
}

TEST_F(HttpServerTest, ConnectionsFromOneAddressAreCappedButNotFromATrustedProxy) {
    options.maxConnectionsPerAddress = 3;
    start();
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < 3; ++i) open.push_back(std::make_unique<RawConnection>(server->port()));
    RawConnection refused(server->port());
    EXPECT_TRUE(refused.closed_within(std::chrono::seconds(5)));
    open.front().reset();  // one ends: its place is free again
    const auto freed = std::chrono::steady_clock::now();
    int status = 0;
    while (status != 200 && std::chrono::steady_clock::now() - freed < std::chrono::seconds(5)) {
        status = send("GET", "/health", "").status;
    }
    EXPECT_EQ(status, 200);

    open.clear();
    server.reset();
    options.trustedProxies = {"127.0.0.1"};
    start();
    for (int i = 0; i < 5; ++i) open.push_back(std::make_unique<RawConnection>(server->port()));
    RawConnection proxied(server->port());
    proxied.write("GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(status_line(proxied.answer(std::chrono::seconds(5))), "HTTP/1.1 200 OK");
}

TEST_F(HttpServerTest, ABodyOverTheLimitIs413) {
    const Answer answer =
        send("POST", "/api/v1/cards/import", tokens[Role::Operator], std::string(options.bodyLimit + 1, 'x'));
    EXPECT_EQ(answer.status, 413);
    EXPECT_TRUE(answer.object().contains("error"));
}

TEST_F(HttpServerTest, ACardPutIsCheckedAsAnImportRow) {
    const std::string& token = tokens[Role::Operator];
    // The same bad serial, put and imported: the same reason.
    const Answer put = send("PUT", std::string("/api/v1/cards/") + kCard, token,
                            R"({"serial":"12345","password":"654321","user_style":1})");
    const Answer imported = send("POST", "/api/v1/cards/import", token,
                                 std::string(kCsvHeader) + kCard + ",12345,654321,1,2,,,,,,,,,\n");
    ASSERT_EQ(put.status, 400);
    ASSERT_EQ(imported.status, 400);
    EXPECT_EQ(put.object().at("rows").at(0).at("column"), "serial");
    EXPECT_EQ(put.object().at("rows").at(0).at("reason"), imported.object().at("rows").at(0).at("reason"));
    // The fleet rules too.
    const Answer unknown = send("PUT", std::string("/api/v1/cards/") + kCard, token,
                                R"({"serial":"123456","password":"654321","controllers":["door9"]})");
    ASSERT_EQ(unknown.status, 400);
    EXPECT_EQ(unknown.object().at("rows").at(0).at("reason"), "no controller named door9");
    EXPECT_FALSE(store->card(kCard));

    const Answer done = send("PUT", std::string("/api/v1/cards/") + kCard, token,
                             R"({"serial":"123456","password":"654321","extra_cards":["00110002"],)"
                             R"("controllers":["door1"],"monday":"0800-1200-01;"})");
    ASSERT_EQ(done.status, 200) << done.body;
    const std::optional<Card> card = store->card(kCard);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->extraCards, std::vector<std::string>{"00110002"});
    EXPECT_EQ(card->controllers, std::vector<std::string>{"door1"});
    EXPECT_EQ(card->days[1], "0800-1200-01;");
    EXPECT_EQ(done.object().at("controllers"), json::array({"door1"}));
    EXPECT_EQ(send("PUT", std::string("/api/v1/cards/") + kCard, token, R"({"card":"00110002"})").status,
              400);
}

TEST_F(HttpServerTest, WritesAreAuditedWithTheirResults) {
    EXPECT_EQ(send("POST", "/api/v1/controllers/door1/doors/2/open", tokens[Role::Operator]).status, 200);
    EXPECT_EQ(send("POST", "/api/v1/controllers/door1/doors/2/open", tokens[Role::Viewer]).status, 403);
    fleet.fail = [] { throw Unreachable("door1 does not answer"); };
    EXPECT_EQ(send("POST", "/api/v1/controllers/door1/time", tokens[Role::Operator]).status, 504);
    const json audit = send("GET", "/api/v1/audit", tokens[Role::Admin]).object();
    ASSERT_EQ(audit.at("total"), 3);
    const json& opened = audit.at("audit").at(2);  // newest first
    EXPECT_EQ(opened.at("who"), "operator");
    EXPECT_EQ(opened.at("address"), "127.0.0.1");
    EXPECT_EQ(opened.at("action"), "POST /api/v1/controllers/door1/doors/2/open");
    EXPECT_EQ(opened.at("target"), "door1");
    EXPECT_EQ(opened.at("result"), "ok");
    EXPECT_EQ(opened.at("detail"), "door 2");
    EXPECT_EQ(audit.at("audit").at(1).at("who"), "viewer");
    EXPECT_EQ(audit.at("audit").at(1).at("result").get<std::string>().substr(0, 4), "403 ");
    EXPECT_EQ(audit.at("audit").at(0).at("result"), "504 door1 does not answer");
}

TEST_F(HttpServerTest, FleetFailuresHaveTheirStatuses) {
    const std::vector<std::pair<std::function<void()>, int>> cases = {
        {[] { throw Unreachable("silent"); }, 504}, {[] { throw Busy("leased"); }, 409},
        {[] { throw NotFound("gone"); }, 404},      {[] { throw Refused("no"); }, 400},
        {[] { throw StoreError("down"); }, 503},
    };
    for (const auto& [failure, status] : cases) {
        fleet.fail = failure;
        const Answer answer = send("GET", "/api/v1/controllers/door1", tokens[Role::Viewer]);
        EXPECT_EQ(answer.status, status);
        EXPECT_TRUE(answer.object().contains("error"));
    }
    // What a database says of itself (its host, user, name) stays in the log.
    fleet.fail = [] { throw StoreError("connection to server at \"db.internal\" failed"); };
    EXPECT_EQ(send("GET", "/api/v1/controllers/door1", tokens[Role::Viewer]).object().at("error"),
              "the database does not answer");
    fleet.fail = [] {};
    const json live = send("GET", "/api/v1/controllers/door1", tokens[Role::Viewer]).object();
    EXPECT_EQ(live.at("reachable"), true);
    EXPECT_EQ(live.at("skew"), 2);
    EXPECT_EQ(live.at("door_state"), 1);
}

TEST_F(HttpServerTest, APhotoIsServedByItsHashWithAnETag) {
    const Photo photo = photo_of({0xFF, 0xD8, 9, 9, 0xFF, 0xD9});
    store->put_photo(photo);
    const std::string path = "/api/v1/photos/" + photo.sha256;
    const Answer answer = send("GET", path, tokens[Role::Viewer]);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("Content-Type"), "image/jpeg");
    EXPECT_EQ(answer.body, std::string(photo.bytes.begin(), photo.bytes.end()));
    EXPECT_EQ(answer.header("ETag"), "\"" + photo.sha256 + "\"");
    EXPECT_NE(answer.header("Cache-Control").find("max-age="), std::string::npos);
    EXPECT_EQ(send("GET", path, tokens[Role::Viewer], "", {{"If-None-Match", answer.header("ETag")}}).status,
              304);
}

// Reads an event stream in a thread of its own until told to stop.
class StreamReader {
public:
    StreamReader(int port, const std::string& token, const std::string& lastId) {
        thread_ = std::thread([this, port, token, lastId] {
            httplib::Client client("127.0.0.1", port);
            // Longer than the keep-alives' pause, also on a busy machine: the
            // client's own 5 s would end a quiet stream just as the first comes.
            client.set_read_timeout(30, 0);
            httplib::Headers headers = {{"Authorization", "Bearer " + token}};
            if (!lastId.empty()) headers.emplace("Last-Event-ID", lastId);
            client.Get("/api/v1/events/stream", headers, [this](const char* data, size_t size) {
                std::lock_guard<std::mutex> lock(mutex_);
                text_.append(data, size);
                return !stop_;
            });
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            ended_changed_.notify_all();
        });
    }
    ~StreamReader() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        thread_.join();
    }
    // Waits up to 10 s for the text to hold `part`.
    bool saw(const std::string& part) {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (text_.find(part) != std::string::npos) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string text() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    // Waits up to `wait` for the server to end the stream.
    bool ended(std::chrono::seconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_changed_.wait_for(lock, wait, [this] { return ended_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_changed_;
    std::string text_;
    bool stop_ = false;
    bool ended_ = false;
    std::thread thread_;
};

Event event(const std::string& text) {
    Event e;
    e.controller = "door1";
    e.kind = "error";
    e.data = json{{"text", text}}.dump();
    return e;
}

TEST_F(HttpServerTest, TheEventStreamTellsEventsAndResumesAfterTheLastId) {
    // Stored before the server started: the stream reads it from the store,
    // the next from the feed in memory.
    const int64_t first = hub.append({event("one")}).front().id;
    start();
    StreamReader reader(server->port(), tokens[Role::Viewer], std::to_string(first - 1));
    ASSERT_TRUE(reader.saw("id: " + std::to_string(first) + "\ndata: {"));
    EXPECT_NE(reader.text().find("\"text\":\"one\""), std::string::npos);
    hub.append({event("two")});
    EXPECT_TRUE(reader.saw("\"text\":\"two\""));
    EXPECT_TRUE(reader.saw(": keep-alive\n\n"));

    StreamReader resumed(server->port(), tokens[Role::Viewer], std::to_string(first));
    ASSERT_TRUE(resumed.saw("\"text\":\"two\""));
    EXPECT_EQ(resumed.text().find("\"text\":\"one\""), std::string::npos);

    // Streams past the most are refused; a stop ends those open quickly.
    const Answer third = send("GET", "/api/v1/events/stream", tokens[Role::Viewer]);
    EXPECT_EQ(third.status, 503);
    EXPECT_FALSE(third.header("Retry-After").empty());
    const auto began = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
}

TEST_F(HttpServerTest, AStreamEndsSoonAfterItsTokenIsRevoked) {
    start();
    StreamReader reader(server->port(), tokens[Role::Viewer], "");
    ASSERT_TRUE(reader.saw(": keep-alive"));
    ASSERT_TRUE(store->revoke_token("viewer"));
    const auto revoked = std::chrono::steady_clock::now();
    EXPECT_TRUE(reader.ended(std::chrono::seconds(15)));
    EXPECT_LT(std::chrono::steady_clock::now() - revoked, std::chrono::seconds(8));
}

TEST_F(HttpApiTest, NoPinGoesToARoleBelowOperatorNorIntoTheAudit) {
    const std::string path = std::string("/api/v1/cards/") + kCard;
    const auto cardOf = [&](Role role) {
        return send("GET", "/api/v1/cards", tokens[role]).object().at("cards").at(0);
    };
    EXPECT_FALSE(cardOf(Role::Viewer).contains("password"));
    EXPECT_EQ(cardOf(Role::Operator).at("password"), "654321");
    EXPECT_EQ(send("GET", "/api/v1/cards/export", tokens[Role::Viewer]).status, 403);

    SyncResult result;
    result.controller = "door1";
    result.status = SyncStatus::Drift;
    result.drift = {{kCard, "password", std::string("654321"), std::string("999999")},
                    {kCard, "serial", std::string("123456"), std::string("123457")}};
    const int64_t run = store->begin_sync_run("test", true);
    store->store_sync_result(run, result);
    const auto driftOf = [&](Role role) {
        return send("GET", "/api/v1/sync/runs/" + std::to_string(run), tokens[role])
            .object()
            .at("results")
            .at(0)
            .at("drift");
    };
    EXPECT_EQ(
        driftOf(Role::Viewer).at(0),
        (json{{"card", kCard}, {"field", "password"}, {"database", "(hidden)"}, {"controller", "(hidden)"}}));
    EXPECT_EQ(driftOf(Role::Viewer).at(1).at("controller"), "123457");
    EXPECT_EQ(driftOf(Role::Operator).at(0).at("controller"), "999999");

    // A change names the PIN's change, never its value; nor does a refusal.
    ASSERT_EQ(send("PUT", path, tokens[Role::Operator], R"({"serial":"123456","password":"271828"})").status,
              200);
    ASSERT_EQ(send("PUT", path, tokens[Role::Operator], R"({"serial":"123456","password":"31415"})").status,
              400);
    ASSERT_EQ(send("POST", "/api/v1/cards/import", tokens[Role::Operator],
                   std::string(kCsvHeader) + kCard + ",123456,16180,1,2,,,,,,,,,\n")
                  .status,
              400);
    const std::string audit = send("GET", "/api/v1/audit", tokens[Role::Admin]).body;
    EXPECT_NE(audit.find("updated card 00110001: PIN changed"), std::string::npos) << audit;
    for (const char* pin : {"271828", "654321", "31415", "16180"}) {
        EXPECT_EQ(audit.find(pin), std::string::npos) << pin << " in " << audit;
    }
}

TEST_F(HttpServerTest, ServesHttpsWithTheGivenCertificate) {
    const std::string dir = database.directory();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " + dir +
        "/key.pem -out " + dir + "/cert.pem 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl cannot make a certificate here";
    options.tlsCert = dir + "/cert.pem";
    options.tlsKey = dir + "/key.pem";
    start();
    httplib::SSLClient client("127.0.0.1", server->port());
    client.enable_server_certificate_verification(false);
    const httplib::Result answer = client.Get("/health");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);

    options.tlsKey = dir + "/missing.pem";
    HttpServer refused(*store, fleet, hub, metrics, options);
    EXPECT_THROW(refused.start(), Refused);
}

}  // namespace
}  // namespace doorlinkd
