#pragma once
// A Windows user's hive, NTUSER.DAT, read and written with libhivex, the library made for
// hive files. The whole hive is read into the in-memory key tree the other kinds of hive
// use, so what reads the registry cannot tell where it came from.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry/registry_hive_tree.h"

namespace ts::nt_user_dat {

// The hive as it was when read, so a save can tell whether something else rewrote it.
struct FileState {
    int64_t size = 0;
    int64_t mtimeSeconds = 0;
    int64_t mtimeNanoseconds = 0;
    bool operator==(const FileState&) const = default;
};

// One generation of the hive a save replaced is kept beside it under its name and this.
inline constexpr std::string_view kPreviousSuffix = ".tessaly-previous";

// Loads every key and value of the hive at path into tree. Refuses a hive Windows did not
// finish writing (see refuseUnclean); a hive hivex cannot walk raises a TsException saying
// where it is damaged. Memory stays within a small multiple of the file's size.
FileState load(const std::string& path, hive::KeyTree& tree);

// Throws a TsException saying why and what to do when the hive's header tells of a write
// that did not finish, or a transaction log beside it is newer than it.
void refuseUnclean(const std::string& path);

// Makes the hive at path hold exactly tree: written with hivex into a new file beside it,
// read back and compared, then renamed over it, the replaced hive kept as path +
// kPreviousSuffix. Refuses, before anything is written, a read-only disk, an unclean hive and
// one that changed since it was read (read). Returns the state of the hive written.
FileState save(const std::string& path, const hive::KeyTree& tree, const FileState& read);

}  // namespace ts::nt_user_dat
