#pragma once
// Loading a project file for the commands that run it.
#include <memory>
#include <string>

#include "engine/project.h"
#include "platform/profile/profile.h"

namespace ts::cli {

// The project file through the shared flow, an encrypted one with the password from
// TESSALY_PASSWORD or a prompt (one try). Throws FlowFailure for a file that is not a
// project file or a wrong password, PasswordError when none can be had.
std::unique_ptr<TtsBackupProject> loadProject(Profile& profile, const std::string& file);

}  // namespace ts::cli
