#include "items/kinds/favorites.h"

#include <array>
#include <unordered_set>

#include "part/capture_report.h"
#include "part/operation_log.h"
#include "part/text_field.h"
#include "items/capture/backup_file_item.h"
#include "items/capture/file_list_block.h"
#include "items/find_files.h"
#include "items/kinds/item_count.h"
#include "items/kinds/item_profile.h"
#include "platform/ansi_text.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_name_case.h"

namespace ts {

namespace {

// Windows holds two names that differ only in letter case for one file: such a pair from
// a record is one favorite, kept under the first spelling met. A folder listing names each
// host file once; twins there are two files, both saved, and the restore names them.
class FavoriteNames {
public:
    explicit FavoriteNames(std::vector<std::string>& names) : names_(names) {
        for (const std::string& name : names_) seen_.insert(caseFoldedKey(name));
    }
    void add(std::string name) {
        if (seen_.insert(caseFoldedKey(name)).second) names_.push_back(std::move(name));
    }

private:
    std::vector<std::string>& names_;
    std::unordered_set<std::string> seen_;
};

}  // namespace

TtsBPFavorites::TtsBPFavorites(ProjectLink* project)
    : ItemKind(project, kCaption, "TtsBPFavorites", true), files_(collect()) {}

void TtsBPFavorites::ProfileGiven() {
    std::vector<std::string> merged = collect();
    FavoriteNames names(merged);
    for (const std::string& name : files_) names.add(name);
    files_ = std::move(merged);
}

std::vector<std::string> TtsBPFavorites::collect() const {
    std::vector<std::string> found;
    const Profile* profile = ProfileIfAny(Project());
    if (!profile) return found;
    if (auto folder = profile->specialFolders().path(csidl::FAVORITES)) FindFiles(*profile, *folder, found, kMask);
    return found;
}

// The favorites record writes no log lines of its own; the head logs itself.
int32_t TtsBPFavorites::WriteToStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::WriteToStream(stream);
    std::array<uint8_t, kTextFieldSize> field{};
    size_t listed = 0;
    for (const std::string& path : files_) {
        // A record that a reader would refuse as damaged must never be written.
        if (listed == kMaxFiles) {
            debugLog("TtsBPFavorites.WriteToStream, left out of the record (more than " + std::to_string(kMaxFiles) +
                     " files): " + path);
            continue;
        }
        // A field that the name fills without its NUL would run into the next one.
        if (toAnsi(path).size() > kMaxFieldText) {
            debugLog("TtsBPFavorites.WriteToStream, left out of the record (longer than " +
                     std::to_string(kMaxFieldText) + " characters): " + path);
            continue;
        }
        textToField(path, field.data(), "Favorite file name");
        count += static_cast<int32_t>(stream.write(field.data(), field.size()));
        ++listed;
    }
    textToField(kEndField, field.data(), "End field");
    count += static_cast<int32_t>(stream.write(field.data(), field.size()));
    stream.writeValue<int64_t>(extraValue_);
    return count + static_cast<int32_t>(sizeof extraValue_);
}

int32_t TtsBPFavorites::ReadFromStream(Stream& stream) {
    int32_t count = TtsBPSourceItem::ReadFromStream(stream);
    // Records written by earlier versions may list one name many times over; each counts once
    // against the bound, and only once in Files.
    std::vector<std::string> merged = files_;
    FavoriteNames names(merged);
    size_t storedOnce = 0;
    std::unordered_set<std::string> stored;
    std::array<uint8_t, kTextFieldSize> field{};
    for (;;) {
        stream.readExact(field.data(), field.size());
        count += static_cast<int32_t>(field.size());
        std::string name = textFromField(field.data());
        if (name == kEndField) break;
        if (!stored.insert(caseFoldedKey(name)).second) continue;
        if (++storedOnce > kMaxFiles)
            throw EDataDamaged("the favorites record lists more than " + std::to_string(kMaxFiles) + " files");
        names.add(std::move(name));
    }
    extraValue_ = stream.readValue<int64_t>();
    count += static_cast<int32_t>(sizeof extraValue_);
    files_ = std::move(merged);
    return count;
}

int32_t TtsBPFavorites::backup(Stream& stream, CaptureReport& report) {
    logOperationStart("TtsBPFavorites.BackupToStream", stream);
    const Profile& profile = RequireProfile(Project(), Caption());
    // The favorites as they are now: one added since the list was made is saved, one deleted
    // since is not, and the project file saved after the run lists the same.
    files_ = collect();
    return LogItemResult("TtsBPFavorites.BackupToStream", WriteFileListBlock(Codec(), profile, files_, stream, {}, &report));
}

// Passing the data over writes nothing, so Files keeps what it held then.
int64_t TtsBPFavorites::ReadData(Stream& stream, RestoreSink& sink, bool intoProfile) {
    const Profile& profile = RequireProfile(Project(), Caption());
    FileListObserver recordName;
    if (intoProfile) {
        files_.clear();
        recordName = [this](const TtsBackupFileItem& file) { files_.push_back(file.FileName()); };
    }
    return ReadFileListBlock(Codec(), profile, stream, sink, recordName).bytesRead;
}

}  // namespace ts
