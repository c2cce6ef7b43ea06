// Key-tree replay of arbitrary bytes into an inventory: it must end with a clear error or
// the tree's byte count, never crash, hang or read past the input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "items/capture/backup_reg_item.h"
#include "items/capture/inventory_sink.h"
#include "platform/stream/bounded_stream.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "platform/debug_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ts::Profile profile("/nonexistent-fuzz-profile", ts::RegistryHive::inMemory(), "fuzz");
    ts::ByteViewStream input(data, static_cast<int64_t>(size));
    ts::InventorySink inventory;
    ts::TtsBackupRegItem item(profile);
    try {
        const int32_t read = item.readToSink(input, inventory);
        if (read != input.position()) __builtin_trap();
    } catch (const ts::TsException&) {
    }
    if (input.position() > input.size()) __builtin_trap();
    ts::DebugLog::instance().clear();
    return 0;
}
