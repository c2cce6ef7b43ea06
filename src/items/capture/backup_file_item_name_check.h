#pragma once
// Which saved file names a restore may write. A data file is outside input: a stored name
// such as "[CSIDL_APPDATA]\..\..\..\.bashrc", an absolute path or another drive would
// otherwise write anywhere the user may. Only names inside one of the restoring user's
// special folders pass.
#include <optional>
#include <string>

namespace ts {

class Profile;

// Why storedName (placeholder form, host text) may not be restored to realName (its
// expansion in profile), or no value when it may. A name passes when it begins with a
// placeholder of the table for which the profile has a folder, followed by one or more
// "\name" segments none of which is empty, "." or "..", made of dots and blanks only, or
// holds a drive (":"), and when expanding it changed nothing but that first placeholder.
std::optional<std::string> unrestorableNameReason(const Profile& profile, const std::string& storedName,
                                                  const std::string& realName);

// Whether a real path has a folder part: something other than blanks and control characters
// up to its last "\" or ":". A restore writes no name without one.
bool namesAFolder(const std::string& realName);

// Why a restore into profile would refuse storedName (both rules above, on its expansion in
// profile), or no value when it would write it. A backup refuses the same names, so that what
// it saves can come back.
std::optional<std::string> restoreRefusalOf(const Profile& profile, const std::string& storedName);

}  // namespace ts
