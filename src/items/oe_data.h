#pragma once
// The item "Outlook Express Data" of a backup project.
#include "engine/part/source_item.h"

namespace ts {

class TtsBPOEData : public TtsBPSourceItem {
public:
    explicit TtsBPOEData(TtsProjectLink* project);

    int32_t WriteToStream(Stream& stream) override;
    int32_t ReadFromStream(Stream& stream) override;
    int32_t BackupToStream(Stream& stream) override;
    int32_t RestoreFromStream(Stream& stream) override;
};

}  // namespace ts
