#pragma once
// HKEY_CURRENT_USER of one profile: a tree of keys holding typed values, kept in memory or
// backed by a Wine user.reg that is read and written back losslessly, or by a Windows NTUSER.DAT.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regular_file.h"

namespace ts {

enum RegType : uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11
};

// True for the types whose data is UTF-16LE text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ).
bool isStringType(uint32_t type);

struct RegValue {
    std::string name;            // host text (UTF-8); "" is the default value
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data;   // the raw Windows data, as the wide API holds it: string types are UTF-16LE with their NUL(s)

    static RegValue text(std::string name, uint32_t type, std::string_view utf8);   // REG_SZ / REG_EXPAND_SZ
    static RegValue dword(std::string name, uint32_t v);
    static RegValue binary(std::string name, std::vector<uint8_t> bytes, uint32_t type = REG_BINARY);
    // REG_MULTI_SZ from its strings: each with its NUL, then the closing NUL.
    static RegValue multiText(std::string name, const std::vector<std::string>& utf8Items);

    std::string asText() const;  // string types decoded to UTF-8 up to the first NUL
    bool operator==(const RegValue&) const = default;
};

// HKEY_CURRENT_USER of one profile. Key paths are backslash-separated below the root, leading/trailing
// backslashes ignored, matched without regard to case; keys and values keep the case they were created with.
// Thread-safe (one internal mutex).
class RegistryHive {
public:
    ~RegistryHive();

    static std::unique_ptr<RegistryHive> inMemory();
    // Loads a Wine user.reg; `prefixDir` is the Wine prefix folder (for the server check). Throws TsException with a
    // clear message for a file Wine would reject, and EFOpenError for one that is not a regular file of bounded size
    // (a link too, unless lastLink follows it: the program's own settings may be kept as a link). A save writes a
    // new file and renames it over the old one (over a followed link's target), never through a link.
    static std::unique_ptr<RegistryHive> openUserReg(const std::string& userRegPath, const std::string& prefixDir,
                                                     LastLink lastLink = LastLink::Refuse);
    // Loads a Windows user's NTUSER.DAT with hivex. Throws TsException for a hive Windows did not finish
    // writing or one that is damaged, saying where and what to do. A save writes a new hive beside it, reads it
    // back, then renames it over the old one, which is kept beside it as NTUSER.DAT.tessaly-previous.
    static std::unique_ptr<RegistryHive> openNtUserDat(const std::string& path);

    bool keyExists(std::string_view keyPath) const;
    void createKey(std::string_view keyPath);                       // with missing parents
    bool deleteKeyTree(std::string_view keyPath);
    std::vector<std::string> subkeyNames(std::string_view keyPath) const;   // sorted without regard to case
    std::vector<std::string> valueNames(std::string_view keyPath) const;    // stored order, new ones appended
    std::optional<RegValue> value(std::string_view keyPath, std::string_view name) const;
    void setValue(std::string_view keyPath, const RegValue& value);          // creates the key
    bool deleteValue(std::string_view keyPath, std::string_view name);
    void save();   // file hive: atomic write-back if anything changed (refuses while a Wine server runs); in memory: nothing

    class Impl;

private:
    explicit RegistryHive(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ts
