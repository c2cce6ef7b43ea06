#include "platform/registry/registry_hive.h"

#include <fstream>
#include <mutex>

#include "platform/exception.h"
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

struct UserRegFile {
    std::string path;
    std::string prefixDir;
    wine_reg::Document document;
};

std::optional<std::string> prefixArch(const std::string& prefixDir) {
    std::ifstream systemReg(prefixDir + "/system.reg", std::ios::binary);
    if (!systemReg) return std::nullopt;
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

}  // namespace

class RegistryHive::Impl {
public:
    mutable std::mutex mutex;
    hive::KeyTree tree;
    bool changed = false;
    std::optional<UserRegFile> file;

    std::shared_ptr<hive::Key> find(std::string_view keyPath) const { return tree.find(hive::splitKeyPath(keyPath)); }
};

RegistryHive::RegistryHive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryHive::~RegistryHive() = default;

std::unique_ptr<RegistryHive> RegistryHive::inMemory() {
    return std::unique_ptr<RegistryHive>(new RegistryHive(std::make_unique<Impl>()));
}

std::unique_ptr<RegistryHive> RegistryHive::openUserReg(const std::string& userRegPath, const std::string& prefixDir) {
    auto impl = std::make_unique<Impl>();
    std::optional<std::string> arch = prefixArch(prefixDir);
    std::optional<std::string> content = wine_reg::readWholeFile(userRegPath);
    if (findRunningWineServer(prefixDir))
        debugLog("Reading \"" + userRegPath + "\" while a Wine server runs for the prefix \"" + prefixDir +
                 "\": it may lack the last 30 seconds of changes");
    wine_reg::Document document = content ? wine_reg::parseUserReg(*content, impl->tree, userRegPath, arch)
                                          : wine_reg::newUserRegDocument(arch);
    impl->file = UserRegFile{userRegPath, prefixDir, std::move(document)};
    return std::unique_ptr<RegistryHive>(new RegistryHive(std::move(impl)));
}

bool RegistryHive::keyExists(std::string_view keyPath) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->find(keyPath) != nullptr;
}

void RegistryHive::createKey(std::string_view keyPath) {
    std::lock_guard lock(impl_->mutex);
    bool created;
    impl_->tree.create(hive::splitKeyPath(keyPath), created);
    impl_->changed |= created;
}

bool RegistryHive::deleteKeyTree(std::string_view keyPath) {
    std::lock_guard lock(impl_->mutex);
    bool erased = impl_->tree.erase(hive::splitKeyPath(keyPath));
    impl_->changed |= erased;
    return erased;
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
        for (const hive::StoredValue& stored : key->values) names.push_back(stored.value.name);
    return names;
}

std::optional<RegValue> RegistryHive::value(std::string_view keyPath, std::string_view name) const {
    std::lock_guard lock(impl_->mutex);
    auto key = impl_->find(keyPath);
    if (!key) return std::nullopt;
    const hive::StoredValue* stored = key->findValue(hive_text::foldCase(hive_text::toUtf16(name)));
    if (!stored) return std::nullopt;
    return stored->value;
}

void RegistryHive::setValue(std::string_view keyPath, const RegValue& value) {
    std::lock_guard lock(impl_->mutex);
    bool created;
    auto key = impl_->tree.create(hive::splitKeyPath(keyPath), created);
    bool stored = hive::KeyTree::storeValue(*key, value);
    impl_->changed |= created || stored;
}

bool RegistryHive::deleteValue(std::string_view keyPath, std::string_view name) {
    std::lock_guard lock(impl_->mutex);
    auto key = impl_->find(keyPath);
    bool removed = key && hive::KeyTree::removeValue(*key, hive_text::toUtf16(name));
    impl_->changed |= removed;
    return removed;
}

void RegistryHive::save() {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->file || !impl_->changed) return;
    UserRegFile& file = *impl_->file;
    std::string text = wine_reg::renderUserReg(file.document, impl_->tree, wine_reg::WriteTime::now());
    refuseWhileServerRuns(file);
    wine_reg::replaceFile(file.path, text, [&] { refuseWhileServerRuns(file); });
    // What was written becomes the file as read, so that the next save again changes only
    // what changes after this one.
    hive::KeyTree tree;
    file.document = wine_reg::parseUserReg(text, tree, file.path, std::nullopt);
    impl_->tree = std::move(tree);
    impl_->changed = false;
}

}  // namespace ts
