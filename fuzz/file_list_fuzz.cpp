// File list reading of arbitrary bytes into an inventory, plain or encrypted (the first
// byte's low bit): it must end with a clear error or the block's byte count, never crash,
// hang, or claim memory for sizes the input does not hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "part/section_codec.h"
#include "items/capture/file_list_block.h"
#include "items/capture/inventory_sink.h"
#include "platform/stream/bounded_stream.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "platform/debug_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ts::Profile profile("/nonexistent-fuzz-profile", ts::RegistryHive::inMemory(), "fuzz");
    if (size == 0) return 0;
    static const ts::SectionCodec encrypted(true, "fuzz"), plain(false, "fuzz");
    const ts::SectionCodec& codec = (data[0] & 1) != 0 ? encrypted : plain;
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
