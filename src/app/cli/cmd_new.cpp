// tessaly-cli new: writes a project file.
#include <cstdio>
#include <filesystem>

#include "app/cli/cli_errors.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/item_names.h"
#include "app/cli/passwords.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "engine/project_check.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli new PROJECT.tsly --name NAME --items LIST\n"
    "                      (--folder DIR | --ftp HOST[:PORT] --remote-folder DIR --user USER)\n"
    "                      [--level none|fastest|default|max] [--encrypt] [--profile DIR]\n"
    "\n"
    "Writes a backup project file.\n"
    "  --name NAME          project name; the data file is NAME.tsly_dat\n"
    "  --items LIST         comma list of addressbook, favorites, ie, oe, or all\n"
    "  --folder DIR         put the data file into this local folder\n"
    "  --ftp HOST[:PORT]    upload the data file to this FTP server (port 21 by default;\n"
    "                       ftpes://HOST[:PORT] for TLS, which is then required),\n"
    "  --remote-folder DIR  into this folder on it,\n"
    "  --user USER          logging in as USER; the password comes from\n"
    "                       TESSALY_FTP_PASSWORD or a prompt\n"
    "  --level LEVEL        compression: none, fastest, default (the default) or max\n"
    "  --encrypt            encrypt with a password from TESSALY_PASSWORD or a prompt\n"
    "  --profile DIR        the Wine prefix whose debug log is kept\n";

uint8_t levelOf(const std::string& name) {
    if (name == "none") return 0;
    if (name == "fastest") return 1;
    if (name == "default") return 2;
    if (name == "max") return 3;
    throw UsageError("new", "unknown level \"" + name + "\" (none, fastest, default or max)");
}

void setDestination(TtsBackupProject& project, const ParsedOptions& options) {
    const bool folder = options.has("folder");
    const bool ftp = options.has("ftp");
    if (folder == ftp) throw UsageError("new", "give either --folder or --ftp");
    TtsBPDestination& destination = project.Destination();
    if (folder) {
        if (options.has("remote-folder") || options.has("user"))
            throw UsageError("new", "--remote-folder and --user belong to --ftp");
        // The project may run from anywhere later, so the folder is kept absolute.
        destination.SetKind(TtsBPDestination::kKindLocalFolder);
        destination.SetLocalFolder(std::filesystem::absolute(*options.value("folder")).lexically_normal().string());
        return;
    }
    std::string host = *options.value("ftp");
    std::string user = requiredValue("new", options, "user");
    std::string remoteFolder = requiredValue("new", options, "remote-folder");
    destination.SetKind(TtsBPDestination::kKindFtp);
    destination.SetHost(host);
    destination.SetUserName(user);
    destination.SetRemoteFolder(remoteFolder);
    destination.SetFtpPassword(ftpPassword(user, host));
}

}  // namespace

int runNew(const Arguments& args) {
    ParsedOptions options = parseOptions("new", args,
                                         {{"name", true},
                                          {"items", true},
                                          {"folder", true},
                                          {"ftp", true},
                                          {"remote-folder", true},
                                          {"user", true},
                                          {"level", true},
                                          {"encrypt", false}},
                                         1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const std::string file = options.positional()[0];
    const std::string name = requiredValue("new", options, "name");
    const std::vector<std::string> items = parseItemList("new", requiredValue("new", options, "items"));
    const uint8_t level = levelOf(options.value("level").value_or("default"));

    CliSession session(options, false);
    TtsBackupProject project(&session.profile());
    try {
        project.SetName(name);
        project.SetCompressionLevel(level);
        for (const std::string& caption : items) project.Source().FindItem(caption)->SetSelected(true);
        setDestination(project, options);
        if (options.has("encrypt")) {
            project.SetPassword(archivePassword(file, true));
            project.SetEncrypt(true);
        }
        // The backup dialog's check, whose rules the run shares: every failure at once.
        const std::vector<Failure> problems = checkProject(project);
        if (!problems.empty()) {
            std::string listed;
            for (const Failure& problem : problems) listed += (listed.empty() ? "" : "; ") + problem.text;
            throw UsageError("new", listed);
        }
        project.SaveToFile(file);
    } catch (const UsageError&) {
        throw;
    } catch (...) {
        throw describeFailure(file, false);
    }
    return kExitSuccess;
}

}  // namespace ts::cli
