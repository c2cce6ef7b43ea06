// Reads arbitrary bytes as an address book and writes its cards: any input must end in a
// clean TsException or a result, never a crash or a hang, and no record is read twice (the
// cards cannot outnumber the records the index can hold in the file).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/vcard_writer.h"
#include "platform/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ts::MemoryStream book(std::vector<uint8_t>(data, data + size));
    ts::MemoryStream cards;
    try {
        const ts::AddressBookConversion done = ts::convertAddressBook(book, "fuzz.wab", cards);
        const int64_t records = done.contacts + done.groups;
        if (records * static_cast<int64_t>(ts::wab_layout::kRecordHeaderSize) > static_cast<int64_t>(size))
            __builtin_trap();
    } catch (const ts::TsException&) {
    }
    return 0;
}
