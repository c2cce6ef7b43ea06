#include "items/find_files.h"

#include <set>

#include "platform/atomic_file.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_wildcard.h"

namespace ts {

namespace {

class FileSearch {
public:
    FileSearch(const ProfileFiles& files, std::vector<std::string>& list, const std::string& mask,
               const UnlistedFolderReport& onUnlisted)
        : files_(files), list_(list), mask_(mask), onUnlisted_(onUnlisted) {}

    void search(const std::string& folder) {
        auto identity = files_.folderInsideProfile(folder);
        if (identity) search(folder, *identity);
    }

private:
    // One listing a folder: the files matched against the mask here, attributes read for
    // the subfolders only, which alone decide anything.
    void search(const std::string& folder, const FolderIdentity& identity) {
        if (!visited_.insert(identity).second) return;
        std::string listError;
        const auto entries = files_.list(folder + "\\*.*", ProfileFiles::Detail::Folders, &listError);
        if (!listError.empty() && onUnlisted_) onUnlisted_(folder, listError);
        for (const auto& entry : entries) {
            // A name Windows forbids is still listed: its backup is refused and named. A
            // temporary file or folder of ours is a killed run's leftover, never the user's data.
            if (entry.isFolder || isOurTemporaryName(entry.name)) continue;
            if (mask_.matches(entry.name)) list_.push_back(folder + "\\" + entry.name);
        }
        for (const auto& entry : entries) {
            if (!entry.isFolder || entry.hidden || entry.system || isOurTemporaryName(entry.name)) continue;
            const std::string path = folder + "\\" + entry.name;
            // A real subfolder of a folder inside the profile is inside it too; only a link
            // can lead out.
            if (entry.isLink)
                search(path);
            else
                search(path, entry.identity);
        }
    }

    const ProfileFiles& files_;
    std::vector<std::string>& list_;
    const WildcardMask mask_;
    const UnlistedFolderReport& onUnlisted_;
    std::set<FolderIdentity> visited_;
};

}  // namespace

void FindFiles(const Profile& profile, const std::string& Folder, std::vector<std::string>& List,
               const std::string& Mask, const UnlistedFolderReport& onUnlisted) {
    FileSearch(profile.files(), List, Mask, onUnlisted).search(Folder);
}

}  // namespace ts
