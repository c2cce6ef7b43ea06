#include "items/capture/backup_file_item_record.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "items/capture/backup_file_item_name_check.h"
#include "items/file_name.h"
#include "platform/ansi_text.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/debug_log.h"

namespace ts {

void discardBytes(Stream& stream, int64_t count) {
    std::vector<uint8_t> scratch(static_cast<size_t>(std::clamp<int64_t>(count, 0, 65536)));
    for (int64_t left = count; left > 0;) {
        const int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(scratch.size()));
        stream.readExact(scratch.data(), chunk);
        left -= chunk;
    }
}

FileRecordSource::FileRecordSource(const Profile& profile, const std::string& realPath) : realPath_(realPath) {
    TtsFileName name(profile);
    name.SetRealName(realPath);
    const std::string stored = toAnsi(name.Name());
    // The field needs room for the terminating NUL.
    if (static_cast<int64_t>(stored.size()) >= kFileRecordNameSize) {
        makeErrorRecord("its stored name \"" + name.Name() + "\" is longer than " +
                        std::to_string(kFileRecordNameSize - 1) + " characters");
        return;
    }
    // Saved, it could never come back.
    if (auto refusal = restoreRefusalOf(profile, name.Name())) {
        makeErrorRecord("a restore would refuse its stored name \"" + name.Name() + "\": " + *refusal);
        return;
    }
    try {
        file_ = profile.files().openRead(realPath);
    } catch (const TsException& error) {
        makeErrorRecord(error.what());
        return;
    }
    storedName_ = name.Name();
    contentSize_ = file_->size();
    std::memcpy(head_, stored.data(), stored.size());
    std::memcpy(head_ + kFileRecordNameSize, &contentSize_, sizeof contentSize_);
}

FileRecordSource::~FileRecordSource() = default;

void FileRecordSource::makeErrorRecord(std::string reason) {
    debugLog("File capture: \"" + realPath_ + "\": " + reason + "; saved as " + kFileErrorName);
    errorReason_ = std::move(reason);
    file_.reset();
    storedName_ = kFileErrorName;
    contentSize_ = 0;
    std::memset(head_, 0, sizeof head_);
    std::memcpy(head_, kFileErrorName, sizeof kFileErrorName - 1);
}

void FileRecordSource::seek(int64_t position) {
    if (position < 0) throw EStreamError("Invalid stream position");
    position_ = position;
}

int64_t FileRecordSource::read(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    const int64_t wanted = std::min(count, size() - position_);
    if (wanted <= 0) return 0;
    int64_t done = 0;
    if (position_ < kFileRecordHeadSize) {
        done = std::min(wanted, kFileRecordHeadSize - position_);
        std::memcpy(out, head_ + position_, static_cast<size_t>(done));
    }
    if (done < wanted) {
        const int64_t offset = position_ + done - kFileRecordHeadSize;
        done += readContents(out + done, offset, wanted - done);
    }
    position_ += done;
    if (position_ == size()) checkForGrowth();
    return done;
}

// Exactly count bytes of the contents from offset on: the file's bytes, and zeros where the
// file has become shorter than announced.
int64_t FileRecordSource::readContents(uint8_t* out, int64_t offset, int64_t count) {
    if (file_->position() != offset) file_->seek(offset);
    int64_t done = 0;
    while (done < count && !readFailed_) {
        int64_t got = 0;
        try {
            got = file_->read(out + done, count - done);
        } catch (const EStreamError& error) {
            // The section's length is already written: the record must still be whole.
            debugLog("File capture: " + std::string(error.what()));
            readFailed_ = true;
            changeWhileRead_ = "it could no longer be read (" + std::string(error.what()) +
                               "); the record holds zeros from byte " + std::to_string(offset + done) + " on";
        }
        if (got <= 0) break;
        done += got;
    }
    if (done < count) {
        std::memset(out + done, 0, static_cast<size_t>(count - done));
        if (!shrinkLogged_) {
            debugLog("File capture: \"" + realPath_ + "\" gave fewer than the " + std::to_string(contentSize_) +
                     " bytes it had when it was opened; the record keeps that size, the missing bytes as zeros");
            shrinkLogged_ = true;
            if (changeWhileRead_.empty())
                changeWhileRead_ = "it shrank below the " + std::to_string(contentSize_) +
                                   " bytes it had when it was opened; the record holds zeros from byte " +
                                   std::to_string(offset + done) + " on";
        }
    }
    return count;
}

void FileRecordSource::checkForGrowth() {
    if (growthChecked_ || !file_ || readFailed_) return;
    growthChecked_ = true;
    if (file_->position() != contentSize_) file_->seek(contentSize_);
    uint8_t probe;
    int64_t got = 0;
    try {
        got = file_->read(&probe, 1);
    } catch (const EStreamError&) {
        return;  // what the record holds is complete either way
    }
    if (got > 0) {
        debugLog("File capture: \"" + realPath_ + "\" grew while it was read; the record keeps its first " +
                 std::to_string(contentSize_) + " bytes");
        changeWhileRead_ = "it grew past the " + std::to_string(contentSize_) +
                           " bytes it had when it was opened; the record holds only those";
    }
}

int64_t FileRecordSource::write(const void*, int64_t) {
    throw EWriteError("Stream write error: a file record being captured is read only");
}

}  // namespace ts
