// tessaly-cli restore: puts the items of a data file back into the profile.
#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/cli/cli_errors.h"
#include "app/cli/cli_options.h"
#include "app/cli/closing_line.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/data_file_access.h"
#include "app/cli/passwords.h"
#include "app/cli/item_names.h"
#include "app/cli/progress_line.h"
#include "app/cli/refused_names.h"
#include "app/cli/signals.h"
#include "engine/profile_choice.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "engine/restore_run.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli restore DATAFILE [--items LIST] [--quiet] [--profile DIR [--drive D=DIR]...]\n"
    "\n"
    "Restores the items of a data file into the profile, for the profile's user.\n"
    "  --items LIST    restore only these (comma list of addressbook, favorites, ie, oe);\n"
    "                  the other stored items are read and passed over\n"
    "  --profile DIR   the Wine prefix, or Windows user folder on a mounted disk\n"
    "                  (Users/NAME holding NTUSER.DAT), to restore into (default:\n"
    "                  $WINEPREFIX, ~/.wine, or the program's own profile); a folder that\n"
    "                  does not exist yet or is empty becomes a new Wine prefix\n"
    "  --drive D=DIR   the folder of drive D: of that Windows disk, for a path the user's\n"
    "                  registry names there (repeat for more letters); without it such a\n"
    "                  path is refused\n"
    "  --quiet         print nothing on success (otherwise one line: the items, files and\n"
    "                  registry values restored, and the names held back)\n"
    "An encrypted file takes its password from TESSALY_PASSWORD or a prompt; a wrong one\n"
    "exits with 3 before anything is written.\n"
    "A saved file whose stored name would land outside the profile's special folders is\n"
    "refused and not written: each one is named in a warning on standard error, followed by\n"
    "their count; the rest is restored and the exit code stays 0.\n";

}  // namespace

int runRestore(const Arguments& args) {
    ParsedOptions options = parseOptions("restore", args, {{"items", true}, {"quiet", false}}, 1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (auto list = options.value("items")) parseItemList("restore", *list);  // usage errors first
    const std::string file = options.positional()[0];
    Stopwatch stopwatch;
    CliSession session(options, true);
    Profile& profile = session.profile();
    std::optional<OpenedDataFile> opened;
    bool cancelled = false;
    RunTally tally;
    std::vector<std::string> restoredItems;
    size_t heldBack = 0;
    try {
        CliPasswordQuestion question;
        // A wrong password shows here, before anything is written; the file stays open for
        // the restore.
        opened = openDataFile(file, profile, question, 1);
        if (!opened) throw PasswordError("no password was entered");
        const std::vector<std::string> chosen = chosenItems("restore", options, *opened->project, file);

        std::exception_ptr failure;
        std::vector<RefusedFileName> refused;
        {
            ProgressLine progress;
            RestoreRun run(*opened, profile, progress.events(), [&](const TtsBPSourceItem& item) {
                return std::find(chosen.begin(), chosen.end(), item.Caption()) != chosen.end();
            });
            CancelOnSignal cancelOnSignal(run);
            try {
                run.run();
            } catch (...) {
                failure = std::current_exception();
            }
            cancelled = run.cancelled();
            refused = run.refusedNames();
            tally = run.tally();
        }
        restoredItems = chosen;
        heldBack = refused.size();
        // Below the finished progress line, and before a failure's own line.
        warnOfRefusedNames(file, refused, true);
        if (failure) std::rethrow_exception(failure);
    } catch (...) {
        throw describeFailure(file, opened && opened->summary.encrypted);
    }
    if (cancelled) throw CommandFailure(file + ": restore cancelled", kExitCancelled);
    printClosingLine(options.has("quiet"), restoreReport(restoredItems, file, tally, heldBack, stopwatch.seconds()) +
                                               "; into " + profileNamed(profile));
    return kExitSuccess;
}

}  // namespace ts::cli
