#include "engine/profile_choice.h"

#include <filesystem>

#include "platform/registry/registry_hive.h"

namespace ts {

namespace {

bool isFresh(const std::string& folder) {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) return true;
    return std::filesystem::is_directory(folder, ec) && std::filesystem::is_empty(folder, ec);
}

}  // namespace

std::unique_ptr<Profile> chooseProfile(std::optional<std::string> explicitFolder, bool createWhenFresh) {
    if (!explicitFolder) return Profile::openChosen();
    // Nothing is made yet: a restore makes the layout once the data file's password proved
    // right, so a wrong one leaves no trace.
    if (createWhenFresh && isFresh(*explicitFolder))
        return std::make_unique<Profile>(*explicitFolder,
                                         RegistryHive::openUserReg(*explicitFolder + "/user.reg", *explicitFolder),
                                         defaultUserName(processEnvironment()));
    return Profile::open(*explicitFolder);
}

std::string describeProfile(const Profile& profile) {
    return "Profile: " + profile.userName() + " (" + profile.folder() + ")";
}

}  // namespace ts
