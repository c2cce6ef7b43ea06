// tessaly-cli check: reads a whole data file, writing nothing.
#include <cstdio>
#include <unistd.h>

#include "app/cli/cli_errors.h"
#include "app/cli/terminal_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/data_file_access.h"
#include "app/cli/refused_names.h"
#include "engine/datafile/data_file_contents.h"
#include "engine/project.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli check DATAFILE [--profile DIR]\n"
    "\n"
    "Reads every part of a data file, decrypting where needed, and writes nothing.\n"
    "Exits with 0 only when the whole file is sound: every stored item reads to its end\n"
    "and the compressed data ends whole with a matching checksum. An encrypted file takes\n"
    "its password from TESSALY_PASSWORD or a prompt.\n"
    "A saved file whose stored name would land outside the profile's special folders, and so\n"
    "would be refused by a restore, is named in a warning on standard error, followed by\n"
    "their count; such a file is still sound and the exit code stays 0.\n";

}  // namespace

int runCheck(const Arguments& args) {
    ParsedOptions options = parseOptions("check", args, {}, 1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const std::string file = options.positional()[0];
    CliSession session(options, false);
    DataFileContents contents;
    contents.listFiles = false;  // only counted: a file of millions of records stays small to check
    std::optional<OpenedDataFile> opened;
    try {
        openInspected(file, session.profile(), contents, opened);
    } catch (...) {
        throw describeFailure(file, opened && opened->summary.encrypted);
    }
    warnOfRefusedNames(file, refusedNamesIn(contents), false);
    if (::isatty(STDOUT_FILENO) == 1) {
        size_t files = 0, keys = 0;
        int64_t bytes = 0;
        for (const DataFileItemContents& item : contents.items) {
            files += item.inventory.fileCount();
            keys += item.inventory.keys().size();
            bytes += item.inventory.fileBytes();
        }
        std::printf("%s: sound (%zu registry keys, %zu files, %lld bytes of file data)\n", visibleText(file).c_str(), keys, files,
                    static_cast<long long>(bytes));
    }
    return kExitSuccess;
}

}  // namespace ts::cli
