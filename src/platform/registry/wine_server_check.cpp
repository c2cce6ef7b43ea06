#include "platform/registry/wine_server_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/exception.h"
#include "platform/regular_file.h"

namespace ts {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string serverDirName(const struct stat& prefix) {
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(prefix.st_dev),
                  static_cast<unsigned long long>(prefix.st_ino));
    return name;
}

// The server holds a write lock on byte 0 of its lock file for its whole life. Only asks
// about the lock, never takes one: closing a descriptor would drop the server's own locks
// if it were this process.
std::optional<RunningWineServer> heldLock(const std::string& lockFile) {
    FileDescriptor fd(::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return std::nullopt;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 1;
    // An open-file-description query also sees locks this very process holds.
    if (::fcntl(fd.get(), F_OFD_GETLK, &query) != 0) {
        query = {};
        query.l_type = F_WRLCK;
        query.l_whence = SEEK_SET;
        query.l_len = 1;
        if (::fcntl(fd.get(), F_GETLK, &query) != 0) return std::nullopt;
    }
    if (query.l_type == F_UNLCK) return std::nullopt;
    return RunningWineServer{lockFile, query.l_pid > 0 ? static_cast<long>(query.l_pid) : -1};
}

// Debian's Wine names its server folder after the content of prefix/wineserver: a short
// line in a file of the prefix's own (a link, a FIFO or a device there names nothing).
std::optional<std::string> debianServerFolderName(const std::string& prefixDir) {
    std::optional<std::string> content;
    try {
        content = readRegularFile(prefixDir + "/wineserver", 4096, LastLink::Refuse);
    } catch (const EFOpenError&) {
        return std::nullopt;
    }
    if (!content) return std::nullopt;
    std::string name = content->substr(0, content->find('\n'));
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return std::nullopt;
    return name;
}

bool refersToPrefix(const std::string& path, const struct stat& prefix) {
    struct stat target {};
    return ::stat(path.c_str(), &target) == 0 && target.st_dev == prefix.st_dev && target.st_ino == prefix.st_ino;
}

// For Wine builds that keep their server folder elsewhere still: a wineserver process
// holds the prefix folder open for its whole life.
std::optional<RunningWineServer> serverProcessHoldingPrefix(const struct stat& prefix) {
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return std::nullopt;
    while (dirent* entry = ::readdir(proc.get())) {
        char* end;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) continue;
        std::string base = "/proc/" + std::string(entry->d_name);
        std::error_code error;
        std::string exe = std::filesystem::read_symlink(base + "/exe", error).filename().string();
        if (error || !exe.starts_with("wineserver")) continue;
        for (const auto& fd : std::filesystem::directory_iterator(base + "/fd", error)) {
            if (refersToPrefix(fd.path().string(), prefix))
                return RunningWineServer{"process " + std::to_string(pid) + " (" + exe + ")", pid};
        }
    }
    return std::nullopt;
}

}  // namespace

WineServerSearch WineServerSearch::fromEnvironment() {
    WineServerSearch search;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && *tmpdir) search.debianTmpDir = tmpdir;
    return search;
}

std::optional<RunningWineServer> findRunningWineServer(const std::string& prefixDir, const WineServerSearch& search) {
    struct stat prefix {};
    if (::stat(prefixDir.c_str(), &prefix) != 0) return std::nullopt;
    std::string serverDir = serverDirName(prefix);

    std::string upstream = search.upstreamTmpDir + "/.wine-" + std::to_string(::getuid()) + "/" + serverDir + "/lock";
    if (auto server = heldLock(upstream)) return server;
    if (auto name = debianServerFolderName(prefixDir)) {
        if (auto server = heldLock(search.debianTmpDir + "/" + *name + "/" + serverDir + "/lock")) return server;
        if (search.debianTmpDir != "/tmp")
            if (auto server = heldLock("/tmp/" + *name + "/" + serverDir + "/lock")) return server;
    }
    if (search.scanProcesses) return serverProcessHoldingPrefix(prefix);
    return std::nullopt;
}

}  // namespace ts
