#include "platform/profile/profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/atomic_file.h"
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

std::unique_ptr<Profile> Profile::open(const std::string& folder, std::string userName) {
    const std::string userReg = folder + "/user.reg";
    if (!isRegularFile(userReg))
        throw TsException("The folder \"" + folder + "\" holds no user.reg, so it is not a Wine prefix. " +
                          "Run \"WINEPREFIX=" + folder + " wineboot\" once to make it one.");
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

Profile::~Profile() = default;

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
    return files_.hostPath("c:\\ts_debug.log").value_or(folder_ + "/drive_c/ts_debug.log");
}

}  // namespace ts
