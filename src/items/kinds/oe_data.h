#pragma once
// The item "Outlook Express Data": the mail and news accounts, every identity with its
// settings, and every file of every identity's store, all at once.
#include <memory>

#include "items/kinds/item_kind.h"
#include "items/kinds/extra_fields.h"

namespace ts {

class TtsBackupRegItem;

class TtsBPOEData : public ItemKind {
public:
    static constexpr const char* kCaption = "Outlook Express Data";
    static constexpr const char* kAccountsKeyPath = "\\Software\\Microsoft\\Internet Account Manager";
    static constexpr const char* kIdentitiesKeyPath = "\\Identities";
    static constexpr const char* kStoreFolder = "[CSIDL_LOCAL_APPDATA]\\Identities";

    // Checks both keys now: a key missing at this moment is saved as an empty tree.
    explicit TtsBPOEData(ProjectLink* project);
    ~TtsBPOEData() override;

    // The saved keys; nullptr while the project has no profile (they are made and checked
    // when a backup first needs them then).
    TtsBackupRegItem* AccountsKey() const { return accountsKey_.get(); }
    TtsBackupRegItem* IdentitiesKey() const { return identitiesKey_.get(); }

    const std::string& ExtraText() const { return extra_.Text(); }
    // Refuses a text too long for its 256-byte field (TsException, text unchanged).
    void SetExtraText(const std::string& text);
    int64_t ExtraValue() const { return extra_.Value(); }
    void SetExtraValue(int64_t value) { extra_.SetValue(value); }

    // The record: the head, the extra text field, the extra value.
    int32_t WriteToStream(Stream& stream) override;
    int32_t ReadFromStream(Stream& stream) override;
    // The accounts tree, the identities tree (neither encoded), then one file list block of
    // every file below the identities folder at this moment.
    int32_t backup(Stream& stream, CaptureReport& report) override;

private:
    int64_t ReadData(Stream& stream, RestoreSink& sink, bool intoProfile) override;
    std::vector<std::string> RestoredKeyRoots() const override { return {kAccountsKeyPath, kIdentitiesKeyPath}; }

    std::unique_ptr<TtsBackupRegItem> accountsKey_;
    ExtraFields extra_;
    std::unique_ptr<TtsBackupRegItem> identitiesKey_;
};

}  // namespace ts
