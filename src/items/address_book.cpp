#include "items/address_book.h"

#include "engine/part/operation_log.h"
#include "platform/exception.h"

namespace ts {

TtsBPAddressBook::TtsBPAddressBook(TtsProjectLink* project)
    : TtsBPSourceItem(project, "Windows Address Book") {}

int32_t TtsBPAddressBook::WriteToStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::WriteToStream(stream);
    logOperationResult("TtsBPAddressBook.WriteToStream", count);
    return count;
}

int32_t TtsBPAddressBook::ReadFromStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::ReadFromStream(stream);
    logOperationResult("TtsBPAddressBook.ReadFromStream", count);
    return count;
}

int32_t TtsBPAddressBook::BackupToStream(Stream&) {
    throw TsException("TtsBPAddressBook.BackupToStream is not implemented yet");
}

int32_t TtsBPAddressBook::RestoreFromStream(Stream&) {
    throw TsException("TtsBPAddressBook.RestoreFromStream is not implemented yet");
}

}  // namespace ts
