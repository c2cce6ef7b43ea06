#include "platform/stream/bounded_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace ts {

BoundedStream::BoundedStream(Stream& base, int64_t length)
    : base_(base), start_(base.position()), length_(length) {
    if (length < 0) throw EStreamError("Invalid stream window length");
}

void BoundedStream::seek(int64_t position) {
    if (position < 0) throw EStreamError("Invalid stream position");
    position_ = position;
}

int64_t BoundedStream::read(void* buffer, int64_t count) {
    int64_t wanted = std::min(count, length_ - position_);
    if (wanted <= 0) return 0;
    if (base_.position() != start_ + position_) base_.seek(start_ + position_);
    int64_t got = base_.read(buffer, wanted);
    position_ += got;
    return got;
}

int64_t BoundedStream::write(const void*, int64_t) {
    throw EWriteError("Stream write error: the stream window is read only");
}

ByteViewStream::ByteViewStream(const void* data, int64_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(size) {
    if (size < 0) throw EStreamError("Invalid stream size");
}

void ByteViewStream::seek(int64_t position) {
    if (position < 0) throw EStreamError("Invalid stream position");
    position_ = position;
}

int64_t ByteViewStream::read(void* buffer, int64_t count) {
    int64_t n = std::min(count, size_ - position_);
    if (n <= 0) return 0;
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t ByteViewStream::write(const void*, int64_t) {
    throw EWriteError("Stream write error: the memory view is read only");
}

}  // namespace ts
