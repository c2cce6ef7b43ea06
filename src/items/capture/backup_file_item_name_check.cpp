#include "items/capture/backup_file_item_name_check.h"

#include <algorithm>
#include <array>

#include "items/file_name.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_files.h"

namespace ts {

namespace {

constexpr unsigned kDotOrBlank = 1, kColon = 2, kForbidden = 4, kOther = 8;
// What each byte of a name segment is, for the checks below.
constexpr std::array<unsigned, 256> kCharClass = [] {
    std::array<unsigned, 256> table{};
    for (unsigned c = 0; c < 256; ++c) table[c] = c < 0x20 ? kForbidden | kOther : kOther;
    table['.'] = table[' '] = kDotOrBlank;
    table[':'] = kColon | kOther;
    for (unsigned char c : std::string_view("<>\"|?*")) table[c] = kForbidden | kOther;
    return table;
}();

// The path below the special folder: "\a\b.txt". Windows and the profile's file system both
// take "/" as a separator, so it splits segments here too.
std::optional<std::string> badTailReason(std::string_view tail) {
    if (tail.empty() || (tail[0] != '\\' && tail[0] != '/')) return "it names no file inside the special folder";
    size_t start = 1;
    while (true) {
        const size_t end = findPathSeparator(tail, start);
        const std::string_view segment = tail.substr(start, end == std::string_view::npos ? end : end - start);
        if (segment.empty()) return "it holds an empty path segment (a second root)";
        // One pass over the segment, as every file's name is checked; the reasons keep their order.
        unsigned seen = 0;
        for (const char c : segment) seen |= kCharClass[static_cast<unsigned char>(c)];
        if ((seen & ~kDotOrBlank) == 0) return "it holds a \".\" or \"..\" segment";
        if (seen & kColon) return "it holds a second drive";
        if (seen & kForbidden) return "it holds a character Windows does not allow in file names";
        if (end == std::string_view::npos) return std::nullopt;
        start = end + 1;
    }
}

}  // namespace

std::optional<std::string> unrestorableNameReason(const Profile& profile, const std::string& storedName,
                                                  const std::string& realName) {
    for (const auto& row : kPlaceholderTable) {
        const std::string& placeholder = placeholderOf(row);
        if (storedName.compare(0, placeholder.size(), placeholder) != 0) continue;
        const auto folder = profile.specialFolders().path(row.csidl);
        if (!folder || folder->empty()) return "this profile has no folder for " + placeholder;
        const std::string_view tail = std::string_view(storedName).substr(placeholder.size());
        if (auto reason = badTailReason(tail)) return reason;
        // A second placeholder further on would have been expanded into a full path.
        if (realName != *folder + std::string(tail)) return "it holds more than one special folder";
        return std::nullopt;
    }
    return "it does not begin with a special folder's placeholder";
}

bool namesAFolder(const std::string& realName) {
    const size_t last = realName.find_last_of("\\:");
    if (last == std::string::npos) return false;
    const std::string_view folder(realName.data(), last + 1);
    return std::any_of(folder.begin(), folder.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; });
}

std::optional<std::string> restoreRefusalOf(const Profile& profile, const std::string& storedName) {
    TtsFileName name(profile);
    name.SetName(storedName);
    if (!namesAFolder(name.RealName())) return "it names no folder";
    return unrestorableNameReason(profile, storedName, name.RealName());
}

}  // namespace ts
