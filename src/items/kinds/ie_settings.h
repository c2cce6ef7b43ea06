#pragma once
// The item "IE Settings": the registry tree HKEY_CURRENT_USER\Software\Microsoft\Internet
// Explorer. Its record carries the tree as it was when the record was written, and its saved
// data is that same record passed through the section codec.
#include <memory>

#include "items/kinds/item_kind.h"

namespace ts {

class TtsBackupRegItem;

class TtsBPIESettings : public ItemKind {
public:
    static constexpr const char* kCaption = "IE Settings";
    static constexpr const char* kSettingsKeyPath = "\\Software\\Microsoft\\Internet Explorer";

    explicit TtsBPIESettings(ProjectLink* project);
    ~TtsBPIESettings() override;

    // The saved key; nullptr while the project has no profile.
    TtsBackupRegItem* SettingsKey() const { return settingsKey_.get(); }

    // The head and the tree captured now (an empty tree when the project has no profile).
    // The project stream's copy of the record tells nobody what it left out: the item's
    // saved data holds the same tree and tells its run.
    int32_t WriteToStream(Stream& stream) override;
    // The head, and the tree read past: reading a record never changes the registry.
    int32_t ReadFromStream(Stream& stream) override;
    // The record as one section: 8-byte length, then the record, encrypted with a password.
    int32_t backup(Stream& stream, CaptureReport& report) override;

private:
    // Reads the section; its head replaces Caption and Selected and its tree goes to the
    // sink (into the profile: string, integer and binary values; others are left alone).
    int64_t ReadData(Stream& stream, RestoreSink& sink, bool intoProfile) override;
    std::vector<std::string> RestoredKeyRoots() const override { return {kSettingsKeyPath}; }
    int32_t readRecord(Stream& record, RestoreSink& sink);
    int32_t writeRecord(Stream& record, CaptureReport& report);

    std::unique_ptr<TtsBackupRegItem> settingsKey_;
};

}  // namespace ts
