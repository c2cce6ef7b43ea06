#include "part/text_field.h"

#include <algorithm>
#include <cstring>

#include "platform/ansi_text.h"
#include "platform/exception.h"

namespace ts {

namespace {

[[noreturn]] void throwTooLong(std::string_view what, size_t length, size_t limit) {
    throw TsException(std::string(what) + " is too long: " + std::to_string(length) +
                      " bytes, at most " + std::to_string(limit) + " fit");
}

}  // namespace

std::string textFromField(const uint8_t* field, size_t fieldSize) {
    const auto* begin = reinterpret_cast<const char*>(field);
    const char* end = std::find(begin, begin + fieldSize, '\0');
    return fromAnsi(std::string_view(begin, static_cast<size_t>(end - begin)));
}

void textToField(std::string_view hostText, uint8_t* field, std::string_view what,
                 size_t fieldSize) {
    std::string ansi = toAnsi(hostText);
    if (ansi.size() > fieldSize) throwTooLong(what, ansi.size(), fieldSize - 1);
    std::memset(field, 0, fieldSize);
    std::memcpy(field, ansi.data(), ansi.size());
}

std::string checkedFieldText(std::string_view hostText, std::string_view what) {
    size_t length = toAnsi(hostText).size();
    if (length > kMaxFieldText) throwTooLong(what, length, kMaxFieldText);
    return std::string(hostText);
}

}  // namespace ts
