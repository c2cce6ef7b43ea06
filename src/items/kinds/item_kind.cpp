#include "items/kinds/item_kind.h"

#include "items/capture/profile_restore_sink.h"
#include "items/kinds/item_count.h"
#include "items/kinds/item_profile.h"
#include "part/operation_log.h"

namespace ts {

int32_t TtsBPItemKind::RestoreFromStream(Stream& stream) {
    const std::string operation = logName_ + ".RestoreFromStream";
    if (logsRestoreStart_) logOperationStart(operation, stream);
    ProfileRestoreSink sink(RequireProfile(Project(), Caption()), Project(), Project()->RestoreTransaction(),
                            RestoredKeyRoots());
    return LogItemResult(operation, ReadData(stream, sink, true));
}

int32_t TtsBPItemKind::RestoreToSink(Stream& stream, RestoreSink& sink) {
    return SaturatedCount(ReadData(stream, sink, false));
}

}  // namespace ts
