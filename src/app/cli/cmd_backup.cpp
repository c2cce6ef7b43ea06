// tessaly-cli backup: runs the backup of a project file.
#include <cstdio>
#include <memory>

#include "app/cli/cli_errors.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/passwords.h"
#include "app/cli/progress_line.h"
#include "app/cli/project_file.h"
#include "app/cli/signals.h"
#include "engine/ftp_upload.h"
#include "engine/project.h"
#include "platform/exception.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli backup PROJECT.tsly [--profile DIR]\n"
    "\n"
    "Backs up the items of a project file from the profile into the project's data file,\n"
    "in its folder or on its FTP server.\n"
    "An encrypted project takes its password from TESSALY_PASSWORD or a prompt.\n"
    "  --profile DIR   the Wine prefix to back up (default: $WINEPREFIX, ~/.wine, or\n"
    "                  the program's own profile)\n";

// The command line prints a message as part of its one error line, after the run has
// ended, instead of interrupting the progress line.
struct RememberedMessage : UserMessages {
    std::string text;
    void ShowMessage(const std::string& message, const std::string&, MessageIcon) override { text = message; }
};

}  // namespace

int runBackup(const Arguments& args) {
    ParsedOptions options = parseOptions("backup", args, {}, 1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const std::string file = options.positional()[0];
    CliSession session(options, false);
    std::unique_ptr<TtsBackupProject> project;
    // The upload's failure message becomes the start of the one error line.
    RememberedMessage uploadMessage;
    TtsFtpUpload upload(&uploadMessage);
    try {
        project = loadProject(session.profile(), file);
        project->SetUploader(&upload);
        ProgressLine progress;
        progress.attach(*project);
        CancelOnSignal cancelOnSignal(*project);
        project->Backup();
    } catch (...) {
        if (project && project->Cancelled()) throw CommandFailure(file + ": backup cancelled", kExitCancelled);
        if (uploadMessage.text.empty()) throw describeFailure(file, project && project->Encrypt());
        throw CommandFailure(file + ": " + uploadMessage.text + " (" + currentErrorText() + ")",
                             describeFailure(file, false).exitCode());
    }
    if (project->Cancelled()) throw CommandFailure(file + ": backup cancelled", kExitCancelled);
    return kExitSuccess;
}

}  // namespace ts::cli
