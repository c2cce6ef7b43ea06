#include "items/capture/backup_reg_item.h"

#include <algorithm>
#include <vector>

#include "platform/ansi_text.h"
#include "platform/profile/profile.h"
#include "platform/debug_log.h"
#include "platform/registry/registry_limits.h"

namespace ts {

namespace {

constexpr uint8_t kTypeOther = 0, kTypeString = 1, kTypeInteger = 3, kTypeBinary = 4;

// Writes the key tree's pieces and counts them.
class KeyTreeWriter {
public:
    explicit KeyTreeWriter(Stream& stream) : stream_(stream) {}

    void string(const std::string& ansiText) {
        stream_.write(ansiText.c_str(), static_cast<int64_t>(ansiText.size()) + 1);
        written_ += static_cast<int64_t>(ansiText.size()) + 1;
    }
    void endMarker() { string(kKeyTreeEndMarker); }
    template <typename T>
    void value(T v) {
        stream_.writeValue(v);
        written_ += sizeof v;
    }
    void bytes(const std::vector<uint8_t>& data) {
        stream_.write(data.data(), static_cast<int64_t>(data.size()));
        written_ += static_cast<int64_t>(data.size());
    }
    int64_t written() const { return written_; }

private:
    Stream& stream_;
    int64_t written_ = 0;
};

// Reads the key tree's pieces one byte at a time, so that nothing after the tree is taken
// from the stream, and counts them. Any short read means the tree was cut off. Every piece is
// held to the registry's limits and the whole tree to kMaxKeyTreeBytes before its bytes are
// kept, so a damaged or crafted tree cannot claim memory.
class KeyTreeReader {
public:
    explicit KeyTreeReader(Stream& stream) : stream_(stream) {}

    // A C-string of at most maxBytes bytes; `what` names it when it is longer.
    std::string string(size_t maxBytes, const char* what) {
        std::string text;
        for (char c = byte(); c != '\0'; c = byte()) {
            if (text.size() == maxBytes) damaged(std::string(what) + " longer than " + std::to_string(maxBytes) + " bytes");
            text.push_back(c);
        }
        return text;
    }
    char byte() {
        char c;
        exact(&c, 1);
        return c;
    }
    template <typename T>
    T value() {
        T v{};
        exact(&v, sizeof v);
        return v;
    }
    std::vector<uint8_t> bytes(int32_t count) {
        if (count > registry_limits::kMaxValueDataBytes || count > kMaxKeyTreeBytes - read_)
            damaged("a value of " + std::to_string(count) + " bytes");
        std::vector<uint8_t> data(static_cast<size_t>(count));
        exact(data.data(), count);
        return data;
    }
    int64_t read() const { return read_; }

    // Where the reader stands, for the error that names a place.
    [[noreturn]] void damaged(const std::string& what) const {
        throw EDataDamaged("the registry data at byte " + std::to_string(read_) + " of its key tree holds " + what);
    }

private:
    void exact(void* buffer, int64_t count) {
        if (count > kMaxKeyTreeBytes - read_)
            damaged("more than " + std::to_string(kMaxKeyTreeBytes) + " bytes in one key tree");
        auto* out = static_cast<uint8_t*>(buffer);
        for (int64_t done = 0; done < count;) {
            const int64_t got = stream_.read(out + done, count - done);
            if (got <= 0) throw EKeyTreeIncomplete();
            done += got;
            read_ += got;
        }
    }

    Stream& stream_;
    int64_t read_ = 0;
};

using namespace registry_limits;

// The stored path, checked component by component against the registry's limits.
std::string readKeyPath(KeyTreeReader& in, const std::string& ansiPath) {
    std::string keyPath = fromAnsi(ansiPath);
    size_t depth = 0;
    for (size_t start = 0; start <= keyPath.size();) {
        size_t end = keyPath.find('\\', start);
        if (end == std::string::npos) end = keyPath.size();
        if (end > start) {
            if (++depth > kMaxKeyDepth) in.damaged("a key path deeper than " + std::to_string(kMaxKeyDepth) + " keys");
            if (utf16Units(std::string_view(keyPath).substr(start, end - start)) > kMaxKeyNameChars)
                in.damaged("a key name longer than " + std::to_string(kMaxKeyNameChars) + " characters");
        }
        start = end + 1;
    }
    return keyPath;
}

constexpr size_t kMaxKeyPathBytes = kMaxKeyDepth * (kMaxKeyNameChars * kMaxBytesPerChar + 1);
constexpr size_t kMaxValueNameBytes = kMaxValueNameChars * kMaxBytesPerChar;

}  // namespace

TtsBackupRegItem::TtsBackupRegItem(const Profile& profile) : TtsBackupItem(profile), registry_(profile.hive()) {}

void TtsBackupRegItem::SetKeyPath(const std::string& path) {
    if (path == keyPath_) return;
    keyPath_ = registry_.OpenKey(path, false) ? path : std::string();
}

void TtsBackupRegItem::SetRootKey(uint32_t rootKey) {
    if (rootKey == rootKey_) return;
    rootKey_ = rootKey;
    registry_.SetRootKey(rootKey);
}

void TtsBackupRegItem::Assign(const TtsBackupItem& source) {
    const auto* other = dynamic_cast<const TtsBackupRegItem*>(&source);
    if (!other) return;
    SetKeyPath(other->keyPath_);
    SetRootKey(other->rootKey_);
}

// What is left of the bounds ReadKeyTree holds a tree to; the final end marker is set aside.
struct TtsBackupRegItem::Budget {
    int64_t bytes = kMaxKeyTreeBytes - static_cast<int64_t>(sizeof kKeyTreeEndMarker);
    size_t keys = kMaxKeyTreeKeys;
    size_t values = kMaxKeyTreeValues;
};

int32_t TtsBackupRegItem::WriteToStream(Stream& stream) {
    CaptureReport unheard;
    return WriteToStream(stream, unheard);
}

int32_t TtsBackupRegItem::WriteToStream(Stream& stream, CaptureReport& report) {
    Budget budget;
    int64_t written = keyPath_.empty() ? 0 : writeKey(keyPath_, stream, budget, report);
    KeyTreeWriter end(stream);
    end.endMarker();
    return static_cast<int32_t>(written + end.written());
}

namespace {

void leaveOut(CaptureReport& report, const std::string& where, const std::string& reason) {
    debugLog("Registry capture: \"" + where + "\" left out: " + reason);
    report.notSaved(where, reason, CaptureReport::Problem::NotSaved);
}

}  // namespace

int64_t TtsBackupRegItem::writeKey(const std::string& path, Stream& stream, Budget& budget, CaptureReport& report) {
    if (!registry_.OpenKey(path, false)) return 0;
    const std::string ansiPath = toAnsi(path);
    const auto keyBytes = static_cast<int64_t>(ansiPath.size() + 1 + sizeof kKeyTreeEndMarker);
    const size_t depth = static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) + (path.starts_with('\\') ? 0 : 1);
    const std::string_view name = std::string_view(path).substr(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\') + 1);
    if (depth > registry_limits::kMaxKeyDepth || registry_limits::utf16Units(name) > registry_limits::kMaxKeyNameChars) {
        leaveOut(report, path,
                 "the registry key and those below it: its name or depth is past the registry's limits");
        return 0;
    }
    if (budget.keys == 0 || keyBytes > budget.bytes) {
        leaveOut(report, path,
                 "the registry key and those below it: the tree would pass " + std::to_string(kMaxKeyTreeKeys) +
                     " keys or " + std::to_string(kMaxKeyTreeBytes) + " bytes");
        return 0;
    }
    --budget.keys;
    budget.bytes -= keyBytes;
    KeyTreeWriter out(stream);
    out.string(ansiPath);

    std::vector<std::string> names;
    registry_.GetValueNames(names);
    for (const auto& name : names) {
        const std::string ansiName = toAnsi(name);
        if (ansiName == kKeyTreeEndMarker) {
            debugLog("Registry capture: the value \"(end)\" of \"" + path +
                     "\" cannot be told from the end marker and is not saved");
            continue;
        }
        auto type = static_cast<uint8_t>(registry_.GetDataType(name));
        int32_t size = registry_.GetDataSize(name);
        std::vector<uint8_t> data;
        if (type == kTypeString) {
            const std::string text = toAnsi(registry_.ReadString(name));
            data.assign(text.begin(), text.end());
            data.push_back(0);
        } else if (type == kTypeInteger && size == 4) {
            const int32_t number = registry_.ReadInteger(name);
            const auto* raw = reinterpret_cast<const uint8_t*>(&number);
            data.assign(raw, raw + sizeof number);
        } else if (type == kTypeInteger) {
            type = kTypeOther;  // not 4 bytes: it cannot be read as an integer
        } else if (type == kTypeBinary) {
            data = registry_.ReadBinaryData(name);
            size = static_cast<int32_t>(data.size());
        }
        const auto valueBytes = static_cast<int64_t>(ansiName.size() + 1 + 1 + sizeof size + data.size());
        if (budget.values == 0 || valueBytes > budget.bytes ||
            static_cast<int64_t>(data.size()) > registry_limits::kMaxValueDataBytes ||
            registry_limits::utf16Units(name) > registry_limits::kMaxValueNameChars) {
            leaveOut(report, path + "\\" + name,
                     "the registry value: its name or data is too long, or the tree would pass " + std::to_string(kMaxKeyTreeValues) +
                         " values or " + std::to_string(kMaxKeyTreeBytes) + " bytes");
            continue;
        }
        --budget.values;
        budget.bytes -= valueBytes;
        out.string(ansiName);
        out.value<uint8_t>(type);
        out.value<int32_t>(size);
        out.bytes(data);
        report.saved(CaptureReport::Saved::RegistryValue, 0);
    }
    out.endMarker();

    // Listed after the values are written, before descending, as the format's order requires.
    std::vector<std::string> subkeys;
    registry_.GetKeyNames(subkeys);
    int64_t written = out.written();
    for (const auto& subkey : subkeys) written += writeKey(path + "\\" + subkey, stream, budget, report);
    return written;
}

int32_t TtsBackupRegItem::readToSink(Stream& stream, RestoreSink& sink) { return ReadKeyTree(stream, sink); }

int32_t ReadKeyTree(Stream& stream, RestoreSink& sink) {
    KeyTreeReader in(stream);
    size_t keys = 0, values = 0;
    for (std::string key = in.string(kMaxKeyPathBytes, "a key path"); key != kKeyTreeEndMarker;
         key = in.string(kMaxKeyPathBytes, "a key path")) {
        if (++keys > kMaxKeyTreeKeys) in.damaged("more than " + std::to_string(kMaxKeyTreeKeys) + " keys");
        std::string keyPath = readKeyPath(in, key);
        // Every path is stored from the root. One without its leading backslash would open
        // below the key replayed before it and nest each key one level deeper.
        if (!keyPath.starts_with('\\')) {
            debugLog("Registry replay: the stored key path \"" + keyPath + "\" lacks its leading \\; replayed from the root");
            keyPath.insert(0, 1, '\\');
        }
        sink.createKey(keyPath);
        for (std::string name = in.string(kMaxValueNameBytes, "a value name"); name != kKeyTreeEndMarker;
             name = in.string(kMaxValueNameBytes, "a value name")) {
            if (++values > kMaxKeyTreeValues) in.damaged("more than " + std::to_string(kMaxKeyTreeValues) + " values");
            const std::string valueName = fromAnsi(name);
            if (utf16Units(valueName) > kMaxValueNameChars)
                in.damaged("a value name longer than " + std::to_string(kMaxValueNameChars) + " characters");
            const auto type = static_cast<uint8_t>(in.byte());
            const auto size = in.value<int32_t>();
            switch (type) {
            case kTypeString:
                sink.setValue(keyPath, RegValue::text(valueName, REG_SZ,
                                                      fromAnsi(in.string(kMaxValueDataBytes, "a string value"))));
                break;
            case kTypeInteger:
                sink.setValue(keyPath, RegValue::dword(valueName, in.value<uint32_t>()));
                break;
            case kTypeBinary:
                if (size < 0) in.damaged("the binary value \"" + valueName + "\" of \"" + keyPath + "\" with a negative size");
                sink.setValue(keyPath, RegValue::binary(valueName, in.bytes(size)));
                break;
            default:
                sink.keptValue(keyPath, valueName, type, size);
                break;
            }
        }
    }
    return static_cast<int32_t>(in.read());
}

}  // namespace ts
