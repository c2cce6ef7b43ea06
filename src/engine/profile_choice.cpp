#include "engine/profile_choice.h"

#include <filesystem>

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
    if (createWhenFresh && isFresh(*explicitFolder)) createProfileLayout(*explicitFolder);
    return Profile::open(*explicitFolder);
}

std::string describeProfile(const Profile& profile) {
    return "Profile: " + profile.userName() + " (" + profile.folder() + ")";
}

}  // namespace ts
