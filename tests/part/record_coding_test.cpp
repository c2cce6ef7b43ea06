#include "part/record_coding.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "platform/exception.h"

namespace ts {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes coded(T value) {
    std::array<uint8_t, 12> record{};
    record::putFixed(record, 2, value);
    EXPECT_EQ(record::getFixed<T>(record, 2), value);
    return Bytes(record.begin() + 2, record.begin() + 2 + sizeof(T));
}

TEST(RecordCoding, NumbersAreLittleEndianWhateverTheHost) {
    EXPECT_EQ(coded<uint8_t>(0xAB), (Bytes{0xAB}));
    EXPECT_EQ(coded<bool>(true), (Bytes{1}));
    EXPECT_EQ(coded<int32_t>(-2), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(coded<int32_t>(0x12345678), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(coded<int64_t>(-1), Bytes(8, 0xFF));
    EXPECT_EQ(coded<double>(1.0), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(coded<double>(45000.5), (Bytes{0, 0, 0, 0, 0x10, 0xF9, 0xE5, 0x40}));
}

TEST(RecordCoding, AnyNonZeroByteReadsAsTrue) {
    const std::array<uint8_t, 1> record{0x80};
    EXPECT_TRUE(record::getFixed<bool>(record, 0));
}

TEST(RecordCoding, AFieldPastTheEndOfItsRecordIsRefusedBeforeAnythingIsWritten) {
    std::array<uint8_t, 8> record{};
    EXPECT_THROW(record::putFixed<int32_t>(record, 5, -1), std::out_of_range);
    EXPECT_THROW(record::putFixed<int32_t>(record, SIZE_MAX - 1, -1), std::out_of_range);
    EXPECT_EQ(record, (std::array<uint8_t, 8>{}));
    EXPECT_THROW(record::getFixed<int64_t>(record, 1), std::out_of_range);
    EXPECT_THROW(record::getText(record, 0), std::out_of_range);
}

TEST(RecordCoding, TextFieldsHoldTheAnsiTextAndZerosAfterIt) {
    std::array<uint8_t, 300> record{};
    record.fill(0xEE);
    record::putText(record, 10, "caf\xC3\xA9", "Test field");
    EXPECT_EQ(Bytes(record.begin() + 10, record.begin() + 16), (Bytes{'c', 'a', 'f', 0xE9, 0, 0}));
    EXPECT_EQ(record[265], 0);
    EXPECT_EQ(record[266], 0xEE);
    EXPECT_EQ(record::getText(record, 10), "caf\xC3\xA9");
    EXPECT_THROW(record::putText(record, 10, std::string(256, 'x') + "y", "Test field"), TsException);
}

}  // namespace
}  // namespace ts
