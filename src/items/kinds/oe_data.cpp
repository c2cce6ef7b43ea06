#include "items/kinds/oe_data.h"

#include <vector>

#include "part/capture_report.h"
#include "part/operation_log.h"
#include "items/capture/backup_reg_item.h"
#include "items/capture/file_list_block.h"
#include "items/kinds/item_count.h"
#include "items/kinds/item_profile.h"

namespace ts {

namespace {
const std::string kExtraTextName = std::string("Extra text of the item \"") + TtsBPOEData::kCaption + "\"";
}

TtsBPOEData::TtsBPOEData(ProjectLink* project) : ItemKind(project, kCaption, "TtsBPOEData", true) {
    if (Profile* profile = ProfileIfAny(project)) {
        accountsKey_ = MakeSavedKey(*profile, kAccountsKeyPath);
        identitiesKey_ = MakeSavedKey(*profile, kIdentitiesKeyPath);
    }
}

TtsBPOEData::~TtsBPOEData() {
    identitiesKey_.reset();
    accountsKey_.reset();
}

void TtsBPOEData::SetExtraText(const std::string& text) { extra_.SetText(text, kExtraTextName); }

int32_t TtsBPOEData::WriteToStream(Stream& stream) {
    logOperationStart("TtsBPOEData.WriteToStream", stream);
    int64_t count = TtsBPSourceItem::WriteToStream(stream);
    count += extra_.WriteToStream(stream, kExtraTextName);
    return LogItemResult("TtsBPOEData.WriteToStream", count);
}

int32_t TtsBPOEData::ReadFromStream(Stream& stream) {
    logOperationStart("TtsBPOEData.ReadFromStream", stream);
    int64_t count = TtsBPSourceItem::ReadFromStream(stream);
    count += extra_.ReadFromStream(stream);
    return LogItemResult("TtsBPOEData.ReadFromStream", count);
}

int32_t TtsBPOEData::backup(Stream& stream, CaptureReport& report) {
    logOperationStart("TtsBPOEData.BackupToStream", stream);
    const Profile& profile = RequireProfile(Project(), Caption());
    BindSavedKey(accountsKey_, profile, kAccountsKeyPath);
    BindSavedKey(identitiesKey_, profile, kIdentitiesKeyPath);
    int64_t count = accountsKey_->WriteToStream(stream, report);
    count += identitiesKey_->WriteToStream(stream, report);

    const std::vector<std::string> files = FilesBelow(profile, kStoreFolder, &report);
    count += WriteFileListBlock(Codec(), profile, files, stream, {}, &report);
    return LogItemResult("TtsBPOEData.BackupToStream", count);
}

int64_t TtsBPOEData::ReadData(Stream& stream, RestoreSink& sink, bool) {
    const Profile& profile = RequireProfile(Project(), Caption());
    int64_t count = ReadKeyTree(stream, sink);
    count += ReadKeyTree(stream, sink);
    count += ReadFileListBlock(Codec(), profile, stream, sink).bytesRead;
    return count;
}

}  // namespace ts
