#pragma once
// Replacing user.reg so that no failure, kill or crash ever leaves a half-written file.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/regular_file.h"

namespace ts::wine_reg {

// Writes what `write` hands its sink to a temporary file of ours beside the file, forces it to disk, calls
// `beforeReplace` (which may throw to abandon the write) and renames it over the file,
// keeping the old file's permission bits; a new file gets 0666 less the umask, as Wine gives
// it. With LastLink::Follow a link is followed and its target replaced (the link stays);
// otherwise a link at `path` is itself replaced. A file with other hard links is replaced
// too: they keep the previous content, which the debug log says, since rewriting it in
// place could be cut short. Temporary files a killed save left beside the file are removed
// first. Raises EFCreateError naming `path` on failure; the temporary file is then removed.
using WriteContent = std::function<void(const std::function<void(std::string_view)>& sink)>;
void replaceFile(const std::string& path, LastLink lastLink, const WriteContent& write,
                 const std::function<void()>& beforeReplace);

}  // namespace ts::wine_reg
