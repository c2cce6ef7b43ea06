// Reads arbitrary bytes as a mail store file and as a folder list: any input must end in a
// clean TsException or a result, never a crash or a hang, and the messages read can never
// together be longer than the file (no chain is followed twice, no block counted twice).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/mail_store.h"
#include "platform/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ts::MemoryStream stream(std::vector<uint8_t>(data, data + size));
    try {
        ts::MailStoreFile store(stream, "fuzz.dbx");
        int64_t total = 0;
        store.forEachRecord([&](const ts::StoreRecord& record) {
            (void)record.text(ts::store_layout::kFolderName);
            if (const auto first = record.number(ts::store_layout::kMessageFirstBlock))
                store.readMessage(*first, [&](const uint8_t*, size_t length) { total += static_cast<int64_t>(length); });
        });
        if (total > static_cast<int64_t>(size)) __builtin_trap();
        (void)store.countLeftoverBlocks();
        const auto folders = ts::readStoreFolders(store);
        if (ts::storeFolderPaths(folders).size() != folders.size()) __builtin_trap();
    } catch (const ts::TsException&) {
    }
    return 0;
}
