#include "items/kinds/item_profile.h"

#include "part/bp_object.h"
#include "part/capture_report.h"
#include "items/capture/backup_reg_item.h"
#include "items/file_name.h"
#include "items/find_files.h"
#include "platform/exception.h"

namespace ts {

Profile* ProfileIfAny(const ProjectLink* project) {
    if (!project) return nullptr;
    // A project without a profile says so only by refusing UserProfile.
    try {
        return &project->UserProfile();
    } catch (const TsException&) {
        return nullptr;
    }
}

Profile& RequireProfile(const ProjectLink* project, const std::string& itemCaption) {
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

std::vector<std::string> FilesBelow(const Profile& profile, const std::string& placeholderFolder,
                                    CaptureReport* report) {
    TtsFileName folder(profile);
    folder.SetName(placeholderFolder);
    std::vector<std::string> files;
    FindFiles(profile, folder.RealName(), files, "*.*", [report](const std::string& unlisted, const std::string& reason) {
        if (report) report->notSaved(unlisted, reason, CaptureReport::Problem::FolderNotListed);
    });
    return files;
}

}  // namespace ts
