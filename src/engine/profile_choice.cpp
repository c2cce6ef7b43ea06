#include "engine/profile_choice.h"

#include <filesystem>

#include "items/find_files.h"
#include "items/kinds/address_book.h"
#include "items/kinds/favorites.h"
#include "items/kinds/ie_settings.h"
#include "items/kinds/item_profile.h"
#include "items/kinds/oe_data.h"
#include "platform/profile/special_folders.h"
#include "engine/work_folder.h"
#include "platform/atomic_file.h"
#include "platform/registry/registry_hive.h"

namespace ts {

namespace {

// A folder that holds nothing yet, or only what a restore into it leaves when it is killed
// before it made the profile's layout: its lock file and temporary files of ours.
bool isFresh(const std::string& folder) {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) return true;
    if (!std::filesystem::is_directory(folder, ec)) return false;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != ProfileLock::kFileName && !isOurTemporaryName(name)) return false;
    }
    return !ec;
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

std::string profileNamed(const Profile& profile) {
    return "the " + std::string(profile.kindName()) + " " + profile.folder();
}

std::string describeProfile(const Profile& profile) {
    return "Profile: " + profile.userName() + " (" + std::string(profile.kindName()) + " " + profile.folder() + ")";
}

namespace {

bool anyValueBelow(const RegistryHive& hive, const std::string& key) {
    if (!hive.keyExists(key)) return false;
    if (!hive.valueNames(key).empty()) return true;
    for (const std::string& subkey : hive.subkeyNames(key))
        if (anyValueBelow(hive, key + "\\" + subkey)) return true;
    return false;
}

}  // namespace

bool profileHoldsUserData(const Profile& profile) {
    for (const char* key : {TtsBPIESettings::kSettingsKeyPath, TtsBPOEData::kAccountsKeyPath, TtsBPOEData::kIdentitiesKeyPath})
        if (anyValueBelow(profile.hive(), std::string(key).substr(1))) return true;  // the hive's paths start below the root
    for (const char* folder : {TtsBPAddressBook::kFolder, TtsBPOEData::kStoreFolder})
        if (!FilesBelow(profile, folder, nullptr).empty()) return true;
    std::vector<std::string> favorites;
    if (auto folder = profile.specialFolders().path(csidl::FAVORITES))
        FindFiles(profile, *folder, favorites, TtsBPFavorites::kMask);
    return !favorites.empty();
}

}  // namespace ts
