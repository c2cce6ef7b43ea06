#include "items/kinds/address_book.h"

#include <vector>

#include "part/capture_report.h"
#include "part/operation_log.h"
#include "items/capture/file_list_block.h"
#include "items/kinds/item_count.h"
#include "items/kinds/item_profile.h"

namespace ts {

namespace {
const std::string kExtraTextName = std::string("Extra text of the item \"") + TtsBPAddressBook::kCaption + "\"";
}

TtsBPAddressBook::TtsBPAddressBook(ProjectLink* project) : ItemKind(project, kCaption, "TtsBPAddressBook", true) {}

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

int32_t TtsBPAddressBook::backup(Stream& stream, CaptureReport& report) {
    logOperationStart("TtsBPAddressBook.BackupToStream", stream);
    const Profile& profile = RequireProfile(Project(), Caption());
    const std::vector<std::string> files = FilesBelow(profile, kFolder, &report);
    return LogItemResult("TtsBPAddressBook.BackupToStream", WriteFileListBlock(Codec(), profile, files, stream, {}, &report));
}

int64_t TtsBPAddressBook::ReadData(Stream& stream, RestoreSink& sink, bool) {
    return ReadFileListBlock(Codec(), RequireProfile(Project(), Caption()), stream, sink).bytesRead;
}

}  // namespace ts
