#pragma once
// A user.reg file as read: every line kept as it was, each value line tied to the value it
// defines, so that writing the file back changes only the lines of what changed.
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/registry_hive_tree.h"

namespace ts::wine_reg {

inline constexpr std::string_view kFirstLine = "WINE REGISTRY Version 2";

// A user.reg file as read, kept whole: writing it back walks its lines again and changes
// only the lines of what changed. The tree's values read from the file are read from it too.
struct Document {
    std::shared_ptr<const std::string> text;
    bool endedWithBlankLine = false;
};

// Reads `text` into `tree` (which must be empty). `prefixArch` is the architecture the
// prefix's system.reg names, if any. Throws TsException naming `fileName` when Wine would
// reject the file: a first line other than kFirstLine, or an #arch it cannot use.
Document parseUserReg(std::string text, hive::KeyTree& tree, const std::string& fileName,
                      const std::optional<std::string>& prefixArch);

// What Wine writes into a new user.reg before its first key.
std::string newUserRegText(const std::optional<std::string>& prefixArch);

struct WriteTime {
    int64_t unixSeconds = 0;
    uint32_t hundredNanoseconds = 0;
    static WriteTime now();
};

// The file for the tree's current content: unchanged lines as read, changed and new values
// and new keys in Wine's format, handed to `write` in pieces as it is made.
using TextSink = std::function<void(std::string_view)>;
void renderUserReg(const Document& document, const hive::KeyTree& tree, WriteTime time, const TextSink& write);
// The same, whole.
std::string renderUserReg(const Document& document, const hive::KeyTree& tree, WriteTime time);

// The #arch a registry file names before its first key ("win32", "win64", or anything
// else written there), read without loading the rest.
std::optional<std::string> readGlobalArch(std::istream& in);

}  // namespace ts::wine_reg
