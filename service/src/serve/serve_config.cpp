#include "serve/serve_config.h"

#include <CLI/CLI.hpp>

#include <toml++/toml.h>
#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>

#include "common/percent_decoding.h"
#include "http/client_address.h"
#include "model/card.h"
#include "model/controller.h"
#include "model/errors.h"
#include "mqtt/mqtt_command.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

// List: texts given one by one (an option repeated, a TOML array), kept
// as one text separated by spaces.
enum class Kind { Text, Integer, Flag, List };
// Where else a setting may be given: as an option of serve, as a global
// option (main's), or nowhere (secrets). Options are named by the key with
// '-' for '_'.
enum class Option { Serve, Global, None };

struct Key {
    const char* name;
    Kind kind;
    int64_t min, max;     // integers
    const char* table;    // "http", "mqtt", or nullptr: also in that table
    const char* inTable;  // its short name there
    Option option;
    const char* value;  // how the help names its value
    const char* help;
};

constexpr int64_t kYearOfMinutes = int64_t{366} * 24 * 60;

// NOLINTNEXTLINE(cert-err58-cpp,bugprone-throwing-static-initialization): constant data
const std::vector<Key> kKeys = {
    {"instance", Kind::Text, 0, 0, nullptr, nullptr, Option::Serve, "NAME",
     "this instance's name (default: the host name), in its lease owner name and its MQTT status"},
    {"sync_every", Kind::Integer, 0, kYearOfMinutes, nullptr, nullptr, Option::Serve, "MINUTES",
     "minutes between syncs of the controllers this instance holds, the first at start, and of each "
     "site's at its local midnight (0: none)"},
    {"archive_every", Kind::Integer, 0, kYearOfMinutes, nullptr, nullptr, Option::Serve, "MINUTES",
     "minutes between archives of the controllers this instance holds, the first at start (0: none)"},
    {"monitor_every", Kind::Integer, 1, 86400, nullptr, nullptr, Option::Serve, "SECONDS",
     "seconds between rounds that re-arm each controller's monitoring and read its clock"},
    {"max_skew", Kind::Integer, 0, int64_t{86400} * 366, nullptr, nullptr, Option::Serve, "SECONDS",
     "seconds a controller's clock may be off before the service sets it"},
    {"keep_days", Kind::Integer, 0, 36500, nullptr, nullptr, Option::Serve, "DAYS",
     "days records, events and audit entries are kept (0: for ever)"},
    {"time_zone", Kind::Text, 0, 0, nullptr, nullptr, Option::Serve, "ZONE",
     "the IANA time zone (e.g. Europe/Berlin) that `init` gives the site main (default: the host's); each "
     "controller's clock keeps its own site's zone (`doorlinkd site set NAME --zone ZONE`)"},
    {"lossy_all", Kind::Flag, 0, 0, nullptr, nullptr, Option::Serve, nullptr,
     "take every controller as on a network that loses datagrams (as `controller set NAME --lossy` does "
     "for one): resend on a wait that adapts to its replies"},
    {"site", Kind::List, 0, 0, nullptr, nullptr, Option::Serve, "SITE",
     "a site whose controllers this instance drives (repeatable; default: every site)"},
    {"http", Kind::Text, 0, 0, "http", "listen", Option::Serve, "ADDR:PORT",
     "ADDR:PORT of the REST API and web page (port 0: any free)"},
    {"tls_cert", Kind::Text, 0, 0, "http", "tls_cert", Option::Serve, "FILE",
     "PEM certificate (chain): HTTPS, with --tls-key"},
    {"tls_key", Kind::Text, 0, 0, "http", "tls_key", Option::Serve, "FILE", "PEM private key of --tls-cert"},
    {"http_threads", Kind::Integer, 1, 256, "http", "threads", Option::Serve, "N",
     "workers running the HTTP requests' handlers (the database, the controllers)"},
    {"max_connections_per_address", Kind::Integer, 1, 100000, "http", "max_connections_per_address",
     Option::Serve, "N",
     "HTTP connections open at once from one address (trusted proxies aside; default 64)"},
    {"trusted_proxy", Kind::List, 0, 0, "http", "trusted_proxy", Option::Serve, "ADDRESS",
     "a reverse proxy whose X-Forwarded-For names the client (repeatable; none by default)"},
    {"mqtt", Kind::Text, 0, 0, "mqtt", "url", Option::Serve, "URL",
     "the MQTT broker, mqtt://HOST[:PORT] or mqtts://... (user and password from the configuration or the "
     "environment)"},
    {"mqtt_ca", Kind::Text, 0, 0, "mqtt", "ca", Option::Serve, "FILE",
     "PEM certificate(s) the broker's is checked against"},
    {"mqtt_cert", Kind::Text, 0, 0, "mqtt", "cert", Option::Serve, "FILE",
     "PEM client certificate for the broker"},
    {"mqtt_key", Kind::Text, 0, 0, "mqtt", "key", Option::Serve, "FILE", "PEM private key of --mqtt-cert"},
    {"mqtt_commands", Kind::Flag, 0, 0, "mqtt", "commands", Option::Serve, nullptr,
     "act on commands published to doorlink/<controller>/cmd/..."},
    {"mqtt_reply_prefix", Kind::Text, 0, 0, "mqtt", "reply_prefix", Option::Serve, "PREFIX",
     "a topic prefix ending in '/', outside doorlink/, under which a command's MQTT 5 response topic may "
     "lie (otherwise answers go to doorlink/<controller>/reply)"},
    {"mqtt_user", Kind::Text, 0, 0, "mqtt", "user", Option::None, nullptr, nullptr},
    {"mqtt_password", Kind::Text, 0, 0, "mqtt", "password", Option::None, nullptr, nullptr},
    {"db", Kind::Text, 0, 0, nullptr, nullptr, Option::Global, nullptr, nullptr},
    {"data_dir", Kind::Text, 0, 0, nullptr, nullptr, Option::Global, nullptr, nullptr},
    {"parallel", Kind::Integer, 1, 256, nullptr, nullptr, Option::Global, nullptr, nullptr},
    {"lease_seconds", Kind::Integer, 1, 3600, nullptr, nullptr, Option::Global, nullptr, nullptr},
};

std::string dashed(std::string name) {
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

// "sync_every (--sync-every)", as both names are given.
std::string shown(const Key& key) {
    return std::string(key.name) + (key.option != Option::None ? " (--" + dashed(key.name) + ")" : "");
}

const Key* key_named(const std::string& name) {
    for (const Key& key : kKeys) {
        if (name == key.name) return &key;
    }
    return nullptr;
}

const Key* key_in_table(const std::string& table, const std::string& name) {
    for (const Key& key : kKeys) {
        if (key.table && table == key.table && (name == key.inTable || name == key.name)) return &key;
    }
    return nullptr;
}

// The text of a TOML value of the key's kind; Refused for another type.
std::string value_text(const Key& key, const toml::node& node, const std::string& where) {
    switch (key.kind) {
        case Kind::Text:
            if (auto text = node.value_exact<std::string>()) return *text;
            throw Refused(where + ": a string");
        case Kind::Integer:
            if (auto number = node.value_exact<int64_t>()) return std::to_string(*number);
            throw Refused(where + ": an integer");
        case Kind::Flag:
            if (auto flag = node.value_exact<bool>()) return *flag ? "true" : "false";
            throw Refused(where + ": true or false");
        case Kind::List: {
            if (auto text = node.value_exact<std::string>()) return *text;
            const toml::array* array = node.as_array();
            if (!array) throw Refused(where + ": a string or an array of strings");
            std::string texts;
            for (const toml::node& item : *array) {
                auto text = item.value_exact<std::string>();
                if (!text) throw Refused(where + ": a string or an array of strings");
                texts += (texts.empty() ? "" : " ") + *text;
            }
            return texts;
        }
    }
    throw Refused(where + ": not understood");
}

std::optional<int64_t> integer_of(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size()) return std::nullopt;
    for (size_t i = start; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    }
    return std::stoll(text);
}

struct BrokerLogin {
    std::string url;  // without user and password
    std::optional<std::string> user, password;
};

// mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://...
BrokerLogin broker_login(const std::string& text, const std::string& where) {
    const size_t scheme = text.find("://");
    const std::string name = scheme == std::string::npos ? "" : text.substr(0, scheme);
    if (name != "mqtt" && name != "mqtts")
        throw Refused(where + ": mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    std::string rest = text.substr(scheme + 3);
    BrokerLogin out;
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = userInfo.find(':');
        out.user = percent_decoded(userInfo.substr(0, colon));
        if (colon != std::string::npos) out.password = percent_decoded(userInfo.substr(colon + 1));
    }
    if (rest.empty() || rest[0] == ':' || rest[0] == '/')
        throw Refused(where + ": no broker host in the URL");
    out.url = name + "://" + rest;
    return out;
}

// ADDR:PORT, ADDR an IPv4 address, a host name or [IPv6].
void check_listen(const std::string& text, const std::string& where) {
    const size_t colon = text.rfind(':');
    const auto port = colon == std::string::npos ? std::nullopt : integer_of(text.substr(colon + 1));
    if (colon == 0 || !port || *port < 0 || *port > 65535)
        throw Refused(where + ": ADDR:PORT, PORT 0 to 65535");
}

bool is_instance_name(const std::string& name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
    });
}

}  // namespace

ConfigValues read_config_file(const std::string& path) {
    toml::table file;
    try {
        file = toml::parse_file(path);
    } catch (const toml::parse_error& error) {
        const auto line = error.source().begin.line;
        throw Refused(path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                      std::string(error.description()));
    }
    ConfigValues values;
    auto put = [&](const Key& key, const toml::node& node, const std::string& where) {
        if (values.count(key.name)) throw Refused(path + ": " + where + ": " + key.name + " is set twice");
        values[key.name] = value_text(key, node, path + ": " + where);
    };
    for (const auto& [name, node] : file) {
        const std::string top(name.str());
        if (node.is_table() && (top == "http" || top == "mqtt")) {
            for (const auto& [inner, value] : *node.as_table()) {
                const std::string where = top + "." + std::string(inner.str());
                const Key* key = key_in_table(top, std::string(inner.str()));
                // NOLINTNEXTLINE(performance-inefficient-string-concatenation): the message of a refusal
                if (!key) throw Refused(path + ": unknown key " + where);
                put(*key, value, where);
            }
            continue;
        }
        const Key* key = key_named(top);
        // NOLINTNEXTLINE(performance-inefficient-string-concatenation): the message of a refusal
        if (!key) throw Refused(path + ": unknown key " + top);
        put(*key, node, top);
    }
    return values;
}

ConfigValues environment_values(const std::function<const char*(const char*)>& getenv) {
    ConfigValues values;
    for (const auto& [variable, key] :
         {std::pair{"DOORLINKD_MQTT", "mqtt"}, std::pair{"DOORLINKD_MQTT_USER", "mqtt_user"},
          std::pair{"DOORLINKD_MQTT_PASSWORD", "mqtt_password"}, std::pair{"DOORLINKD_SITE", "site"}}) {
        const char* value = getenv(variable);
        if (value && *value) values[key] = value;
    }
    return values;
}

ServeCommandLine::ServeCommandLine(CLI::App& serve) {
    for (const Key& key : kKeys) {
        if (key.option != Option::Serve) continue;
        const std::string name = "--" + dashed(key.name);
        CLI::Option* option = nullptr;
        if (key.kind == Kind::Flag) {
            option = serve.add_flag(name, flags_[key.name], key.help);
        } else if (key.kind == Kind::List) {
            option = serve.add_option(name, lists_[key.name], key.help)->option_text(key.value);
        } else {
            option = serve.add_option(name, texts_[key.name], key.help)->option_text(key.value);
        }
        options_.emplace_back(key.name, option);
    }
}

ConfigValues ServeCommandLine::given() const {
    ConfigValues values;
    for (const auto& [name, option] : options_) {
        if (option->count() == 0) continue;
        auto flag = flags_.find(name);
        auto list = lists_.find(name);
        if (flag != flags_.end()) {
            values[name] = flag->second ? "true" : "false";
        } else if (list != lists_.end()) {
            std::string texts;
            for (const std::string& text : list->second) texts += (texts.empty() ? "" : " ") + text;
            values[name] = texts;
        } else {
            values[name] = texts_.at(name);
        }
    }
    return values;
}

ServeOptions merge_serve_options(const ConfigValues& file, const ConfigValues& environment,
                                 const ConfigValues& commandLine, const std::string& hostName) {
    ConfigValues merged = file;
    for (const ConfigValues* source : {&environment, &commandLine}) {
        for (const auto& [name, value] : *source) merged[name] = value;
    }
    auto text = [&](const char* name, const std::string& otherwise) {
        auto it = merged.find(name);
        return it == merged.end() ? otherwise : it->second;
    };
    auto integer = [&](const char* name, int otherwise) {
        auto it = merged.find(name);
        if (it == merged.end()) return otherwise;
        const Key& key = *key_named(name);
        const auto value = integer_of(it->second);
        if (!value || *value < key.min || *value > key.max) {
            throw Refused(shown(key) + ": an integer from " + std::to_string(key.min) + " to " +
                          std::to_string(key.max));
        }
        return static_cast<int>(*value);
    };

    ServeOptions options;
    options.instance = text("instance", hostName);
    if (!is_instance_name(options.instance)) {
        throw Refused(shown(*key_named("instance")) + ": 1 to 64 letters, digits, '-', '_', '.' (\"" +
                      options.instance + "\")");
    }
    options.dataDir = text("data_dir", "./doorlink-data");
    options.db = text("db", "");
    options.parallel = integer("parallel", options.parallel);
    options.leaseSeconds = integer("lease_seconds", options.leaseSeconds);
    options.syncEvery = integer("sync_every", options.syncEvery);
    options.archiveEvery = integer("archive_every", options.archiveEvery);
    options.monitorEvery = integer("monitor_every", options.monitorEvery);
    options.maxSkew = integer("max_skew", options.maxSkew);
    options.keepDays = integer("keep_days", options.keepDays);
    options.lossyAll = text("lossy_all", "false") == "true";
    options.timeZone = text("time_zone", "");
    if (!options.timeZone.empty()) {
        const std::string problem = zone_problem(options.timeZone);
        if (!problem.empty()) throw Refused(shown(*key_named("time_zone")) + ": " + problem);
    }
    for (const std::string& site : split_words(text("site", ""))) {
        if (!is_controller_name(site)) {
            throw Refused(shown(*key_named("site")) + ": \"" + site +
                          "\" is no site name (1 to 32 letters, digits, '-', '_', '.')");
        }
        options.sites.push_back(site);
    }

    options.http.listen = text("http", options.http.listen);
    check_listen(options.http.listen, shown(*key_named("http")));
    options.http.tlsCert = text("tls_cert", "");
    options.http.tlsKey = text("tls_key", "");
    if (options.http.tlsCert.empty() != options.http.tlsKey.empty()) {
        throw Refused("tls_cert (--tls-cert) and tls_key (--tls-key): both or neither");
    }
    options.http.threads = integer("http_threads", options.http.threads);
    options.http.maxConnectionsPerAddress =
        static_cast<int>(integer("max_connections_per_address", options.http.maxConnectionsPerAddress));
    for (const std::string& proxy : split_words(text("trusted_proxy", ""))) {
        const std::optional<std::string> address = normal_address(proxy);
        if (!address) {
            throw Refused(shown(*key_named("trusted_proxy")) + ": \"" + proxy + "\" is not an IP address");
        }
        options.http.trustedProxies.insert(*address);
    }

    const std::string url = text("mqtt", "");
    if (!url.empty()) {
        const BrokerLogin broker = broker_login(url, shown(*key_named("mqtt")));
        auto given = commandLine.find("mqtt");
        if (given != commandLine.end() && broker_login(given->second, "--mqtt").password) {
            throw Refused(
                "--mqtt: no password on the command line (ps shows it): put it in the configuration "
                "file or in DOORLINKD_MQTT_PASSWORD");
        }
        options.mqtt.url = broker.url;
        options.mqtt.user = broker.user.value_or("");
        options.mqtt.password = broker.password.value_or("");
    }
    options.mqtt.user = text("mqtt_user", options.mqtt.user);
    options.mqtt.password = text("mqtt_password", options.mqtt.password);
    options.mqtt.ca = text("mqtt_ca", "");
    options.mqtt.cert = text("mqtt_cert", "");
    options.mqtt.key = text("mqtt_key", "");
    if (options.mqtt.cert.empty() != options.mqtt.key.empty()) {
        throw Refused("mqtt_cert (--mqtt-cert) and mqtt_key (--mqtt-key): both or neither");
    }
    options.mqtt.commands = text("mqtt_commands", "false") == "true";
    options.mqtt.replyPrefix = text("mqtt_reply_prefix", "");
    if (!options.mqtt.replyPrefix.empty()) {
        const std::string problem = reply_prefix_problem(options.mqtt.replyPrefix);
        if (!problem.empty()) throw Refused(shown(*key_named("mqtt_reply_prefix")) + ": " + problem);
    }
    return options;
}

}  // namespace doorlinkd
