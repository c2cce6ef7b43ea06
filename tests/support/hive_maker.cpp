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

void makeHive(const std::string& path, const std::vector<HiveKey>& keys) {
    TempDir scratch;
    const std::string empty = scratch.file("empty.dat");
    commandOutput("/usr/bin/python3 " + quoted(std::string(TESSALY_SOURCE_DIR) + "/scripts/make-empty-hive") + " " +
                  quoted(empty));
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
