#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdio.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace ts {

namespace {

constexpr int64_t kWriteBehindEvery = int64_t{8} << 20;

// Makes the rename itself durable; failing to is not worth failing the save for.
void syncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

int sweepLeftovers(int folderFd, std::time_t olderThan) {
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return 0;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return 0;
    }
    int removed = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (!isOurTemporaryName(entry->d_name)) continue;
        struct stat st {};
        if (::fstatat(listFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_mtime >= olderThan) continue;
        // Only a restore makes such folders, and it holds the profile's lock while it does.
        if (S_ISDIR(st.st_mode)) {
            if (removeFolderTree(listFd, entry->d_name)) ++removed;
            continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        const int fd = ::openat(listFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (free && ::unlinkat(listFd, entry->d_name, 0) == 0) ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

bool removeFolderTree(int parentFd, const std::string& name) {
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    bool whole = true;
    while (dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        const bool gone = isFolder ? removeFolderTree(fd, entry->d_name) : ::unlinkat(fd, entry->d_name, 0) == 0;
        whole = whole && gone;
    }
    ::closedir(dir);
    return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 && whole;
}

int sweepLeftovers(const std::string& folder, std::time_t olderThan) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const int removed = sweepLeftovers(fd, olderThan);
    ::close(fd);
    return removed;
}

// The mask is read without changing it (umask() would, for a moment, for every thread),
// and once: the program never changes it, and a restore makes thousands of files.
bool makeFolderPath(const std::string& folder) {
    std::error_code error;
    const bool made = std::filesystem::create_directories(folder, error);
    if (error) throw EFCreateError(folder, error.message());
    if (!std::filesystem::is_directory(folder, error)) throw EFCreateError(folder, "It is not a folder.");
    return made;
}

std::string makeFoldersBelow(const std::string& folder, const std::string& relativePath,
                             std::vector<std::string>* made) {
    std::string path = folder;
    size_t start = 0;
    for (size_t slash = relativePath.find('/'); slash != std::string::npos; slash = relativePath.find('/', start)) {
        path += "/" + relativePath.substr(start, slash - start);
        start = slash + 1;
        if (::mkdir(path.c_str(), 0777) == 0) {
            if (made) made->push_back(path);
            continue;
        }
        const int error = errno;
        struct stat st {};
        if (error == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        throw EFCreateError(path, error == EEXIST ? "Something that is not a folder is in the way."
                                                  : systemErrorText(error));
    }
    return path + "/" + relativePath.substr(start);
}

bool syncFileSystemOf(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::syncfs(fd) == 0;
    ::close(fd);
    return synced;
}

unsigned newFilePermissions() {
    static const unsigned permissions = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0)
                return 0666 & ~static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
        }
        return 0644u;
    }();
    return permissions;
}

// Renames only onto a free name. A file system without the no-replace rename gets a hard
// link, which fails the same way on a taken name, and the temporary name is then dropped.
void AtomicFile::takeFreeName() {
    if (::renameat2(AT_FDCWD, temporaryPath_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) == 0) return;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        if (::link(temporaryPath_.c_str(), path_.c_str()) == 0) {
            ::unlink(temporaryPath_.c_str());
            return;
        }
        error = errno;
    }
    if (error == EEXIST) throw EFileExists(path_);
    throw EFCreateError(path_, systemErrorText(error));
}

AtomicFile::AtomicFile(std::string path, unsigned permissions, Durability durability, Existing existing)
    : path_(std::move(path)), permissions_(permissions), durability_(durability), existing_(existing) {
    struct stat present {};
    if (existing_ == Existing::Keep && ::lstat(path_.c_str(), &present) == 0) throw EFileExists(path_);
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    const std::string patternText = (folder.empty() ? std::string() : folder + "/") + std::string(kTemporaryPrefix) + "XXXXXX";
    std::vector<char> pattern(patternText.begin(), patternText.end());
    pattern.push_back('\0');
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw EFCreateError(path_, systemErrorText(errno));
    temporaryPath_ = pattern.data();
    // The temporary file stays writable for its owner (mkostemp makes it 0600) while it is
    // filled: permission bits without the owner's write bit, such as a read-only file's
    // being replaced, are given at commit.
    ::flock(fd, LOCK_EX | LOCK_NB);
    lockFd_ = fd;
    try {
        stream_ = std::make_unique<FileStream>(temporaryPath_, FileStream::Mode::ReadWrite);
        // A data file of a GiB would otherwise wait at commit for all of it to reach the disk.
        if (durability_ == Durability::SyncAlways) stream_->startWritingBehind(kWriteBehindEvery);
    } catch (const EFOpenError& error) {
        ::unlink(temporaryPath_.c_str());
        ::close(lockFd_);
        // The reason without the temporary file's name: the target is the file the user knows.
        const std::string message = error.what();
        const std::string prefix = "Cannot open file \"" + temporaryPath_ + "\". ";
        throw EFCreateError(path_, message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message);
    } catch (...) {
        ::unlink(temporaryPath_.c_str());
        ::close(lockFd_);
        throw;
    }
}

void AtomicFile::writeBehind() {
    if (stream_) stream_->startWritingBehind(kWriteBehindEvery, true);
}

AtomicFile::~AtomicFile() {
    stream_.reset();
    if (!committed_) ::unlink(temporaryPath_.c_str());
    if (lockFd_ >= 0) ::close(lockFd_);
}

void AtomicFile::finishWriting(bool keepLock) {
    if (!stream_) return;
    struct stat existing {};
    synced_ = durability_ == Durability::SyncAlways || ::lstat(path_.c_str(), &existing) == 0;
    if (synced_) {
        try {
            stream_->flush();
        } catch (const EWriteError& error) {
            throw EFCreateError(path_, error.what());
        }
    }
    stream_.reset();
    if (::chmod(temporaryPath_.c_str(), permissions_) != 0) throw EFCreateError(path_, systemErrorText(errno));
    if (!keepLock && lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

void AtomicFile::commit() {
    finishWriting();
    if (existing_ == Existing::Keep) {
        takeFreeName();
    } else if (::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        throw EFCreateError(path_, systemErrorText(errno));
    }
    committed_ = true;
    if (synced_) syncFolderOf(path_);
}

}  // namespace ts
