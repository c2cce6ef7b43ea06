#pragma once
// The program's own settings hive: the person at the keyboard's window placement, options
// and project history. It lives apart from every Wine prefix, so switching prefixes or a
// running wineserver never touches it, and is kept in user.reg's format.
#include <memory>
#include <string>

#include "platform/registry/registry_hive.h"

namespace ts {

class SettingsFile {
public:
    // $XDG_CONFIG_HOME/tessaly/settings.reg, or ~/.config/tessaly/settings.reg.
    static std::string defaultPath();

    // Reads the file when it exists; a missing one is an empty hive until the first save.
    explicit SettingsFile(std::string path);
    ~SettingsFile();

    const std::string& path() const { return path_; }
    RegistryHive& hive() { return *hive_; }
    // Changes whenever reload replaces the hive, so holders of a TRegistry over it know to
    // open their key again.
    unsigned generation() const { return generation_; }

    // Reads the file again, so that a store starts from what other writers left there.
    // Unsaved changes are dropped.
    void reload();
    // Creates the folder when missing and replaces the file atomically.
    void save();

private:
    std::string path_;
    std::unique_ptr<RegistryHive> hive_;
    unsigned generation_ = 0;
};

}  // namespace ts
