#include "items/registry.h"

#include <algorithm>
#include <cstring>

#include "platform/ansi_text.h"
#include "platform/registry/registry_hive_text.h"

namespace ts {

namespace {

std::string quoted(const char* format, const std::string& name) {
    std::string text = format;
    return text.replace(text.find("%s"), 2, name);
}

[[noreturn]] void failedToGet(const std::string& name) {
    throw ERegistryException(quoted("Failed to get data for '%s'", name));
}
[[noreturn]] void invalidType(const std::string& name) {
    throw ERegistryException(quoted("Invalid data type for '%s'", name));
}
[[noreturn]] void failedToSet(const std::string& name) {
    throw ERegistryException(quoted("Failed to set data for '%s'", name));
}

TRegDataType dataTypeOf(uint32_t type) {
    switch (type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    default: return rdUnknown;
    }
}

// The whole data as the ANSI functions convert it: every unit, inner NULs included.
std::string ansiBytes(const RegValue& value) {
    if (!isStringType(value.type)) return std::string(value.data.begin(), value.data.end());
    return toAnsi(hive_text::toUtf8(hive_text::fromLittleEndianBytes(value.data)));
}

}  // namespace

void TRegistry::SetRootKey(uint32_t rootKey) {
    if (rootKey == rootKey_) return;
    CloseKey();
    rootKey_ = rootKey;
}

std::optional<std::string> TRegistry::resolve(const std::string& key) const {
    if (rootKey_ != HKEY_CURRENT_USER) return std::nullopt;
    if (key.starts_with('\\') || !currentPath_) return key;
    if (currentPath_->empty()) return key;
    return *currentPath_ + "\\" + key;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    auto path = resolve(key);
    if (!path) return false;
    if (canCreate) hive_.createKey(*path);
    else if (!hive_.keyExists(*path)) return false;
    std::string current = *path;
    while (current.starts_with('\\')) current.erase(0, 1);
    while (current.ends_with('\\')) current.pop_back();
    currentPath_ = current;
    return true;
}

void TRegistry::CloseKey() { currentPath_.reset(); }

bool TRegistry::KeyExists(const std::string& key) const {
    auto path = resolve(key);
    return path && hive_.keyExists(*path);
}

bool TRegistry::ValueExists(const std::string& name) const { return currentValue(name).has_value(); }

void TRegistry::GetValueNames(std::vector<std::string>& list) const {
    list.clear();
    if (currentPath_) list = hive_.valueNames(*currentPath_);
}

void TRegistry::GetKeyNames(std::vector<std::string>& list) const {
    list.clear();
    if (currentPath_) list = hive_.subkeyNames(*currentPath_);
}

std::optional<RegValue> TRegistry::currentValue(const std::string& name) const {
    if (!currentPath_) return std::nullopt;
    return hive_.value(*currentPath_, name);
}

RegValue TRegistry::requireValue(const std::string& name) const {
    auto value = currentValue(name);
    if (!value) failedToGet(name);
    return *value;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
    auto value = currentValue(name);
    return value ? dataTypeOf(value->type) : rdUnknown;
}

int32_t TRegistry::GetDataSize(const std::string& name) const {
    auto data = ReadAnsiData(name);
    return data ? static_cast<int32_t>(data->bytes.size()) : -1;
}

std::optional<TRegistry::AnsiData> TRegistry::ReadAnsiData(const std::string& name) const {
    auto value = currentValue(name);
    if (!value) return std::nullopt;
    return AnsiData{value->type, ansiBytes(*value)};
}

std::string TRegistry::ReadString(const std::string& name) const {
    RegValue value = requireValue(name);
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) invalidType(name);
    return value.asText();
}

void TRegistry::WriteString(const std::string& name, const std::string& text) {
    store(RegValue::text(name, REG_SZ, text));
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
    RegValue value = requireValue(name);
    if (value.type != REG_DWORD) invalidType(name);
    if (value.data.size() > 4) failedToGet(name);
    uint32_t number = 0;
    for (size_t i = 0; i < value.data.size(); ++i) number |= static_cast<uint32_t>(value.data[i]) << (8 * i);
    return static_cast<int32_t>(number);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    store(RegValue::dword(name, static_cast<uint32_t>(value)));
}

int32_t TRegistry::ReadBinaryData(const std::string& name, void* buffer, int32_t bufferSize) const {
    RegValue value = requireValue(name);
    TRegDataType type = dataTypeOf(value.type);
    if (type != rdBinary && type != rdUnknown) invalidType(name);
    std::string bytes = ansiBytes(value);
    if (bufferSize < 0 || bytes.size() > static_cast<size_t>(bufferSize)) failedToGet(name);
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return static_cast<int32_t>(bytes.size());
}

std::vector<uint8_t> TRegistry::ReadBinaryData(const std::string& name) const {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(GetDataSize(name), 0)));
    bytes.resize(static_cast<size_t>(ReadBinaryData(name, bytes.data(), static_cast<int32_t>(bytes.size()))));
    return bytes;
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int32_t size) {
    if (size < 0 || (size > 0 && !buffer)) failedToSet(name);
    auto bytes = static_cast<const uint8_t*>(buffer);
    store(RegValue::binary(name, std::vector<uint8_t>(bytes, bytes + size)));
}

void TRegistry::store(const RegValue& value) {
    // Like a handle to a deleted key, a current key that no longer exists takes no values.
    if (!currentPath_ || !hive_.keyExists(*currentPath_)) failedToSet(value.name);
    hive_.setValue(*currentPath_, value);
}

bool TRegistry::DeleteKey(const std::string& key) {
    auto path = resolve(key);
    return path && hive_.deleteKeyTree(*path);
}

bool TRegistry::DeleteValue(const std::string& name) {
    return currentPath_ && hive_.deleteValue(*currentPath_, name);
}

}  // namespace ts
