#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/exception.h"
#include "platform/stream/stream.h"

namespace ts {

std::optional<std::string> readRegularFile(const std::string& path, int64_t maxBytes, LastLink lastLink) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (lastLink == LastLink::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return std::nullopt;
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
    std::string content;
    content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EFOpenError(path, systemErrorText(errno));
        }
        if (got == 0) break;
        // A file that grows while it is read is held to the same bound.
        if (static_cast<int64_t>(content.size()) + got > maxBytes) throw tooLarge();
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

}  // namespace ts
