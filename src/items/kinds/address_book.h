#pragma once
// The item "Windows Address Book": every file below the user's address book folder. It
// touches no registry key.
#include "items/kinds/item_kind.h"
#include "items/kinds/extra_fields.h"

namespace ts {

class TtsBPAddressBook : public ItemKind {
public:
    static constexpr const char* kCaption = "Windows Address Book";
    static constexpr const char* kFolder = "[CSIDL_APPDATA]\\Microsoft\\Address Book";

    explicit TtsBPAddressBook(ProjectLink* project);

    const std::string& ExtraText() const { return extra_.Text(); }
    // Refuses a text too long for its 256-byte field (TsException, text unchanged).
    void SetExtraText(const std::string& text);
    int64_t ExtraValue() const { return extra_.Value(); }
    void SetExtraValue(int64_t value) { extra_.SetValue(value); }

    // The record: the head, the extra text field, the extra value.
    int32_t WriteToStream(Stream& stream) override;
    int32_t ReadFromStream(Stream& stream) override;
    // One file list block of the files found below the folder at this moment.
    int32_t backup(Stream& stream, CaptureReport& report) override;

private:
    int64_t ReadData(Stream& stream, RestoreSink& sink, bool intoProfile) override;

    ExtraFields extra_;
};

}  // namespace ts
