#pragma once
// Putting files and registry values into a profile as one change: until commit() nothing the
// user could see has moved. A file for a folder that exists is written to a temporary file of
// ours beside its target; a folder that does not exist yet is built whole under a temporary
// name of ours, its files under their own names, so a restore into a new tree costs no rename
// per file. Every registry change is only remembered. commit() saves the registry once, then
// renames the temporary files over their targets and the new folders into place.
// Destroying an uncommitted transaction removes its temporary files and folders and the
// folders it made, so the profile is as it was.
//
// Writes stay inside the profile: each special folder is resolved when the transaction is
// made (a registry value replayed later never moves them), must really lie inside the
// profile, and everything below it is opened relative to its folder without following a
// link out of it.
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "platform/stream/stream.h"
#include "platform/profile/background_file_writer.h"
#include "platform/profile/same_file_claims.h"
#include "platform/writeback_ahead.h"

namespace ts {

class Profile;

// A target this transaction will not write: it lies outside the profile or is reached
// through a link that leads out of it. The run reports it like a refused file name.
class ETargetRefused : public TsException {
public:
    using TsException::TsException;
};

class ProfileTransaction {
public:
    enum class Mode {
        // A run's restore: nothing is put in place before commit().
        Deferred,
        // Each file replaces its target as soon as it is complete and registry changes go
        // straight into the hive (a single item read outside a run).
        Immediate,
    };

    // runStart: leftovers of our own pattern older than this are removed where the
    // transaction writes.
    ProfileTransaction(const Profile& profile, Mode mode, std::time_t runStart = std::time(nullptr));
    ~ProfileTransaction();
    ProfileTransaction(const ProfileTransaction&) = delete;
    ProfileTransaction& operator=(const ProfileTransaction&) = delete;

    Mode mode() const { return mode_; }

    // Writes exactly `size` bytes read from data to the file `tail` ("\a\b.txt") below the
    // special folder csidl. Raises ETargetRefused (nothing written, data not read) for a
    // target outside the profile, EFCreateError naming windowsName when the file cannot be
    // made, and whatever reading data raises (the temporary file is then removed).
    void writeFile(int csidl, std::string_view tail, const std::string& windowsName, Stream& data, int64_t size);

    void createKey(const std::string& keyPath);
    void setValue(const std::string& keyPath, const RegValue& value);

    // Saves the registry changes, then renames every temporary file over its target. Runs to
    // its end once begun; raises the first failure after trying every file.
    void commit();

    size_t pendingFiles() const { return pending_.size(); }

    // Which saved name took each file of this change first.
    SameFileClaims& sameFileClaims() { return claims_; }

private:
    struct Root;
    struct Pending {
        Root* root;
        std::string relFolder;  // below the root, "" for the root itself
        std::string temporaryName;
        std::string name;
    };
    struct RegistryChange {
        std::string keyPath;
        std::optional<RegValue> value;  // none: create the key only
    };

    // Where a file goes: its special folder's root, the folder below it (made where missing,
    // opened beneath the prefix) and its name there.
    struct Target {
        Root* root;
        std::string relFolder;
        std::string name;
        int dir;            // the folder, owned by the root's cache
        bool listed;        // the folder's listing holds the name: a file may be there
        bool inNewFolder;   // in a folder this change built aside
    };
    struct Placement {
        enum Kind {
            NewInNewFolder,  // written under its own name at once; the folder's rename puts it in place
            NewBeside,       // written under a temporary name beside where it goes, renamed at commit
            Replace,         // the same, over the file that is there, forced to disk first
        } kind;
        unsigned mode;       // the permission bits the file ends with
    };
    Target resolve(int csidl, std::string_view tail, const std::string& windowsName);
    Placement placementOf(const Target& target, const std::string& windowsName);
    // Refuses a file the root's file system has no room for, before a byte of it is written.
    void checkRoom(Root& root, int dir, int64_t size, const std::string& windowsName);
    // A small new file in a new folder, handed to the background writer.
    void queueSmallFile(const Target& target, unsigned mode, Stream& data, int64_t size, const std::string& windowsName);
    // Writes the file under the name it waits under; returns that name.
    std::string writeAside(const Target& target, const Placement& placement, Stream& data, int64_t size,
                           const std::string& windowsName);
    // Puts the file in place now (Immediate) or at commit (Deferred).
    void stage(const Target& target, const std::string& temporaryName);

    Root& rootFor(int csidl);
    void openRoot(Root& root);
    // The folder relFolder below root, made where missing; -1 with errno set on failure.
    int folderFd(Root& root, const std::string& relFolder, bool create);
    // Where relFolder lies on disk below the root until commit: inside a new folder built
    // under its temporary name, or where it is.
    std::string folderOnDisk(const Root& root, const std::string& relFolder) const;
    bool insideNewFolder(const Root& root, const std::string& relFolder) const;
    // Whether a new folder at relFolder may be built under a temporary name: not when another
    // special folder lies in it, which must be reachable before commit.
    bool mayBuildAside(const Root& root, const std::string& relFolder) const;
    // Makes the new folder name in parent under a temporary name; -1 with errno set on failure.
    int makeFolderAside(Root& root, int parent, const std::string& relFolder);
    // Renames every folder built aside into its place; records the first failure.
    void moveNewFoldersIntoPlace(std::exception_ptr& first);
    void removeNewFolders() noexcept;
    void sweep(int folderFd);
    void startWriteback();
    void putInPlace(const Pending& pending);
    void rollback() noexcept;
    int containingFolderFd(const std::string& folder);

    const Profile& profile_;
    Mode mode_;
    std::time_t runStart_;
    unsigned newFileMode_;
    // The folders special folders must lie within (the prefix, or a Windows disk's drives),
    // each taken once: every special folder is opened beneath its own.
    std::map<std::string, int> containingFds_;
    std::map<int, std::unique_ptr<Root>> roots_;
    std::vector<Pending> pending_;
    std::vector<RegistryChange> registry_;
    SameFileClaims claims_;
    std::vector<std::pair<int, std::string>> createdFolders_;  // (folder descriptor, path below it), oldest first
    bool committed_ = false;
    std::unique_ptr<WritebackAhead> writeback_;  // a run's restore only
    // New small files of a run's restore; declared last so it stops before what it uses.
    std::unique_ptr<BackgroundFileWriter> writer_;
};

}  // namespace ts
