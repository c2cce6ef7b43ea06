#pragma once
// The settings records: window placement, options and the project history, each bound to
// one key of the settings hive, each loading and storing its own values.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "items/registry.h"
#include "settings/settings_file.h"

namespace ts {

inline constexpr char kMainWindowKey[] = "\\Software\\Tessaly\\Main Window";
inline constexpr char kOptionsKey[] = "\\Software\\Tessaly\\Options";
inline constexpr char kProjectsKey[] = "\\Software\\Tessaly\\Projects";

class TtsRegEnvData {
public:
    explicit TtsRegEnvData(SettingsFile& settings);
    virtual ~TtsRegEnvData();
    TtsRegEnvData(const TtsRegEnvData&) = delete;
    TtsRegEnvData& operator=(const TtsRegEnvData&) = delete;

    const std::string& KeyPath() const { return keyPath_; }
    uint32_t RootKey() const { return rootKey_; }
    // Valid until the next call: a reload of the settings file gives a new one.
    TRegistry& Registry();

    void SetRootKey(uint32_t root);
    // Opens the key, creating it when missing; reads and writes go there afterwards.
    bool OpenKey(const std::string& path);

    virtual void ReadFromRegistry() = 0;
    virtual void WriteToRegistry() = 0;

protected:
    // Rereads the settings file and opens KeyPath again, so that a store keeps what other
    // writers saved meanwhile.
    void reloadKey();
    // Opens the record's own key and saves the file when that created it.
    void openOwnKey(const std::string& path);
    SettingsFile& settings_;

private:
    void bindRegistry();
    unsigned boundGeneration_ = 0;

    std::string keyPath_;
    uint32_t rootKey_ = HKEY_CURRENT_USER;
    std::unique_ptr<TRegistry> registry_;
};

// What the placement record needs of the main window, so no window toolkit reaches below
// the user interface.
class PlacedWindow {
public:
    virtual ~PlacedWindow() = default;
    virtual int32_t Left() const = 0;
    virtual int32_t Top() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual void SetLeft(int32_t value) = 0;
    virtual void SetTop(int32_t value) = 0;
    virtual void SetWidth(int32_t value) = 0;
    virtual void SetHeight(int32_t value) = 0;
};

class TtsRegMainWindow : public TtsRegEnvData {
public:
    // window may be null: the record then reads and writes nothing.
    TtsRegMainWindow(SettingsFile& settings, PlacedWindow* window);
    PlacedWindow* Window() const { return window_; }
    // Applies each value as soon as it is read and stops silently at the first that is
    // missing or of another type.
    void ReadFromRegistry() override;
    // Failures are swallowed: a placement is not worth an error box.
    void WriteToRegistry() override;

private:
    PlacedWindow* window_;
};

class TtsRegOptions : public TtsRegEnvData {
public:
    explicit TtsRegOptions(SettingsFile& settings);
    uint8_t CompressionLevel = 2;
    void ReadFromRegistry() override;
    void WriteToRegistry() override;
};

class TtsRegProjects : public TtsRegEnvData {
public:
    explicit TtsRegProjects(SettingsFile& settings);

    // The project history, in the order entries were added; a path may stand twice.
    std::vector<std::string> ProjectFiles;
    // First entry equal to path without regard to letter case; -1 when none.
    int IndexOf(const std::string& path) const;
    void Add(const std::string& path) { ProjectFiles.push_back(path); }
    // Out-of-range indexes are ignored.
    void Delete(int index);

    // Entries come back in the order they were stored: when every value name is a decimal
    // number they are ordered by it (the hive keeps names as text, so "10" would otherwise
    // come before "2"); otherwise the order the hive lists them in. A value that is not a
    // string is left out and, once every other entry is read, the load fails with "Invalid
    // data type for '<name>'" for the first such value.
    void ReadFromRegistry() override;
    // Replaces the key: value "0", "1", ... per entry in order, nothing else.
    void WriteToRegistry() override;
};

class TtsRegXPEnv {
public:
    explicit TtsRegXPEnv(SettingsFile& settings);
    TtsRegOptions& Options() { return options_; }
    TtsRegProjects& Projects() { return projects_; }
    // Options first, then the history.
    void ReadFromRegistry();
    void WriteToRegistry();

private:
    TtsRegOptions options_;
    TtsRegProjects projects_;
};

}  // namespace ts
