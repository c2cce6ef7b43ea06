#include "items/address_book.h"

#include "engine/part/operation_log.h"
#include "platform/exception.h"

namespace ts {

namespace {
const std::string kExtraTextName = std::string("Extra text of the item \"") + TtsBPAddressBook::kCaption + "\"";
}

TtsBPAddressBook::TtsBPAddressBook(TtsProjectLink* project) : TtsBPSourceItem(project, kCaption) {}

void TtsBPAddressBook::SetExtraText(const std::string& text) { extra_.SetText(text, kExtraTextName); }

int32_t TtsBPAddressBook::WriteToStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::WriteToStream(stream);
    count += extra_.WriteToStream(stream, kExtraTextName);
    logOperationResult("TtsBPAddressBook.WriteToStream", count);
    return count;
}

int32_t TtsBPAddressBook::ReadFromStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::ReadFromStream(stream);
    count += extra_.ReadFromStream(stream);
    logOperationResult("TtsBPAddressBook.ReadFromStream", count);
    return count;
}

int32_t TtsBPAddressBook::BackupToStream(Stream&) {
    throw TsException("TtsBPAddressBook.BackupToStream is not implemented yet");
}

int32_t TtsBPAddressBook::RestoreFromStream(Stream&) {
    throw TsException("TtsBPAddressBook.RestoreFromStream is not implemented yet");
}

int32_t TtsBPAddressBook::RestoreToSink(Stream&, RestoreSink&) {
    throw TsException("TtsBPAddressBook.RestoreToSink is not implemented yet");
}

}  // namespace ts
