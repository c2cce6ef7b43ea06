#include "formats/window_reader.h"

#include "platform/exception.h"

namespace ts {

WindowReader::WindowReader(Stream& file) : file_(file), size_(file.size()), window_(kWindowSize) {}

const uint8_t* WindowReader::at(int64_t offset, int64_t length) {
    if (!holds(offset, length) || length > kWindowSize) throw EReadError();
    if (offset < windowStart_ || offset + length > windowStart_ + windowLength_) {
        // A quarter before the piece too: a message's record follows its blocks, and chains
        // may run backwards.
        const int64_t before = std::min(kWindowSize / 4, kWindowSize - length);
        windowStart_ = std::max<int64_t>(0, std::min(offset - before, size_ - kWindowSize));
        const int64_t wanted = std::min(kWindowSize, size_ - windowStart_);
        file_.seek(windowStart_);
        file_.readExact(window_.data(), wanted);
        windowLength_ = wanted;
    }
    return window_.data() + (offset - windowStart_);
}

uint32_t WindowReader::dword(int64_t offset) { return littleEndian32(at(offset, 4)); }

}  // namespace ts
