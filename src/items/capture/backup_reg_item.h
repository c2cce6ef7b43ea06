#pragma once
// One registry key with everything below it, saved as a key tree and written back.
//
// Key tree format (strings are 8-bit text ended by one NUL, no length; integers little-endian):
//   tree      := key block* "(end)"              pre-order: a key, then each subkey's tree
//   key block := full path ("\Software\...") value entry* "(end)"
//   value     := name (empty for the default value), type (1 byte: 1 REG_SZ,
//                2 REG_EXPAND_SZ, 3 REG_DWORD, 4 REG_BINARY, 0 other), size (4 bytes, signed,
//                as the ANSI registry functions report it, -1 if unreadable), then data:
//                type 1 the text as a string, type 3 4 bytes, type 4 exactly size bytes,
//                types 0 and 2 nothing.
// A tree whose KeyPath is empty is just the final "(end)".
#include <cstddef>
#include <cstdint>
#include <string>

#include "items/capture/backup_item.h"
#include "items/registry.h"
#include "part/capture_report.h"

namespace ts {

inline constexpr char kKeyTreeEndMarker[] = "(end)";

// Bounds of one key tree read back, besides the registry's own limits on names and values:
// far above the trees of a real profile (hundreds to a few thousand values), low enough that
// replaying the largest tree allowed into a hive stays within a few tens of MiB (a value
// costs some hundreds of bytes there).
inline constexpr int64_t kMaxKeyTreeBytes = int64_t{16} << 20;
inline constexpr size_t kMaxKeyTreeKeys = 16384;
inline constexpr size_t kMaxKeyTreeValues = 16384;

// A key tree stopped before its final end marker.
class EKeyTreeIncomplete : public TsException {
public:
    EKeyTreeIncomplete()
        : TsException("The saved registry data is incomplete: it ends before the end of its key tree") {}
};

class TtsBackupRegItem : public TtsBackupItem {
public:
    explicit TtsBackupRegItem(const Profile& profile);

    TRegistry& Registry() { return registry_; }
    const std::string& KeyPath() const { return keyPath_; }
    uint32_t RootKey() const { return rootKey_; }

    // Checks the key when the path is set: a key that cannot be opened then (without being
    // created) leaves KeyPath empty, and nothing is saved for it later.
    void SetKeyPath(const std::string& path);
    void SetRootKey(uint32_t rootKey);
    // Takes KeyPath, then RootKey, from another TtsBackupRegItem.
    void Assign(const TtsBackupItem& source) override;

    // Saves the tree. A value named "(end)" cannot be told from the marker, and a value or
    // key past the bounds a reader holds the tree to would make the whole file unreadable:
    // each is left out with a debug log line. Returns the bytes written.
    int32_t WriteToStream(Stream& stream) override;
    // The same, telling report of each value saved and of each key or value left out (named
    // by the key's path, or the value's path and name), so the run can name it.
    int32_t WriteToStream(Stream& stream, CaptureReport& report);
    // Replays a tree into sink: every key (createKey), REG_SZ, REG_DWORD and REG_BINARY values
    // (setValue), other types by name and size (keptValue). A stream that ends before the
    // final end marker raises EKeyTreeIncomplete, one past a bound above or the registry's
    // limits EDataDamaged naming the place; nothing past the tree is read. Returns the bytes
    // read.
    int32_t readToSink(Stream& stream, RestoreSink& sink) override;

private:
    struct Budget;
    int64_t writeKey(const std::string& path, Stream& stream, Budget& budget, CaptureReport& report);

    TRegistry registry_;
    std::string keyPath_;
    uint32_t rootKey_ = HKEY_CURRENT_USER;
};

// Replays a key tree into sink exactly as TtsBackupRegItem::readToSink does. It needs no
// registry of its own, so a record can be read past without a user profile.
int32_t ReadKeyTree(Stream& stream, RestoreSink& sink);

}  // namespace ts
