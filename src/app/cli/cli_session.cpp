#include "app/cli/cli_session.h"

#include <ctime>
#include <filesystem>

#include "platform/debug_log.h"

namespace ts::cli {

namespace {

bool isFresh(const std::string& folder) {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) return true;
    return std::filesystem::is_directory(folder, ec) && std::filesystem::is_empty(folder, ec);
}

}  // namespace

CliSession::CliSession(const ParsedOptions& options, bool createWhenFresh) {
    if (auto folder = options.value("profile")) {
        if (createWhenFresh && isFresh(*folder)) createProfileLayout(*folder);
        profile_ = Profile::open(*folder);
    } else {
        profile_ = Profile::openChosen();
    }
    DebugLog::instance().start(profile_->debugLogHostPath(), std::time(nullptr));
}

CliSession::~CliSession() {
    DebugLog::instance().finish();
}

}  // namespace ts::cli
