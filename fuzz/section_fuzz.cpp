// Reads sections from arbitrary bytes, plain and encrypted: any input must end in a clean
// TsException or a result, never a crash, a hang or a read outside the section.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "part/section_codec.h"
#include "platform/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const ts::SectionCodec encrypted(true, "fuzz"), plain(false, "fuzz");
    const ts::SectionCodec& part = (data[0] & 1) != 0 ? encrypted : plain;
    ts::MemoryStream source(std::vector<uint8_t>(data + 1, data + size));
    try {
        while (source.remaining() > 0) {
            int64_t before = source.position();
            ts::MemoryStream plain;
            int64_t consumed = part.ReadSection(source, plain);
            if (consumed != source.position() - before || plain.size() > consumed) __builtin_trap();
        }
    } catch (const ts::TsException&) {
    }
    return 0;
}
