#pragma once
// Reading a file the program finds at a fixed name (the profile's user.reg and system.reg,
// the debug log, the settings hive): whatever is at that name was put there by someone else.
// A link may lead out of the profile, a FIFO would block for ever and a device would never
// end, so only a regular file of bounded size is read, and never by blocking on the open.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ts {

enum class LastLink {
    Refuse,  // a file inside a profile: a link there may lead anywhere
    Follow,  // the user's own file, which people keep as a link to their dotfiles
};

// Registry hives are text; a user's grows to tens of MiB.
inline constexpr int64_t kMaxHiveFileBytes = int64_t{512} << 20;

// The bytes of the regular file at path; nullopt when nothing is there. Raises EFOpenError
// naming path when it is a link (with LastLink::Refuse), not a regular file, larger than
// maxBytes, or cannot be read.
std::optional<std::string> readRegularFile(const std::string& path, int64_t maxBytes, LastLink lastLink);
// The same, handing the bytes to piece as they are read (a MiB at a time, with the size the
// file had when opened) instead of holding them; false when nothing is there.
bool readRegularFileInPieces(const std::string& path, int64_t maxBytes, LastLink lastLink,
                             const std::function<void(std::string_view bytes, int64_t fileSize)>& piece);

}  // namespace ts
