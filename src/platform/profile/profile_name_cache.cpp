#include "platform/profile/profile_name_cache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/profile/profile_name_case.h"

namespace ts {

namespace {

EntryKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    if (S_ISLNK(mode)) return EntryKind::Link;
    return EntryKind::Other;
}

bool isDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

// Calls visit(name, kind) for every entry of hostFolder but "." and "..", until it returns
// true; false when the folder cannot be read.
template <typename Visit>
bool readFolder(const std::string& hostFolder, Visit visit) {
    DIR* dir = ::opendir(hostFolder.c_str());
    if (dir == nullptr) return false;
    while (dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (isDotOrDotDot(name)) continue;
        if (visit(name, entryKindOf(entry->d_type))) break;
    }
    ::closedir(dir);
    return true;
}

}  // namespace

EntryKind entryKindOf(unsigned char type) {
    switch (type) {
        case DT_REG: return EntryKind::File;
        case DT_DIR: return EntryKind::Folder;
        case DT_LNK: return EntryKind::Link;
        case DT_UNKNOWN: return EntryKind::Unknown;
        default: return EntryKind::Other;
    }
}

void FolderNameCache::insert(Folder& folder, std::string_view name, EntryKind kind) {
    auto& names = folder.byKey[caseFoldedKey(name)];
    auto same = std::find_if(names.begin(), names.end(), [&](const FoundName& n) { return n.name == name; });
    if (same != names.end())
        same->kind = kind;
    else
        names.push_back({std::string(name), kind});
}

FolderNameCache::Folder& FolderNameCache::load(const std::string& hostFolder) {
    auto [it, fresh] = folders_.try_emplace(hostFolder);
    if (fresh) {
        // A folder that cannot be read holds nothing for this run, as a missing one.
        readFolder(hostFolder, [&](std::string_view name, EntryKind kind) {
            insert(it->second, name, kind);
            return false;
        });
    }
    return it->second;
}

std::optional<FoundName> FolderNameCache::find(const std::string& hostFolder, std::string_view wanted) {
    std::lock_guard lock(mutex_);
    if (depth_ > 0) {
        const Folder& folder = load(hostFolder);
        auto it = folder.byKey.find(caseFoldedKey(wanted));
        if (it == folder.byKey.end() || it->second.empty()) return std::nullopt;
        for (const auto& name : it->second)
            if (name.name == wanted) return name;
        return it->second.front();
    }
    struct stat st;
    const std::string exact = hostFolder + "/" + std::string(wanted);
    if (::lstat(exact.c_str(), &st) == 0) return FoundName{std::string(wanted), kindOfMode(st.st_mode)};
    std::optional<FoundName> found;
    readFolder(hostFolder, [&](std::string_view name, EntryKind kind) {
        if (!equalsIgnoringCase(name, wanted)) return false;
        found = FoundName{std::string(name), kind};
        return true;
    });
    return found;
}

void FolderNameCache::added(const std::string& hostFolder, std::string_view name, EntryKind kind) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return;
    if (auto it = folders_.find(hostFolder); it != folders_.end()) insert(it->second, name, kind);
    // A folder the run made holds nothing yet; listing it would only find that out.
    if (kind == EntryKind::Folder) folders_.try_emplace(hostFolder + "/" + std::string(name));
}

void FolderNameCache::removed(const std::string& hostFolder, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return;
    auto it = folders_.find(hostFolder);
    if (it == folders_.end()) return;
    auto names = it->second.byKey.find(caseFoldedKey(name));
    if (names == it->second.byKey.end()) return;
    std::erase_if(names->second, [&](const FoundName& n) { return n.name == name; });
    if (names->second.empty()) it->second.byKey.erase(names);
}

void FolderNameCache::forget(const std::string& hostFolder) {
    std::lock_guard lock(mutex_);
    folders_.erase(hostFolder);
}

void FolderNameCache::listed(const std::string& hostFolder, std::vector<FoundName> entries) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return;
    Folder folder;
    for (auto& entry : entries) insert(folder, entry.name, entry.kind);
    folders_[hostFolder] = std::move(folder);
}

std::optional<std::optional<std::string>> FolderNameCache::remembered(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return std::nullopt;
    auto it = remembered_.find(key);
    if (it == remembered_.end()) return std::nullopt;
    return it->second;
}

void FolderNameCache::remember(const std::string& key, std::optional<std::string> value) {
    std::lock_guard lock(mutex_);
    if (depth_ > 0) remembered_[key] = std::move(value);
}

void FolderNameCache::begin() {
    std::lock_guard lock(mutex_);
    ++depth_;
}

void FolderNameCache::end() {
    std::lock_guard lock(mutex_);
    if (depth_ > 0 && --depth_ == 0) {
        folders_.clear();
        remembered_.clear();
    }
}

bool FolderNameCache::active() {
    std::lock_guard lock(mutex_);
    return depth_ > 0;
}

}  // namespace ts
