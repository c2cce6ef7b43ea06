#pragma once
// The user's special folders, as the Windows shell reports them for a CSIDL value, read from
// the profile's registry as Wine does: the value in
// HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders (expanded when
// it is REG_EXPAND_SZ), else Wine's default. A Windows user folder also has its Shell Folders
// read before the defaults, which are those of its Windows (2000/XP, or Vista and later). The paths are Windows paths of the profile,
// without a trailing backslash. Virtual folders (Control Panel, My Computer, ...) have none.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ts {

class RegistryHive;

namespace csidl {
constexpr int DESKTOP = 0x00, INTERNET = 0x01, PROGRAMS = 0x02, CONTROLS = 0x03, PRINTERS = 0x04,
              PERSONAL = 0x05, FAVORITES = 0x06, STARTUP = 0x07, RECENT = 0x08, SENDTO = 0x09,
              STARTMENU = 0x0B, DESKTOPDIRECTORY = 0x10, DRIVES = 0x11, NETWORK = 0x12, NETHOOD = 0x13,
              FONTS = 0x14, TEMPLATES = 0x15, APPDATA = 0x1A, PRINTHOOD = 0x1B, LOCAL_APPDATA = 0x1C,
              INTERNET_CACHE = 0x20, COOKIES = 0x21, HISTORY = 0x22, PROFILE = 0x28;
}

inline constexpr std::string_view kUserShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
inline constexpr std::string_view kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Where the user's folders are when the registry does not say: Wine's prefix, or a Windows
// user folder on a disk.
struct ShellLayout {
    std::string profileFolder;      // %USERPROFILE% as a Windows path; empty: Wine's C:\users\<user>
    bool windowsXp = false;         // the defaults of Documents and Settings rather than Users
    // Shell Folders holds what Windows last resolved; in a Wine prefix it is only Wine's cache.
    bool readShellFolders = false;
};

class SpecialFolders {
public:
    // Outside a run the hive is read on every lookup, so a change to the shell-folder values
    // shows at once. During a run each folder is read once: the run works with the folders
    // as they were when it first asked, whatever values it replays meanwhile.
    SpecialFolders(const RegistryHive& hive, std::string userName, ShellLayout layout = {});

    // "C:\users\<user>" in a Wine prefix: what %USERPROFILE% expands to.
    std::string profileFolder() const;
    // The folder's Windows path, or no value for a virtual or unknown folder.
    std::optional<std::string> path(int csidl) const;

    // Expands %VARIABLE% references (names without regard to case) the way a Wine process's
    // environment would; unknown references stay as they are.
    std::string expand(std::string_view text) const;

    // Runs may nest; what was read is dropped when the last ends (see ProfileRunScope).
    void beginRunCache() const;
    void endRunCache() const;

private:
    std::string userShellFolder(std::string_view valueName, std::string_view defaultValue,
                                bool expandFolders) const;
    std::string_view defaultOf(int csidl, std::string_view wineDefault) const;
    std::string expand(std::string_view text, bool withFolderVariables) const;

    std::optional<std::string> read(int csidl) const;

    const RegistryHive& hive_;
    std::string userName_;
    ShellLayout layout_;
    mutable std::mutex mutex_;
    mutable int runDepth_ = 0;
    mutable std::map<int, std::optional<std::string>> known_;
};

}  // namespace ts
