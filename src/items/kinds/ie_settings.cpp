#include "items/kinds/ie_settings.h"

#include "part/capture_report.h"
#include "part/operation_log.h"
#include "items/capture/backup_reg_item.h"
#include "items/capture/inventory_sink.h"
#include "items/kinds/item_count.h"
#include "items/kinds/item_profile.h"

namespace ts {

TtsBPIESettings::TtsBPIESettings(ProjectLink* project) : ItemKind(project, kCaption, "TtsBPIESettings", false) {
    if (Profile* profile = ProfileIfAny(project)) settingsKey_ = MakeSavedKey(*profile, kSettingsKeyPath);
}

TtsBPIESettings::~TtsBPIESettings() = default;

int32_t TtsBPIESettings::WriteToStream(Stream& stream) {
    CaptureReport unheard;
    return writeRecord(stream, unheard);
}

int32_t TtsBPIESettings::writeRecord(Stream& stream, CaptureReport& report) {
    int64_t count = TtsBPSourceItem::WriteToStream(stream);
    if (const Profile* profile = ProfileIfAny(Project())) {
        BindSavedKey(settingsKey_, *profile, kSettingsKeyPath);
        // Set again: a key that was missing when the item was made is looked for once more.
        settingsKey_->SetRootKey(HKEY_CURRENT_USER);
        settingsKey_->SetKeyPath(kSettingsKeyPath);
        count += settingsKey_->WriteToStream(stream, report);
    } else {
        // No user to look at: nothing is saved, as for a missing key.
        count += stream.write(kKeyTreeEndMarker, sizeof kKeyTreeEndMarker);
    }
    return LogItemResult("TtsBPIESettings.WriteToStream", count);
}

int32_t TtsBPIESettings::ReadFromStream(Stream& stream) {
    InventorySink discarded;
    return readRecord(stream, discarded);
}

int32_t TtsBPIESettings::readRecord(Stream& record, RestoreSink& sink) {
    int64_t count = TtsBPSourceItem::ReadFromStream(record);
    count += ReadKeyTree(record, sink);
    return LogItemResult("TtsBPIESettings.ReadFromStream", count);
}

int32_t TtsBPIESettings::backup(Stream& stream, CaptureReport& report) {
    MemoryStream record;
    writeRecord(record, report);
    record.rewind();
    int64_t count = writeSection(record, record.size(), stream);
    return LogItemResult("TtsBPIESettings.BackupToStream", count);
}

// Read from the section as it is decoded: its length comes from the file, so the record is
// never copied whole, and the key tree's own bounds hold whatever the length claims.
int64_t TtsBPIESettings::ReadData(Stream& stream, RestoreSink& sink, bool) {
    SectionReader section(Codec(), stream);
    readRecord(section, sink);
    section.skipRest();
    return section.sectionSize();
}

}  // namespace ts
