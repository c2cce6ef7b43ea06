#include "app/cli/project_file.h"

#include "app/cli/cli_errors.h"
#include "app/cli/passwords.h"
#include "engine/flows.h"

namespace ts::cli {

std::unique_ptr<TtsBackupProject> loadProject(Profile& profile, const std::string& file) {
    CliPasswordQuestion question;
    // The question never gives up: without a password it throws PasswordError itself.
    return openProjectFile(file, profile, question, 1);
}

}  // namespace ts::cli
