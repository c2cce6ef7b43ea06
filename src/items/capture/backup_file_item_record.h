#pragma once
// One file's record, as capture writes it, presented as a read-only stream of exactly the
// length announced when the file was opened: the 256-byte name field, the 8-byte size, and
// the contents. The contents are read from the file as the stream is read, so a file of any
// size passes through a fixed buffer.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/stream/stream.h"

namespace ts {

class Profile;

inline constexpr int64_t kFileRecordNameSize = 256;
inline constexpr int64_t kFileRecordHeadSize = kFileRecordNameSize + 8;
// What the name field holds for a file that could not be read.
inline constexpr char kFileErrorName[] = "<file error>";

// Reads and drops exactly count bytes of a record's contents through a fixed buffer; a
// stream that ends first raises EReadError.
void discardBytes(Stream& stream, int64_t count);

class FileRecordSource : public Stream {
public:
    // Opens realPath in the profile for reading. A file that cannot be opened, whose
    // placeholder form does not fit the name field, or whose placeholder form a restore would
    // refuse (restoreRefusalOf) gives the error record (264 bytes).
    FileRecordSource(const Profile& profile, const std::string& realPath);
    ~FileRecordSource() override;

    // The name field's text: the placeholder form, or the error record's name.
    const std::string& storedName() const { return storedName_; }
    bool isErrorRecord() const { return !file_; }
    // Why the error record was saved in place of the file; "" for a file record.
    const std::string& errorReason() const { return errorReason_; }
    // Once the record was read: how the file changed while it was read (it shrank, grew or
    // could no longer be read), or empty when it did not. The record stays whole either way.
    const std::string& changeWhileRead() const { return changeWhileRead_; }
    // The size the record announces: the file's length when it was opened.
    int64_t contentSize() const { return contentSize_; }

    int64_t position() const override { return position_; }
    int64_t size() const override { return kFileRecordHeadSize + contentSize_; }
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

private:
    void makeErrorRecord(std::string reason);
    int64_t readContents(uint8_t* out, int64_t offset, int64_t count);
    void checkForGrowth();

    std::string realPath_;
    std::unique_ptr<FileStream> file_;
    std::string storedName_;
    std::string errorReason_;
    std::string changeWhileRead_;
    uint8_t head_[kFileRecordHeadSize] = {};
    int64_t contentSize_ = 0;
    int64_t position_ = 0;
    bool shrinkLogged_ = false;
    bool readFailed_ = false;
    bool growthChecked_ = false;
};

}  // namespace ts
