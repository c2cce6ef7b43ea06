#include "app/cli/project_file.h"

#include "app/cli/cli_errors.h"
#include "app/cli/passwords.h"
#include "platform/exception.h"
#include "platform/stream/stream.h"

namespace ts::cli {

namespace {

// A file that does not begin with a project record would otherwise load as nothing at all
// and back up an empty "Unnamed" project.
void loadProjectFile(TtsBackupProject& project, const std::string& file) {
    FileStream stream(file, FileStream::Mode::Read);
    if (project.LoadFromStream(stream) <= TtsBackupProject::kRecordSize)
        throw CommandFailure(file + ": not a Tessaly project file", kExitFailure);
}

}  // namespace

// An encrypted project is loaded again into a fresh project with the password: a failed
// load has already taken the item records, and loading them twice would double lists such as
// the favorites'.
std::unique_ptr<TtsBackupProject> loadProject(Profile& profile, const std::string& file) {
    auto project = std::make_unique<TtsBackupProject>(&profile);
    try {
        loadProjectFile(*project, file);
        return project;
    } catch (const EFileEncrypted&) {
    }
    project = std::make_unique<TtsBackupProject>(&profile);
    project->SetPassword(archivePassword(file, false));
    project->SetEncrypt(true);
    loadProjectFile(*project, file);
    return project;
}

}  // namespace ts::cli
