#include "items/ie_settings.h"

#include "engine/part/operation_log.h"
#include "platform/exception.h"

namespace ts {

TtsBPIESettings::TtsBPIESettings(TtsProjectLink* project)
    : TtsBPSourceItem(project, "IE Settings") {}

int32_t TtsBPIESettings::WriteToStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::WriteToStream(stream);
    logOperationResult("TtsBPIESettings.WriteToStream", count);
    return count;
}

int32_t TtsBPIESettings::ReadFromStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::ReadFromStream(stream);
    logOperationResult("TtsBPIESettings.ReadFromStream", count);
    return count;
}

int32_t TtsBPIESettings::BackupToStream(Stream&) {
    throw TsException("TtsBPIESettings.BackupToStream is not implemented yet");
}

int32_t TtsBPIESettings::RestoreFromStream(Stream&) {
    throw TsException("TtsBPIESettings.RestoreFromStream is not implemented yet");
}

}  // namespace ts
