#include "items/kinds/extra_fields.h"

#include <array>
#include <cstring>

#include "part/text_field.h"

namespace ts {

void ExtraFields::SetText(const std::string& text, const std::string& what) {
    text_ = checkedFieldText(text, what);
}

int32_t ExtraFields::WriteToStream(Stream& stream, const std::string& what) const {
    std::array<uint8_t, kSize> record{};
    textToField(text_, record.data(), what);
    std::memcpy(record.data() + kTextFieldSize, &value_, sizeof value_);
    stream.write(record.data(), record.size());
    return kSize;
}

int32_t ExtraFields::ReadFromStream(Stream& stream) {
    std::array<uint8_t, kSize> record{};
    stream.readExact(record.data(), record.size());
    text_ = textFromField(record.data());
    std::memcpy(&value_, record.data() + kTextFieldSize, sizeof value_);
    return kSize;
}

}  // namespace ts
