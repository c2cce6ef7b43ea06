#include "items/capture/backup_item.h"

#include "items/capture/profile_restore_sink.h"

namespace ts {

int32_t TtsBackupItem::ReadFromStream(Stream& stream) {
    DirectProfileSink sink(*profile_);
    return readToSink(stream, sink);
}

}  // namespace ts
