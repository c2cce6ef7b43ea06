#include "engine/scheme.h"

#include <array>

#include "part/record_coding.h"
#include "platform/exception.h"

namespace ts {

namespace {

// Offsets in the plain record; the order is not the declaration order.
constexpr size_t kFlagOffset = 0;
constexpr size_t kTimeOffset = 8;
constexpr size_t kValue5Offset = 16;
constexpr size_t kValue4Offset = 20;
constexpr size_t kValue1Offset = 24;
constexpr size_t kValue2Offset = 28;
constexpr size_t kValue3Offset = 32;

using SchemeRec = std::array<uint8_t, TtsBPScheme::kRecordSize>;

}  // namespace

int32_t TtsBPScheme::WriteToStream(Stream& stream) {
    SchemeRec rec{};
    record::putFixed(rec, kFlagOffset, flag_);
    record::putFixed(rec, kTimeOffset, time_);
    record::putFixed(rec, kValue5Offset, value5_);
    record::putFixed(rec, kValue4Offset, value4_);
    record::putFixed(rec, kValue1Offset, value1_);
    record::putFixed(rec, kValue2Offset, value2_);
    record::putFixed(rec, kValue3Offset, value3_);
    return static_cast<int32_t>(WriteSectionBuffer(rec.data(), kRecordSize, stream));
}

int32_t TtsBPScheme::ReadFromStream(Stream& stream) {
    // Read right after the destination, this section is the second test of the password: a
    // wrong one gets past the destination about once in 256 reads, and past both about once
    // in 65536. Any length that cannot decode to the record fails before its payload is read.
    const auto length = stream.readValue<int64_t>();
    // The length field itself is never encrypted. The record's length of the other kind (plain
    // where encrypted was expected, or the reverse) asks for a password or another one; any
    // other length is damage, whatever the password.
    if (length != EncodedLength(kRecordSize)) {
        if (length == kRecordSize) throw EPlainWhereEncrypted();
        if (length == (kRecordSize / 8 + 1) * 8) throw EFileEncrypted();
        throw EDataDamaged("the schedule section is " + std::to_string(length) + " bytes long, not " +
                           std::to_string(EncodedLength(kRecordSize)));
    }
    MemoryStream encoded;
    if (encoded.copyFrom(stream, length) != length) throw EReadError();
    encoded.rewind();
    MemoryStream plain;
    DecodeStream(encoded, plain);
    if (plain.size() != kRecordSize) throw EFileEncrypted();
    plain.rewind();
    SchemeRec rec;
    plain.readExact(rec.data(), kRecordSize);
    flag_ = record::getFixed<decltype(flag_)>(rec, kFlagOffset);
    time_ = record::getFixed<decltype(time_)>(rec, kTimeOffset);
    value5_ = record::getFixed<decltype(value5_)>(rec, kValue5Offset);
    value4_ = record::getFixed<decltype(value4_)>(rec, kValue4Offset);
    value1_ = record::getFixed<decltype(value1_)>(rec, kValue1Offset);
    value2_ = record::getFixed<decltype(value2_)>(rec, kValue2Offset);
    value3_ = record::getFixed<decltype(value3_)>(rec, kValue3Offset);
    return static_cast<int32_t>(sizeof length + length);
}

}  // namespace ts
