#include "items/oe_data.h"

#include "engine/part/operation_log.h"
#include "platform/exception.h"

namespace ts {

TtsBPOEData::TtsBPOEData(TtsProjectLink* project)
    : TtsBPSourceItem(project, "Outlook Express Data") {}

int32_t TtsBPOEData::WriteToStream(Stream& stream) {
    logOperationStart("TtsBPOEData.WriteToStream", stream);
    int32_t count = TtsBPSourceItem::WriteToStream(stream);
    logOperationResult("TtsBPOEData.WriteToStream", count);
    return count;
}

int32_t TtsBPOEData::ReadFromStream(Stream& stream) {
    logOperationStart("TtsBPOEData.ReadFromStream", stream);
    int32_t count = TtsBPSourceItem::ReadFromStream(stream);
    logOperationResult("TtsBPOEData.ReadFromStream", count);
    return count;
}

int32_t TtsBPOEData::BackupToStream(Stream&) {
    throw TsException("TtsBPOEData.BackupToStream is not implemented yet");
}

int32_t TtsBPOEData::RestoreFromStream(Stream&) {
    throw TsException("TtsBPOEData.RestoreFromStream is not implemented yet");
}

}  // namespace ts
