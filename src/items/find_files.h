#pragma once
// The recursive file search the items collect their files with.
#include <functional>
#include <string>
#include <vector>

namespace ts {

class Profile;

// Appends to List the real paths (Folder + "\" + name) of all files under Folder whose names
// match Mask, depth first: a folder's own files in the order the host lists them, then the
// files of each subfolder that is neither hidden nor system. Folder has no trailing
// backslash. A folder that is missing adds nothing; one that cannot be listed adds nothing
// and is told to onUnlisted (when given) with the reason.
//
// The search stays inside the profile: a folder that really lies outside it (reached through
// a link such as Wine's Documents -> home folder) is not searched, and no folder is searched
// twice however many links lead to it.
using UnlistedFolderReport = std::function<void(const std::string& folder, const std::string& reason)>;
void FindFiles(const Profile& profile, const std::string& Folder, std::vector<std::string>& List,
               const std::string& Mask, const UnlistedFolderReport& onUnlisted = {});

}  // namespace ts
