#pragma once
// The engine's registry access: a root key and a current key over the profile's hive.
//
// Which side of the ANSI boundary: names, key paths and string data go in and come out as
// host text (UTF-8), like every other string the engine holds; a caller that writes them
// into a file format converts them there with toAnsi/fromAnsi. Sizes are the ANSI registry
// functions' sizes, because that is what the key-tree format records: GetDataSize and
// ReadAnsiData give a value as the ANSI functions return it, string types converted to ANSI
// bytes with their NUL(s), every other type as stored.
//
// Changes reach the hive at once; the hive's owner saves it to disk.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"

namespace ts {

inline constexpr uint32_t HKEY_CURRENT_USER = 0x80000001;

enum TRegDataType : int { rdUnknown = 0, rdString = 1, rdExpandString = 2, rdInteger = 3, rdBinary = 4 };

// "Failed to get data for '%s'", "Invalid data type for '%s'", "Failed to set data for '%s'".
class ERegistryException : public TsException {
public:
    using TsException::TsException;
};

class TRegistry {
public:
    explicit TRegistry(RegistryHive& hive) : hive_(hive) {}

    uint32_t RootKey() const { return rootKey_; }
    // Only HKEY_CURRENT_USER exists here; under any other root every OpenKey fails.
    void SetRootKey(uint32_t rootKey);

    // A path beginning with "\" is taken from the root, any other from the current key.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();
    // The current key's path below the root, without a leading "\"; empty for the root.
    std::string CurrentPath() const { return currentPath_.value_or(std::string()); }
    bool HasCurrentKey() const { return currentPath_.has_value(); }
    bool KeyExists(const std::string& key) const;
    bool ValueExists(const std::string& name) const;

    void GetValueNames(std::vector<std::string>& list) const;
    void GetKeyNames(std::vector<std::string>& list) const;
    TRegDataType GetDataType(const std::string& name) const;
    // The size the ANSI functions report (strings with their NUL); -1 for a missing value.
    int32_t GetDataSize(const std::string& name) const;

    struct AnsiData {
        uint32_t type = REG_NONE;   // the Windows type (REG_SZ, REG_MULTI_SZ, ...)
        std::string bytes;
    };
    std::optional<AnsiData> ReadAnsiData(const std::string& name) const;

    std::string ReadString(const std::string& name) const;
    void WriteString(const std::string& name, const std::string& text);
    int32_t ReadInteger(const std::string& name) const;
    void WriteInteger(const std::string& name, int32_t value);
    // Copies the value into buffer, which must hold GetDataSize bytes; returns the size.
    int32_t ReadBinaryData(const std::string& name, void* buffer, int32_t bufferSize) const;
    std::vector<uint8_t> ReadBinaryData(const std::string& name) const;
    void WriteBinaryData(const std::string& name, const void* buffer, int32_t size);

    // The key and everything below it; false when it did not exist.
    bool DeleteKey(const std::string& key);
    bool DeleteValue(const std::string& name);

private:
    std::optional<std::string> resolve(const std::string& key) const;
    std::optional<RegValue> currentValue(const std::string& name) const;
    RegValue requireValue(const std::string& name) const;
    void store(const RegValue& value);

    RegistryHive& hive_;
    uint32_t rootKey_ = HKEY_CURRENT_USER;
    std::optional<std::string> currentPath_;
};

}  // namespace ts
