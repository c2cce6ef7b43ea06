#pragma once
// The profile's file system: Windows paths ("C:\users\alice\AppData\Roaming\...") mapped to
// host files through the prefix's drives, with Windows' view of letter case and attributes.
//
// A drive letter X is the prefix's dosdevices/x: entry (a link such as c: -> ../drive_c);
// C: falls back to drive_c when dosdevices is missing. On a Windows disk the profile's folder
// is drive C itself (the folder holding Users or Documents and Settings); other letters are
// the folders the user gave for them, and a path on any other letter is refused with a
// message that says how to give it, never quietly taken as missing. Each existing component is matched
// without regard to letter case (an exact match first, else the first the folder lists);
// missing components keep the case given. "." and ".." are resolved within the path as
// Windows does, and "/" is a separator too.
//
// Hidden and system follow Wine: the user.DOSATTRIB extended attribute ("0x<hex>") decides
// when present; without it a name starting with "." is hidden unless dot files are shown.
#include <sys/types.h>

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile/profile_name_cache.h"
#include "platform/stream/stream.h"

namespace ts {

// Where the next separator of a Windows path lies from `from` on: both "\\" and "/" separate
// there. A plain loop: a restore splits every file's path more than once.
inline size_t findPathSeparator(std::string_view path, size_t from = 0) {
    for (; from < path.size(); ++from)
        if (path[from] == '\\' || path[from] == '/') return from;
    return std::string_view::npos;
}

// Identifies a folder on the host, however it is reached.
struct FolderIdentity {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FolderIdentity&) const = default;
};

struct ProfileEntry {
    std::string name;
    bool isFolder = false;
    bool hidden = false;
    bool system = false;
    uint64_t size = 0;  // 0 for folders
    bool isLink = false;  // reached through a symbolic link
    FolderIdentity identity{};  // folders only
};

// Host folders standing for drive letters other than C of a Windows disk, keyed by the
// lower-case letter.
using DriveFolders = std::map<char, std::string>;

class ProfileFiles {
public:
    enum class Drives { WinePrefix, WindowsDisk };
    explicit ProfileFiles(std::string prefixDir, bool showDotFiles = false, Drives drives = Drives::WinePrefix,
                          DriveFolders otherDrives = {});

    // What the profile's files must lie within: the prefix, or the Windows disk's drive C.
    const std::string& prefixDir() const { return prefixDir_; }
    // The host folder a path's files must lie within: the prefix for a Wine prefix; for a
    // Windows disk the folder of the path's own drive. No value for a path without a drive.
    std::optional<std::string> containingFolder(std::string_view windowsPath) const;

    // The host file a Windows path names; no value for a path without a mapped drive letter.
    std::optional<std::string> hostPath(std::string_view windowsPath) const;

    bool fileExists(std::string_view windowsPath) const;
    bool folderExists(std::string_view windowsPath) const;

    // How much list() finds out about each entry beyond its name.
    enum class Detail {
        All,
        // Sizes and attributes of folders only, and whether an entry is a folder: what a
        // search for files needs, without a system call for each plain file.
        Folders,
    };
    // The entries of a folder whose names match a mask: "C:\folder\*.url". In the order the
    // host lists them; "." and ".." are not listed. A missing folder lists nothing; one that
    // is there but cannot be read lists nothing either, and sets *listError (when given) to
    // the system's reason.
    std::vector<ProfileEntry> list(std::string_view windowsPattern, Detail detail = Detail::All,
                                   std::string* listError = nullptr) const;

    // Throws EFOpenError naming the Windows path, also for a file that really lies outside
    // the prefix folder (a link leads there). Linux has no share modes, so the open Windows
    // makes exclusive is an ordinary read-only open here.
    std::unique_ptr<FileStream> openRead(std::string_view windowsPath) const;
    // The host file a Windows path names, for a file about to be made there: as hostPath,
    // and during a run the name is taken from now on, so a later name that differs only in
    // case resolves to the same file, as it would on Windows. existed, when given, tells
    // whether the folder listed the name already (as the run's cached listing has it).
    std::optional<std::string> hostPathToCreate(std::string_view windowsPath, bool* existed = nullptr) const;

    // Creates or truncates; the folder must exist. Throws EFCreateError naming the path.
    std::unique_ptr<FileStream> create(std::string_view windowsPath) const;
    // Creates every missing folder along the path; throws TsException naming the path.
    void createFolders(std::string_view windowsFolder) const;
    // Deletes a file or an empty folder; false when there was nothing to delete or it failed.
    bool remove(std::string_view windowsPath) const;

    // The folder's identity when it exists and really lies inside the prefix folder. No
    // value for a folder reached through a link that leaves the profile, such as Wine's
    // Documents -> home folder link.
    std::optional<FolderIdentity> folderInsideProfile(std::string_view windowsFolder) const;
    // Where drive C really is, when that lies outside the prefix folder (dosdevices/c: or
    // drive_c is a link that leads out); no value when it is inside or missing.
    std::optional<std::string> driveCOutsidePrefix() const;

    // The name a host folder holds for wanted, without regard to case (see FolderNameCache);
    // for code that walks host folders itself. noteCreated tells the run's cache of a name
    // made in a host folder by such code.
    std::optional<FoundName> existingName(const std::string& hostFolder, std::string_view wanted) const;
    void noteCreated(const std::string& hostFolder, std::string_view name, bool isFolder) const;

    // While a run lives, folder listings, drive roots and real paths are read once
    // (ProfileRunScope in profile.h calls these).
    void beginRunCache() const { names_.begin(); }
    void endRunCache() const { names_.end(); }

    // Wine's reading of one host file's attributes; exposed for the tests of other layers.
    static void readDosAttributes(const std::string& hostPath, std::string_view name, bool showDotFiles,
                                  bool& hidden, bool& system);

private:
    struct Resolved {
        std::string host;
        std::string containingFolder;  // see containingFolder()
        // The last component's entry as its folder lists it; the drive's root is a folder.
        std::optional<EntryKind> kind;
        // The folder holding the last component, and its name there, when that folder exists.
        std::string parent;
        std::string leaf;
    };
    std::optional<Resolved> resolve(std::string_view windowsPath) const;
    std::optional<std::string> driveRoot(char letter) const;
    // driveRoot, which on a Windows disk throws for a letter the user gave no folder for.
    std::optional<std::string> requireDriveRoot(char letter, std::string_view windowsPath) const;
    std::string realPathOnce(const std::string& hostPath) const;

    std::string prefixDir_;
    bool showDotFiles_;
    Drives drives_;
    DriveFolders otherDrives_;
    mutable FolderNameCache names_;
};

}  // namespace ts
