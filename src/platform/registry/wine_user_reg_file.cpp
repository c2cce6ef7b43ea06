#include "platform/registry/wine_user_reg_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/exception.h"

namespace ts::wine_reg {

namespace {

std::string systemReason(int error) { return std::strerror(error); }

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Returns the errno of a failed close, 0 on success.
    int close() {
        int result = 0;
        if (fd_ >= 0 && ::close(fd_) != 0) result = errno;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

void writeAll(int fd, std::string_view content, const std::string& path) {
    while (!content.empty()) {
        ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throw EFCreateError(path, systemReason(errno));
        }
        content.remove_prefix(static_cast<size_t>(written));
    }
}

void syncAndClose(FileDescriptor& fd, const std::string& path) {
    if (::fsync(fd.get()) != 0) throw EFCreateError(path, systemReason(errno));
    if (int error = fd.close()) throw EFCreateError(path, systemReason(error));
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
            fd_ = std::make_unique<FileDescriptor>(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (fd_->get() >= 0) return;
            if (errno != EEXIST) break;
        }
        throw EFCreateError(target, systemReason(errno));
    }
    ~TemporaryFile() {
        fd_.reset();
        if (!renamed_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    FileDescriptor& fd() { return *fd_; }
    const std::string& path() const { return path_; }
    void markRenamed() { renamed_ = true; }

private:
    std::string path_;
    std::unique_ptr<FileDescriptor> fd_;
    bool renamed_ = false;
};

void syncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    FileDescriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

void rewriteInPlace(const std::string& path, std::string_view content, const std::function<void()>& beforeReplace) {
    beforeReplace();
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.get() < 0) throw EFCreateError(path, systemReason(errno));
    writeAll(fd.get(), content, path);
    syncAndClose(fd, path);
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw EFOpenError(path, systemReason(errno));
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EFOpenError(path, systemReason(errno));
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

void replaceFile(const std::string& path, std::string_view content, const std::function<void()>& beforeReplace) {
    std::string target = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code error;
        auto resolved = std::filesystem::canonical(path, error);
        if (error) return rewriteInPlace(path, content, beforeReplace);
        target = resolved.string();
    }
    struct stat old {};
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && old.st_nlink > 1) return rewriteInPlace(target, content, beforeReplace);

    TemporaryFile temporary(target);
    writeAll(temporary.fd().get(), content, path);
    if (exists && ::fchmod(temporary.fd().get(), old.st_mode & 07777) != 0) throw EFCreateError(path, systemReason(errno));
    syncAndClose(temporary.fd(), path);
    beforeReplace();
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) throw EFCreateError(path, systemReason(errno));
    temporary.markRenamed();
    syncFolderOf(target);
}

}  // namespace ts::wine_reg
