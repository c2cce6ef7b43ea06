#include "settings/settings_file.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/exception.h"

namespace ts {

namespace fs = std::filesystem;

std::string SettingsFile::defaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config && *config && fs::path(config).is_absolute()) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : ".") / ".config";
    }
    return (base / "tessaly" / "settings.reg").string();
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) { reload(); }

SettingsFile::~SettingsFile() = default;

void SettingsFile::reload() {
    // The folder stands in for a Wine prefix: it has no system.reg and no server runs for it.
    hive_ = RegistryHive::openUserReg(path_, fs::path(path_).parent_path().string(), LastLink::Follow);
    ++generation_;
}

void SettingsFile::save() {
    std::error_code error;
    fs::path folder = fs::path(path_).parent_path();
    if (!folder.empty()) fs::create_directories(folder, error);
    if (error) throw TsException("Cannot create the settings folder \"" + folder.string() + "\": " + error.message());
    hive_->save();
}

}  // namespace ts
