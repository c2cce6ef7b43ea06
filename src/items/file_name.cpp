#include "items/file_name.h"

#include "platform/profile/profile.h"
#include "platform/profile/profile_name_case.h"

namespace ts {

const std::string& placeholderOf(const PlaceholderRow& row) {
    static const std::array<std::string, kPlaceholderTable.size()> texts = [] {
        std::array<std::string, kPlaceholderTable.size()> made;
        for (size_t i = 0; i < made.size(); ++i) made[i] = "[" + std::string(kPlaceholderTable[i].name) + "]";
        return made;
    }();
    for (size_t i = 0; i < texts.size(); ++i)
        if (&kPlaceholderTable[i] == &row || kPlaceholderTable[i].name == row.name) return texts[i];
    // A row of the caller's own making.
    thread_local std::string other;
    other = "[" + std::string(row.name) + "]";
    return other;
}

void TtsFileName::SetName(const std::string& text) {
    if (text == name_) return;
    name_ = text;
    realName_ = text;
    for (const auto& row : kPlaceholderTable) {
        const std::string& placeholder = placeholderOf(row);
        if (name_.find(placeholder) == std::string::npos) continue;
        if (auto folder = profile_->specialFolders().path(row.csidl))
            realName_ = replaceAllIgnoringCase(realName_, placeholder, *folder);
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
