#pragma once
// Registry keys and values as the text file Windows' and Wine's regedit import: version 5
// ("Windows Registry Editor Version 5.00"), UTF-16LE with a byte-order mark, CRLF line ends,
// laid out byte for byte as "regedit /e" writes it, so an export of ours and one of theirs
// compare equal. Text is held in a small buffer and written out as it fills: a tree of any
// size passes through fixed memory.
#include <string>

#include "platform/registry/registry_hive.h"
#include "platform/stream/stream.h"

namespace ts {

class RegFileWriter {
public:
    // Writes the byte-order mark and the version line.
    explicit RegFileWriter(Stream& out);
    RegFileWriter(const RegFileWriter&) = delete;
    RegFileWriter& operator=(const RegFileWriter&) = delete;

    // Starts a key block: a blank line, then "[HKEY_CURRENT_USER\Software\...]".
    // fullPath includes the root key's name.
    void key(const std::string& fullPath);
    // One value of the key last started.
    void value(const RegValue& value);
    // The blank line that ends the file, and everything still buffered.
    void finish();

private:
    void append(std::u16string_view text);
    void append(std::string_view ascii);
    void flush();

    Stream& out_;
    std::u16string buffer_;
};

}  // namespace ts
