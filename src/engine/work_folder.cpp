#include "engine/work_folder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/profile/profile.h"
#include "platform/stream/stream.h"

namespace ts {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    throw TsException("Cannot use the work folder \"" + path + "\". " + reason);
}

void createPrivateFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) refuse(path, systemErrorText(errno));

    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) refuse(path, systemErrorText(errno));
    if (S_ISLNK(st.st_mode)) refuse(path, "It is a symbolic link.");
    if (!S_ISDIR(st.st_mode)) refuse(path, "It is not a folder.");
    if (st.st_uid != ::geteuid()) refuse(path, "It belongs to another user.");
    // Temporary files hold the plain backup; nobody else may look in.
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) refuse(path, systemErrorText(errno));
}

}  // namespace

std::string defaultWorkFolderPath() { return userCacheFolder(); }

WorkFolderLock::WorkFolderLock(std::string path) : path_(std::move(path)) {
    createPrivateFolder(path_);
    fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) refuse(path_, systemErrorText(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK) {
            throw EWorkFolderBusy("Another backup or restore is running (it holds the work folder \"" + path_ +
                                  "\"); try again when it has finished.");
        }
        refuse(path_, systemErrorText(err));
    }
}

// The file exists only while a run holds it. Whoever removes it does so while holding the
// lock, so a holder checks that the name still leads to the file it locked, else it locked
// a file already gone and tries again.
ProfileLock::ProfileLock(const std::string& profileFolder) : path_(profileFolder + "/" + kFileName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            // A folder nobody can write into needs no lock: no restore can change it.
            if (errno == ENOENT || errno == EACCES || errno == EROFS || errno == EPERM) return;
            throw TsException("Cannot lock the profile \"" + profileFolder + "\". " + systemErrorText(errno));
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd_);
            fd_ = -1;
            if (err == EWOULDBLOCK)
                throw EWorkFolderBusy("Another backup or restore is running on the profile \"" + profileFolder +
                                      "\"; try again when it has finished.");
            throw TsException("Cannot lock the profile \"" + profileFolder + "\". " + systemErrorText(err));
        }
        struct stat held {}, named {};
        if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return;
        ::close(fd_);
        fd_ = -1;
    }
    throw TsException("Cannot lock the profile \"" + profileFolder + "\": its lock file keeps changing.");
}

ProfileLock::~ProfileLock() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    ::close(fd_);
}

WorkFolderLock::~WorkFolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

}  // namespace ts
