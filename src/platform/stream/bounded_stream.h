#pragma once
// Read-only streams that present part of something else as a whole stream: a window of N
// bytes of another stream, or a block of memory owned elsewhere. They let code that counts
// from a stream's total size (the cipher) work on one section of a large file without
// copying it into memory first.
#include <cstdint>

#include "platform/stream/stream.h"

namespace ts {

// The `length` bytes of `base` from its current position on. Reading advances base too;
// the window keeps its own position and seeks base when someone else moved it.
class BoundedStream : public Stream {
public:
    BoundedStream(Stream& base, int64_t length);

    int64_t position() const override { return position_; }
    int64_t size() const override { return length_; }
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

private:
    Stream& base_;
    int64_t start_;
    int64_t length_;
    int64_t position_ = 0;
};

// A block of memory that must outlive the stream.
class ByteViewStream : public Stream {
public:
    ByteViewStream(const void* data, int64_t size);

    int64_t position() const override { return position_; }
    int64_t size() const override { return size_; }
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t position_ = 0;
};

}  // namespace ts
