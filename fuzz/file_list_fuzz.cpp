// File list reading of arbitrary bytes into an inventory, plain or encrypted (the first
// byte's low bit): it must end with a clear error or the block's byte count, never crash,
// hang, or claim memory for sizes the input does not hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/part/bp_object.h"
#include "items/capture/file_list_block.h"
#include "items/capture/inventory_sink.h"
#include "platform/bounded_stream.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "transfer/debug_log.h"

namespace {

class FuzzProject : public ts::TtsProjectLink {
public:
    FuzzProject(ts::Profile& profile, bool encrypt) : profile_(profile), encrypt_(encrypt) {}
    bool Encrypt() const override { return encrypt_; }
    std::string Password() const override { return "fuzz"; }
    bool Cancelled() const override { return false; }
    ts::Profile& UserProfile() const override { return profile_; }

private:
    ts::Profile& profile_;
    bool encrypt_;
};

class Codec : public ts::TtsBPObject {
public:
    using TtsBPObject::TtsBPObject;
    int32_t ReadFromStream(ts::Stream&) override { return 0; }
    int32_t WriteToStream(ts::Stream&) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ts::Profile profile("/nonexistent-fuzz-profile", ts::RegistryHive::inMemory(), "fuzz");
    if (size == 0) return 0;
    FuzzProject project(profile, (data[0] & 1) != 0);
    Codec codec(&project);
    ts::ByteViewStream input(data + 1, static_cast<int64_t>(size - 1));
    ts::InventorySink inventory;
    try {
        const auto result = ts::ReadFileListBlock(codec, profile, input, inventory);
        if (result.bytesRead != input.position()) __builtin_trap();
    } catch (const ts::TsException&) {
    }
    if (inventory.fileBytes() > static_cast<int64_t>(size)) __builtin_trap();
    ts::DebugLog::instance().clear();
    return 0;
}
