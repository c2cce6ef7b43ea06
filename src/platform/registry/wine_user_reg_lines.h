#pragma once
// The two line kinds of user.reg that carry data, key lines and value lines, read with
// Wine's tolerance and written exactly as Wine writes them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_hive.h"

namespace ts::wine_reg {

// One line of user.reg.
struct Line {
    std::string_view raw;      // with its line end
    std::string_view content;  // as Wine's reader sees it: no line end, no text after a NUL
};

// The lines of a text from a given offset, one at a time.
class LineCursor {
public:
    explicit LineCursor(std::string_view text, size_t offset = 0) : text_(text), pos_(offset) {}

    std::optional<Line> next();
    // Where the line next() returns next starts.
    size_t offset() const { return pos_; }
    // The number of the line next() returned last, from 1 when the cursor started at 0.
    size_t number() const { return number_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t number_ = 0;
};

// Without the spaces Wine's reader skips at the start of a line.
std::string_view skipLeadingSpaces(std::string_view text);

// The content of the next line (without its line end), or nullopt at the end of the file.
using NextLine = std::function<std::optional<std::string_view>()>;

struct ParsedValue {
    RegValue value;
    // False when the name was read but the rest of the line was not: Wine then keeps the name
    // as an empty REG_NONE value, and so do we.
    bool wellFormed = true;
};

// `content` starts at the '@' or '"' of the value line. Pulls continuation lines of hex data
// through nextLine. nullopt when the name itself is malformed (Wine skips the line).
std::optional<ParsedValue> parseValue(std::string_view content, const NextLine& nextLine);

// The value whose line starts at `offset` in `text` (a value line parseValue read there
// before), with its continuation lines.
ParsedValue parseValueAt(std::string_view text, size_t offset);
// Only its name, as UTF-16 units; empty for the default value.
std::u16string parseValueNameAt(std::string_view text, size_t offset);

// `content` starts after the '[' of a key line. The path components below the root (empty
// ones dropped); nullopt for a malformed key line.
std::optional<std::vector<std::u16string>> parseKeyPath(std::string_view content);

// The value's line(s) as Wine writes them, each ended by '\n'.
std::string formatValue(const RegValue& value);

// A key record's first lines as Wine writes them for a key last written at `unixTime`:
// "[path] seconds" and "#time=FILETIME".
std::string formatKeyHeader(const std::vector<std::u16string>& components, int64_t unixSeconds,
                            uint32_t hundredNanoseconds);

}  // namespace ts::wine_reg
