#pragma once
// Loading a project file for the commands that run it.
#include <memory>
#include <string>

#include "engine/project.h"
#include "platform/profile/profile.h"

namespace ts::cli {

// Loads file; an encrypted project is loaded again with the password from TESSALY_PASSWORD
// or a prompt. Throws CommandFailure for a file that is not a project file.
std::unique_ptr<TtsBackupProject> loadProject(Profile& profile, const std::string& file);

}  // namespace ts::cli
