#pragma once
// A temporary Wine-layout profile for tests: a user.reg whose User Shell Folders hold the
// values Wine 8 writes (or Windows XP's), drive_c with the user's folder, and dosdevices
// with c: -> ../drive_c. Removed with everything in it when the test ends.
//
//   WineProfile wine;                                   // user "alice", Wine 8 folders
//   auto profile = wine.open();                         // a ts::Profile over it
//   wine.writeFile("C:\\users\\alice\\AppData\\Roaming\\x.txt", "data");
//   WineProfile xp({.userName = "bob", .windowsXpFolders = true});
#include <memory>
#include <string>
#include <string_view>

#include "platform/profile/profile.h"
#include "support/temp_dir.h"

namespace ts::test {

struct WineProfileOptions {
    std::string userName = "alice";
    // The shell folders hold Windows XP paths: %USERPROFILE%\Application Data,
    // %USERPROFILE%\Local Settings\Application Data, %USERPROFILE%\My Documents, ...
    bool windowsXpFolders = false;
    // Appended to user.reg as written (key sections in Wine's format, "\\" between names).
    std::string extraUserReg;
};

class WineProfile {
public:
    explicit WineProfile(WineProfileOptions options = {});

    const std::string& folder() const { return folder_; }        // the prefix (host path)
    std::string userRegPath() const { return folder_ + "/user.reg"; }
    std::string driveC() const { return folder_ + "/drive_c"; }   // host path of C:\ .
    const WineProfileOptions& options() const { return options_; }

    // A profile over this prefix, for options().userName unless another name is given.
    std::unique_ptr<Profile> open(std::string userName = {}) const;

    // The host path of a "C:\..." path taken literally (no case matching), for setting up
    // and checking files without going through the code under test.
    std::string hostOf(std::string_view windowsPath) const;
    // Writes a file at a "C:\..." path, creating its folders.
    void writeFile(std::string_view windowsPath, std::string_view content) const;

private:
    WineProfileOptions options_;
    TempDir dir_;
    std::string folder_;
};

}  // namespace ts::test
