#pragma once
// One file turned into a self-contained file record, and such a record turned back into a
// file for the user who restores:
//
//   offset 0    256 bytes  the path in placeholder form, NUL-terminated, NUL-filled
//   offset 256    8 bytes  signed size of the contents
//   offset 264 size bytes  the contents
//
// A file that cannot be read is saved as the error record "<file error>" with size 0.
#include <cstdint>
#include <memory>
#include <string>

#include "items/capture/backup_file_item_record.h"
#include "items/capture/backup_item.h"

namespace ts {

class TtsBackupFileItem : public TtsBackupItem {
public:
    explicit TtsBackupFileItem(const Profile& profile) : TtsBackupItem(profile) {}

    // The file's real path in the profile ("C:\users\alice\...").
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& path) { fileName_ = path; }

    // Opens FileName and gives its record as a stream of exactly the length it announces,
    // read from the file as it is consumed.
    std::unique_ptr<FileRecordSource> OpenRecord() const;

    // Writes FileName's record; returns 264 plus the size saved.
    int32_t WriteToStream(Stream& stream) override;

    // Reads one record. The error record reads only the name field and goes to the sink's
    // skippedFile; so does any other name without a folder part, which goes to refusedFile.
    // A name that would be restored outside the user's special folders (see
    // backup_file_item_name_check.h) goes to refusedFile too, after its contents are read
    // past. Every refused name gets a debug log line. Any other file goes to the sink's
    // writeFile with exactly its size in bytes. FileName becomes the expanded real path.
    int32_t readToSink(Stream& stream, RestoreSink& sink) override;

private:
    std::string fileName_;
};

}  // namespace ts
