#include "app/cli/cli_session.h"

#include <ctime>

#include "engine/profile_choice.h"
#include "platform/debug_log.h"

namespace ts::cli {

CliSession::CliSession(const ParsedOptions& options, bool createWhenFresh)
    : profile_(chooseProfile(options.value("profile"), createWhenFresh, parseDriveFolders(options.values("drive")))) {
    DebugLog::instance().start(profile_->debugLogHostPath(), std::time(nullptr), profile_->folder());
}

CliSession::~CliSession() {
    DebugLog::instance().finish();
}

}  // namespace ts::cli
