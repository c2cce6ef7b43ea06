#include "engine/profile_choice.h"

#include <cctype>
#include <filesystem>

#include "items/find_files.h"
#include "platform/exception.h"
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

std::unique_ptr<Profile> chooseProfile(std::optional<std::string> explicitFolder, bool createWhenFresh,
                                       DriveFolders otherDrives) {
    if (!explicitFolder) {
        if (!otherDrives.empty())
            throw TsException("--drive names a drive of a Windows disk: give the Windows user folder on that disk "
                              "with --profile DIR as well.");
        return Profile::openChosen();
    }
    // Nothing is made yet: a restore makes the layout once the data file's password proved
    // right, so a wrong one leaves no trace. A new profile is a Wine prefix, which has no
    // use for --drive: Profile::open says so.
    if (createWhenFresh && otherDrives.empty() && isFresh(*explicitFolder))
        return std::make_unique<Profile>(*explicitFolder,
                                         RegistryHive::openUserReg(*explicitFolder + "/user.reg", *explicitFolder),
                                         defaultUserName(processEnvironment()));
    return Profile::open(*explicitFolder, {}, std::move(otherDrives));
}

DriveFolders parseDriveFolders(const std::vector<std::string>& options) {
    DriveFolders drives;
    for (const std::string& option : options) {
        if (option.size() < 3 || option[1] != '=' || !std::isalpha(static_cast<unsigned char>(option[0])))
            throw TsException("--drive takes a drive letter and a folder, such as D=/mnt/old-d; \"" + option +
                              "\" is not one.");
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(option[0])));
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
        const std::string folder = option.substr(2);
        if (letter == 'c')
            throw TsException("Drive C is the disk of the Windows user folder itself: the folder that holds its Users "
                              "or Documents and Settings. Only other drive letters take --drive.");
        if (drives.count(letter)) throw TsException(std::string("--drive ") + upper + " is given twice.");
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error))
            throw TsException("The folder \"" + folder + "\" given for drive " + upper + ": " +
                              (std::filesystem::exists(folder, error) ? "is not a folder." : "does not exist."));
        drives.emplace(letter, folder);
    }
    return drives;
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
