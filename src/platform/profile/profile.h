#pragma once
// The Windows user the program works on: HKEY_CURRENT_USER, the special folders and the
// files below them, all kept in one profile folder laid out as a Wine prefix (user.reg,
// drive_c, dosdevices). Paths handed to the profile are Windows paths of that user; host
// paths only come out of it where a host file must be named (the debug log's file).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/profile/profile_files.h"
#include "platform/profile/special_folders.h"

namespace ts {

class RegistryHive;

// Reads one environment variable; no value when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;
EnvironmentLookup processEnvironment();

struct ProfileLocation {
    std::string folder;
    bool ownDefault = false;  // the program's own profile, created on first use
};

// The profile Wine would use for this login: $WINEPREFIX when set; else ~/.wine when it
// holds a user.reg; else the program's own profile, $XDG_DATA_HOME/tessaly/profile
// (~/.local/share/tessaly/profile when XDG_DATA_HOME is unset or not absolute).
ProfileLocation chooseProfileFolder(const EnvironmentLookup& env);

// The user name Wine takes for %USERPROFILE%: $USER, else the login's name.
std::string defaultUserName(const EnvironmentLookup& env);

// Makes folder a minimal prefix where parts are missing: a user.reg Wine accepts, drive_c,
// and dosdevices/c: linked to it. Existing parts are left alone. Throws TsException.
void createProfileLayout(const std::string& folder);

class Profile {
public:
    // The profile kept in folder; its user.reg is HKEY_CURRENT_USER. An empty user name
    // means defaultUserName(). Throws TsException when the folder holds no user.reg or Wine
    // would reject the file.
    static std::unique_ptr<Profile> open(const std::string& folder, std::string userName = {});
    // The profile chosen by chooseProfileFolder(), the program's own created on first use.
    static std::unique_ptr<Profile> openChosen(const EnvironmentLookup& env = processEnvironment());

    // A profile over any hive, e.g. an in-memory one for tests; folder holds drive_c.
    Profile(std::string folder, std::unique_ptr<RegistryHive> hive, std::string userName);
    ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    const std::string& folder() const { return folder_; }
    const std::string& userName() const { return userName_; }
    RegistryHive& hive() const { return *hive_; }
    const SpecialFolders& specialFolders() const { return specialFolders_; }
    const ProfileFiles& files() const { return files_; }

    // The host file behind c:\ts_debug.log.
    std::string debugLogHostPath() const;
    // Forces everything written into the profile's file system to disk; false when the
    // system could not.
    bool syncToDisk() const;

private:
    std::string folder_;
    std::unique_ptr<RegistryHive> hive_;
    std::string userName_;
    SpecialFolders specialFolders_;
    ProfileFiles files_;
};

// One run's view of a profile: while it lives, each special folder is looked up once and
// each folder's names are listed once, so resolving a file's letter case costs no system
// call per file (see FolderNameCache). The run owns it for its whole length; what the run
// itself creates through the profile is added as it goes.
class ProfileRunScope {
public:
    explicit ProfileRunScope(const Profile& profile);
    ~ProfileRunScope();
    ProfileRunScope(const ProfileRunScope&) = delete;
    ProfileRunScope& operator=(const ProfileRunScope&) = delete;

private:
    const Profile& profile_;
};

}  // namespace ts
