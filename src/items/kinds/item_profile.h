#pragma once
// How the item kinds reach the Windows user of their project, and the registry keys they
// save from it.
#include <memory>
#include <string>
#include <vector>

namespace ts {

class CaptureReport;
class Profile;
class TtsBackupRegItem;
class ProjectLink;

// The project's user profile, or nullptr when the project has none yet (a project made only
// to read or write records).
Profile* ProfileIfAny(const ProjectLink* project);

// The project's user profile; raises TsException naming `itemCaption` when there is none.
Profile& RequireProfile(const ProjectLink* project, const std::string& itemCaption);

// A key of HKEY_CURRENT_USER to save from profile, checked now: a key missing at this moment
// is saved as an empty tree.
std::unique_ptr<TtsBackupRegItem> MakeSavedKey(const Profile& profile, const std::string& keyPath);

// Keeps key bound to profile: a key made for another profile (or none yet) is made again for
// this one, and so checked again.
void BindSavedKey(std::unique_ptr<TtsBackupRegItem>& key, const Profile& profile, const std::string& keyPath);

// The real paths of the files below a folder given in placeholder form
// ("[CSIDL_APPDATA]\Microsoft\Address Book"), searched afresh with FindFiles and "*.*". A
// folder that cannot be listed is told to report (when given) as not listed.
std::vector<std::string> FilesBelow(const Profile& profile, const std::string& placeholderFolder,
                                    CaptureReport* report);

}  // namespace ts
