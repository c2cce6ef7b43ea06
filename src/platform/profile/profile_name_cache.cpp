#include "platform/profile/profile_name_cache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <functional>

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

namespace {

// The kind byte of a name the run removed; its slot stays so that probing goes on past it.
constexpr char kRemoved = '\x7F';

uint32_t hashOf(std::string_view key) { return static_cast<uint32_t>(std::hash<std::string_view>{}(key)); }

}  // namespace

std::string_view FolderNameCache::Folder::nameAt(uint32_t record) const {
    return std::string_view(records_.data() + record);
}

std::optional<FoundName> FolderNameCache::Folder::find(std::string_view wanted) const {
    if (slots_.empty()) return std::nullopt;
    const std::string key = caseFoldedKey(wanted);
    const uint32_t hash = hashOf(key);
    const size_t mask = slots_.size() - 1;
    std::optional<FoundName> first;
    for (size_t i = hash & mask; slots_[i].record != 0; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        const char kind = records_[slot.record - 1];
        if (slot.hash != hash || kind == kRemoved) continue;
        const std::string_view name = nameAt(slot.record);
        if (name == wanted) return FoundName{std::string(name), static_cast<EntryKind>(kind)};
        if (!first && caseFoldedKey(name) == key) first = FoundName{std::string(name), static_cast<EntryKind>(kind)};
    }
    return first;
}

void FolderNameCache::Folder::place(uint32_t record, uint32_t hash) {
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].record != 0) i = (i + 1) & mask;
    slots_[i] = Slot{record, hash};
}

// Rebuilt from the records in their order, so the names of one key stay in listing order.
void FolderNameCache::Folder::grow() {
    size_t live = 0;
    for (size_t at = 0; at < records_.size(); at += 2 + nameAt(static_cast<uint32_t>(at + 1)).size())
        if (records_[at] != kRemoved) ++live;
    size_t capacity = 16;
    while (capacity < (live + 1) * 3) capacity *= 2;
    slots_.assign(capacity, Slot{});
    used_ = 0;
    for (size_t at = 0; at < records_.size(); at += 2 + nameAt(static_cast<uint32_t>(at + 1)).size()) {
        if (records_[at] == kRemoved) continue;
        const auto record = static_cast<uint32_t>(at + 1);
        place(record, hashOf(caseFoldedKey(nameAt(record))));
        ++used_;
    }
}

void FolderNameCache::Folder::insert(std::string_view name, EntryKind kind) {
    const uint32_t hash = hashOf(caseFoldedKey(name));
    if (!slots_.empty()) {
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask; slots_[i].record != 0; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            // What the folder already holds by that name stays as it is.
            if (slot.hash == hash && records_[slot.record - 1] != kRemoved && nameAt(slot.record) == name) return;
        }
    }
    if ((used_ + 1) * 2 > slots_.size()) grow();
    const auto record = static_cast<uint32_t>(records_.size() + 1);
    records_ += static_cast<char>(kind);
    records_.append(name);
    records_ += '\0';
    place(record, hash);
    ++used_;
}

void FolderNameCache::Folder::erase(std::string_view name) {
    if (slots_.empty()) return;
    const uint32_t hash = hashOf(caseFoldedKey(name));
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask; slots_[i].record != 0; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.hash == hash && records_[slot.record - 1] != kRemoved && nameAt(slot.record) == name)
            records_[slot.record - 1] = kRemoved;
    }
}

FolderNameCache::Folder& FolderNameCache::load(const std::string& hostFolder) {
    auto [it, fresh] = folders_.try_emplace(hostFolder);
    Folder& folder = it->second;  // a structured binding cannot be captured by every compiler
    if (fresh) {
        // A folder that cannot be read holds nothing for this run, as a missing one.
        readFolder(hostFolder, [&](std::string_view name, EntryKind kind) {
            folder.insert(name, kind);
            return false;
        });
    }
    return folder;
}

std::optional<FoundName> FolderNameCache::find(const std::string& hostFolder, std::string_view wanted) {
    std::lock_guard lock(mutex_);
    if (depth_ > 0) {
        return load(hostFolder).find(wanted);
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
    if (auto it = folders_.find(hostFolder); it != folders_.end()) it->second.insert(name, kind);
    // A folder the run made holds nothing yet; listing it would only find that out.
    if (kind == EntryKind::Folder) folders_.try_emplace(hostFolder + "/" + std::string(name));
}

void FolderNameCache::removed(const std::string& hostFolder, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return;
    if (auto it = folders_.find(hostFolder); it != folders_.end()) it->second.erase(name);
    resolvedFolders_.clear();
}

void FolderNameCache::forget(const std::string& hostFolder) {
    std::lock_guard lock(mutex_);
    folders_.erase(hostFolder);
    resolvedFolders_.clear();
}

void FolderNameCache::listed(const std::string& hostFolder, std::vector<FoundName> entries) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return;
    Folder folder;
    for (const auto& entry : entries) folder.insert(entry.name, entry.kind);
    folders_[hostFolder] = std::move(folder);
    resolvedFolders_.clear();  // the listing may show what others changed
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

std::optional<std::string> FolderNameCache::resolvedFolder(const std::string& windowsKey) {
    std::lock_guard lock(mutex_);
    if (depth_ == 0) return std::nullopt;
    auto it = resolvedFolders_.find(windowsKey);
    if (it == resolvedFolders_.end()) return std::nullopt;
    return it->second;
}

void FolderNameCache::rememberResolvedFolder(const std::string& windowsKey, std::string hostFolder) {
    std::lock_guard lock(mutex_);
    if (depth_ > 0) resolvedFolders_.insert_or_assign(windowsKey, std::move(hostFolder));
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
        resolvedFolders_.clear();
    }
}

bool FolderNameCache::active() {
    std::lock_guard lock(mutex_);
    return depth_ > 0;
}

}  // namespace ts
