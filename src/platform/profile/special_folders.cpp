#include "platform/profile/special_folders.h"

#include <array>
#include <utility>

#include "platform/profile/profile_name_case.h"
#include "platform/registry/registry_hive.h"

namespace ts {

namespace {

struct ShellFolder {
    int csidl;
    std::string_view valueName;     // in User Shell Folders
    std::string_view defaultValue;  // Wine 8's, before expansion
};

#define ROAMING_WINDOWS "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows"
#define LOCAL_WINDOWS "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows"

constexpr std::array<ShellFolder, 17> kShellFolders = {{
    {csidl::DESKTOP, "Desktop", "%USERPROFILE%\\Desktop"},
    {csidl::DESKTOPDIRECTORY, "Desktop", "%USERPROFILE%\\Desktop"},
    {csidl::PROGRAMS, "Programs", ROAMING_WINDOWS "\\Start Menu\\Programs"},
    {csidl::PERSONAL, "Personal", "%USERPROFILE%\\Documents"},
    {csidl::FAVORITES, "Favorites", "%USERPROFILE%\\Favorites"},
    {csidl::STARTUP, "StartUp", ROAMING_WINDOWS "\\Start Menu\\Programs\\StartUp"},
    {csidl::RECENT, "Recent", ROAMING_WINDOWS "\\Recent"},
    {csidl::SENDTO, "SendTo", ROAMING_WINDOWS "\\SendTo"},
    {csidl::STARTMENU, "Start Menu", ROAMING_WINDOWS "\\Start Menu"},
    {csidl::NETHOOD, "NetHood", ROAMING_WINDOWS "\\Network Shortcuts"},
    {csidl::TEMPLATES, "Templates", ROAMING_WINDOWS "\\Templates"},
    {csidl::APPDATA, "AppData", "%USERPROFILE%\\AppData\\Roaming"},
    {csidl::PRINTHOOD, "PrintHood", ROAMING_WINDOWS "\\Printer Shortcuts"},
    {csidl::LOCAL_APPDATA, "Local AppData", "%USERPROFILE%\\AppData\\Local"},
    {csidl::INTERNET_CACHE, "Cache", LOCAL_WINDOWS "\\INetCache"},
    {csidl::COOKIES, "Cookies", LOCAL_WINDOWS "\\INetCookies"},
    {csidl::HISTORY, "History", LOCAL_WINDOWS "\\History"},
}};

#undef ROAMING_WINDOWS
#undef LOCAL_WINDOWS

// Windows 2000 and XP put the same folders elsewhere below the user's folder.
#define LOCAL_SETTINGS "%USERPROFILE%\\Local Settings"
constexpr std::array<std::pair<int, std::string_view>, 15> kWindowsXpDefaults = {{
    {csidl::PROGRAMS, "%USERPROFILE%\\Start Menu\\Programs"},
    {csidl::PERSONAL, "%USERPROFILE%\\My Documents"},
    {csidl::STARTUP, "%USERPROFILE%\\Start Menu\\Programs\\Startup"},
    {csidl::RECENT, "%USERPROFILE%\\Recent"},
    {csidl::SENDTO, "%USERPROFILE%\\SendTo"},
    {csidl::STARTMENU, "%USERPROFILE%\\Start Menu"},
    {csidl::NETHOOD, "%USERPROFILE%\\NetHood"},
    {csidl::TEMPLATES, "%USERPROFILE%\\Templates"},
    {csidl::APPDATA, "%USERPROFILE%\\Application Data"},
    {csidl::PRINTHOOD, "%USERPROFILE%\\PrintHood"},
    {csidl::LOCAL_APPDATA, LOCAL_SETTINGS "\\Application Data"},
    {csidl::INTERNET_CACHE, LOCAL_SETTINGS "\\Temporary Internet Files"},
    {csidl::COOKIES, "%USERPROFILE%\\Cookies"},
    {csidl::HISTORY, LOCAL_SETTINGS "\\History"},
    {csidl::FAVORITES, "%USERPROFILE%\\Favorites"},
}};
#undef LOCAL_SETTINGS

// Keeps "C:\" whole but drops the backslash after any other folder, as the shell does.
std::string withoutTrailingBackslash(std::string path) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

}  // namespace

SpecialFolders::SpecialFolders(const RegistryHive& hive, std::string userName, ShellLayout layout)
    : hive_(hive), userName_(std::move(userName)), layout_(std::move(layout)) {}

std::string SpecialFolders::profileFolder() const {
    return layout_.profileFolder.empty() ? "C:\\users\\" + userName_ : layout_.profileFolder;
}

std::string_view SpecialFolders::defaultOf(int csidl, std::string_view wineDefault) const {
    if (layout_.windowsXp)
        for (const auto& [xpCsidl, xpDefault] : kWindowsXpDefaults)
            if (xpCsidl == csidl) return xpDefault;
    return wineDefault;
}

std::optional<std::string> SpecialFolders::path(int csidl) const {
    std::lock_guard lock(mutex_);
    if (runDepth_ == 0) return read(csidl);
    auto it = known_.find(csidl);
    if (it == known_.end()) it = known_.emplace(csidl, read(csidl)).first;
    return it->second;
}

// Every folder is read at the start, before the run can replay a value that would move one.
void SpecialFolders::beginRunCache() const {
    std::lock_guard lock(mutex_);
    if (runDepth_++ > 0) return;
    for (const auto& folder : kShellFolders) known_.emplace(folder.csidl, read(folder.csidl));
    for (int csidl : {csidl::FONTS, csidl::PROFILE}) known_.emplace(csidl, read(csidl));
}

void SpecialFolders::endRunCache() const {
    std::lock_guard lock(mutex_);
    if (runDepth_ > 0 && --runDepth_ == 0) known_.clear();
}

std::optional<std::string> SpecialFolders::read(int csidl) const {
    // Wine builds the fonts folder from the Windows folder and ignores the registry.
    if (csidl == csidl::FONTS) return std::string("C:\\windows\\Fonts");
    if (csidl == csidl::PROFILE) return profileFolder();
    for (const auto& folder : kShellFolders)
        if (folder.csidl == csidl)
            return userShellFolder(folder.valueName, defaultOf(csidl, folder.defaultValue), true);
    return std::nullopt;
}

std::string SpecialFolders::userShellFolder(std::string_view valueName, std::string_view defaultValue,
                                            bool expandFolders) const {
    std::string text(defaultValue);
    bool expandable = true;
    const auto stored = [&](std::string_view key) {
        auto value = hive_.value(key, valueName);
        if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ) || value->asText().empty()) return false;
        text = value->asText();
        expandable = value->type == REG_EXPAND_SZ;
        return true;
    };
    if (!stored(kUserShellFoldersKey) && layout_.readShellFolders) stored(kShellFoldersKey);
    return withoutTrailingBackslash(expandable ? expand(text, expandFolders) : text);
}

std::string SpecialFolders::expand(std::string_view text) const { return expand(text, true); }

std::string SpecialFolders::expand(std::string_view text, bool withFolderVariables) const {
    const auto variable = [&](std::string_view name) -> std::optional<std::string> {
        const auto is = [&](std::string_view known) { return equalsIgnoringCase(name, known); };
        if (is("USERPROFILE")) return profileFolder();
        if (is("USERNAME")) return userName_;
        if (is("HOMEDRIVE") || is("SystemDrive")) return std::string("C:");
        if (is("HOMEPATH")) return profileFolder().substr(2);
        if (is("SystemRoot") || is("windir")) return std::string("C:\\windows");
        if (is("ALLUSERSPROFILE") && layout_.windowsXp) return std::string("C:\\Documents and Settings\\All Users");
        if (is("ALLUSERSPROFILE") || is("ProgramData")) return std::string("C:\\ProgramData");
        if (is("PUBLIC")) return std::string("C:\\users\\Public");
        if (is("ProgramFiles")) return std::string("C:\\Program Files");
        // The application-data variables come from the shell folders themselves; a folder
        // value naming one of them is expanded without them, so no value can loop.
        if (withFolderVariables && is("APPDATA"))
            return userShellFolder("AppData", defaultOf(csidl::APPDATA, "%USERPROFILE%\\AppData\\Roaming"), false);
        if (withFolderVariables && is("LOCALAPPDATA"))
            return userShellFolder("Local AppData", defaultOf(csidl::LOCAL_APPDATA, "%USERPROFILE%\\AppData\\Local"),
                                   false);
        return std::nullopt;
    };
    std::string result;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('%', i);
        const size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) break;
        result.append(text.substr(i, open - i));
        const auto value = variable(text.substr(open + 1, close - open - 1));
        if (value) {
            result += *value;
            i = close + 1;
        } else {
            // An unknown name stays; its closing "%" may open the next reference.
            result += '%';
            result.append(text.substr(open + 1, close - open - 1));
            i = close;
        }
    }
    result.append(text.substr(i));
    return result;
}

}  // namespace ts
