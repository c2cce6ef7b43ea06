#pragma once
// The base of the two capture classes: one registry key tree or one file, written into a
// stream on backup and read back on restore.
#include <cstdint>

#include "part/restore_sink.h"
#include "platform/stream/stream.h"

namespace ts {

class Profile;

class TtsBackupItem {
public:
    explicit TtsBackupItem(const Profile& profile) : profile_(&profile) {}
    virtual ~TtsBackupItem() = default;
    TtsBackupItem(const TtsBackupItem&) = delete;
    TtsBackupItem& operator=(const TtsBackupItem&) = delete;

    // Takes over what another item of the same class describes; other classes are ignored.
    virtual void Assign(const TtsBackupItem& source) { (void)source; }

    // Reads one saved record and puts what it describes straight back into the profile, each
    // file in place as soon as it is whole (a restore run reads through readToSink into its
    // transaction instead). Returns the bytes read.
    int32_t ReadFromStream(Stream& stream);
    // Captures into the stream at its current position. Returns the bytes written.
    virtual int32_t WriteToStream(Stream& stream) = 0;

    // Reads one saved record exactly as ReadFromStream does, handing what it describes to
    // sink instead (the profile on a restore, an inventory for listing or passing over).
    virtual int32_t readToSink(Stream& stream, RestoreSink& sink) = 0;

    const Profile& UserProfile() const { return *profile_; }

private:
    const Profile* profile_;
};

}  // namespace ts
