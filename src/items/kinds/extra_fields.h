#pragma once
// The text and the number that the address book and mail data records carry after their
// head. Nothing gives them a meaning: new records write an empty text and 0, and records read
// from a file keep whatever they held.
#include <cstdint>
#include <string>

#include "platform/stream/stream.h"

namespace ts {

class ExtraFields {
public:
    // A 256-byte text field and 8 bytes of number.
    static constexpr int32_t kSize = 264;

    const std::string& Text() const { return text_; }
    // Refuses (TsException naming `what`, text unchanged) a text whose ANSI form does not fit
    // its field together with its NUL.
    void SetText(const std::string& text, const std::string& what);
    int64_t Value() const { return value_; }
    void SetValue(int64_t value) { value_ = value; }

    // Each returns kSize; a stream that ends early raises EReadError.
    int32_t WriteToStream(Stream& stream, const std::string& what) const;
    int32_t ReadFromStream(Stream& stream);

private:
    std::string text_;
    int64_t value_ = 0;
};

}  // namespace ts
