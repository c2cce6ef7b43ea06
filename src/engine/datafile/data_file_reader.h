#pragma once
// Opens a data file for reading in one pass: the file, the inflation over it, and the
// 272-byte header at the start of the plain stream. What follows the header is read from
// stream() by whoever needs it; nothing is inflated ahead of that.
#include <memory>
#include <optional>
#include <string>

#include "engine/datafile/data_header.h"
#include "platform/stream/inflate_stream.h"
#include "platform/stream/stream.h"

namespace ts {

class DataFileReader {
public:
    // Raises EFOpenError when the file cannot be opened and ECompressedDataError when its
    // first bytes are not zlib data.
    explicit DataFileReader(const std::string& fileName);

    // The header, or nothing when the plain stream does not start with a data file's
    // identifier (another zlib stream, or fewer than 272 bytes).
    const std::optional<DataHeaderRec>& header() const { return header_; }
    // The plain stream, just after the header.
    InflateStream& stream() { return inflate_; }
    const std::string& fileName() const { return fileName_; }

private:
    std::string fileName_;
    FileStream file_;
    InflateStream inflate_;
    std::optional<DataHeaderRec> header_;
};

}  // namespace ts
