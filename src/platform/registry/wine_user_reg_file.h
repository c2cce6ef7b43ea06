#pragma once
// Reading user.reg whole, and replacing it so that a failure never leaves a half-written file.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ts::wine_reg {

// The file's bytes; nullopt when it does not exist. Raises EFOpenError for any other failure.
std::optional<std::string> readWholeFile(const std::string& path);

// Writes `content` to a temporary file beside `path`, forces it to disk, calls
// `beforeReplace` (which may throw to abandon the write) and renames it over `path`, keeping
// the old file's permission bits; a new file gets 0666 less the umask, as Wine gives it.
// A symbolic link is followed and its target replaced. A file with other hard links is
// rewritten in place, as Wine does, so the links stay one file. Raises EFCreateError naming
// `path` on failure; the temporary file is then removed.
void replaceFile(const std::string& path, std::string_view content, const std::function<void()>& beforeReplace);

}  // namespace ts::wine_reg
