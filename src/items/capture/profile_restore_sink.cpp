#include "items/capture/profile_restore_sink.h"

#include "items/capture/backup_file_item_record.h"
#include "items/capture/key_roots.h"
#include "items/file_name.h"
#include "items/registry.h"
#include "part/bp_object.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_transaction.h"

namespace ts {

ProfileRestoreSink::ProfileRestoreSink(const Profile& profile, TtsProjectLink* reportTo, ProfileTransaction* transaction,
                                       std::optional<std::vector<std::string>> keyRoots)
    : profile_(profile),
      reportTo_(reportTo),
      own_(transaction ? nullptr
                       : std::make_unique<ProfileTransaction>(profile, ProfileTransaction::Mode::Immediate)),
      transaction_(transaction ? transaction : own_.get()),
      keyRoots_(std::move(keyRoots)) {}

ProfileRestoreSink::~ProfileRestoreSink() = default;

// A key tree outside the item's own keys is outside input steering the profile (a shell
// folder moved out of it, say): it is refused once, like a refused file name.
bool ProfileRestoreSink::keyAllowed(const std::string& keyPath) {
    if (keyRoots_.allows(keyPath)) return true;
    if (refusedKeys_.insert(trimmedKeyPath(keyPath)).second) {
        debugLog("Registry replay: skipped the saved key \"" + keyPath + "\": " + KeyRoots::kRefusalReason);
        if (reportTo_) reportTo_->FileNameRefused(keyPath, KeyRoots::kRefusalReason);
    }
    return false;
}

void ProfileRestoreSink::createKey(const std::string& keyPath) {
    if (keyAllowed(keyPath)) transaction_->createKey(keyPath);
}

void ProfileRestoreSink::setValue(const std::string& keyPath, const RegValue& value) {
    if (!keyAllowed(keyPath)) return;
    switch (value.type) {
    case REG_SZ:
        transaction_->setValue(keyPath, RegValue::text(value.name, REG_SZ, value.asText()));
        break;
    case REG_DWORD: {
        if (value.data.size() != 4) throw ERegistryException("Failed to set data for '" + value.name + "'");
        uint32_t number = 0;
        for (size_t i = 0; i < 4; ++i) number |= static_cast<uint32_t>(value.data[i]) << (8 * i);
        transaction_->setValue(keyPath, RegValue::dword(value.name, number));
        break;
    }
    case REG_BINARY:
        transaction_->setValue(keyPath, RegValue::binary(value.name, value.data));
        break;
    default:
        throw ERegistryException("Failed to set data for '" + value.name + "'");
    }
    if (reportTo_) reportTo_->Tally(TtsProjectLink::Moved::RegistryValueRestored, 0);
}

void ProfileRestoreSink::keptValue(const std::string&, const std::string&, uint8_t, int32_t) {
    // Held by name, type and size only: there is nothing to write back.
}

void ProfileRestoreSink::writeFile(const std::string& storedName, const std::string& realPath, Stream& data,
                                   int64_t size) {
    if (size < 0) throw EReadError();
    switch (transaction_->sameFileClaims().claim(realPath, storedName)) {
    case SameFileClaims::Verdict::First:
        break;
    case SameFileClaims::Verdict::SameName:
        // Saved twice at one moment: the first copy is the file.
        discardBytes(data, size);
        debugLog("File restore: the saved file \"" + storedName + "\" is in the data file twice; the first is kept");
        return;
    case SameFileClaims::Verdict::OtherName: {
        discardBytes(data, size);
        const std::string reason = transaction_->sameFileClaims().refusalReason();
        debugLog("File restore: skipped the saved file \"" + storedName + "\": " + reason);
        refusedFile(storedName, reason);
        return;
    }
    }
    // The placeholder names the special folder the file is written below; the reader checked
    // that the rest of the name stays inside it.
    for (const auto& row : kPlaceholderTable) {
        const std::string& placeholder = placeholderOf(row);
        if (storedName.compare(0, placeholder.size(), placeholder) != 0) continue;
        try {
            transaction_->writeFile(row.csidl, std::string_view(storedName).substr(placeholder.size()), realPath, data,
                                    size);
        } catch (const ETargetRefused& refusal) {
            discardBytes(data, size);
            debugLog("File restore: skipped the saved file \"" + storedName + "\": " + refusal.what());
            refusedFile(storedName, refusal.what());
            return;
        }
        if (reportTo_) reportTo_->Tally(TtsProjectLink::Moved::FileRestored, size);
        return;
    }
    discardBytes(data, size);
    refusedFile(storedName, "it does not begin with a special folder's placeholder");
}

void ProfileRestoreSink::skippedFile(const std::string&) {
    // The error record: nothing was saved, so nothing is put in place.
}

void ProfileRestoreSink::refusedFile(const std::string& storedName, const std::string& reason) {
    if (reportTo_) reportTo_->FileNameRefused(storedName, reason);
}

}  // namespace ts
