// Where `doorlinkd serve` takes its options from, the later winning: the
// configuration file (--config, TOML), the environment, the command line.
// Each source is read into texts by key (the file's names: "sync_every",
// "http", "mqtt_user", ...), checked for its own form, then merged and
// checked once into ServeOptions.
//
// The file: every key at its top, the HTTP and MQTT ones also in [http] and
// [mqtt] tables under their short names (listen, threads, url, ca, user,
// ...), and the global ones (db, data_dir, parallel, lease_seconds) too.
// Secrets (the MQTT password) come only from the file or the environment:
// DOORLINKD_MQTT (the broker's URL, which may carry user:password),
// DOORLINKD_MQTT_USER, DOORLINKD_MQTT_PASSWORD. The sites served come also
// from DOORLINKD_SITE (names separated by spaces).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "serve/serve_options.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace doorlinkd {

// Texts by key; flags are "true" or "false".
using ConfigValues = std::map<std::string, std::string>;

// The TOML file's values. Refused, naming the key, for an unknown key, a key
// given twice (at the top and in its table) or a value of the wrong type;
// refused with the line for a file that is no TOML, and when it cannot be read.
ConfigValues read_config_file(const std::string& path);

// The values of DOORLINKD_MQTT, DOORLINKD_MQTT_USER, DOORLINKD_MQTT_PASSWORD
// and DOORLINKD_SITE.
ConfigValues environment_values(const std::function<const char*(const char*)>& getenv);

// The options of serve on its command line (--instance, --sync-every, ...,
// --mqtt-commands); the global ones (--db, --data-dir, --parallel,
// --lease-seconds) are the caller's to add to given() when they were given.
class ServeCommandLine {
public:
    explicit ServeCommandLine(CLI::App& serve);
    ServeCommandLine(const ServeCommandLine&) = delete;
    ServeCommandLine& operator=(const ServeCommandLine&) = delete;
    // The options given, by key.
    ConfigValues given() const;

private:
    std::map<std::string, std::string> texts_;
    std::map<std::string, bool> flags_;
    std::map<std::string, std::vector<std::string>> lists_;
    std::vector<std::pair<std::string, CLI::Option*>> options_;
};

// Merges the sources (command line over environment over file) into
// options, with the defaults of ServeOptions for what none gives (instance:
// hostName; data directory: ./doorlink-data). The MQTT URL loses its
// user:password, which go to user and password unless those are given
// themselves. Refused, naming the option, for a value out of range or of
// the wrong form, a TLS certificate without its key or the other way round,
// and a password in a URL on the command line (ps shows it).
ServeOptions merge_serve_options(const ConfigValues& file, const ConfigValues& environment,
                                 const ConfigValues& commandLine, const std::string& hostName);

}  // namespace doorlinkd
