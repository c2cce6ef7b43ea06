#include "platform/atomic_file.h"

#include <fcntl.h>
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

// Makes the rename itself durable; failing to is not worth failing the save for.
void syncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

// The mask is read without changing it (umask() would, for a moment, for every thread),
// and once: the program never changes it, and a restore makes thousands of files.
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
    std::vector<char> pattern(path_.begin(), path_.end());
    const char suffix[] = ".tmp-XXXXXX";
    pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);  // with its NUL
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw EFCreateError(path_, systemErrorText(errno));
    temporaryPath_ = pattern.data();
    // The temporary file stays writable for its owner (mkostemp makes it 0600) while it is
    // filled: permission bits without the owner's write bit, such as a read-only file's
    // being replaced, are given at commit.
    ::close(fd);
    try {
        stream_ = std::make_unique<FileStream>(temporaryPath_, FileStream::Mode::ReadWrite);
    } catch (const EFOpenError& error) {
        ::unlink(temporaryPath_.c_str());
        // The reason without the temporary file's name: the target is the file the user knows.
        const std::string message = error.what();
        const std::string prefix = "Cannot open file \"" + temporaryPath_ + "\". ";
        throw EFCreateError(path_, message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message);
    } catch (...) {
        ::unlink(temporaryPath_.c_str());
        throw;
    }
}

AtomicFile::~AtomicFile() {
    stream_.reset();
    if (!committed_) ::unlink(temporaryPath_.c_str());
}

void AtomicFile::commit() {
    struct stat existing {};
    const bool sync = durability_ == Durability::SyncAlways || ::lstat(path_.c_str(), &existing) == 0;
    if (sync) {
        try {
            stream_->flush();
        } catch (const EWriteError& error) {
            throw EFCreateError(path_, error.what());
        }
    }
    stream_.reset();
    if (::chmod(temporaryPath_.c_str(), permissions_) != 0) throw EFCreateError(path_, systemErrorText(errno));
    if (existing_ == Existing::Keep) {
        takeFreeName();
    } else if (::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        throw EFCreateError(path_, systemErrorText(errno));
    }
    committed_ = true;
    if (sync) syncFolderOf(path_);
}

}  // namespace ts
