#include "engine/datafile/data_header.h"

#include <cstring>

#include "part/record_coding.h"

namespace ts {

std::array<uint8_t, DataHeaderRec::kSize> DataHeaderRec::toBytes() const {
    std::array<uint8_t, kSize> bytes{};
    record::putText(bytes, 0, kIdentifier, "Data file identifier");
    record::putFixed(bytes, kBackupTimeOffset, BackupTime);
    record::putFixed(bytes, kEncryptOffset, Encrypt);
    return bytes;
}

std::optional<DataHeaderRec> DataHeaderRec::fromBytes(const std::array<uint8_t, kSize>& bytes) {
    const size_t idLength = std::strlen(kIdentifier);
    // The identifier field holds a NUL-terminated text; only that text counts.
    if (std::memcmp(bytes.data(), kIdentifier, idLength) != 0 || bytes[idLength] != 0) return std::nullopt;
    DataHeaderRec header;
    header.BackupTime = record::getFixed<double>(bytes, kBackupTimeOffset);
    header.Encrypt = record::getFixed<bool>(bytes, kEncryptOffset);
    return header;
}

void DataHeaderRec::writeTo(Stream& stream) const {
    auto bytes = toBytes();
    stream.write(bytes.data(), kSize);
}

std::optional<DataHeaderRec> DataHeaderRec::readFrom(Stream& stream) {
    std::array<uint8_t, kSize> bytes{};
    int64_t got = 0;
    while (got < kSize) {
        int64_t n = stream.read(bytes.data() + got, kSize - got);
        if (n <= 0) return std::nullopt;
        got += n;
    }
    return fromBytes(bytes);
}

}  // namespace ts
