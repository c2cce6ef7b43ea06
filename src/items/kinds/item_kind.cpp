#include "items/kinds/item_kind.h"

#include "items/capture/key_roots.h"
#include "items/kinds/item_count.h"
#include "part/operation_log.h"

namespace ts {

int32_t ItemKind::RestoreFromStream(Stream& stream, RestoreSink& sink) {
    const std::string operation = logName_ + ".RestoreFromStream";
    if (logsRestoreStart_) logOperationStart(operation, stream);
    KeyRootsSink ownKeys(sink, KeyRoots(RestoredKeyRoots()));
    return LogItemResult(operation, ReadData(stream, ownKeys, true));
}

int32_t ItemKind::RestoreToSink(Stream& stream, RestoreSink& sink) {
    return SaturatedCount(ReadData(stream, sink, false));
}

}  // namespace ts
