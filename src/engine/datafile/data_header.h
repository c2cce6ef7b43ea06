#pragma once
// DataHeaderRec: the 272 bytes that open the plain stream of every backup data file.
#include <array>
#include <cstdint>
#include <optional>

#include "platform/stream/stream.h"

namespace ts {

struct DataHeaderRec {
    static constexpr int64_t kSize = 272;
    static constexpr const char* kIdentifier = "Tessaly Data File Iden";
    static constexpr int64_t kBackupTimeOffset = 256;
    static constexpr int64_t kEncryptOffset = 264;

    double BackupTime = 0;  // days since 30 December 1899, local time
    bool Encrypt = false;

    // The record's bytes: identifier with its NUL, time, flag; every other byte zero.
    std::array<uint8_t, kSize> toBytes() const;
    // The record in bytes, or nothing when they do not start with the identifier (compared
    // up to its NUL, byte for byte).
    static std::optional<DataHeaderRec> fromBytes(const std::array<uint8_t, kSize>& bytes);

    void writeTo(Stream& stream) const;
    // Reads up to 272 bytes; fewer than that, or another identifier, gives nothing.
    static std::optional<DataHeaderRec> readFrom(Stream& stream);
};

}  // namespace ts
