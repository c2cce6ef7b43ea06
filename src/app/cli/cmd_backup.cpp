// tessaly-cli backup: runs the backup of a project file.
#include <cstdio>
#include <memory>

#include "app/cli/cli_errors.h"
#include "app/cli/cli_options.h"
#include "app/cli/closing_line.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/passwords.h"
#include "app/cli/progress_line.h"
#include "app/cli/project_file.h"
#include "app/cli/signals.h"
#include "app/cli/terminal_text.h"
#include "engine/profile_choice.h"
#include "engine/backup_run.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "platform/user_messages.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli backup PROJECT.tsly [--quiet] [--profile DIR [--drive D=DIR]...]\n"
    "\n"
    "Backs up the items of a project file from the profile into the project's data file,\n"
    "in its folder or on its FTP server.\n"
    "An encrypted project takes its password from TESSALY_PASSWORD or a prompt.\n"
    "  --profile DIR   the Wine prefix, or Windows user folder on a mounted disk\n"
    "                  (Users/NAME holding NTUSER.DAT), to back up (default: $WINEPREFIX,\n"
    "                  ~/.wine, or the program's own profile); nothing is written below\n"
    "                  a Windows user folder\n"
    "  --drive D=DIR   the folder of drive D: of that Windows disk, for a path the user's\n"
    "                  registry names there (repeat for more letters); without it such a\n"
    "                  path is refused\n"
    "  --quiet         print nothing on success (otherwise one line: where the data file\n"
    "                  went, the items and files in it, its size before and after\n"
    "                  compression, and the time taken)\n"
    "A file that could not be saved (unreadable, or a name a restore would refuse) is kept\n"
    "as an error record: each one is named in a warning on standard error, followed by\n"
    "their count; the rest is saved and the exit code stays 0.\n";

// The command line prints a message as part of its one error line, after the run has
// ended, instead of interrupting the progress line.
struct RememberedMessage : UserMessages {
    std::string text;
    void ShowMessage(const std::string& message, const std::string&, MessageIcon) override { text = message; }
};

std::string closingLineOf(const BackupRun& run, const Stopwatch& stopwatch) {
    std::string line = backupReport(run, stopwatch.seconds(), "named above");
    if (run.profile()) line += "; from " + profileNamed(*run.profile());
    return line;
}

// Below the finished progress line, and before a failure's own line.
void warnOfFilesNotSaved(const std::string& file, const std::vector<std::string>& warnings, size_t notSaved) {
    if (warnings.empty()) return;
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "tessaly-cli: warning: %s: %s\n", visibleText(file).c_str(), visibleText(warning).c_str());
    const bool one = notSaved == 1;
    if (notSaved > 0)
        std::fprintf(stderr, "tessaly-cli: warning: %s: %zu file%s %s not saved (an error record in %s place)\n",
                     visibleText(file).c_str(), notSaved, one ? "" : "s", one ? "was" : "were", one ? "its" : "their");
    if (warnings.size() > notSaved)
        std::fprintf(stderr, "tessaly-cli: warning: %s: %zu file%s or folder%s not saved as %s (named above)\n",
                     visibleText(file).c_str(), warnings.size() - notSaved, warnings.size() - notSaved == 1 ? "" : "s",
                     warnings.size() - notSaved == 1 ? "" : "s", warnings.size() - notSaved == 1 ? "it was" : "they were");
}

}  // namespace

int runBackup(const Arguments& args) {
    ParsedOptions options = parseOptions("backup", args, {{"quiet", false}}, 1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const std::string file = options.positional()[0];
    Stopwatch stopwatch;
    CliSession session(options, false);
    std::unique_ptr<TtsBackupProject> project;
    // The upload's failure message becomes the start of the one error line.
    RememberedMessage uploadMessage;
    bool cancelled = false;
    std::string closingLine;
    std::vector<std::string> warnings;
    size_t notSaved = 0;
    try {
        project = loadProject(session.profile(), file);
        ProgressLine progress;
        BackupRun run(*project, session.profile(), progress.events(), &uploadMessage);
        CancelOnSignal cancelOnSignal(run);
        try {
            run.run();
        } catch (...) {
            if (run.cancelled()) cancelled = true;
            warnings = run.warnings();
            notSaved = run.filesNotSaved();
            throw;
        }
        warnings = run.warnings();
        notSaved = run.filesNotSaved();
        cancelled = run.cancelled();
        closingLine = closingLineOf(run, stopwatch);
    } catch (...) {
        warnOfFilesNotSaved(file, warnings, notSaved);
        if (cancelled) throw CommandFailure(file + ": backup cancelled", kExitCancelled);
        if (uploadMessage.text.empty()) throw describeFailure(file, project && project->Encrypt());
        throw CommandFailure(file + ": " + uploadMessage.text + " (" + currentErrorText() + ")",
                             describeFailure(file, false).exitCode());
    }
    warnOfFilesNotSaved(file, warnings, notSaved);
    if (cancelled) throw CommandFailure(file + ": backup cancelled", kExitCancelled);
    printClosingLine(options.has("quiet"), closingLine);
    return kExitSuccess;
}

}  // namespace ts::cli
