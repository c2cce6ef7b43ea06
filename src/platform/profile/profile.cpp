#include "platform/profile/profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/profile/profile_name_case.h"
#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "platform/stream/stream.h"

namespace ts {

namespace {

namespace fs = std::filesystem;

// What Wine writes at the top of a user.reg; without an "#arch" line the file suits a
// prefix of either kind.
constexpr std::string_view kEmptyUserReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n";

std::optional<std::string> nonEmpty(const EnvironmentLookup& env, std::string_view name) {
    auto value = env(name);
    if (value && value->empty()) return std::nullopt;
    return value;
}

const passwd* loginEntry() { return ::getpwuid(::getuid()); }

std::string homeFolder(const EnvironmentLookup& env) {
    if (auto home = nonEmpty(env, "HOME")) return *home;
    if (const passwd* entry = loginEntry(); entry && entry->pw_dir) return entry->pw_dir;
    throw TsException("Cannot find the home folder: HOME is not set.");
}

bool isUsableUserName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string_view::npos;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Wine's "ShowDotFiles" switch: on when the value starts with y, t or 1.
bool showsDotFiles(const RegistryHive& hive) {
    auto value = hive.value("Software\\Wine", "ShowDotFiles");
    if (!value) return false;
    const std::string text = value->asText();
    return !text.empty() && std::string_view("yYtT1").find(text[0]) != std::string_view::npos;
}

std::unique_ptr<RegistryHive> requireHive(std::unique_ptr<RegistryHive> hive) {
    if (!hive) throw TsException("A profile needs a registry hive.");
    return hive;
}

// The entry of folder whose name is wanted without regard to case: the exact one first.
std::optional<std::string> entryNamed(const std::string& folder, std::string_view wanted) {
    std::error_code error;
    if (fs::exists(fs::path(folder) / wanted, error)) return std::string(wanted);
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (equalsIgnoringCase(entry.path().filename().string(), wanted)) return entry.path().filename().string();
    return std::nullopt;
}

// A name that keeps every host path apart inside one folder entry.
std::string escapedAsOneName(const std::string& path) {
    std::string name;
    for (char c : path) {
        if (c == '/' || c == '%') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            name += '%';
            name += kHex[static_cast<unsigned char>(c) >> 4];
            name += kHex[c & 0xF];
        } else {
            name += c;
        }
    }
    if (name.size() > 200) name = name.substr(0, 180) + "%" + std::to_string(std::hash<std::string>{}(path));
    return name;
}

}  // namespace

EnvironmentLookup processEnvironment() {
    return [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

ProfileLocation chooseProfileFolder(const EnvironmentLookup& env) {
    if (auto prefix = nonEmpty(env, "WINEPREFIX")) return {*prefix, false};
    const std::string home = homeFolder(env);
    const std::string wine = home + "/.wine";
    if (isRegularFile(wine + "/user.reg")) return {wine, false};
    auto dataHome = nonEmpty(env, "XDG_DATA_HOME");
    const std::string base = dataHome && (*dataHome)[0] == '/' ? *dataHome : home + "/.local/share";
    return {base + "/tessaly/profile", true};
}

std::string defaultUserName(const EnvironmentLookup& env) {
    if (auto user = nonEmpty(env, "USER"); user && isUsableUserName(*user)) return *user;
    if (const passwd* entry = loginEntry(); entry && entry->pw_name && isUsableUserName(entry->pw_name))
        return entry->pw_name;
    return "user";
}

std::string userCacheFolder(const EnvironmentLookup& env) {
    auto cache = nonEmpty(env, "XDG_CACHE_HOME");
    const std::string base = cache && (*cache)[0] == '/' ? *cache : homeFolder(env) + "/.cache";
    return base + "/tessaly";
}

std::optional<WindowsUserFolder> findWindowsUserFolder(const std::string& folder) {
    const fs::path user = fs::path(folder).lexically_normal();
    const fs::path userPath = user.has_filename() ? user : user.parent_path();
    const fs::path parent = userPath.parent_path();
    const std::string parentName = parent.filename().string();
    const bool xp = equalsIgnoringCase(parentName, "Documents and Settings");
    if (!xp && !equalsIgnoringCase(parentName, "Users")) return std::nullopt;
    auto hive = entryNamed(userPath.string(), "NTUSER.DAT");
    if (!hive || !isRegularFile((userPath / *hive).string())) return std::nullopt;
    const std::string name = userPath.filename().string();
    return WindowsUserFolder{parent.parent_path().string(), "C:\\" + parentName + "\\" + name, name,
                             (userPath / *hive).string(), xp};
}

void createProfileLayout(const std::string& folder) {
    try {
        const bool fresh = !fs::exists(folder);
        fs::create_directories(folder);
        // The profile will hold the user's mail and passwords.
        if (fresh) fs::permissions(folder, fs::perms::owner_all);
        fs::create_directories(folder + "/drive_c");
        fs::create_directories(folder + "/dosdevices");
        const fs::path cDrive = folder + "/dosdevices/c:";
        if (!fs::is_symlink(cDrive) && !fs::exists(cDrive)) fs::create_directory_symlink("../drive_c", cDrive);
    } catch (const fs::filesystem_error& error) {
        throw TsException("Cannot create the profile folder \"" + folder + "\". " + error.code().message());
    }
    const std::string userReg = folder + "/user.reg";
    const int fd = ::open(userReg.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return;
        throw TsException("Cannot create \"" + userReg + "\". " + systemErrorText(errno));
    }
    const bool written = ::write(fd, kEmptyUserReg.data(), kEmptyUserReg.size()) ==
                         static_cast<ssize_t>(kEmptyUserReg.size());
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(userReg.c_str());
        throw TsException("Cannot write \"" + userReg + "\". " + systemErrorText(writeError));
    }
}

std::unique_ptr<Profile> Profile::open(const std::string& folder, std::string userName, DriveFolders otherDrives) {
    const std::string userReg = folder + "/user.reg";
    if (!isRegularFile(userReg)) {
        if (auto windows = findWindowsUserFolder(folder))
            return std::make_unique<Profile>(folder, RegistryHive::openNtUserDat(windows->hivePath), *windows,
                                             std::move(otherDrives));
        throw TsException("The folder \"" + folder + "\" holds no user.reg, so it is not a Wine prefix, nor an " +
                          "NTUSER.DAT in Users\\NAME or Documents and Settings\\NAME, so it is not a Windows user's " +
                          "folder either. Give a Windows user's folder on a mounted disk, or run \"WINEPREFIX=" +
                          folder + " wineboot\" once to make the folder a Wine prefix.");
    }
    if (!otherDrives.empty())
        throw TsException("The folder \"" + folder + "\" is a Wine prefix, whose drives are the links in its " +
                          "dosdevices folder; --drive is for a Windows user folder on a mounted disk.");
    if (userName.empty()) userName = defaultUserName(processEnvironment());
    return std::make_unique<Profile>(folder, RegistryHive::openUserReg(userReg, folder), std::move(userName));
}

std::unique_ptr<Profile> Profile::openChosen(const EnvironmentLookup& env) {
    const ProfileLocation location = chooseProfileFolder(env);
    if (location.ownDefault) createProfileLayout(location.folder);
    return open(location.folder, defaultUserName(env));
}

Profile::Profile(std::string folder, std::unique_ptr<RegistryHive> hive, std::string userName)
    : folder_(std::move(folder)),
      hive_(requireHive(std::move(hive))),
      userName_(std::move(userName)),
      specialFolders_(*hive_, userName_),
      files_(folder_, showsDotFiles(*hive_)) {
    if (!isUsableUserName(userName_))
        throw TsException("\"" + userName_ + "\" cannot be a Windows user name.");
}

// A Windows disk's files are shown as Windows shows them: a dot starts no hidden name there.
Profile::Profile(std::string folder, std::unique_ptr<RegistryHive> hive, const WindowsUserFolder& windows,
                 DriveFolders otherDrives)
    : folder_(std::move(folder)),
      kind_(ProfileKind::WindowsFolder),
      hive_(requireHive(std::move(hive))),
      userName_(windows.userName),
      specialFolders_(*hive_, userName_, ShellLayout{windows.profileFolder, windows.windowsXp, true}),
      files_(windows.driveC, true, ProfileFiles::Drives::WindowsDisk, std::move(otherDrives)) {}

Profile::~Profile() = default;

std::string_view Profile::kindName() const {
    return kind_ == ProfileKind::WinePrefix ? "Wine prefix" : "Windows user folder";
}

std::string Profile::runLockFolder() const {
    if (kind_ == ProfileKind::WinePrefix) return folder_;
    std::error_code error;
    const fs::path real = fs::weakly_canonical(folder_, error);
    const std::string lockFolder = userCacheFolder() + "/profiles/" + escapedAsOneName(error ? folder_ : real.string());
    makeFolderPath(lockFolder);
    return lockFolder;
}

bool Profile::readOnlyDisk() const {
    struct statvfs disk {};
    return ::statvfs(files_.prefixDir().c_str(), &disk) == 0 && (disk.f_flag & ST_RDONLY) != 0;
}

bool Profile::syncToDisk() const { return syncFileSystemOf(folder_); }

ProfileRunScope::ProfileRunScope(const Profile& profile) : profile_(profile) {
    profile_.specialFolders().beginRunCache();
    profile_.files().beginRunCache();
}

ProfileRunScope::~ProfileRunScope() {
    profile_.files().endRunCache();
    profile_.specialFolders().endRunCache();
}

std::string Profile::debugLogHostPath() const {
    if (kind_ == ProfileKind::WindowsFolder) return userCacheFolder() + "/ts_debug.log";
    return files_.hostPath("c:\\ts_debug.log").value_or(folder_ + "/drive_c/ts_debug.log");
}

}  // namespace ts
