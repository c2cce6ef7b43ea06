#include "items/file_name.h"

#include <bitset>
#include <functional>

#include "platform/profile/profile.h"
#include "platform/profile/profile_name_case.h"

namespace ts {

const std::string& placeholderOf(const PlaceholderRow& row) {
    static const std::array<std::string, kPlaceholderTable.size()> texts = [] {
        std::array<std::string, kPlaceholderTable.size()> made;
        for (size_t i = 0; i < made.size(); ++i) made[i] = "[" + std::string(kPlaceholderTable[i].name) + "]";
        return made;
    }();
    // A row of the table is found by its place: every file name asks once for each row.
    const PlaceholderRow* first = kPlaceholderTable.data();
    if (std::less_equal<>()(first, &row) && std::less<>()(&row, first + kPlaceholderTable.size()))
        return texts[static_cast<size_t>(&row - first)];
    for (size_t i = 0; i < texts.size(); ++i)
        if (kPlaceholderTable[i].name == row.name) return texts[i];
    // A row of the caller's own making.
    thread_local std::string other;
    other = "[" + std::string(row.name) + "]";
    return other;
}

void TtsFileName::SetName(const std::string& text) {
    if (text == name_) return;
    name_ = text;
    realName_ = text;
    // Every placeholder opens with '[': only there can one begin.
    std::bitset<kPlaceholderTable.size()> present;
    for (size_t at = name_.find('['); at != std::string::npos; at = name_.find('[', at + 1))
        for (size_t i = 0; i < kPlaceholderTable.size(); ++i) {
            const std::string& placeholder = placeholderOf(kPlaceholderTable[i]);
            if (name_.compare(at, placeholder.size(), placeholder) == 0) present.set(i);
        }
    for (size_t i = 0; i < kPlaceholderTable.size(); ++i) {
        if (!present[i]) continue;
        if (auto folder = profile_->specialFolders().path(kPlaceholderTable[i].csidl))
            realName_ = replaceAllIgnoringCase(realName_, placeholderOf(kPlaceholderTable[i]), *folder);
    }
}

void TtsFileName::SetRealName(const std::string& path) {
    if (path == realName_) return;
    realName_ = path;
    name_ = path;
    for (const auto& row : kPlaceholderTable) {
        auto folder = profile_->specialFolders().path(row.csidl);
        if (folder && !folder->empty()) name_ = replaceAllIgnoringCase(name_, *folder, placeholderOf(row));
    }
}

void TtsFileName::Assign(const TtsFileName& source) {
    name_ = source.name_;
    realName_ = source.realName_;
}

}  // namespace ts
