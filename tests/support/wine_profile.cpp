#include "support/wine_profile.h"

#include <filesystem>
#include <stdexcept>
#include <utility>

namespace ts::test {

namespace {

namespace fs = std::filesystem;

using FolderValues = std::vector<std::pair<std::string_view, std::string_view>>;

// As Wine 8 fills them in on first start.
const FolderValues kWineFolders = {
    {"AppData", "%USERPROFILE%\\AppData\\Roaming"},
    {"Cache", "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
    {"Cookies", "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
    {"Desktop", "%USERPROFILE%\\Desktop"},
    {"Favorites", "%USERPROFILE%\\Favorites"},
    {"History", "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\History"},
    {"Local AppData", "%USERPROFILE%\\AppData\\Local"},
    {"NetHood", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {"Personal", "%USERPROFILE%\\Documents"},
    {"PrintHood", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {"Programs", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {"Recent", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {"SendTo", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {"Start Menu", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {"StartUp", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {"Templates", "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
};

// As a profile copied from Windows XP holds them.
const FolderValues kWindowsXpFolders = {
    {"AppData", "%USERPROFILE%\\Application Data"},
    {"Cache", "%USERPROFILE%\\Local Settings\\Temporary Internet Files"},
    {"Cookies", "%USERPROFILE%\\Cookies"},
    {"Desktop", "%USERPROFILE%\\Desktop"},
    {"Favorites", "%USERPROFILE%\\Favorites"},
    {"History", "%USERPROFILE%\\Local Settings\\History"},
    {"Local AppData", "%USERPROFILE%\\Local Settings\\Application Data"},
    {"NetHood", "%USERPROFILE%\\NetHood"},
    {"Personal", "%USERPROFILE%\\My Documents"},
    {"PrintHood", "%USERPROFILE%\\PrintHood"},
    {"Programs", "%USERPROFILE%\\Start Menu\\Programs"},
    {"Recent", "%USERPROFILE%\\Recent"},
    {"SendTo", "%USERPROFILE%\\SendTo"},
    {"Start Menu", "%USERPROFILE%\\Start Menu"},
    {"Startup", "%USERPROFILE%\\Start Menu\\Programs\\Startup"},
    {"Templates", "%USERPROFILE%\\Templates"},
};

std::string doubledBackslashes(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string userRegText(const WineProfileOptions& options) {
    std::string text =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "\n"
        "#arch=win64\n"
        "\n"
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell Folders] 1796672901\n"
        "#time=1dd8683e9dd3786\n";
    for (const auto& [name, value] : options.windowsXpFolders ? kWindowsXpFolders : kWineFolders)
        text += "\"" + std::string(name) + "\"=str(2):\"" + doubledBackslashes(value) + "\"\n";
    if (!options.extraUserReg.empty()) text += "\n" + options.extraUserReg;
    return text;
}

}  // namespace

WineProfile::WineProfile(WineProfileOptions options) : options_(std::move(options)), folder_(dir_.path().string()) {
    fs::create_directories(driveC() + "/users/" + options_.userName);
    fs::create_directories(driveC() + "/windows");
    fs::create_directories(folder_ + "/dosdevices");
    fs::create_directory_symlink("../drive_c", folder_ + "/dosdevices/c:");
    writeHostFile(userRegPath(), userRegText(options_));
}

std::unique_ptr<Profile> WineProfile::open(std::string userName) const {
    return Profile::open(folder_, userName.empty() ? options_.userName : std::move(userName));
}

std::string WineProfile::hostOf(std::string_view windowsPath) const {
    if (windowsPath.size() < 2 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') || windowsPath[1] != ':')
        throw std::invalid_argument("WineProfile: not a C: path: " + std::string(windowsPath));
    std::string host = driveC();
    for (char c : windowsPath.substr(2)) host += c == '\\' ? '/' : c;
    return host;
}

void WineProfile::writeFile(std::string_view windowsPath, std::string_view content) const {
    const fs::path host = hostOf(windowsPath);
    fs::create_directories(host.parent_path());
    writeHostFile(host.string(), std::string(content));
}

}  // namespace ts::test
