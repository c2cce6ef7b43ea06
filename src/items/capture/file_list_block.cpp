#include "items/capture/file_list_block.h"

#include <filesystem>
#include <unordered_map>

#include "part/bp_object.h"
#include "part/section_codec.h"
#include "items/capture/backup_file_item.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_name_case.h"

namespace ts {

namespace {

// Windows names are case-insensitive: two saved names that differ only in letter case would
// land on one file, the second silently replacing the first. The first is written; the second
// is refused, naming the first.
class CaseCollisionSink : public RestoreSink {
public:
    explicit CaseCollisionSink(RestoreSink& inner) : inner_(inner) {}

    void createKey(const std::string& keyPath) override { inner_.createKey(keyPath); }
    void setValue(const std::string& keyPath, const RegValue& value) override { inner_.setValue(keyPath, value); }
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override {
        inner_.keptValue(keyPath, name, typeCode, size);
    }
    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override {
        const auto [first, isNew] = written_.emplace(caseFoldedKey(realPath), storedName);
        // The same name twice (a favorite the project listed and the profile still holds) is
        // the same file written again, as always.
        if (isNew || first->second == storedName) {
            inner_.writeFile(storedName, realPath, data, size);
            return;
        }
        discardBytes(data, size);
        const std::string reason = "it lands on the same file as the saved file \"" + first->second +
                                   "\" (the names differ only in letter case)";
        debugLog("File restore: skipped the saved file \"" + storedName + "\": " + reason);
        inner_.refusedFile(storedName, reason);
    }
    void skippedFile(const std::string& storedName) override { inner_.skippedFile(storedName); }
    void refusedFile(const std::string& storedName, const std::string& reason) override {
        inner_.refusedFile(storedName, reason);
    }

private:
    RestoreSink& inner_;
    std::unordered_map<std::string, std::string> written_;  // folded real path -> stored name
};

}  // namespace

namespace {

// What the files of a list hold before any is read; a file that cannot be looked at counts
// nothing (it becomes an error record).
int64_t announcedBytes(const Profile& profile, const std::vector<std::string>& realPaths) {
    int64_t total = 0;
    for (const std::string& path : realPaths) {
        std::error_code error;
        if (auto host = profile.files().hostPath(path)) {
            const auto size = std::filesystem::file_size(*host, error);
            if (!error) total += static_cast<int64_t>(size);
        }
    }
    return total;
}

}  // namespace

int64_t WriteFileListBlock(const SectionCodec& codec, const Profile& profile, const std::vector<std::string>& realPaths,
                           Stream& dest, const FileListObserver& afterEachFile, TtsProjectLink* tallyTo) {
    const auto count = static_cast<int32_t>(realPaths.size());
    dest.writeValue<int32_t>(count);
    int64_t written = sizeof count;
    if (tallyTo) tallyTo->FilesAhead(count, announcedBytes(profile, realPaths));
    TtsBackupFileItem item(profile);
    for (const auto& path : realPaths) {
        item.SetFileName(path);
        auto record = item.OpenRecord();
        written += codec.WriteSection(*record, record->size(), dest);
        if (tallyTo) {
            tallyTo->Tally(record->isErrorRecord() ? TtsProjectLink::Moved::UnreadableFileSaved
                                                   : TtsProjectLink::Moved::FileSaved,
                           record->contentSize());
            if (record->isErrorRecord()) tallyTo->FileNotSaved(path, record->errorReason());
        }
        if (afterEachFile) afterEachFile(item);
    }
    return written;
}

FileListReadResult ReadFileListBlock(const SectionCodec& codec, const Profile& profile, Stream& source,
                                     RestoreSink& sink, const FileListObserver& afterEachFile) {
    FileListReadResult result;
    const auto count = source.readValue<int32_t>();
    if (count < 0) throw EDataDamaged("a file list announcing " + std::to_string(count) + " files");
    result.bytesRead = sizeof count;
    TtsBackupFileItem item(profile);
    CaseCollisionSink checked(sink);
    for (int32_t i = 0; i < count; ++i) {
        SectionReader section(codec, source);
        item.ReadToSink(section, checked);
        section.skipRest();
        result.bytesRead += section.sectionSize();
        if (afterEachFile) afterEachFile(item);
    }
    return result;
}

}  // namespace ts
