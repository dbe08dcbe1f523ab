// The commands that take the policy to the controllers: plan (what the
// newest revision would change, sent nowhere), apply (a plan, or one made
// now) and person disable (a leaver, shut out at once). apply and disable
// drive controllers: themselves, or through serve while serve holds them.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace doorlinkd {

class ApplyCommandLine {
public:
    // Adds the commands to app; disable goes under person, which must be
    // there already.
    explicit ApplyCommandLine(CLI::App& app);
    ApplyCommandLine(const ApplyCommandLine&) = delete;
    ApplyCommandLine& operator=(const ApplyCommandLine&) = delete;

    const std::vector<CLI::App*>& commands() const { return commands_; }
    bool parsed() const;
    // Whether the command given drives controllers (apply, disable).
    bool drives() const;
    // Runs the command given: the driving ones here when handOver is false
    // (the caller holds the data directory), else through serve.
    Outcome run(Store& store, const DataDir& dataDir, const DriveArgs& drive, bool handOver);

private:
    std::vector<CLI::App*> commands_;
    CLI::App *plan_ = nullptr, *apply_ = nullptr, *disable_ = nullptr;
    std::string site_, controller_, at_, person_;
    std::optional<int64_t> planId_, revision_;
    bool now_ = false;
};

// sync as the command line runs it: itself, or through serve.
Outcome sync_handed_over(Store& store, const DriveArgs& drive);

}  // namespace doorlinkd
