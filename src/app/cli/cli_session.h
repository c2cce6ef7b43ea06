#pragma once
// What every subcommand that touches a profile shares: the profile chosen by --profile (or
// the one Wine would use), and the debug log, started from the profile's c:\ts_debug.log and
// written back when the command ends.
#include <memory>
#include <string>

#include "app/cli/cli_options.h"
#include "platform/profile/profile.h"

namespace ts::cli {

class CliSession {
public:
    // With createWhenFresh, a --profile folder that does not exist yet or is empty becomes a
    // new profile (a restore into a fresh profile); otherwise it must hold a user.reg.
    CliSession(const ParsedOptions& options, bool createWhenFresh);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    Profile& profile() { return *profile_; }

private:
    std::unique_ptr<Profile> profile_;
};

}  // namespace ts::cli
