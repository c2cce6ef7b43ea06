// Reads sections from arbitrary bytes, plain and encrypted: any input must end in a clean
// TsException or a result, never a crash, a hang or a read outside the section.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/part/bp_object.h"
#include "platform/exception.h"

namespace {

class FuzzProject : public ts::TtsProjectLink {
public:
    explicit FuzzProject(bool encrypt) : encrypt_(encrypt) {}
    bool Encrypt() const override { return encrypt_; }
    std::string Password() const override { return "fuzz"; }
    bool Cancelled() const override { return false; }
    ts::Profile& UserProfile() const override { throw std::logic_error("no profile"); }

private:
    bool encrypt_;
};

class FuzzPart : public ts::TtsBPObject {
public:
    using TtsBPObject::TtsBPObject;
    int32_t ReadFromStream(ts::Stream&) override { return 0; }
    int32_t WriteToStream(ts::Stream&) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzProject project((data[0] & 1) != 0);
    FuzzPart part(&project);
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
