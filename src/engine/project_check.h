#pragma once
// The one check of a backup project's settings. The backup dialog makes it before it keeps
// what was typed, "tessaly-cli new" before it saves a project file, and a backup run before
// it captures anything, so no front end keeps a project another would refuse, and a project
// that would fail is refused before a single file is read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/failure.h"

namespace ts {

class TtsBackupProject;

// What the check looks at: a project's settings, or what a dialog holds before it becomes
// one (a project refuses texts longer than its fields as they are set).
struct ProjectSettings {
    std::string name;
    bool anyItemSelected = false;
    uint8_t destinationKind = 0;  // TtsBPDestination::kKind...
    std::string localFolder;
    std::string host;
    std::string remoteFolder;
    std::string userName;
    std::string ftpPassword;
    bool encrypt = false;
    std::string password;
};
ProjectSettings settingsOf(const TtsBackupProject& project);

// Who asks. A run lets pass what it handles itself: no item selected (the data file then
// holds its header and the project alone); a destination folder that is set but missing or
// unwritable (creating the data file fails, naming it); FTP settings left blank that the
// server may accept (an empty password, the root folder).
enum class ProjectCheckFor { Keeping, Running };

// Every failure, in the order the backup dialog lists them and in its words, then what only
// the core knows to refuse (a folder that cannot be written, an FTP host that cannot be
// parsed, line breaks the protocol cannot carry). passwordTypedAgain is the dialog's second
// password box, checked against the password when encryption is on; a project file carries
// one password only.
std::vector<Failure> checkProject(const ProjectSettings& settings,
                                  const std::optional<std::string>& passwordTypedAgain = std::nullopt,
                                  ProjectCheckFor purpose = ProjectCheckFor::Keeping);
inline std::vector<Failure> checkProject(const TtsBackupProject& project, ProjectCheckFor purpose = ProjectCheckFor::Keeping) {
    return checkProject(settingsOf(project), std::nullopt, purpose);
}

// The part of checkProject the project file's fields decide: a name that makes a data file's
// name, and texts that fit their fields. Settings that fail it cannot even be kept.
std::vector<Failure> checkProjectStorable(const ProjectSettings& settings);

}  // namespace ts
