#include "items/find_files.h"

#include <set>

#include "platform/atomic_file.h"
#include "platform/profile/profile.h"

namespace ts {

namespace {

class FileSearch {
public:
    FileSearch(const ProfileFiles& files, std::vector<std::string>& list, const std::string& mask)
        : files_(files), list_(list), mask_(mask) {}

    void search(const std::string& folder) {
        auto identity = files_.folderInsideProfile(folder);
        if (!identity || !visited_.insert(*identity).second) return;

        for (const auto& entry : files_.list(folder + "\\" + mask_)) {
            // A temporary file of ours is a killed run's leftover, never the user's data.
            if (entry.isFolder || entry.name.find_first_of("?*") != std::string::npos || isOurTemporaryName(entry.name))
                continue;
            list_.push_back(folder + "\\" + entry.name);
        }
        for (const auto& entry : files_.list(folder + "\\*.*")) {
            if (entry.isFolder && !entry.hidden && !entry.system) search(folder + "\\" + entry.name);
        }
    }

private:
    const ProfileFiles& files_;
    std::vector<std::string>& list_;
    const std::string& mask_;
    std::set<FolderIdentity> visited_;
};

}  // namespace

void FindFiles(const Profile& profile, const std::string& Folder, std::vector<std::string>& List,
               const std::string& Mask) {
    FileSearch(profile.files(), List, Mask).search(Folder);
}

}  // namespace ts
