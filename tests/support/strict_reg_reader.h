#pragma once
// A strict reader of the file regedit exports and imports (version 5: UTF-16LE with a byte
// order mark, CRLF lines), written from the format's description, independent of our writer.
// Anything it does not know fails the read, so a line our writer should never make (a key
// line broken in two, an unknown escape, a stray text) shows up as a failure, not as a key.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ts::test {

struct StrictRegValue {
    uint32_t type = 0;           // 1 for a quoted string, 4 for dword:, else the hex(N) type
    std::vector<uint8_t> data;   // as regedit stores it (a quoted string in UTF-16LE with its NUL)
    bool operator==(const StrictRegValue&) const = default;
};

// key path (as written between the brackets, UTF-8) -> value name (UTF-8) -> value.
using StrictRegFile = std::map<std::string, std::map<std::string, StrictRegValue>>;

// Throws std::runtime_error naming the line that breaks the format.
StrictRegFile readRegFileStrictly(const std::vector<uint8_t>& bytes);

}  // namespace ts::test
