#include "items/capture/profile_restore_sink.h"

#include <cctype>

#include "items/capture/backup_file_item_record.h"
#include "items/file_name.h"
#include "items/registry.h"
#include "part/bp_object.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_transaction.h"

namespace ts {

namespace {

std::string withoutOuterBackslashes(std::string_view path) {
    while (path.starts_with('\\')) path.remove_prefix(1);
    while (path.ends_with('\\')) path.remove_suffix(1);
    return std::string(path);
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// keyPath is root itself or a key below it.
bool isBelow(const std::string& keyPath, const std::string& root) {
    const std::string key = withoutOuterBackslashes(keyPath);
    const std::string top = withoutOuterBackslashes(root);
    if (key.size() < top.size() || !equalNoCase(std::string_view(key).substr(0, top.size()), top)) return false;
    return key.size() == top.size() || key[top.size()] == '\\';
}

}  // namespace

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
    if (!keyRoots_) return true;
    for (const std::string& root : *keyRoots_)
        if (isBelow(keyPath, root)) return true;
    if (refusedKeys_.insert(withoutOuterBackslashes(keyPath)).second) {
        const std::string reason = "it is a registry key outside the keys this item restores";
        debugLog("Registry replay: skipped the saved key \"" + keyPath + "\": " + reason);
        if (reportTo_) reportTo_->FileNameRefused(keyPath, reason);
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
