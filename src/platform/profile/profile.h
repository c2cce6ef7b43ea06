#pragma once
// The Windows user the program works on: HKEY_CURRENT_USER, the special folders and the
// files below them, kept either in one profile folder laid out as a Wine prefix (user.reg,
// drive_c, dosdevices) or in a Windows user's folder on a mounted disk (NTUSER.DAT in
// Users\NAME or Documents and Settings\NAME). Paths handed to the profile are Windows paths of
// that user; host paths only come out of it where a host file must be named (the debug log's
// file, the run lock's folder).
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

// The program's folder in the user's cache: $XDG_CACHE_HOME/tessaly, or ~/.cache/tessaly when
// XDG_CACHE_HOME is unset or not absolute.
std::string userCacheFolder(const EnvironmentLookup& env = processEnvironment());

enum class ProfileKind { WinePrefix, WindowsFolder };

// A Windows user's folder on a mounted disk, as Windows names its parts.
struct WindowsUserFolder {
    std::string driveC;          // host folder holding Users or Documents and Settings
    std::string profileFolder;   // %USERPROFILE% as a Windows path: C:\Users\NAME
    std::string userName;        // NAME, as the folder spells it
    std::string hivePath;        // host path of its NTUSER.DAT, as the folder spells it
    bool windowsXp = false;      // Documents and Settings rather than Users
};
// The Windows user folder that folder is, when it is one: it holds NTUSER.DAT and lies in
// Users or Documents and Settings, all names matched without regard to case.
std::optional<WindowsUserFolder> findWindowsUserFolder(const std::string& folder);

// Makes folder a minimal prefix where parts are missing: a user.reg Wine accepts, drive_c,
// and dosdevices/c: linked to it. Existing parts are left alone. Throws TsException.
void createProfileLayout(const std::string& folder);

class Profile {
public:
    // The profile kept in folder: a Wine prefix, whose user.reg is HKEY_CURRENT_USER, or a
    // Windows user folder, whose NTUSER.DAT is (its user name is then the folder's). An empty
    // user name means defaultUserName(). Throws TsException when the folder is neither, or
    // its hive cannot be read. otherDrives are the folders of a Windows disk's drives other
    // than C; a Wine prefix, whose drives are its own, refuses them.
    static std::unique_ptr<Profile> open(const std::string& folder, std::string userName = {},
                                         DriveFolders otherDrives = {});
    // The profile chosen by chooseProfileFolder(), the program's own created on first use.
    static std::unique_ptr<Profile> openChosen(const EnvironmentLookup& env = processEnvironment());

    // A profile over any hive, e.g. an in-memory one for tests; folder holds drive_c.
    Profile(std::string folder, std::unique_ptr<RegistryHive> hive, std::string userName);
    // A Windows user folder (folder) over its hive.
    Profile(std::string folder, std::unique_ptr<RegistryHive> hive, const WindowsUserFolder& windows,
            DriveFolders otherDrives = {});
    ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    const std::string& folder() const { return folder_; }
    ProfileKind kind() const { return kind_; }
    // "Wine prefix" or "Windows user folder", for the front ends to show.
    std::string_view kindName() const;
    const std::string& userName() const { return userName_; }
    RegistryHive& hive() const { return *hive_; }
    const SpecialFolders& specialFolders() const { return specialFolders_; }
    const ProfileFiles& files() const { return files_; }

    // The host file behind c:\ts_debug.log; for a Windows folder, which a backup never
    // writes to, a file in the user's cache folder.
    std::string debugLogHostPath() const;
    // Where a run keeps the lock that lets one run at a time work on this profile: the
    // prefix, or for a Windows folder a folder of its own in the user's cache (made here).
    std::string runLockFolder() const;
    // The profile's files lie on a file system mounted read-only.
    bool readOnlyDisk() const;
    // Forces everything written into the profile's file system to disk; false when the
    // system could not.
    bool syncToDisk() const;

private:
    std::string folder_;
    ProfileKind kind_ = ProfileKind::WinePrefix;
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
