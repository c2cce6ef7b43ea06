#include "items/capture/file_list_block.h"

#include <filesystem>

#include "part/capture_report.h"
#include "part/section_codec.h"
#include "items/capture/backup_file_item.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"

namespace ts {

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
                           Stream& dest, const FileListObserver& afterEachFile, CaptureReport* report) {
    using Saved = CaptureReport::Saved;
    using Problem = CaptureReport::Problem;
    const auto count = static_cast<int32_t>(realPaths.size());
    dest.writeValue<int32_t>(count);
    int64_t written = sizeof count;
    if (report) report->filesAhead(count, announcedBytes(profile, realPaths));
    TtsBackupFileItem item(profile);
    for (const auto& path : realPaths) {
        item.SetFileName(path);
        auto record = item.OpenRecord();
        written += codec.writeSection(*record, record->size(), dest);
        if (report) {
            report->saved(record->isErrorRecord() ? Saved::UnreadableFile : Saved::File, record->contentSize());
            if (record->isErrorRecord()) report->notSaved(path, record->errorReason(), Problem::NotSaved);
            if (!record->changeWhileRead().empty())
                report->notSaved(path, record->changeWhileRead(), Problem::ChangedWhileRead);
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
    for (int32_t i = 0; i < count; ++i) {
        SectionReader section(codec, source);
        item.readToSink(section, sink);
        section.skipRest();
        result.bytesRead += section.sectionSize();
        if (afterEachFile) afterEachFile(item);
    }
    return result;
}

}  // namespace ts
