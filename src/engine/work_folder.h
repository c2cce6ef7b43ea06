#pragma once
// The per-user folder that holds a run's temporary files ("Temp.data",
// "Temp.data_compressed"), and the lock that keeps two runs from sharing them.
#include <string>

#include "platform/exception.h"

namespace ts {

// Another run holds the work folder.
class EWorkFolderBusy : public TsException {
public:
    using TsException::TsException;
};

// Holds one profile (a Wine prefix folder) for one backup or restore, whatever its work
// folder or user: an exclusive lock on a file of ours in the prefix, for as long as this
// object lives (the file is removed with it). A second holder fails at once with
// EWorkFolderBusy. A folder that does not exist yet or cannot be written is not locked
// (nothing can be under way in it, or write into it).
class ProfileLock {
public:
    static constexpr const char* kFileName = ".tessaly-lock";

    explicit ProfileLock(const std::string& profileFolder);
    ~ProfileLock();
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

private:
    std::string path_;
    int fd_ = -1;
};

// $XDG_CACHE_HOME/tessaly, or ~/.cache/tessaly when XDG_CACHE_HOME is unset or not absolute.
std::string defaultWorkFolderPath();

// Holds the work folder for one run: creates it (mode 0700, parents as needed), refuses a
// folder that is a symbolic link or belongs to another user, and takes an exclusive lock on
// it that lasts as long as this object. A second holder, in this process or another, fails
// at once with EWorkFolderBusy instead of waiting.
class WorkFolderLock {
public:
    explicit WorkFolderLock(std::string path);
    ~WorkFolderLock();
    WorkFolderLock(const WorkFolderLock&) = delete;
    WorkFolderLock& operator=(const WorkFolderLock&) = delete;

    const std::string& path() const { return path_; }
    // The host path of a file inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace ts
