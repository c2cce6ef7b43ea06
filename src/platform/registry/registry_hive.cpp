#include "platform/registry/registry_hive.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <mutex>

#include "platform/exception.h"
#include "platform/registry/nt_user_dat.h"
#include "platform/registry/registry_hive_text.h"
#include "platform/registry/registry_hive_tree.h"
#include "platform/registry/wine_server_check.h"
#include "platform/registry/wine_user_reg_document.h"
#include "platform/registry/wine_user_reg_file.h"
#include "platform/debug_log.h"

namespace ts {

bool isStringType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

RegValue RegValue::text(std::string name, uint32_t type, std::string_view utf8) {
    std::vector<uint8_t> data = hive_text::toLittleEndianBytes(hive_text::toUtf16(utf8));
    data.insert(data.end(), {0, 0});
    return RegValue{std::move(name), type, std::move(data)};
}

RegValue RegValue::dword(std::string name, uint32_t v) {
    return RegValue{std::move(name), REG_DWORD,
                    {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 24)}};
}

RegValue RegValue::binary(std::string name, std::vector<uint8_t> bytes, uint32_t type) {
    return RegValue{std::move(name), type, std::move(bytes)};
}

RegValue RegValue::multiText(std::string name, const std::vector<std::string>& utf8Items) {
    std::vector<uint8_t> data;
    for (const std::string& item : utf8Items) {
        std::vector<uint8_t> units = hive_text::toLittleEndianBytes(hive_text::toUtf16(item));
        data.insert(data.end(), units.begin(), units.end());
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 0});
    return RegValue{std::move(name), REG_MULTI_SZ, std::move(data)};
}

std::string RegValue::asText() const {
    if (!isStringType(type)) return {};
    std::u16string units = hive_text::fromLittleEndianBytes(data);
    return hive_text::toUtf8(std::u16string_view(units).substr(0, units.find(u'\0')));
}

namespace {

// What user.reg held when it was last read or written. A save compares the file with it to
// tell whether another writer (Wine, another of our processes) replaced it meanwhile; a
// digest of the content stands for the content, so the file is not held twice.
struct DiskState {
    bool exists = false;
    int64_t size = 0;
    int64_t mtimeSeconds = 0;
    int64_t mtimeNanoseconds = 0;
    uint64_t digest = 0;
    bool operator==(const DiskState&) const = default;
};

// The metadata is taken before the content: a replacement between the two then shows as a
// difference at the next comparison, never as a change missed. With `content` the bytes are
// kept as well.
DiskState readDiskState(const std::string& path, LastLink lastLink, std::string* content = nullptr) {
    DiskState state;
    struct stat info {};
    const int found = lastLink == LastLink::Follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (found != 0) {
        if (errno == ENOENT) return state;
        throw EFOpenError(path, std::strerror(errno));
    }
    state.size = info.st_size;
    state.mtimeSeconds = info.st_mtim.tv_sec;
    state.mtimeNanoseconds = info.st_mtim.tv_nsec;
    if (content) content->clear();
    state.exists = readRegularFileInPieces(path, kMaxHiveFileBytes, lastLink, [&](std::string_view piece, int64_t size) {
        state.digest = state.digest * 1099511628211ULL ^ std::hash<std::string_view>{}(piece);
        if (!content) return;
        if (content->empty()) content->reserve(static_cast<size_t>(size));
        *content += piece;
    });
    return state;
}

struct UserRegFile {
    std::string path;
    std::string prefixDir;
    LastLink lastLink;
    std::optional<std::string> arch;
    wine_reg::Document document;
    DiskState read;  // the file the document and the tree were built from
};

// The document and tree of what the file holds now (a new file's when there is none); the
// state of what was read, which is what the document stands for.
DiskState readUserReg(UserRegFile& file, hive::KeyTree& tree) {
    std::string content;
    DiskState state = readDiskState(file.path, file.lastLink, &content);
    file.document = wine_reg::parseUserReg(state.exists ? std::move(content) : wine_reg::newUserRegText(file.arch), tree,
                                           file.path, file.arch);
    return state;
}

// Only the architecture line is wanted; a system.reg that is not a plain file has none.
std::optional<std::string> prefixArch(const std::string& prefixDir) {
    std::optional<std::string> content;
    try {
        content = readRegularFile(prefixDir + "/system.reg", kMaxHiveFileBytes, LastLink::Refuse);
    } catch (const EFOpenError& error) {
        debugLog(std::string("Registry: ") + error.what() + " Its architecture line is not read.");
    }
    if (!content) return std::nullopt;
    std::istringstream systemReg(*content);
    return wine_reg::readGlobalArch(systemReg);
}

void refuseWhileServerRuns(const UserRegFile& file) {
    auto server = findRunningWineServer(file.prefixDir);
    if (!server) return;
    throw TsException("Cannot save the registry of the Wine prefix \"" + file.prefixDir +
                      "\": a Wine server is running for it (" + server->evidence +
                      ") and would overwrite the changes. To save them, close the programs running in it, "
                      "or run `wineserver -k`, then try again.");
}

// One change this hive made, kept until it is saved so that it can be made again on a file
// another writer replaced in the meantime.
struct Change {
    enum class Kind { CreateKey, DeleteKeyTree, SetValue, DeleteValue } kind;
    hive::KeyPath path;
    RegValue value;  // SetValue: the value; DeleteValue: its name
};

// Makes the change on tree; false when the tree already was that way.
bool apply(hive::KeyTree& tree, const Change& change) {
    bool created = false;
    switch (change.kind) {
        case Change::Kind::CreateKey:
            tree.create(change.path, created);
            return created;
        case Change::Kind::DeleteKeyTree:
            return tree.erase(change.path);
        case Change::Kind::SetValue: {
            auto key = tree.create(change.path, created);
            return tree.storeValue(*key, change.value) || created;
        }
        case Change::Kind::DeleteValue: {
            auto key = tree.find(change.path);
            return key && tree.removeValue(*key, hive_text::toUtf16(change.value.name));
        }
    }
    return false;
}

// Raised from the last check before the rename when the file changed after it was re-read.
struct FileChangedMeanwhile {};

}  // namespace

class RegistryHive::Impl {
public:
    mutable std::mutex mutex;
    hive::KeyTree tree;
    bool changed = false;
    std::optional<UserRegFile> file;
    std::vector<Change> journal;  // file hives only: what changed since the last save
    struct NtUserDat {
        std::string path;
        nt_user_dat::FileState read;
    };
    std::optional<NtUserDat> ntUserDat;

    std::shared_ptr<hive::Key> find(std::string_view keyPath) const { return tree.find(hive::splitKeyPath(keyPath)); }

    bool change(Change change) {
        const bool made = apply(tree, change);
        if (made) {
            changed = true;
            if (file) journal.push_back(std::move(change));
        }
        return made;
    }

    // Builds the tree and document anew from what the file holds now; what was held before
    // goes first, so that a large file is never held twice.
    void reread() {
        tree = hive::KeyTree();
        file->document = {};
        file->read = readUserReg(*file, tree);
    }

    // reread, then this hive's changes made again, in the order they were made.
    void rebase() {
        reread();
        for (const Change& change : journal) apply(tree, change);
        debugLog("Registry: \"" + file->path + "\" changed on disk since it was read; " +
                 std::to_string(journal.size()) + " changes made again on the new content");
    }
};

RegistryHive::RegistryHive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryHive::~RegistryHive() = default;

std::unique_ptr<RegistryHive> RegistryHive::inMemory() {
    return std::unique_ptr<RegistryHive>(new RegistryHive(std::make_unique<Impl>()));
}

std::unique_ptr<RegistryHive> RegistryHive::openUserReg(const std::string& userRegPath, const std::string& prefixDir,
                                                       LastLink lastLink) {
    auto impl = std::make_unique<Impl>();
    if (findRunningWineServer(prefixDir))
        debugLog("Reading \"" + userRegPath + "\" while a Wine server runs for the prefix \"" + prefixDir +
                 "\": it may lack the last 30 seconds of changes");
    impl->file = UserRegFile{userRegPath, prefixDir, lastLink, prefixArch(prefixDir), {}, {}};
    impl->reread();
    return std::unique_ptr<RegistryHive>(new RegistryHive(std::move(impl)));
}

std::unique_ptr<RegistryHive> RegistryHive::openNtUserDat(const std::string& path) {
    auto impl = std::make_unique<Impl>();
    impl->ntUserDat = Impl::NtUserDat{path, nt_user_dat::load(path, impl->tree)};
    return std::unique_ptr<RegistryHive>(new RegistryHive(std::move(impl)));
}

bool RegistryHive::keyExists(std::string_view keyPath) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->find(keyPath) != nullptr;
}

void RegistryHive::createKey(std::string_view keyPath) {
    std::lock_guard lock(impl_->mutex);
    impl_->change({Change::Kind::CreateKey, hive::splitKeyPath(keyPath), {}});
}

bool RegistryHive::deleteKeyTree(std::string_view keyPath) {
    std::lock_guard lock(impl_->mutex);
    return impl_->change({Change::Kind::DeleteKeyTree, hive::splitKeyPath(keyPath), {}});
}

std::vector<std::string> RegistryHive::subkeyNames(std::string_view keyPath) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> names;
    if (auto key = impl_->find(keyPath))
        for (const auto& [folded, subkey] : key->subkeys) names.push_back(hive_text::toUtf8(subkey->name));
    return names;
}

std::vector<std::string> RegistryHive::valueNames(std::string_view keyPath) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> names;
    if (auto key = impl_->find(keyPath))
        for (const hive::StoredValue& stored : key->values) names.push_back(impl_->tree.nameOf(stored));
    return names;
}

std::optional<RegValue> RegistryHive::value(std::string_view keyPath, std::string_view name) const {
    std::lock_guard lock(impl_->mutex);
    auto key = impl_->find(keyPath);
    if (!key) return std::nullopt;
    const hive::StoredValue* stored = impl_->tree.findValue(*key, hive_text::foldCase(hive_text::toUtf16(name)));
    if (!stored) return std::nullopt;
    return impl_->tree.valueOf(*stored);
}

void RegistryHive::setValue(std::string_view keyPath, const RegValue& value) {
    std::lock_guard lock(impl_->mutex);
    impl_->change({Change::Kind::SetValue, hive::splitKeyPath(keyPath), value});
}

bool RegistryHive::deleteValue(std::string_view keyPath, std::string_view name) {
    std::lock_guard lock(impl_->mutex);
    return impl_->change({Change::Kind::DeleteValue, hive::splitKeyPath(keyPath), RegValue{std::string(name), REG_NONE, {}}});
}

// Another writer may have replaced user.reg since it was read; its changes are kept by making
// ours again on what the file holds now. A replacement during the write itself is caught by
// the check just before the rename, and the save starts over.
void RegistryHive::save() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->ntUserDat && impl_->changed) {
        impl_->ntUserDat->read = nt_user_dat::save(impl_->ntUserDat->path, impl_->tree, impl_->ntUserDat->read);
        impl_->changed = false;
    }
    if (!impl_->file || !impl_->changed) return;
    UserRegFile& file = *impl_->file;
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        if (readDiskState(file.path, file.lastLink) != file.read) impl_->rebase();
        refuseWhileServerRuns(file);
        try {
            const wine_reg::WriteTime time = wine_reg::WriteTime::now();
            wine_reg::replaceFile(
                file.path, file.lastLink,
                [&](const wine_reg::TextSink& write) { wine_reg::renderUserReg(file.document, impl_->tree, time, write); },
                [&] {
                    refuseWhileServerRuns(file);
                    if (readDiskState(file.path, file.lastLink) != file.read) throw FileChangedMeanwhile{};
                });
            break;
        } catch (const FileChangedMeanwhile&) {
            if (attempt == kAttempts)
                throw TsException("Cannot save the registry file \"" + file.path +
                                  "\": another program keeps replacing it. Try again when it has finished.");
        }
    }
    // What was written becomes the file as read, so that the next save again changes only
    // what changes after this one. Should another writer replace the file before it is read
    // back, its content is what the hive then holds, as it is what the file holds.
    impl_->reread();
    impl_->journal.clear();
    impl_->changed = false;
}

}  // namespace ts
