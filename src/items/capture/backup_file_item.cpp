#include "items/capture/backup_file_item.h"

#include <algorithm>
#include <cstring>

#include "items/capture/backup_file_item_name_check.h"
#include "items/file_name.h"
#include "platform/ansi_text.h"
#include "platform/exception.h"
#include "platform/debug_log.h"

namespace ts {

namespace {

void refuse(RestoreSink& sink, const std::string& storedName, const std::string& reason) {
    debugLog("File restore: skipped the saved file \"" + storedName + "\": " + reason);
    sink.refusedFile(storedName, reason);
}

}  // namespace

std::unique_ptr<FileRecordSource> TtsBackupFileItem::OpenRecord() const {
    return std::make_unique<FileRecordSource>(UserProfile(), fileName_);
}

int32_t TtsBackupFileItem::WriteToStream(Stream& stream) {
    auto record = OpenRecord();
    return static_cast<int32_t>(stream.copyFrom(*record, record->size()));
}

int32_t TtsBackupFileItem::readToSink(Stream& stream, RestoreSink& sink) {
    char field[kFileRecordNameSize];
    stream.readExact(field, sizeof field);
    const std::string storedName = fromAnsi(std::string_view(field, strnlen(field, sizeof field)));

    TtsFileName name(UserProfile());
    name.SetName(storedName);
    fileName_ = name.RealName();
    if (!namesAFolder(fileName_)) {
        if (storedName == kFileErrorName)
            sink.skippedFile(storedName);
        else
            refuse(sink, storedName, "it names no folder");
        return static_cast<int32_t>(kFileRecordNameSize);
    }

    const auto size = stream.readValue<int64_t>();
    // Refused before anything is written when the stream cannot hold that many bytes.
    if (size < 0 || size > stream.remaining()) throw EReadError();
    if (auto reason = unrestorableNameReason(UserProfile(), storedName, fileName_)) {
        discardBytes(stream, size);
        refuse(sink, storedName, *reason);
    } else {
        sink.writeFile(storedName, fileName_, stream, size);
    }
    return static_cast<int32_t>(kFileRecordHeadSize + size);
}

}  // namespace ts
