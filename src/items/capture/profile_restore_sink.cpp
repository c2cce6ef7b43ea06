#include "items/capture/profile_restore_sink.h"

#include "items/capture/backup_file_item_record.h"
#include "items/file_name.h"
#include "items/registry.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_transaction.h"

namespace ts {

ProfileRestoreSink::ProfileRestoreSink(ProfileTransaction& transaction) : transaction_(transaction) {}

ProfileRestoreSink::~ProfileRestoreSink() = default;

DirectProfileSink::DirectProfileSink(const Profile& profile)
    : DirectProfileSink(std::make_unique<ProfileTransaction>(profile, ProfileTransaction::Mode::Immediate)) {}

DirectProfileSink::DirectProfileSink(std::unique_ptr<ProfileTransaction> own)
    : ProfileRestoreSink(*own), own_(std::move(own)) {}

DirectProfileSink::~DirectProfileSink() = default;

void ProfileRestoreSink::createKey(const std::string& keyPath) {
    transaction_.createKey(keyPath);
}

void ProfileRestoreSink::setValue(const std::string& keyPath, const RegValue& value) {
    switch (value.type) {
    case REG_SZ:
        transaction_.setValue(keyPath, RegValue::text(value.name, REG_SZ, value.asText()));
        break;
    case REG_DWORD: {
        if (value.data.size() != 4) throw ERegistryException("Failed to set data for '" + value.name + "'");
        uint32_t number = 0;
        for (size_t i = 0; i < 4; ++i) number |= static_cast<uint32_t>(value.data[i]) << (8 * i);
        transaction_.setValue(keyPath, RegValue::dword(value.name, number));
        break;
    }
    case REG_BINARY:
        transaction_.setValue(keyPath, RegValue::binary(value.name, value.data));
        break;
    default:
        throw ERegistryException("Failed to set data for '" + value.name + "'");
    }
    ++restored_.values;
}

void ProfileRestoreSink::keptValue(const std::string&, const std::string&, uint8_t, int32_t) {
    // Held by name, type and size only: there is nothing to write back.
}

void ProfileRestoreSink::writeFile(const std::string& storedName, const std::string& realPath, Stream& data,
                                   int64_t size) {
    if (size < 0) throw EReadError();
    switch (transaction_.sameFileClaims().claim(realPath, storedName)) {
    case SameFileClaims::Verdict::First:
        break;
    case SameFileClaims::Verdict::SameName:
        // Saved twice at one moment: the first copy is the file.
        discardBytes(data, size);
        debugLog("File restore: the saved file \"" + storedName + "\" is in the data file twice; the first is kept");
        return;
    case SameFileClaims::Verdict::OtherName: {
        discardBytes(data, size);
        const std::string reason = transaction_.sameFileClaims().refusalReason();
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
            transaction_.writeFile(row.csidl, std::string_view(storedName).substr(placeholder.size()), realPath, data,
                                    size);
        } catch (const ETargetRefused& refusal) {
            discardBytes(data, size);
            debugLog("File restore: skipped the saved file \"" + storedName + "\": " + refusal.what());
            refusedFile(storedName, refusal.what());
            return;
        }
        ++restored_.files;
        restored_.bytes += size;
        return;
    }
    discardBytes(data, size);
    refusedFile(storedName, "it does not begin with a special folder's placeholder");
}

void ProfileRestoreSink::skippedFile(const std::string&) {
    // The error record: nothing was saved, so nothing is put in place.
}

void ProfileRestoreSink::refusedFile(const std::string& storedName, const std::string& reason) {
    refused_.emplace_back(storedName, reason);
}

}  // namespace ts
