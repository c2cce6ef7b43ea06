#include "support/hive_maker.h"

#include <hivex.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "support/temp_dir.h"

namespace ts::test {
namespace {

void put16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void putText(std::vector<uint8_t>& bytes, size_t at, std::string_view text) {
    std::memcpy(bytes.data() + at, text.data(), text.size());
}

struct CloseHive {
    void operator()(hive_h* h) const { hivex_close(h); }
};

[[noreturn]] void hivexFailed(const std::string& what) {
    throw std::runtime_error("hivex: " + what + ": " + std::strerror(errno));
}

hive_node_h childOrNew(hive_h* h, hive_node_h parent, const std::string& name) {
    errno = 0;
    if (hive_node_h child = hivex_node_get_child(h, parent, name.c_str())) return child;
    if (errno != 0) hivexFailed("looking up " + name);
    hive_node_h added = hivex_node_add_child(h, parent, name.c_str());
    if (added == 0) hivexFailed("adding " + name);
    return added;
}

std::vector<std::string> components(const std::string& keyPath) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= keyPath.size()) {
        size_t end = keyPath.find('\\', start);
        if (end == std::string::npos) end = keyPath.size();
        if (end > start) parts.push_back(keyPath.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string commandOutput(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string output;
    char buffer[65536];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, got);
    const int status = ::pclose(pipe.release());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(command + " failed");
    return output;
}

std::string quoted(const std::string& path) {
    std::string out = "'";
    for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A quoted name of a .reg file, backslash and quote escaped; returns what follows it.
std::string unquote(const std::string& line, size_t& at) {
    std::string name;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size()) ++at;
        name += line[at];
    }
    ++at;
    return name;
}

std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at + 2 <= text.size(); at += 3)
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16)));
    return bytes;
}

}  // namespace

std::vector<uint8_t> emptyHiveBytes() {
    constexpr size_t kBlock = 4096;
    constexpr uint32_t kRootCell = 0x20;     // right after the bin's 32-byte header
    constexpr uint32_t kRootCellSize = 88;   // 4 + a 76-byte key node + "ROOT", to 8 bytes
    constexpr uint32_t kSecurityCell = kRootCell + kRootCellSize;
    constexpr uint32_t kSecurityCellSize = 48;
    constexpr uint32_t kFreeCell = kSecurityCell + kSecurityCellSize;
    std::vector<uint8_t> hive(2 * kBlock, 0);

    // Base block: signature, equal sequence numbers, version 1.3, primary file, direct format.
    putText(hive, 0, "regf");
    put32(hive, 4, 1);
    put32(hive, 8, 1);
    put32(hive, 20, 1);
    put32(hive, 24, 3);
    put32(hive, 28, 0);
    put32(hive, 32, 1);
    put32(hive, 36, kRootCell);
    put32(hive, 40, kBlock);
    put32(hive, 44, 1);
    uint32_t checksum = 0;
    for (size_t at = 0; at < 508; at += 4)
        checksum ^= hive[at] | hive[at + 1] << 8 | hive[at + 2] << 16 | uint32_t{hive[at + 3]} << 24;
    put32(hive, 508, checksum);

    // The bin: offsets in it count from its start, which is the first byte after the base block.
    const size_t bin = kBlock;
    putText(hive, bin, "hbin");
    put32(hive, bin + 4, 0);
    put32(hive, bin + 8, kBlock);

    // The root key: a used cell (negative size) holding the key node, with no subkeys, no
    // values and no class, its name stored as 8-bit text.
    const size_t root = bin + kRootCell;
    put32(hive, root, static_cast<uint32_t>(-static_cast<int32_t>(kRootCellSize)));
    putText(hive, root + 4, "nk");
    put16(hive, root + 6, 0x2C);                 // hive entry, cannot be deleted, 8-bit name
    put32(hive, root + 4 + 0x1C, 0xFFFFFFFF);    // subkey list
    put32(hive, root + 4 + 0x20, 0xFFFFFFFF);    // volatile subkey list
    put32(hive, root + 4 + 0x28, 0xFFFFFFFF);    // value list
    put32(hive, root + 4 + 0x2C, kSecurityCell);
    put32(hive, root + 4 + 0x30, 0xFFFFFFFF);    // class name
    put16(hive, root + 4 + 0x48, 4);
    putText(hive, root + 4 + 0x4C, "ROOT");

    // Its security cell, which new keys inherit: a ring of one, referenced once, holding a
    // self-relative descriptor with no owner and no access list (everyone may do everything).
    const size_t security = bin + kSecurityCell;
    put32(hive, security, static_cast<uint32_t>(-static_cast<int32_t>(kSecurityCellSize)));
    putText(hive, security + 4, "sk");
    put32(hive, security + 8, kSecurityCell);
    put32(hive, security + 12, kSecurityCell);
    put32(hive, security + 16, 1);
    put32(hive, security + 20, 20);
    hive[security + 24] = 1;                     // descriptor revision
    put16(hive, security + 26, 0x8004);          // self-relative, access list present (none)

    // The rest of the bin is one free cell (positive size).
    put32(hive, bin + kFreeCell, static_cast<uint32_t>(kBlock - kFreeCell));
    return hive;
}

void makeHive(const std::string& path, const std::vector<HiveKey>& keys) {
    TempDir scratch;
    const std::string empty = scratch.file("empty.dat");
    writeHostFile(empty, emptyHiveBytes());
    std::unique_ptr<hive_h, CloseHive> h(hivex_open(empty.c_str(), HIVEX_OPEN_WRITE));
    if (!h) hivexFailed("opening the empty hive");
    for (const HiveKey& key : keys) {
        hive_node_h node = hivex_root(h.get());
        for (const std::string& name : components(key.path)) node = childOrNew(h.get(), node, name);
        if (key.values.empty()) continue;
        std::vector<hive_set_value> values;
        for (const RegValue& value : key.values)
            values.push_back(hive_set_value{const_cast<char*>(value.name.c_str()), static_cast<hive_type>(value.type),
                                            value.data.size(),
                                            reinterpret_cast<char*>(const_cast<uint8_t*>(value.data.data()))});
        if (hivex_node_set_values(h.get(), node, values.size(), values.data(), 0) != 0) hivexFailed("setting values");
    }
    if (hivex_commit(h.get(), path.c_str(), 0) != 0) hivexFailed("writing " + path);
}

std::vector<HiveKey> keysOf(const RegistryHive& hive) {
    std::vector<HiveKey> keys;
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
        const std::string key = pending.back();
        pending.pop_back();
        HiveKey made{key, {}};
        for (const std::string& name : hive.valueNames(key)) made.values.push_back(*hive.value(key, name));
        if (!key.empty()) keys.push_back(std::move(made));
        for (const std::string& sub : hive.subkeyNames(key)) pending.push_back(key.empty() ? sub : key + "\\" + sub);
    }
    return keys;
}

std::string makeWindowsUserFolder(const std::string& driveC, const std::string& user, bool windowsXp,
                                  const std::vector<HiveKey>& keys) {
    const std::filesystem::path folder =
        std::filesystem::path(driveC) / (windowsXp ? "Documents and Settings" : "Users") / user;
    std::filesystem::create_directories(folder);
    makeHive((folder / "NTUSER.DAT").string(), keys);
    return folder.string();
}

ExportedHive exportHive(const std::string& path) {
    // -CS: names reach us as UTF-8 whatever the locale.
    const std::string text = commandOutput("perl -CS /usr/bin/hivexregedit --export " + quoted(path) + " '\\'");
    ExportedHive hive;
    std::vector<RegValue>* key = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.starts_with("[\\")) {
            std::string keyPath = line.substr(2, line.size() - 3);
            key = &hive[keyPath];
            continue;
        }
        if (!key || line.empty() || (line[0] != '"' && line[0] != '@')) continue;
        size_t at = 0;
        RegValue value;
        if (line[0] == '"') value.name = unquote(line, at);
        else at = 1;
        const std::string data = line.substr(at + 1);   // past '='
        if (data.starts_with("dword:")) {
            value = RegValue::dword(value.name, static_cast<uint32_t>(std::stoul(data.substr(6), nullptr, 16)));
        } else if (data.starts_with("hex(")) {
            const size_t close = data.find("):");
            value.type = static_cast<uint32_t>(std::stoul(data.substr(4, close - 4), nullptr, 16));
            value.data = hexBytes(data.substr(close + 2));
        } else if (data.starts_with("hex:")) {
            value.type = REG_BINARY;
            value.data = hexBytes(data.substr(4));
        } else {
            throw std::runtime_error("hivexregedit wrote a value line not read here: " + line);
        }
        key->push_back(std::move(value));
    }
    return hive;
}

int64_t cellOffset(const std::string& path, const std::string& keyPath, const char* valueName) {
    std::unique_ptr<hive_h, CloseHive> h(hivex_open(path.c_str(), 0));
    if (!h) hivexFailed("opening " + path);
    hive_node_h node = hivex_root(h.get());
    for (const std::string& name : components(keyPath)) {
        node = hivex_node_get_child(h.get(), node, name.c_str());
        if (node == 0) hivexFailed("finding " + name);
    }
    if (!valueName) return static_cast<int64_t>(node);
    hive_value_h value = hivex_node_get_value(h.get(), node, valueName);
    if (value == 0) hivexFailed(std::string("finding the value ") + valueName);
    return static_cast<int64_t>(value);
}

}  // namespace ts::test
