#pragma once
// Which Windows user profile a front end works on.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile/profile.h"

namespace ts {

// The profile in explicitFolder, or, without one, the one Wine would use ($WINEPREFIX,
// ~/.wine, or the program's own). With createWhenFresh a folder that does not exist yet or is
// empty becomes a new profile (a restore into a fresh profile; the restore makes its layout,
// nothing is written before); otherwise it must hold a user.reg. otherDrives, for a Windows
// user folder only, are the host folders of its disk's other drive letters. Raises
// TsException naming the folder when it cannot be opened.
std::unique_ptr<Profile> chooseProfile(std::optional<std::string> explicitFolder, bool createWhenFresh,
                                       DriveFolders otherDrives = {});

// The folders of --drive options, each "D=DIR": a letter other than C and an existing folder,
// each letter once. Raises TsException saying what is wrong with the first that is not.
DriveFolders parseDriveFolders(const std::vector<std::string>& options);

// One line for a status bar: the Windows user, the kind of profile and its folder.
std::string describeProfile(const Profile& profile);
// "the Wine prefix DIR" or "the Windows user folder DIR", for the lines that end a run.
std::string profileNamed(const Profile& profile);

// Whether the profile holds anything of the user's mail data that a backup would save: a
// favorite, an address book or mail store file, or a value under the browser's, the mail
// accounts' or the identities' keys. Looks, reads no file.
bool profileHoldsUserData(const Profile& profile);

}  // namespace ts
