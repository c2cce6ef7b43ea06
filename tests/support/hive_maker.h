#pragma once
// Windows registry hives for the tests, and an independent reading of one.
//
// A hive starts as the smallest one the regf layout allows, made by scripts/make-empty-hive;
// everything else is put in with hivex's own write calls. exportHive reads
// a hive with hivexregedit, a reader that shares nothing with ours but the library.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry/registry_hive.h"

namespace ts::test {

struct HiveKey {
    std::string path;               // below the root, backslash-separated; parents are made
    std::vector<RegValue> values;
};

// Writes a hive holding keys (in order) to path.
void makeHive(const std::string& path, const std::vector<HiveKey>& keys);

// Every key of a hive with its values, parents before children: what makeHive needs to make
// a hive of the same content.
std::vector<HiveKey> keysOf(const RegistryHive& hive);

// A Windows user's folder below driveC (Users\user, or Documents and Settings\user for
// Windows XP) holding an NTUSER.DAT made of keys; returns its host path.
std::string makeWindowsUserFolder(const std::string& driveC, const std::string& user, bool windowsXp,
                                  const std::vector<HiveKey>& keys = {});

// What hivexregedit --export shows: every key's path below the root (as it spells it) with
// its values, names as stored and data as raw bytes with their type.
using ExportedHive = std::map<std::string, std::vector<RegValue>>;
ExportedHive exportHive(const std::string& path);

// Where in the file hivex finds a key's node, or one of its values when valueName is given
// (the cell's first byte), for tests that damage a hive.
int64_t cellOffset(const std::string& path, const std::string& keyPath, const char* valueName = nullptr);

}  // namespace ts::test
