#pragma once
// A user.reg file as read: every line kept as it was, each value line tied to the value it
// defines, so that writing the file back changes only the lines of what changed.
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_hive_tree.h"

namespace ts::wine_reg {

inline constexpr std::string_view kFirstLine = "WINE REGISTRY Version 2";

struct DocumentLine {
    std::string raw;               // the line(s) exactly as read, line ends included
    uint64_t valueId = 0;          // non-zero: the value line with this id
    std::u16string valueFolded;    // ...defining this value of the section's key
    bool openEnded = false;        // hex data continued past the end of the file
};

// A key line and the lines after it up to the next key line.
struct DocumentSection {
    std::weak_ptr<hive::Key> key;  // expired once the key is deleted
    bool belongsToKey = false;     // false for a key line Wine cannot read: kept as it is
    std::vector<DocumentLine> lines;
    size_t lastContentLine = 0;    // new values of the key go after this line
};

struct Document {
    std::string header;            // everything before the first key line
    std::vector<DocumentSection> sections;
    bool endedWithBlankLine = false;
};

// Reads `text` into `tree` (which must be empty). `prefixArch` is the architecture the
// prefix's system.reg names, if any. Throws TsException naming `fileName` when Wine would
// reject the file: a first line other than kFirstLine, or an #arch it cannot use.
Document parseUserReg(std::string_view text, hive::KeyTree& tree, const std::string& fileName,
                      const std::optional<std::string>& prefixArch);

// The header Wine gives a new user.reg.
Document newUserRegDocument(const std::optional<std::string>& prefixArch);

struct WriteTime {
    int64_t unixSeconds = 0;
    uint32_t hundredNanoseconds = 0;
    static WriteTime now();
};

// The file for the tree's current content: unchanged lines as read, changed and new values
// and new keys in Wine's format.
std::string renderUserReg(const Document& document, const hive::KeyTree& tree, WriteTime time);

// The #arch a registry file names before its first key ("win32", "win64", or anything
// else written there), read without loading the rest.
std::optional<std::string> readGlobalArch(std::istream& in);

}  // namespace ts::wine_reg
