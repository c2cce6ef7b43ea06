#include "platform/registry/nt_user_dat.h"

#include <dirent.h>
#include <fcntl.h>
#include <hivex.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/registry/registry_hive_text.h"
#include "platform/registry/registry_limits.h"
#include "platform/stream/stream.h"

namespace ts::nt_user_dat {
namespace {

struct FreeWithC {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using CBuffer = std::unique_ptr<T, FreeWithC>;

struct CloseHive {
    void operator()(hive_h* h) const { hivex_close(h); }
};
using Hive = std::unique_ptr<hive_h, CloseHive>;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string errnoText(int error) { return error == 0 ? "unknown error" : std::strerror(error); }

[[noreturn]] void damaged(const std::string& path, const std::string& where, const std::string& why) {
    throw TsException("The registry hive \"" + path + "\" is damaged at " + where + ": " + why +
                      ". Nothing was read from it. Copy the user's folder from an older backup, or let Windows "
                      "check the disk (chkdsk) and repair its registry, then try again.");
}

std::string keyPlace(const std::string& keyPath) { return keyPath.empty() ? "its root key" : "key \"" + keyPath + "\""; }

FileState stateOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw EFOpenError(path, errnoText(errno));
    if (!S_ISREG(info.st_mode)) throw EFOpenError(path, "It is not a regular file.");
    return FileState{info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

Hive openHive(const std::string& path, int flags) {
    errno = 0;
    hive_h* h = hivex_open(path.c_str(), flags);
    if (!h) {
        const int error = errno;
        if (error == ENOENT || error == EACCES || error == EPERM) throw EFOpenError(path, errnoText(error));
        damaged(path, "its header or first block", "hivex cannot open it (" + errnoText(error) + ")");
    }
    return Hive(h);
}

// Walks a hive with hivex into a key tree. Every node is entered once: a subkey list that
// leads back to a key already read (a cycle, or one key listed under two parents) is damage,
// not something to follow. Names and data count against a budget of the file's size, so
// value lists that share cells cannot multiply what is held in memory.
class Reader {
public:
    Reader(hive_h* h, hive::KeyTree& tree, const std::string& path, int64_t fileSize)
        : h_(h), tree_(tree), path_(path), budget_(2 * fileSize + (int64_t{1} << 20)) {}

    void readKey(hive_node_h node, hive::Key& key, const std::string& keyPath, size_t depth) {
        if (depth > registry_limits::kMaxKeyDepth)
            damaged(path_, keyPlace(keyPath), "its keys nest deeper than a registry allows");
        readValues(node, key, keyPath);
        errno = 0;
        CBuffer<hive_node_h> children(hivex_node_children(h_, node));
        if (!children) damaged(path_, keyPlace(keyPath), "its list of subkeys cannot be read (" + errnoText(errno) + ")");
        for (const hive_node_h* child = children.get(); *child != 0; ++child) {
            if (!entered_.insert(*child).second)
                damaged(path_, keyPlace(keyPath), "a subkey leads back to a key already read (a cycle)");
            errno = 0;
            CBuffer<char> name(hivex_node_name(h_, *child));
            if (!name) damaged(path_, keyPlace(keyPath), "the name of a subkey cannot be read (" + errnoText(errno) + ")");
            const std::string childName(name.get());
            spend(static_cast<int64_t>(childName.size()) * 2 + 64, keyPath);
            std::u16string units = hive_text::toUtf16(childName);
            auto& slot = key.subkeys[hive_text::foldCase(units)];
            if (!slot) {
                slot = std::make_shared<hive::Key>();
                slot->name = std::move(units);
            }
            readKey(*child, *slot, keyPath.empty() ? childName : keyPath + "\\" + childName, depth + 1);
        }
    }

private:
    void spend(int64_t bytes, const std::string& keyPath) {
        budget_ -= bytes;
        if (budget_ < 0)
            damaged(path_, keyPlace(keyPath), "its keys and values hold more than the file's size (cells shared between keys)");
    }

    void readValues(hive_node_h node, hive::Key& key, const std::string& keyPath) {
        errno = 0;
        CBuffer<hive_value_h> values(hivex_node_values(h_, node));
        if (!values) damaged(path_, keyPlace(keyPath), "its list of values cannot be read (" + errnoText(errno) + ")");
        for (const hive_value_h* value = values.get(); *value != 0; ++value) {
            errno = 0;
            CBuffer<char> name(hivex_value_key(h_, *value));
            if (!name) damaged(path_, keyPlace(keyPath), "the name of a value cannot be read (" + errnoText(errno) + ")");
            const std::string valueName(name.get());
            const std::string place = "value \"" + valueName + "\" of " + keyPlace(keyPath);
            // A type beyond hivex's enumeration is kept as its number: the storage is read as
            // an integer, never as the enumeration.
            alignas(hive_type) unsigned char typeStorage[sizeof(hive_type)] = {};
            hive_type* type = reinterpret_cast<hive_type*>(typeStorage);
            size_t length = 0;
            if (hivex_value_type(h_, *value, type, &length) != 0)
                damaged(path_, place, "its type cannot be read (" + errnoText(errno) + ")");
            if (static_cast<int64_t>(length) > registry_limits::kMaxValueDataBytes)
                damaged(path_, place, "it claims " + std::to_string(length) + " bytes, more than any registry value holds");
            spend(static_cast<int64_t>(length + valueName.size()) + 64, keyPath);
            errno = 0;
            CBuffer<char> data(hivex_value_value(h_, *value, type, &length));
            if (!data && length != 0) damaged(path_, place, "its data cannot be read (" + errnoText(errno) + ")");
            std::vector<uint8_t> bytes(data.get(), data.get() + (data ? length : 0));
            std::underlying_type_t<hive_type> typeNumber = 0;
            std::memcpy(&typeNumber, typeStorage, sizeof typeNumber);
            tree_.storeValue(key, RegValue{valueName, static_cast<uint32_t>(typeNumber), std::move(bytes)});
        }
    }

    hive_h* h_;
    hive::KeyTree& tree_;
    const std::string& path_;
    int64_t budget_;
    std::unordered_set<hive_node_h> entered_;
};

void readInto(const std::string& path, hive::KeyTree& tree, int64_t fileSize) {
    Hive h = openHive(path, 0);
    Reader reader(h.get(), tree, path, fileSize);
    const hive_node_h root = hivex_root(h.get());
    if (root == 0) damaged(path, "its root key", "hivex finds no root key (" + errnoText(errno) + ")");
    reader.readKey(root, *tree.root(), "", 0);
}

uint32_t littleEndian32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

// The names Windows gives the transaction logs of a hive, matched without regard to case.
constexpr std::array<std::string_view, 3> kLogSuffixes = {".LOG", ".LOG1", ".LOG2"};

// The transaction logs beside the hive, as the folder spells them.
std::vector<std::string> logsBeside(const std::string& path) {
    std::vector<std::string> logs;
    const std::string base = baseNameOf(path);
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folderOf(path).c_str()), ::closedir);
    if (!folder) return logs;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        for (std::string_view suffix : kLogSuffixes)
            if (name.size() == base.size() + suffix.size() && ::strncasecmp(name.c_str(), base.c_str(), base.size()) == 0 &&
                ::strcasecmp(name.c_str() + base.size(), std::string(suffix).c_str()) == 0)
                logs.push_back(folderOf(path) + "/" + name);
    }
    return logs;
}

constexpr const char* kShutDownCleanly =
    "Start that Windows once and shut it down completely (Shift with Shut down, so that fast startup does not "
    "hibernate it), or copy the user's folder from a backup made while Windows was shut down, then try again.";

void refuseReadOnlyDisk(const std::string& path) {
    struct statvfs disk {};
    if (::statvfs(folderOf(path).c_str(), &disk) == 0 && (disk.f_flag & ST_RDONLY))
        throw TsException("Cannot write the registry hive \"" + path +
                          "\": the disk holding it is mounted read-only. Nothing was written. Mount it "
                          "read-write (for an NTFS disk: ntfs-3g without -o ro, after Windows was shut down "
                          "completely), then try again.");
}

// The values of a key in the order the tree keeps them.
std::vector<RegValue> valuesOf(const hive::KeyTree& tree, const hive::Key& key) {
    std::vector<RegValue> values;
    values.reserve(key.values.size());
    for (const hive::StoredValue& stored : key.values) values.push_back(tree.valueOf(stored));
    return values;
}

// A key's values as hivex_node_set_values takes them, pointing into values.
std::vector<hive_set_value> setValueList(const std::vector<RegValue>& values) {
    std::vector<hive_set_value> entries;
    entries.reserve(values.size());
    for (const RegValue& value : values)
        entries.push_back(hive_set_value{const_cast<char*>(value.name.c_str()), static_cast<hive_type>(value.type),
                                         value.data.size(),
                                         reinterpret_cast<char*>(const_cast<uint8_t*>(value.data.data()))});
    return entries;
}

// Makes one node of an open hive hold what key holds: values set only where they differ (a
// set rewrites the node's whole value list), subkeys deleted, added and followed by name as
// Windows compares names.
class Writer {
public:
    Writer(hive_h* h, const hive::KeyTree& wanted, const hive::KeyTree& onDisk, const std::string& path)
        : h_(h), wanted_(wanted), onDisk_(onDisk), path_(path) {}

    void write(hive_node_h node, const hive::Key& want, const hive::Key& had, const std::string& keyPath) {
        const std::vector<RegValue> values = valuesOf(wanted_, want);
        if (values != valuesOf(onDisk_, had)) {
            std::vector<hive_set_value> list = setValueList(values);
            if (hivex_node_set_values(h_, node, list.size(), list.data(), 0) != 0) fail(keyPath, "its values");
        }
        errno = 0;
        CBuffer<hive_node_h> children(hivex_node_children(h_, node));
        if (!children) fail(keyPath, "its subkeys");
        std::unordered_map<std::u16string, hive_node_h> existing;
        for (const hive_node_h* child = children.get(); *child != 0; ++child) {
            CBuffer<char> name(hivex_node_name(h_, *child));
            if (!name) fail(keyPath, "a subkey's name");
            existing.emplace(hive_text::foldCase(hive_text::toUtf16(name.get())), *child);
        }
        for (const auto& [folded, node] : existing)
            if (!want.subkeys.contains(folded) && hivex_node_delete_child(h_, node) != 0) fail(keyPath, "a subkey");
        static const hive::Key kEmpty;
        for (const auto& [folded, wantChild] : want.subkeys) {
            const std::string name = hive_text::toUtf8(wantChild->name);
            const std::string childPath = keyPath.empty() ? name : keyPath + "\\" + name;
            auto found = existing.find(folded);
            auto hadChild = had.subkeys.find(folded);
            if (found != existing.end()) {
                write(found->second, *wantChild, hadChild == had.subkeys.end() ? kEmpty : *hadChild->second, childPath);
                continue;
            }
            errno = 0;
            const hive_node_h added = hivex_node_add_child(h_, node, name.c_str());
            if (added == 0) fail(childPath, "the new key");
            write(added, *wantChild, kEmpty, childPath);
        }
    }

private:
    [[noreturn]] void fail(const std::string& keyPath, const std::string& what) {
        throw TsException("Cannot write the registry hive \"" + path_ + "\": hivex could not change " + what + " of " +
                          keyPlace(keyPath) + " (" + errnoText(errno) + "). Nothing was written.");
    }

    hive_h* h_;
    const hive::KeyTree& wanted_;
    const hive::KeyTree& onDisk_;
    const std::string& path_;
};

// The first place where two trees differ, or "" when they hold the same keys and values.
std::string firstDifference(const hive::KeyTree& treeA, const hive::Key& a, const hive::KeyTree& treeB,
                            const hive::Key& b, const std::string& keyPath) {
    if (a.values.size() != b.values.size()) return keyPlace(keyPath) + " (its number of values)";
    for (const hive::StoredValue& stored : a.values) {
        const RegValue value = treeA.valueOf(stored);
        const hive::StoredValue* other = treeB.findValue(b, hive_text::foldCase(hive_text::toUtf16(value.name)));
        if (!other || treeB.valueOf(*other) != value) return "value \"" + value.name + "\" of " + keyPlace(keyPath);
    }
    if (a.subkeys.size() != b.subkeys.size()) return keyPlace(keyPath) + " (its number of subkeys)";
    for (const auto& [folded, child] : a.subkeys) {
        const std::string name = hive_text::toUtf8(child->name);
        const std::string childPath = keyPath.empty() ? name : keyPath + "\\" + name;
        auto other = b.subkeys.find(folded);
        if (other == b.subkeys.end() || other->second->name != child->name) return keyPlace(childPath);
        std::string difference = firstDifference(treeA, *child, treeB, *other->second, childPath);
        if (!difference.empty()) return difference;
    }
    return {};
}

void syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        throw EFCreateError(path, errnoText(error));
    }
    ::close(fd);
}

// A byte copy forced to disk, made under a temporary name and renamed into place, so the
// kept generation is either whole or the one before.
void keepCopy(const std::string& from, const std::string& to) {
    FileStream source(from, FileStream::Mode::Read);
    AtomicFile copy(to, 0600);
    try {
        copy.stream().copyFrom(source, source.size());
    } catch (const EStreamError& error) {
        throw EFCreateError(to, error.what());
    }
    copy.commit();
}

}  // namespace

void refuseUnclean(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw EFOpenError(path, errnoText(errno));
    std::array<uint8_t, 12> header{};
    const ssize_t got = ::pread(fd, header.data(), header.size(), 0);
    ::close(fd);
    // A file too short or without the signature is hivex's to judge.
    if (got == static_cast<ssize_t>(header.size()) && std::memcmp(header.data(), "regf", 4) == 0) {
        const uint32_t primary = littleEndian32(header.data() + 4);
        const uint32_t secondary = littleEndian32(header.data() + 8);
        if (primary != secondary)
            throw TsException("The registry hive \"" + path + "\" was not written completely the last time Windows used it " +
                              "(its header's sequence numbers " + std::to_string(primary) + " and " +
                              std::to_string(secondary) + " differ), so it may lack changes Windows still holds in its " +
                              "transaction logs. " + kShutDownCleanly);
    }
    const FileState hive = stateOf(path);
    for (const std::string& log : logsBeside(path)) {
        struct stat info {};
        if (::lstat(log.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) continue;
        const bool newer = info.st_mtim.tv_sec > hive.mtimeSeconds ||
                           (info.st_mtim.tv_sec == hive.mtimeSeconds && info.st_mtim.tv_nsec > hive.mtimeNanoseconds);
        if (newer)
            throw TsException("The registry hive \"" + path + "\" has a transaction log beside it, \"" + baseNameOf(log) +
                              "\", that is newer than the hive: Windows had not yet written all its changes into the "
                              "hive. " + kShutDownCleanly);
    }
}

FileState load(const std::string& path, hive::KeyTree& tree) {
    const FileState state = stateOf(path);
    refuseUnclean(path);
    hive::KeyTree fresh;
    readInto(path, fresh, state.size);
    tree = std::move(fresh);
    debugLog("Registry: read the hive \"" + path + "\" with hivex (" + std::to_string(state.size) + " bytes)");
    return state;
}

FileState save(const std::string& path, const hive::KeyTree& tree, const FileState& read) {
    refuseReadOnlyDisk(path);
    refuseUnclean(path);
    if (stateOf(path) != read)
        throw TsException("Cannot write the registry hive \"" + path +
                          "\": it changed since it was read (is that Windows running, or another program writing "
                          "it?). Nothing was written. Try again when nothing else uses it.");
    // The hive as it is on disk, which the tree was read from: only what differs is changed.
    hive::KeyTree had;
    readInto(path, had, read.size);
    // hivex holds a hive opened for writing in memory; the original file is never written.
    Hive h = openHive(path, HIVEX_OPEN_WRITE);
    Writer(h.get(), tree, had, path).write(hivex_root(h.get()), *tree.root(), *had.root(), "");
    const std::string written = folderOf(path) + "/" + std::string(kTemporaryPrefix) + baseNameOf(path);
    errno = 0;
    if (hivex_commit(h.get(), written.c_str(), 0) != 0) {
        const int error = errno;
        ::unlink(written.c_str());
        throw EFCreateError(written, errnoText(error));
    }
    h.reset();
    try {
        syncFile(written);
        hive::KeyTree readBack;
        readInto(written, readBack, stateOf(written).size);
        const std::string difference = firstDifference(tree, *tree.root(), readBack, *readBack.root(), "");
        if (!difference.empty())
            throw TsException("Cannot write the registry hive \"" + path + "\": the hive hivex wrote does not read back "
                              "as meant, at " + difference + ". Nothing was changed.");
        keepCopy(path, path + std::string(kPreviousSuffix));
        if (::rename(written.c_str(), path.c_str()) != 0) throw EFCreateError(path, errnoText(errno));
    } catch (...) {
        ::unlink(written.c_str());
        throw;
    }
    syncFileSystemOf(folderOf(path));
    debugLog("Registry: wrote the hive \"" + path + "\" with hivex, the one before kept as \"" + baseNameOf(path) +
             std::string(kPreviousSuffix) + "\"");
    return stateOf(path);
}

}  // namespace ts::nt_user_dat
