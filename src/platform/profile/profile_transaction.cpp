#include "platform/profile/profile_transaction.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <set>

#include "platform/atomic_file.h"
#include "platform/debug_log.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_name_case.h"

namespace ts {

namespace {

// Above this many open folders the cache starts again: a restore into thousands of folders
// must not run out of descriptors.
constexpr size_t kMaxCachedFolders = 256;
constexpr int64_t kCopyBlock = 256 * 1024;

const std::string kOutsideReason = "it is reached through a link that leads out of the profile";

// Opens path below dirFd without letting a link or ".." lead out of it. Kernels without
// openat2 get the same by opening one component at a time without following links.
int openBeneath(int dirFd, const std::string& path) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);

    int current = ::dup(dirFd);
    size_t start = 0;
    while (current >= 0 && start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(start, end - start);
        const int next = component == ".." ? (errno = EXDEV, -1)
                                           : ::openat(current, component.c_str(),
                                                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(current);
        errno = error;
        current = next;
        start = end + 1;
    }
    return current;
}

bool refusedForLink(int error) { return error == EXDEV || error == ELOOP; }

// "a/b/c" -> ("a/b", "c"); "c" -> ("", "c").
std::pair<std::string, std::string> splitLast(const std::string& path) {
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos) return {std::string(), path};
    return {path.substr(0, cut), path.substr(cut + 1)};
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(6, 'x');
    for (char& c : suffix) c = kChars[engine() % (sizeof kChars - 1)];
    return suffix;
}

}  // namespace

struct ProfileTransaction::Root {
    std::optional<std::string> windowsPath;
    bool opened = false;
    int fd = -1;
    std::string hostPath;
    std::string refusal;
    std::map<std::string, int> folders;
    std::set<std::string> swept;  // a folder opened again after the cache was emptied is not read twice
    std::optional<int64_t> room;
    // New folders being built under a temporary name in their parent, which existed: place
    // below the root -> temporary name. Never one inside another.
    std::map<std::string, std::string> aside;
};

ProfileTransaction::ProfileTransaction(const Profile& profile, Mode mode, std::time_t runStart)
    : profile_(profile),
      mode_(mode),
      runStart_(runStart),
      newFileMode_(newFilePermissions()) {
    containingFolderFd(profile.files().prefixDir());
    // Pinned now: what the run writes into the registry must not move where it writes files.
    for (int csidl = 0; csidl < 0x40; ++csidl) {
        auto root = std::make_unique<Root>();
        root->windowsPath = profile_.specialFolders().path(csidl);
        if (root->windowsPath && !root->windowsPath->empty()) roots_[csidl] = std::move(root);
    }
}

ProfileTransaction::~ProfileTransaction() {
    if (!committed_) rollback();
    for (auto& [csidl, root] : roots_) {
        for (auto& [rel, fd] : root->folders) ::close(fd);
        if (root->fd >= 0) ::close(root->fd);
    }
    for (auto& [folder, fd] : containingFds_)
        if (fd >= 0) ::close(fd);
}

int ProfileTransaction::containingFolderFd(const std::string& folder) {
    auto [at, added] = containingFds_.try_emplace(folder, -1);
    if (added) at->second = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return at->second;
}

ProfileTransaction::Root& ProfileTransaction::rootFor(int csidl) {
    auto found = roots_.find(csidl);
    if (found == roots_.end()) throw ETargetRefused("this profile has no such special folder");
    Root& root = *found->second;
    if (!root.opened) {
        root.opened = true;
        openRoot(root);
    }
    if (!root.refusal.empty()) throw ETargetRefused(root.refusal);
    return root;
}

// The special folder itself may be reached through Wine's own links (dosdevices); what
// counts is that it really lies inside the profile. Missing parts are made only below a
// folder that does.
void ProfileTransaction::openRoot(Root& root) {
    const ProfileFiles& files = profile_.files();
    std::string existing = *root.windowsPath;
    std::vector<std::string> missing;
    while (!files.folderExists(existing)) {
        const size_t cut = existing.find_last_of("\\/");
        if (cut == std::string::npos || cut < 2) break;
        missing.push_back(existing.substr(cut + 1));
        existing.erase(cut);
    }
    const auto identity = files.folderInsideProfile(existing.size() == 2 ? existing + "\\" : existing);
    const auto host = files.hostPath(existing);
    const auto containing = files.containingFolder(existing);
    if (!identity || !host || !containing) {
        root.refusal = "its special folder " + *root.windowsPath + " leads out of the profile";
        return;
    }
    // Opened beneath the handle of the prefix (or the drive's folder) taken once: a folder
    // swapped for a link meanwhile cannot lead the writes out.
    // On a Windows disk a drive's root is the containing folder itself: nothing of the
    // special folder may exist yet but its drive.
    const std::string prefix = *containing + "/";
    const int containingFd = containingFolderFd(*containing);
    const bool isContaining = *host == *containing;
    if (containingFd < 0 || (!isContaining && host->compare(0, prefix.size(), prefix) != 0)) {
        root.refusal = "its special folder " + *root.windowsPath + " leads out of the profile";
        return;
    }
    int fd = openBeneath(containingFd, isContaining ? std::string(".") : host->substr(prefix.size()));
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_dev != identity->device || st.st_ino != identity->inode) {
        if (fd >= 0) ::close(fd);
        root.refusal = "its special folder " + *root.windowsPath + " changed while it was opened";
        return;
    }
    std::string hostPath = *host;
    for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
        if (::mkdirat(fd, name->c_str(), 0777) == 0) {
            createdFolders_.emplace_back(AT_FDCWD, hostPath + "/" + *name);
            files.noteCreated(hostPath, *name, true);
        } else if (errno != EEXIST) {
            root.refusal = "its special folder " + *root.windowsPath + " cannot be made: " + systemErrorText(errno);
            ::close(fd);
            return;
        }
        const int next = ::openat(fd, name->c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        if (next < 0) {
            root.refusal = refusedForLink(error) || error == ENOTDIR ? kOutsideReason : systemErrorText(error);
            return;
        }
        fd = next;
        hostPath += "/" + *name;
    }
    root.fd = fd;
    // The lookup's spelling of the folder, so that paths below it compare as prefixes.
    root.hostPath = files.hostPath(*root.windowsPath).value_or(hostPath);
    if (missing.empty()) sweep(fd);
}

int ProfileTransaction::folderFd(Root& root, const std::string& relFolder, bool create) {
    if (relFolder.empty()) return root.fd;
    if (auto cached = root.folders.find(relFolder); cached != root.folders.end()) return cached->second;
    if (root.folders.size() >= kMaxCachedFolders) {
        if (writer_) writer_->waitIdle();  // its queued files name these folders
        for (auto& [rel, fd] : root.folders) ::close(fd);
        root.folders.clear();
    }
    const bool isNew = insideNewFolder(root, relFolder);
    const auto [parentRel, name] = splitLast(relFolder);
    // Below a folder this run is building there is only what the run made: the folder is
    // made without a look first (an existing one shows as EEXIST below).
    int fd = -1;
    errno = ENOENT;
    if (!create || !insideNewFolder(root, parentRel)) fd = openBeneath(root.fd, folderOnDisk(root, relFolder));
    if (fd >= 0) {
        if (!isNew && root.swept.insert(relFolder).second) sweep(fd);
    } else if (errno == ENOENT && create) {
        const int parent = folderFd(root, parentRel, true);
        if (parent < 0) return -1;
        // Asked again: making the parent may have begun a folder built aside.
        const bool parentIsNew = insideNewFolder(root, parentRel);
        if (mode_ == Mode::Deferred && !parentIsNew && mayBuildAside(root, relFolder)) {
            fd = makeFolderAside(root, parent, relFolder);
        } else {
            if (::mkdirat(parent, name.c_str(), 0777) == 0) {
                // Inside a folder built aside it goes with that folder.
                if (!parentIsNew) createdFolders_.emplace_back(root.fd, relFolder);
            } else if (errno != EEXIST) {
                return -1;
            }
            fd = ::openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        // The run's cached listings must know it, or a later name in another case would make
        // a second folder.
        if (fd >= 0)
            profile_.files().noteCreated(parentRel.empty() ? root.hostPath : root.hostPath + "/" + parentRel, name, true);
    }
    if (fd < 0) return -1;
    root.folders.emplace(relFolder, fd);
    return fd;
}

std::string ProfileTransaction::folderOnDisk(const Root& root, const std::string& relFolder) const {
    if (root.aside.empty()) return relFolder;
    for (size_t end = relFolder.find('/');; end = relFolder.find('/', end + 1)) {
        const std::string place = relFolder.substr(0, end);
        if (auto found = root.aside.find(place); found != root.aside.end()) {
            const size_t cut = place.rfind('/');
            std::string onDisk = cut == std::string::npos ? found->second : place.substr(0, cut + 1) + found->second;
            if (end != std::string::npos) onDisk += relFolder.substr(end);
            return onDisk;
        }
        if (end == std::string::npos) return relFolder;
    }
}

bool ProfileTransaction::insideNewFolder(const Root& root, const std::string& relFolder) const {
    return !root.aside.empty() && !relFolder.empty() && folderOnDisk(root, relFolder) != relFolder;
}

bool ProfileTransaction::mayBuildAside(const Root& root, const std::string& relFolder) const {
    std::string windowsFolder = *root.windowsPath + "\\" + relFolder;
    std::replace(windowsFolder.begin(), windowsFolder.end(), '/', '\\');
    const std::string folded = caseFoldedKey(windowsFolder + "\\");
    for (const auto& [csidl, other] : roots_) {
        if (!other->windowsPath) continue;
        const std::string otherFolded = caseFoldedKey(*other->windowsPath + "\\");
        if (otherFolded.starts_with(folded)) return false;
    }
    return true;
}

int ProfileTransaction::makeFolderAside(Root& root, int parent, const std::string& relFolder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = std::string(kTemporaryPrefix) + randomSuffix();
        if (::mkdirat(parent, temporary.c_str(), 0777) != 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        root.aside.emplace(relFolder, temporary);
        return ::openat(parent, temporary.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    errno = EEXIST;
    return -1;
}

void ProfileTransaction::moveNewFoldersIntoPlace(std::exception_ptr& first) {
    for (auto& [csidl, root] : roots_) {
        for (const auto& [relFolder, temporary] : root->aside) {
            const auto [parentRel, name] = splitLast(relFolder);
            const int parent = folderFd(*root, parentRel, false);
            // A folder that appeared meanwhile under the name is not merged into.
            if (parent >= 0 && ::renameat2(parent, temporary.c_str(), parent, name.c_str(), RENAME_NOREPLACE) == 0)
                continue;
            const int error = errno;
            if (parent >= 0) removeFolderTree(parent, temporary);
            if (!first) {
                try {
                    std::string shown = *root->windowsPath + "\\" + relFolder;
                    std::replace(shown.begin(), shown.end(), '/', '\\');
                    throw TsException("Cannot create folder \"" + shown + "\". " + systemErrorText(error));
                } catch (...) {
                    first = std::current_exception();
                }
            }
        }
        root->aside.clear();
    }
}

void ProfileTransaction::removeNewFolders() noexcept {
    for (auto& [csidl, root] : roots_) {
        for (const auto& [relFolder, temporary] : root->aside) {
            const int parent = folderFd(*root, splitLast(relFolder).first, false);
            if (parent < 0 || !removeFolderTree(parent, temporary))
                debugLog("Restore: the temporary folder \"" + temporary + "\" could not be removed");
        }
        root->aside.clear();
    }
}

// Started with the first file: a new profile's folder is made only once the data proved good.
void ProfileTransaction::startWriteback() {
    if (!writeback_) writeback_ = std::make_unique<WritebackAhead>(profile_.files().prefixDir());
}

void ProfileTransaction::sweep(int folderFd) {
    sweepLeftovers(folderFd, runStart_);
}

ProfileTransaction::Target ProfileTransaction::resolve(int csidl, std::string_view tail, const std::string& windowsName) {
    Root& root = rootFor(csidl);
    const ProfileFiles& files = profile_.files();
    // Taken now, so a later stored name in another case lands on the same file.
    bool listed = true;
    const auto host = files.hostPathToCreate(*root.windowsPath + std::string(tail), &listed);
    if (!host || host->size() <= root.hostPath.size() + 1 || host->compare(0, root.hostPath.size(), root.hostPath) != 0 ||
        (*host)[root.hostPath.size()] != '/')
        throw ETargetRefused("it does not lie below its special folder");
    const auto [relFolder, name] = splitLast(host->substr(root.hostPath.size() + 1));
    const int dir = folderFd(root, relFolder, true);
    if (dir < 0) {
        if (refusedForLink(errno)) throw ETargetRefused(kOutsideReason);
        throw EFCreateError(windowsName, systemErrorText(errno));
    }
    // Its folder may be new: the name is taken only now.
    files.noteCreated(relFolder.empty() ? root.hostPath : root.hostPath + "/" + relFolder, name, false);
    return Target{&root, relFolder, name, dir, listed, insideNewFolder(root, relFolder)};
}

ProfileTransaction::Placement ProfileTransaction::placementOf(const Target& target, const std::string& windowsName) {
    // A name its folder's listing lacks needs no look: a restore makes thousands of new files.
    // In a new folder a listed name is one this run made, perhaps still queued: the same
    // file written twice (a favorite the project listed and the profile holds) replaces it.
    if (target.listed && writer_ && target.inNewFolder) writer_->waitIdle();
    struct stat present {};
    const bool exists = target.listed && ::fstatat(target.dir, target.name.c_str(), &present, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(present.st_mode)) throw EFCreateError(windowsName, "A folder of that name exists.");
    if (!exists && target.inNewFolder) return {Placement::NewInNewFolder, newFileMode_};
    // A replaced file keeps its permissions (a private mail store stays private).
    if (exists && S_ISREG(present.st_mode)) return {Placement::Replace, present.st_mode & 07777};
    return {Placement::NewBeside, newFileMode_};
}

void ProfileTransaction::checkRoom(Root& root, int dir, int64_t size, const std::string& windowsName) {
    if (!root.room || *root.room < size) {
        struct statvfs vfs {};
        if (::fstatvfs(dir, &vfs) == 0) root.room = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    }
    if (root.room && *root.room < size)
        throw EFCreateError(windowsName, "Not enough disk space: it needs " + std::to_string(size) + " bytes, " +
                                             std::to_string(*root.room) + " are free. Nothing was restored.");
}

void ProfileTransaction::queueSmallFile(const Target& target, unsigned mode, Stream& data, int64_t size,
                                        const std::string& windowsName) {
    std::vector<uint8_t> contents(static_cast<size_t>(size));
    data.readExact(contents.data(), size);
    if (!writer_) {
        startWriteback();
        writer_ = std::make_unique<BackgroundFileWriter>([this](int64_t bytes) { writeback_->written(bytes); });
    }
    writer_->write(target.dir, target.name, mode, std::move(contents), windowsName);
}

std::string ProfileTransaction::writeAside(const Target& target, const Placement& placement, Stream& data, int64_t size,
                                           const std::string& windowsName) {
    const unsigned mode = placement.mode;
    // In a folder built aside a new file takes its own name at once: the folder's rename
    // puts it in place with the rest.
    const bool direct = placement.kind == Placement::NewInNewFolder;
    std::string written = direct ? target.name : std::string();
    int fd = direct ? ::openat(target.dir, written.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode) : -1;
    if (direct && fd < 0) throw EFCreateError(windowsName, systemErrorText(errno));
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        written = std::string(kTemporaryPrefix) + randomSuffix();
        fd = ::openat(target.dir, written.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) throw EFCreateError(windowsName, systemErrorText(errno));
    }
    if (fd < 0) throw EFCreateError(windowsName, "No free temporary name beside it.");
    try {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(size, 1), kCopyBlock)));
        for (int64_t left = size; left > 0;) {
            const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
            const int64_t got = data.read(buffer.data(), want);
            if (got <= 0) throw EReadError();
            writeWhole(fd, buffer.data(), got, windowsName);
            left -= got;
        }
        // The old contents must never give way to unwritten new ones.
        if (placement.kind == Placement::Replace && ::fsync(fd) != 0) throw EFCreateError(windowsName, systemErrorText(errno));
        if (!direct && ::fchmod(fd, mode) != 0) throw EFCreateError(windowsName, systemErrorText(errno));
        if (::close(fd) != 0) {
            fd = -1;
            throw EFCreateError(windowsName, systemErrorText(errno));
        }
        fd = -1;
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlinkat(target.dir, written.c_str(), 0);
        throw;
    }
    return written;
}

void ProfileTransaction::stage(const Target& target, const std::string& temporaryName) {
    Pending pending{target.root, target.relFolder, temporaryName, target.name};
    if (mode_ == Mode::Deferred) {
        pending_.push_back(std::move(pending));
        return;
    }
    try {
        putInPlace(pending);
    } catch (...) {
        ::unlinkat(target.dir, temporaryName.c_str(), 0);
        throw;
    }
}

void ProfileTransaction::writeFile(int csidl, std::string_view tail, const std::string& windowsName, Stream& data,
                                   int64_t size) {
    if (size < 0) throw EReadError();
    if (writer_) writer_->rethrowFailure();
    const Target target = resolve(csidl, tail, windowsName);
    const Placement placement = placementOf(target, windowsName);
    checkRoom(*target.root, target.dir, size, windowsName);
    if (placement.kind == Placement::NewInNewFolder && size <= BackgroundFileWriter::kMaxFileSize) {
        queueSmallFile(target, placement.mode, data, size, windowsName);
    } else {
        const std::string written = writeAside(target, placement, data, size, windowsName);
        if (mode_ == Mode::Deferred) {
            startWriteback();
            writeback_->written(size);
        }
        if (placement.kind != Placement::NewInNewFolder) stage(target, written);
    }
    if (target.root->room) *target.root->room -= size;
}

void ProfileTransaction::createKey(const std::string& keyPath) {
    if (mode_ == Mode::Immediate)
        profile_.hive().createKey(keyPath);
    else
        registry_.push_back({keyPath, std::nullopt});
}

void ProfileTransaction::setValue(const std::string& keyPath, const RegValue& value) {
    if (mode_ == Mode::Immediate)
        profile_.hive().setValue(keyPath, value);
    else
        registry_.push_back({keyPath, value});
}

void ProfileTransaction::putInPlace(const Pending& pending) {
    const int dir = folderFd(*pending.root, pending.relFolder, false);
    const std::string shown = *pending.root->windowsPath + "\\" + pending.relFolder + "\\" + pending.name;
    if (dir < 0) throw EFCreateError(shown, systemErrorText(errno));
    if (::renameat(dir, pending.temporaryName.c_str(), dir, pending.name.c_str()) != 0)
        throw EFCreateError(shown, systemErrorText(errno));
}

void ProfileTransaction::commit() {
    if (committed_) return;
    if (writer_) {
        writer_->waitIdle();
        writer_->rethrowFailure();
    }
    // The registry first: its save is what may still be refused (Wine started meanwhile),
    // and until then every file keeps its old contents.
    if (!registry_.empty()) {
        RegistryHive& hive = profile_.hive();
        for (const RegistryChange& change : registry_) {
            if (change.value)
                hive.setValue(change.keyPath, *change.value);
            else
                hive.createKey(change.keyPath);
        }
        hive.save();
        registry_.clear();
    }
    committed_ = true;
    std::exception_ptr first;
    for (const Pending& pending : pending_) {
        try {
            putInPlace(pending);
        } catch (...) {
            const int dir = folderFd(*pending.root, pending.relFolder, false);
            if (dir >= 0) ::unlinkat(dir, pending.temporaryName.c_str(), 0);
            if (!first) first = std::current_exception();
        }
    }
    pending_.clear();
    moveNewFoldersIntoPlace(first);
    if (first) std::rethrow_exception(first);
}

void ProfileTransaction::rollback() noexcept {
    if (writer_) writer_->discard();
    for (const Pending& pending : pending_) {
        const int dir = folderFd(*pending.root, pending.relFolder, false);
        if (dir < 0 || ::unlinkat(dir, pending.temporaryName.c_str(), 0) != 0)
            debugLog("Restore: the temporary file \"" + pending.temporaryName + "\" could not be removed");
    }
    pending_.clear();
    registry_.clear();
    removeNewFolders();
    for (auto& [csidl, root] : roots_) {
        for (auto& [rel, fd] : root->folders) ::close(fd);
        root->folders.clear();
    }
    // Newest first, so each is empty when its turn comes; one that is not stays.
    for (auto created = createdFolders_.rbegin(); created != createdFolders_.rend(); ++created)
        ::unlinkat(created->first, created->second.c_str(), AT_REMOVEDIR);
    createdFolders_.clear();
}

}  // namespace ts
