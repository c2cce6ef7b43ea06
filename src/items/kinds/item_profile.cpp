#include "items/kinds/item_profile.h"

#include "part/bp_object.h"
#include "items/capture/backup_reg_item.h"
#include "items/file_name.h"
#include "items/find_files.h"
#include "platform/exception.h"

namespace ts {

Profile* ProfileIfAny(const TtsProjectLink* project) {
    if (!project) return nullptr;
    // A project without a profile says so only by refusing UserProfile.
    try {
        return &project->UserProfile();
    } catch (const TsException&) {
        return nullptr;
    }
}

Profile& RequireProfile(const TtsProjectLink* project, const std::string& itemCaption) {
    if (!project) throw TsException("The item \"" + itemCaption + "\" belongs to no backup project");
    return project->UserProfile();
}

std::unique_ptr<TtsBackupRegItem> MakeSavedKey(const Profile& profile, const std::string& keyPath) {
    auto key = std::make_unique<TtsBackupRegItem>(profile);
    key->SetRootKey(HKEY_CURRENT_USER);
    key->SetKeyPath(keyPath);
    return key;
}

void BindSavedKey(std::unique_ptr<TtsBackupRegItem>& key, const Profile& profile, const std::string& keyPath) {
    if (!key || &key->UserProfile() != &profile) key = MakeSavedKey(profile, keyPath);
}

void ReportLeftOutTo(TtsBackupRegItem& key, TtsProjectLink* project) {
    key.SetLeftOutReport([project](const std::string& where, const std::string& reason) {
        if (project) project->FileNotSaved(where, reason);
    });
    key.SetValueSavedReport([project] {
        if (project) project->Tally(TtsProjectLink::Moved::RegistryValueSaved, 0);
    });
}

std::vector<std::string> FilesBelow(const Profile& profile, const std::string& placeholderFolder,
                                    TtsProjectLink* project) {
    TtsFileName folder(profile);
    folder.SetName(placeholderFolder);
    std::vector<std::string> files;
    FindFiles(profile, folder.RealName(), files, "*.*", [project](const std::string& unlisted, const std::string& reason) {
        if (project) project->FileNotSaved(unlisted, reason, TtsProjectLink::CaptureProblem::FolderNotListed);
    });
    return files;
}

}  // namespace ts
