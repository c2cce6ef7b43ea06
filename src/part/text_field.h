#pragma once
// The fixed 256-byte text fields of the records: a text, a NUL, and zeros after it.
// Texts are host UTF-8 in memory and ANSI (see ansi_text.h) in the field.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ts {

constexpr size_t kTextFieldSize = 256;
// The longest text a field holds together with its NUL.
constexpr size_t kMaxFieldText = kTextFieldSize - 1;

// The text of a field up to its first NUL, or all of the field when it has none.
std::string textFromField(const uint8_t* field, size_t fieldSize = kTextFieldSize);

// Fills the field with the ANSI form of hostText and zeros after it. A text that fills the
// field exactly is written without a NUL (readers take the whole field then), so a text read
// from such a field is written back unchanged. Longer texts raise TsException naming `what`.
void textToField(std::string_view hostText, uint8_t* field, std::string_view what,
                 size_t fieldSize = kTextFieldSize);

// Returns hostText when its ANSI form fits a field with its NUL; otherwise raises TsException
// naming `what` and both lengths. Setters use it so a text is never cut silently.
std::string checkedFieldText(std::string_view hostText, std::string_view what);

}  // namespace ts
