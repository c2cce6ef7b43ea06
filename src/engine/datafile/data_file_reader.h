#pragma once
// Opens a data file for reading in one pass: the file, the inflation over it, and the
// 272-byte header at the start of the plain stream. What follows the header is read from
// stream() by whoever needs it; nothing is inflated ahead of that.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/datafile/data_header.h"
#include "platform/stream/inflate_stream.h"
#include "platform/stream/stream.h"

namespace ts {

class DataFileReader {
public:
    // Told the compressed bytes read so far and the file's size, after every block the
    // inflation reads.
    using ConsumedEvent = std::function<void(int64_t consumed, int64_t total)>;

    // Raises EFOpenError when the file cannot be opened and ECompressedDataError when its
    // first bytes are not zlib data.
    explicit DataFileReader(const std::string& fileName);

    // The header, or nothing when the plain stream does not start with a data file's
    // identifier (another zlib stream, or fewer than 272 bytes).
    const std::optional<DataHeaderRec>& header() const { return header_; }
    // The plain stream, just after the header.
    InflateStream& stream() { return inflate_; }
    const std::string& fileName() const { return fileName_; }

    void setOnConsumed(ConsumedEvent handler) { counter_.onConsumed = std::move(handler); }
    int64_t consumed() const { return file_.position(); }
    int64_t compressedSize() const { return counter_.total; }

private:
    // Passes the file's bytes to the inflation and tells how far it has come.
    class CountingStream final : public Stream {
    public:
        explicit CountingStream(FileStream& file) : file(file), total(file.size()) {}
        int64_t position() const override { return file.position(); }
        int64_t size() const override { return total; }
        void seek(int64_t position) override { file.seek(position); }
        int64_t read(void* buffer, int64_t count) override {
            int64_t got = file.read(buffer, count);
            if (onConsumed) onConsumed(file.position(), total);
            return got;
        }
        int64_t write(const void* buffer, int64_t count) override { return file.write(buffer, count); }

        FileStream& file;
        int64_t total;
        ConsumedEvent onConsumed;
    };

    std::string fileName_;
    FileStream file_;
    CountingStream counter_;
    InflateStream inflate_;
    std::optional<DataHeaderRec> header_;
};

}  // namespace ts
