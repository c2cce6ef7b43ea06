#pragma once
// Replacing a host file so that a failure never destroys the previous one: everything is
// written to a temporary file beside it, which is renamed over the target only on commit.
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "platform/stream/stream.h"

namespace ts {

// Every temporary file this program makes starts with this: hidden, never captured, and
// removed by later runs when a killed one left it behind.
inline constexpr std::string_view kTemporaryPrefix = ".tessaly-tmp-";
inline bool isOurTemporaryName(std::string_view name) { return name.starts_with(kTemporaryPrefix); }

// Removes the entries of our temporary pattern in a folder that were last changed before
// olderThan: regular files that no live process holds (a file being written is locked), and
// folders a killed restore was building, with everything in them. Returns how many were
// removed; a folder that cannot be read removes nothing.
int sweepLeftovers(int folderFd, std::time_t olderThan);
int sweepLeftovers(const std::string& folder, std::time_t olderThan);

// Removes the folder name below parentFd and everything in it, never following a link.
// False when something could not be removed (what could is gone).
bool removeFolderTree(int parentFd, const std::string& name);

// Makes folder and the folders missing above it; raises EFCreateError naming it when that
// fails or something that is not a folder has its name. True when folder itself was made.
bool makeFolderPath(const std::string& folder);

// Makes the folders of relativePath ("a/b/file") below folder, one by one and never through a
// link: something else in the way raises EFCreateError naming it. Returns the file's path,
// folder + "/" + relativePath. The folders it made are appended to made (when given), so
// that a caller that gives up can take them away again.
std::string makeFoldersBelow(const std::string& folder, const std::string& relativePath,
                             std::vector<std::string>* made = nullptr);

// Forces everything written to the file system holding folder to disk, at once for many
// files that were not forced one by one; false when the system could not.
bool syncFileSystemOf(const std::string& folder);

// The permission bits any program of the user gives a new file: 0666 less the process's
// file creation mask, as it was when first asked (the program never changes it).
unsigned newFilePermissions();

// The target of an AtomicFile that keeps existing files is there already.
class EFileExists : public EFCreateError {
public:
    explicit EFileExists(const std::string& fileName) : EFCreateError(fileName, "The file exists.") {}
};

class AtomicFile {
public:
    enum class Durability {
        // The new file is forced to disk before it takes the target's place.
        SyncAlways,
        // Only a file that replaces an existing one is forced to disk first, so the old
        // contents can never give way to unwritten ones; a new file is left to the caller,
        // which syncs many of them at once (a restore writes thousands).
        SyncWhenReplacing,
    };

    enum class Existing {
        Replace,
        // An existing file (or anything else by that name) is never replaced: the name is
        // checked when the temporary file is made, and taken at commit only if it is still
        // free, so a file that appears meanwhile is kept too.
        Keep,
    };

    // Creates the temporary file beside `path` (our hidden pattern in the same folder); the given permission bits are the file's
    // from commit on. Raises EFCreateError naming `path` when that is impossible, and
    // EFileExists when `path` exists and existing files are kept.
    explicit AtomicFile(std::string path, unsigned permissions = 0600, Durability durability = Durability::SyncAlways,
                        Existing existing = Existing::Replace);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    Stream& stream() { return *stream_; }
    // For a large file whose writer syncs the file system once at its end: the disk writes it
    // while more is written, and its pages are given back once there, so that end finds it
    // written and memory is not filled with it.
    void writeBehind();
    // Forces the bytes to disk (see Durability) and closes the temporary file, which stays
    // under its temporary name until commit. No more writes after it. Without keepLock the
    // lock that keeps sweeps away goes too, so that many files can wait for one verdict
    // without holding a descriptor each: only for folders no sweep runs in.
    void finishWriting(bool keepLock = true);
    // finishWriting when not done yet, then renames the file over the target. Raises
    // EFCreateError naming the target when that fails (the temporary file is then removed).
    void commit();

    const std::string& path() const { return path_; }
    const std::string& temporaryPath() const { return temporaryPath_; }

private:
    void takeFreeName();
    std::string path_;
    std::string temporaryPath_;
    std::unique_ptr<FileStream> stream_;
    int lockFd_ = -1;  // holds the temporary file locked, so that a sweep leaves it alone
    unsigned permissions_;
    Durability durability_;
    Existing existing_;
    bool synced_ = false;
    bool committed_ = false;
};

}  // namespace ts
