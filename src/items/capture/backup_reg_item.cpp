#include "items/capture/backup_reg_item.h"

#include <algorithm>
#include <vector>

#include "platform/ansi_text.h"
#include "platform/profile/profile.h"
#include "platform/debug_log.h"

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
// from the stream, and counts them. Any short read means the tree was cut off.
class KeyTreeReader {
public:
    explicit KeyTreeReader(Stream& stream) : stream_(stream) {}

    std::string string() {
        std::string text;
        for (char c = byte(); c != '\0'; c = byte()) text.push_back(c);
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
    // Grows only as the bytes arrive, so a damaged size cannot claim memory the stream lacks.
    std::vector<uint8_t> bytes(int32_t count) {
        std::vector<uint8_t> data;
        for (int64_t done = 0; done < count;) {
            const int64_t chunk = std::min<int64_t>(count - done, 65536);
            data.resize(static_cast<size_t>(done + chunk));
            exact(data.data() + done, chunk);
            done += chunk;
        }
        return data;
    }
    int64_t read() const { return read_; }

private:
    void exact(void* buffer, int64_t count) {
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

int32_t TtsBackupRegItem::WriteToStream(Stream& stream) {
    int64_t written = keyPath_.empty() ? 0 : writeKey(keyPath_, stream);
    KeyTreeWriter end(stream);
    end.endMarker();
    return static_cast<int32_t>(written + end.written());
}

int64_t TtsBackupRegItem::writeKey(const std::string& path, Stream& stream) {
    if (!registry_.OpenKey(path, false)) return 0;
    KeyTreeWriter out(stream);
    out.string(toAnsi(path));

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
        out.string(ansiName);
        out.value<uint8_t>(type);
        out.value<int32_t>(size);
        out.bytes(data);
    }
    out.endMarker();

    // Listed after the values are written, before descending, as the format's order requires.
    std::vector<std::string> subkeys;
    registry_.GetKeyNames(subkeys);
    int64_t written = out.written();
    for (const auto& subkey : subkeys) written += writeKey(path + "\\" + subkey, stream);
    return written;
}

int32_t TtsBackupRegItem::ReadToSink(Stream& stream, RestoreSink& sink) { return ReadKeyTree(stream, sink); }

int32_t ReadKeyTree(Stream& stream, RestoreSink& sink) {
    KeyTreeReader in(stream);
    for (std::string key = in.string(); key != kKeyTreeEndMarker; key = in.string()) {
        std::string keyPath = fromAnsi(key);
        // Every path is stored from the root. One without its leading backslash would open
        // below the key replayed before it and nest each key one level deeper.
        if (!keyPath.starts_with('\\')) {
            debugLog("Registry replay: the stored key path \"" + keyPath + "\" lacks its leading \\; replayed from the root");
            keyPath.insert(0, 1, '\\');
        }
        sink.createKey(keyPath);
        for (std::string name = in.string(); name != kKeyTreeEndMarker; name = in.string()) {
            const std::string valueName = fromAnsi(name);
            const auto type = static_cast<uint8_t>(in.byte());
            const auto size = in.value<int32_t>();
            switch (type) {
            case kTypeString:
                sink.setValue(keyPath, RegValue::text(valueName, REG_SZ, fromAnsi(in.string())));
                break;
            case kTypeInteger:
                sink.setValue(keyPath, RegValue::dword(valueName, in.value<uint32_t>()));
                break;
            case kTypeBinary:
                if (size < 0) throw TsException("The saved registry data is damaged: the binary value \"" +
                                                valueName + "\" of \"" + keyPath + "\" has a negative size");
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
