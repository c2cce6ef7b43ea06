#include "engine/project_check.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "engine/flows.h"
#include "engine/project.h"
#include "platform/ansi_text.h"
#include "transfer/ftp/ftp_endpoint.h"
#include "transfer/ftp/ftp_reply.h"

namespace ts {

namespace {

bool blank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::string_view(" \t\r\n\v\f").find(c) != std::string_view::npos; });
}

// A NUL would end the text early in the project file and on the wire alike.
bool hasLineBreak(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

// The project file keeps each text in a 256-byte field ending in a NUL.
bool tooLong(const std::string& text) { return toAnsi(text).size() > 255; }

void checkLocalFolder(const std::string& folder, ProjectCheckFor purpose, std::vector<Failure>& failures) {
    std::error_code error;
    if (folder.empty())
        failures.push_back({FailureKind::Usage, "Folder not found: ''"});
    else if (purpose == ProjectCheckFor::Running)
        return;
    else if (!std::filesystem::is_directory(folder, error))
        failures.push_back({FailureKind::FileSystem, "Folder not found: '" + folder + "'"});
    else if (::access(folder.c_str(), W_OK | X_OK) != 0)
        failures.push_back({FailureKind::FileSystem, "The destination folder \"" + folder + "\" is not writable"});
}

void checkFtp(const ProjectSettings& settings, ProjectCheckFor purpose, std::vector<Failure>& failures) {
    if (purpose == ProjectCheckFor::Keeping && (blank(settings.host) || blank(settings.remoteFolder) ||
                                                blank(settings.userName) || blank(settings.ftpPassword)))
        failures.push_back({FailureKind::Usage, "FTP Information not enough, please fill all of the FTP information box!"});
    const std::string of = " of the project \"" + settings.name + "\"";
    // Found here, not by the upload after everything was captured.
    if (purpose == ProjectCheckFor::Running || !blank(settings.host)) {
        try {
            parseFtpHost(settings.host);
        } catch (const EFtpError& e) {
            failures.push_back({FailureKind::Usage, "The FTP host" + of + " cannot be used: " + e.what()});
        }
    }
    const std::pair<const char*, const std::string*> texts[] = {{"host", &settings.host},
                                                                {"user name", &settings.userName},
                                                                {"password", &settings.ftpPassword},
                                                                {"remote folder", &settings.remoteFolder}};
    for (const auto& [what, text] : texts)
        if (hasLineBreak(*text))
            failures.push_back({FailureKind::Usage, std::string("The FTP ") + what + of + " must not contain line breaks"});
}

}  // namespace

ProjectSettings settingsOf(const TtsBackupProject& project) {
    const TtsBPDestination& destination = project.Destination();
    const auto& items = project.Source().ItemList();
    return ProjectSettings{
        .name = project.Name(),
        .anyItemSelected =
            std::any_of(items.begin(), items.end(), [](const TtsBPSourceItem* item) { return item->Selected(); }),
        .destinationKind = destination.Kind(),
        .localFolder = destination.LocalFolder(),
        .host = destination.Host(),
        .remoteFolder = destination.RemoteFolder(),
        .userName = destination.UserName(),
        .ftpPassword = destination.FtpPassword(),
        .encrypt = project.Encrypt(),
        .password = project.Password(),
    };
}

std::vector<Failure> checkProject(const ProjectSettings& settings, const std::optional<std::string>& passwordTypedAgain,
                                  ProjectCheckFor purpose) {
    std::vector<Failure> failures;
    if (blank(settings.name)) failures.push_back({FailureKind::Usage, "Project Name must be entered!"});
    if (purpose == ProjectCheckFor::Keeping && !settings.anyItemSelected)
        failures.push_back({FailureKind::Usage, "One backup item must be selected at least!"});
    if (settings.destinationKind == TtsBPDestination::kKindLocalFolder)
        checkLocalFolder(settings.localFolder, purpose, failures);
    if (settings.destinationKind == TtsBPDestination::kKindFtp) checkFtp(settings, purpose, failures);
    if (settings.encrypt && passwordTypedAgain && *passwordTypedAgain != settings.password)
        failures.push_back({FailureKind::Usage, "Password error!"});
    for (Failure& failure : checkProjectStorable(settings)) failures.push_back(std::move(failure));
    return failures;
}

std::vector<Failure> checkProjectStorable(const ProjectSettings& settings) {
    std::vector<Failure> failures;
    const std::string& name = settings.name;
    if (tooLong(name)) {
        failures.push_back({FailureKind::Usage, "Project Name is too long, at most 255 characters!"});
    } else if (!blank(name)) {  // a blank name was reported as missing
        try {
            dataFileNameOf(name);
        } catch (const FlowFailure& e) {
            failures.push_back(e.failure());
        }
    }
    const std::pair<const std::string*, const char*> fields[] = {{&settings.localFolder, "Backup folder"},
                                                                 {&settings.host, "Host"},
                                                                 {&settings.remoteFolder, "Folder"},
                                                                 {&settings.userName, "Username"},
                                                                 {&settings.ftpPassword, "Password"}};
    for (const auto& [text, what] : fields)
        if (tooLong(*text)) failures.push_back({FailureKind::Usage, std::string(what) + " is too long, at most 255 characters!"});
    return failures;
}

}  // namespace ts
