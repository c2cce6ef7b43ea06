#include "engine/scheme.h"

#include <array>
#include <bit>
#include <cstring>

#include "platform/exception.h"

namespace ts {

static_assert(std::endian::native == std::endian::little,
              "records are stored little-endian and copied as they lie in memory");

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

template <typename T>
void put(SchemeRec& rec, size_t offset, T value) {
    std::memcpy(&rec[offset], &value, sizeof value);
}

template <typename T>
T get(const SchemeRec& rec, size_t offset) {
    T value;
    std::memcpy(&value, &rec[offset], sizeof value);
    return value;
}

}  // namespace

int32_t TtsBPScheme::WriteToStream(Stream& stream) {
    SchemeRec rec{};
    put(rec, kFlagOffset, flag_);
    put(rec, kTimeOffset, time_);
    put(rec, kValue5Offset, value5_);
    put(rec, kValue4Offset, value4_);
    put(rec, kValue1Offset, value1_);
    put(rec, kValue2Offset, value2_);
    put(rec, kValue3Offset, value3_);
    return static_cast<int32_t>(WriteSectionBuffer(rec.data(), kRecordSize, stream));
}

int32_t TtsBPScheme::ReadFromStream(Stream& stream) {
    // Read right after the destination, this section is the second test of the password: a
    // wrong one gets past the destination about once in 256 reads, and past both about once
    // in 65536. Any length that cannot decode to the record fails before its payload is read.
    const auto length = stream.readValue<int64_t>();
    if (length != EncodedLength(kRecordSize)) throw EFileEncrypted();
    MemoryStream encoded;
    encoded.copyFrom(stream, length);
    encoded.rewind();
    MemoryStream plain;
    DecodeStream(encoded, plain);
    if (plain.size() != kRecordSize) throw EFileEncrypted();
    plain.rewind();
    SchemeRec rec;
    plain.readExact(rec.data(), kRecordSize);
    flag_ = get<uint8_t>(rec, kFlagOffset);
    time_ = get<double>(rec, kTimeOffset);
    value5_ = get<int32_t>(rec, kValue5Offset);
    value4_ = get<int32_t>(rec, kValue4Offset);
    value1_ = get<int32_t>(rec, kValue1Offset);
    value2_ = get<int32_t>(rec, kValue2Offset);
    value3_ = get<int32_t>(rec, kValue3Offset);
    return static_cast<int32_t>(sizeof length + length);
}

}  // namespace ts
