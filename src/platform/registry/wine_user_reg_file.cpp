#include "platform/registry/wine_user_reg_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/debug_log.h"
#include "platform/exception.h"

namespace ts::wine_reg {

namespace {

// A save that was killed before it renamed leaves its temporary file; one that no writer
// holds locked any more is ours to remove, unless it was made this very second (a writer
// locks its file the moment it makes it). Earlier versions named it "user.reg.PID.N.tmp"
// beside the file.
bool isOldStyleTemporary(std::string_view entry, std::string_view fileName) {
    if (!entry.starts_with(fileName) || !entry.ends_with(".tmp")) return false;
    entry.remove_prefix(fileName.size());
    entry.remove_suffix(4);
    // ".PID.N"
    int dots = 0;
    for (char c : entry) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 2 && entry.size() > 3 && entry[0] == '.' && entry.find("..") == std::string_view::npos &&
           entry.back() != '.';
}

void sweepKilledSaves(const std::string& target) {
    const std::filesystem::path path(target);
    const std::string folder = path.parent_path().empty() ? "." : path.parent_path().string();
    const std::time_t olderThan = std::time(nullptr);
    sweepLeftovers(folder, olderThan);
    const std::string fileName = path.filename().string();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        if (!isOldStyleTemporary(entry->d_name, fileName)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < olderThan)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

void replaceFile(const std::string& path, LastLink lastLink, const WriteContent& write,
                 const std::function<void()>& beforeReplace) {
    std::string target = path;
    struct stat link {};
    if (lastLink == LastLink::Follow && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code error;
        const auto resolved = std::filesystem::weakly_canonical(path, error);
        if (error) throw EFCreateError(path, error.message());
        target = resolved.string();
    }
    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) throw EFCreateError(path, "It is not a regular file.");
    const bool regular = exists && S_ISREG(old.st_mode);
    if (regular && old.st_nlink > 1)
        debugLog("Registry: \"" + path + "\" has other hard links; they keep its previous content");
    sweepKilledSaves(target);

    AtomicFile file(target, regular ? (old.st_mode & 07777) : newFilePermissions());
    try {
        write([&](std::string_view piece) { file.stream().write(piece.data(), static_cast<int64_t>(piece.size())); });
    } catch (const EStreamError& error) {
        throw EFCreateError(path, error.what());
    }
    file.finishWriting();
    beforeReplace();
    file.commit();
}

}  // namespace ts::wine_reg
