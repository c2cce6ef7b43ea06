#include "items/capture/profile_restore_sink.h"

#include <sys/stat.h>

#include "part/bp_object.h"
#include "items/capture/backup_file_item_record.h"
#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"

namespace ts {

namespace {

// A replaced file keeps its permissions (a private mail store stays private); a new one
// gets what any program of the user would give it.
unsigned permissionsFor(const std::string& hostPath) {
    struct stat st;
    if (::stat(hostPath.c_str(), &st) == 0) return st.st_mode & 07777;
    return newFilePermissions();
}

// The system's reason from an EFCreateError about hostPath, to be reported for the
// Windows path instead.
std::string reasonOf(const EFCreateError& error, const std::string& hostPath) {
    const std::string message = error.what();
    const std::string prefix = "Cannot create file \"" + hostPath + "\". ";
    return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

std::string folderPartOf(const std::string& path) {
    const size_t last = path.find_last_of("\\:");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace

ProfileRestoreSink::ProfileRestoreSink(const Profile& profile, TtsProjectLink* reportTo)
    : profile_(profile), reportTo_(reportTo), registry_(profile.hive()) {}

void ProfileRestoreSink::createKey(const std::string& keyPath) {
    registry_.OpenKey(keyPath, true);
}

void ProfileRestoreSink::setValue(const std::string& keyPath, const RegValue& value) {
    registry_.OpenKey(keyPath, true);
    switch (value.type) {
    case REG_SZ:
        registry_.WriteString(value.name, value.asText());
        break;
    case REG_DWORD: {
        if (value.data.size() != 4) throw ERegistryException("Failed to set data for '" + value.name + "'");
        uint32_t number = 0;
        for (size_t i = 0; i < 4; ++i) number |= static_cast<uint32_t>(value.data[i]) << (8 * i);
        registry_.WriteInteger(value.name, static_cast<int32_t>(number));
        break;
    }
    case REG_BINARY:
        registry_.WriteBinaryData(value.name, value.data.data(), static_cast<int32_t>(value.data.size()));
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
    (void)storedName;  // the reader checked it (unrestorableNameReason) before handing it here
    if (size < 0) throw EReadError();
    const ProfileFiles& files = profile_.files();
    try {
        files.createFolders(folderPartOf(realPath));
    } catch (const TsException& error) {
        throw EFCreateError(realPath, error.what());
    }
    const auto host = files.hostPathToCreate(realPath);
    if (!host) throw EFCreateError(realPath, "The path names no drive of this profile.");
    if (files.folderExists(realPath)) throw EFCreateError(realPath, "A folder of that name exists.");
    try {
        AtomicFile file(*host, permissionsFor(*host), AtomicFile::Durability::SyncWhenReplacing);
        file.stream().copyFrom(data, size);
        file.commit();
        if (reportTo_) reportTo_->Tally(TtsProjectLink::Moved::FileRestored, size);
    } catch (const EFCreateError& error) {
        throw EFCreateError(realPath, reasonOf(error, *host));
    } catch (const EWriteError& error) {
        throw EFCreateError(realPath, error.what());
    }
}

void ProfileRestoreSink::skippedFile(const std::string&) {
    // The error record: nothing was saved, so nothing is put in place.
}

void ProfileRestoreSink::refusedFile(const std::string& storedName, const std::string& reason) {
    if (reportTo_) reportTo_->FileNameRefused(storedName, reason);
}

}  // namespace ts
