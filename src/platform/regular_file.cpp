#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/exception.h"
#include "platform/stream/stream.h"

namespace ts {

bool readRegularFileInPieces(const std::string& path, int64_t maxBytes, LastLink lastLink,
                             const std::function<void(std::string_view, int64_t)>& piece) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (lastLink == LastLink::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return false;
        if (error == ELOOP && lastLink == LastLink::Refuse)
            throw EFOpenError(path, "It is a symbolic link, which may lead out of the profile; only a file of its own is read.");
        throw EFOpenError(path, systemErrorText(error));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw EFOpenError(path, systemErrorText(errno));
    if (!S_ISREG(st.st_mode)) throw EFOpenError(path, "It is not a regular file.");
    const auto tooLarge = [&] {
        return EFOpenError(path, "It is larger than " + std::to_string(maxBytes >> 20) + " MiB.");
    };
    if (st.st_size > maxBytes) throw tooLarge();
    int64_t total = 0;
    std::vector<char> buffer(size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EFOpenError(path, systemErrorText(errno));
        }
        if (got == 0) break;
        // A file that grows while it is read is held to the same bound.
        total += got;
        if (total > maxBytes) throw tooLarge();
        piece(std::string_view(buffer.data(), static_cast<size_t>(got)), st.st_size);
    }
    return true;
}

std::optional<std::string> readRegularFile(const std::string& path, int64_t maxBytes, LastLink lastLink) {
    std::string content;
    if (!readRegularFileInPieces(path, maxBytes, lastLink, [&](std::string_view piece, int64_t fileSize) {
            if (content.empty()) content.reserve(static_cast<size_t>(fileSize));
            content += piece;
        }))
        return std::nullopt;
    return content;
}

}  // namespace ts
