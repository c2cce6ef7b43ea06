#include "platform/stream/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exception.h"

namespace ts {

namespace {
constexpr int64_t kCopyBufferSize = 256 * 1024;
}

std::string systemErrorText(int errorNumber) {
    return std::strerror(errorNumber);
}

void Stream::readExact(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        int64_t got = read(out + done, count - done);
        if (got <= 0) throw EReadError();
        done += got;
    }
}

int64_t Stream::writeTransformed(uint8_t* buffer, int64_t count, const std::shared_ptr<const BlockTransform>& transform) {
    if (count % BlockTransform::kBlockSize != 0) throw EWriteError("Stream write error: a partial block to transform");
    transform->apply(buffer, static_cast<size_t>(count / BlockTransform::kBlockSize));
    return write(buffer, count);
}

int64_t Stream::copyFrom(Stream& source, int64_t count) {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kCopyBufferSize)));
    int64_t left = count;
    while (left > 0) {
        int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
        source.readExact(buffer.data(), chunk);
        write(buffer.data(), chunk);
        left -= chunk;
    }
    return count;
}

void MemoryStream::seek(int64_t position) {
    if (position < 0) throw EStreamError("Invalid stream position");
    position_ = position;
}

int64_t MemoryStream::read(void* buffer, int64_t count) {
    if (count <= 0 || position_ >= size()) return 0;
    int64_t n = std::min(count, size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t MemoryStream::write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    int64_t end = position_ + count;
    if (end > size()) bytes_.resize(static_cast<size_t>(end));
    std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

std::vector<uint8_t> MemoryStream::takeBytes() {
    position_ = 0;
    return std::move(bytes_);
}

void MemoryStream::clear() {
    bytes_.clear();
    position_ = 0;
}

namespace {

// Only regular files are read: a FIFO or a device would block the open or the reads for
// ever, or have effects of its own when opened.
void requireRegularFile(const std::string& hostPath, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) throw EFOpenError(hostPath, systemErrorText(EISDIR));
    if (!S_ISREG(st.st_mode)) throw EFOpenError(hostPath, "It is not a regular file (a FIFO, socket or device).");
}

}  // namespace

FileStream::FileStream(const std::string& hostPath, Mode mode, unsigned permissions) : path_(hostPath) {
    int flags = O_CLOEXEC;
    if (mode == Mode::Read) {
        struct stat st {};
        if (::stat(hostPath.c_str(), &st) == 0) requireRegularFile(hostPath, st);
    }
    switch (mode) {
        // Non-blocking: a FIFO put in place after the check above must not hold the open.
        case Mode::Read: flags |= O_RDONLY | O_NONBLOCK; break;
        case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case Mode::ReadWrite: flags |= O_RDWR; break;
    }
    fd_ = ::open(hostPath.c_str(), flags, permissions);
    if (fd_ < 0) {
        int err = errno;
        if (mode == Mode::Create) throw EFCreateError(hostPath, systemErrorText(err));
        throw EFOpenError(hostPath, systemErrorText(err));
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        if (mode == Mode::Create) throw EFCreateError(hostPath, systemErrorText(EISDIR));
        throw EFOpenError(hostPath, systemErrorText(EISDIR));
    }
    if (mode == Mode::Read) {
        try {
            if (::fstat(fd_, &st) != 0) throw EFOpenError(hostPath, systemErrorText(errno));
            requireRegularFile(hostPath, st);
        } catch (...) {
            ::close(fd_);
            fd_ = -1;
            throw;
        }
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    }
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t FileStream::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw EStreamError("Cannot get the size of \"" + path_ + "\". " + systemErrorText(errno));
    return st.st_size;
}

void FileStream::seek(int64_t position) {
    if (position < 0) throw EStreamError("Invalid stream position");
    position_ = position;
}

int64_t FileStream::read(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        ssize_t got = ::pread(fd_, out + done, static_cast<size_t>(count - done), position_ + done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EStreamError("Cannot read \"" + path_ + "\". " + systemErrorText(errno));
        }
        if (got == 0) break;
        done += got;
    }
    position_ += done;
    return done;
}

int64_t FileStream::write(const void* buffer, int64_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        ssize_t put = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), position_ + done);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw EWriteError("Cannot write \"" + path_ + "\". " + systemErrorText(errno));
        }
        done += put;
    }
    position_ += done;
    if (writeBehindEvery_ > 0 && position_ - writtenBehind_ >= writeBehindEvery_) {
        // Only a hint: a failure shows in the flush.
        ::sync_file_range(fd_, writtenBehind_, position_ - writtenBehind_, SYNC_FILE_RANGE_WRITE);
        if (dropWritten_ && dropped_ < writtenBehind_) {
            ::sync_file_range(fd_, dropped_, writtenBehind_ - dropped_,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
            ::posix_fadvise(fd_, dropped_, writtenBehind_ - dropped_, POSIX_FADV_DONTNEED);
            dropped_ = writtenBehind_;
        }
        writtenBehind_ = position_;
    }
    return done;
}

void FileStream::flush() {
    if (::fsync(fd_) != 0) throw EWriteError("Cannot write \"" + path_ + "\". " + systemErrorText(errno));
}

}  // namespace ts
