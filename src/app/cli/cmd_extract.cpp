// tessaly-cli extract: writes the saved files and registry values of a data file into a
// plain folder, for use without Wine.
#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/cli/cli_errors.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/closing_line.h"
#include "app/cli/commands.h"
#include "app/cli/data_file_access.h"
#include "app/cli/item_names.h"
#include "app/cli/passwords.h"
#include "app/cli/progress_line.h"
#include "app/cli/refused_names.h"
#include "app/cli/signals.h"
#include "engine/extract_run.h"
#include "engine/flows.h"
#include "platform/atomic_file.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli extract DATAFILE DIR [--items LIST] [--force] [--quiet] [--profile DIR]\n"
    "\n"
    "Writes the saved files of a data file into DIR, each special folder's files below a\n"
    "folder of its own (AppData, Local AppData, Favorites, Documents, ...), and each item's\n"
    "registry keys into \"DIR/ITEM.reg\", a file regedit imports. Nothing is written into a\n"
    "Wine prefix. DIR is created when missing.\n"
    "  --items LIST    extract only these (comma list of addressbook, favorites, ie, oe)\n"
    "  --force         replace files that are in DIR already; without it the extract\n"
    "                  stops at the first one, leaving it as it was\n"
    "  --quiet         print nothing on success (otherwise one line: the items, files and\n"
    "                  registry values extracted, and the names held back)\n"
    "  --profile DIR   the Wine prefix whose special folders decide which saved names are\n"
    "                  written, as for a restore into it\n"
    "An encrypted file takes its password from TESSALY_PASSWORD or a prompt; a wrong one\n"
    "exits with 3 before anything is written.\n"
    "A saved file whose stored name would land outside the special folders is refused and\n"
    "not written: each one is named in a warning on standard error, followed by their count;\n"
    "the rest is extracted and the exit code stays 0.\n";

std::string closingLineOf(const ExtractRun& run, const std::string& file, const std::string& folder,
                          const Stopwatch& stopwatch) {
    const ExtractTally& tally = run.extracted();
    std::string line = "Extracted " + itemsText(run.items()) + " from " + file + " into " + folder + ": " +
                       countText(tally.files, "file", "files") + " (" + sizeText(tally.fileBytes) + "), " +
                       countText(tally.values, "registry value", "registry values") + " in " +
                       countText(tally.regFiles, ".reg file", ".reg files");
    if (tally.keptValues > 0)
        line += ", " + countText(tally.keptValues, "value", "values") + " stored by size only and not exported";
    if (!run.refusedNames().empty())
        line += ", " + countText(static_cast<int64_t>(run.refusedNames().size()), "name", "names") + " held back";
    return line + ", " + stopwatch.elapsedText();
}

}  // namespace

int runExtract(const Arguments& args) {
    ParsedOptions options =
        parseOptions("extract", args, {{"items", true}, {"force", false}, {"quiet", false}}, 2);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (auto list = options.value("items")) parseItemList("extract", *list);  // usage errors first
    const std::string file = options.positional()[0];
    const std::string folder = options.positional()[1];
    if (folder.empty()) throw UsageError("extract", "the folder name is empty");
    Stopwatch stopwatch;
    CliSession session(options, false);
    Profile& profile = session.profile();
    std::optional<OpenedDataFile> opened;
    bool cancelled = false;
    std::string closingLine;
    try {
        CliPasswordQuestion question;
        // A wrong password shows here, before DIR is even made.
        opened = openDataFile(file, profile, question, 1);
        if (!opened) throw PasswordError("no password was entered");
        const std::vector<std::string> chosen = chosenItems("extract", options, *opened->project, file);

        std::exception_ptr failure;
        std::vector<RefusedFileName> refused;
        {
            ProgressLine progress;
            ExtractRun run(*opened, profile, folder, options.has("force"), progress.events(),
                           [&](const TtsBPSourceItem& item) {
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
            closingLine = closingLineOf(run, file, folder, stopwatch);
        }
        warnOfRefusedNames(file, refused, true);
        if (failure) std::rethrow_exception(failure);
    } catch (const EFileExists& exists) {
        throw CommandFailure(std::string(exists.what()) + " Nothing was replaced; --force replaces it.", kExitFailure);
    } catch (...) {
        throw describeFailure(file, opened && opened->summary.encrypted);
    }
    if (cancelled) throw CommandFailure(file + ": extract cancelled", kExitCancelled);
    printClosingLine(options.has("quiet"), closingLine);
    return kExitSuccess;
}

}  // namespace ts::cli
