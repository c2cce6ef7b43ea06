// tessaly-cli: the command-line companion of Tessaly, on the same engine.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "app/cli/cli_errors.h"
#include "app/cli/terminal_text.h"
#include "app/common/version.h"
#include "app/cli/commands.h"
#include "app/cli/signals.h"

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  new PROJECT.tsly ...          write a backup project file\n"
    "  backup PROJECT.tsly           run the backup of a project file\n"
    "  ls DATAFILE                   show what a data file holds\n"
    "  check DATAFILE                read a whole data file and report whether it is sound\n"
    "  restore DATAFILE [--items L]  restore a data file into the profile\n"
    "  extract DATAFILE DIR          write the saved files and .reg files into a folder\n"
    "  export [DATAFILE] DIR         write mail, favorites and accounts for other programs\n"
    "  test-ftp PROJECT.tsly         test the FTP settings of a project file\n"
    "\n"
    "  --version                     print the version and the library versions in use\n"
    "\n"
    "Options follow the command; \"tessaly-cli COMMAND --help\" tells more. Every command\n"
    "takes --profile DIR (a Wine prefix or a Windows user folder) and, for a Windows user\n"
    "folder, --drive D=DIR for each other drive letter of its disk.\n"
    "Passwords come from TESSALY_PASSWORD (the archive) and TESSALY_FTP_PASSWORD (new --ftp),\n"
    "or from a prompt. Exit codes: 0 success, 1 failure, 2 usage, 3 wrong or missing\n"
    "archive password, 4 the FTP server refused the user name or password, 130 cancelled.\n";

using Command = int (*)(const ts::cli::Arguments&);

Command commandNamed(const std::string& name) {
    if (name == "new") return ts::cli::runNew;
    if (name == "backup") return ts::cli::runBackup;
    if (name == "ls") return ts::cli::runLs;
    if (name == "check") return ts::cli::runCheck;
    if (name == "restore") return ts::cli::runRestore;
    if (name == "extract") return ts::cli::runExtract;
    if (name == "export") return ts::cli::runExport;
    if (name == "test-ftp") return ts::cli::runTestFtp;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ts::cli;
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string name = argv[1];
    if (name == "--version" || name == "-V") {
        std::fputs(ts::app::versionText("tessaly-cli").c_str(), stdout);
        return kExitSuccess;
    }
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    Command command = commandNamed(name);
    if (!command) {
        std::fprintf(stderr, "tessaly-cli: unknown command \"%s\"\n%s", visibleText(name).c_str(), kUsage);
        return kExitUsage;
    }
    installSignalHandlers();
    try {
        return command(Arguments(argv + 2, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tessaly-cli %s: %s\nTry \"tessaly-cli %s --help\".\n", e.command().c_str(), visibleText(e.what()).c_str(),
                     e.command().c_str());
        return kExitUsage;
    } catch (const CommandFailure& e) {
        std::fprintf(stderr, "tessaly-cli: %s\n", visibleText(e.what()).c_str());
        return e.exitCode();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessaly-cli: %s\n", visibleText(e.what()).c_str());
        return kExitFailure;
    }
}
