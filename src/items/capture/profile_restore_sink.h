#pragma once
// The sink of a real restore: registry keys and values go into the profile's hive, saved
// files into the profile's folders.
//
// Everything goes through a ProfileTransaction: a run's restore hands its own in, so nothing
// is put in place before the whole data file was read and checked; DirectProfileSink brings
// one of its own that puts each file in place as soon as it is whole. A stored name that
// would land outside the user's special folders and a target reached through a link out of
// the profile are not written; the sink keeps them, with what it wrote, for the run to report.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "part/restore_sink.h"

namespace ts {

class Profile;
class ProfileTransaction;

// What a restore wrote into the profile.
struct RestoredCounts {
    int64_t files = 0;
    int64_t bytes = 0;   // of those files
    int64_t values = 0;  // registry values
};

class ProfileRestoreSink : public RestoreSink {
public:
    // Writes into transaction's profile; the transaction belongs to the caller and outlives
    // the sink.
    explicit ProfileRestoreSink(ProfileTransaction& transaction);
    ~ProfileRestoreSink() override;

    void createKey(const std::string& keyPath) override;
    // REG_SZ, REG_DWORD and REG_BINARY; raises "Failed to set data for '%s'" for another type
    // or a failed write.
    void setValue(const std::string& keyPath, const RegValue& value) override;
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override;
    // Writes a file whose stored name the reader found restorable (the name check runs
    // once, where the record is read). Creates the missing folders, then replaces the file. Raises "Cannot create file "%s". %s"
    // (the real path, the system's reason) when the folders or the file cannot be made, and
    // EReadError when data ends early; the previous file is then left as it was.
    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override;
    void skippedFile(const std::string& storedName) override;
    void refusedFile(const std::string& storedName, const std::string& reason) override;

    const RestoredCounts& restored() const { return restored_; }
    // Stored names (and key paths) not written, with the reason, in the order met.
    const std::vector<std::pair<std::string, std::string>>& refused() const { return refused_; }

private:
    ProfileTransaction& transaction_;
    RestoredCounts restored_;
    std::vector<std::pair<std::string, std::string>> refused_;
};

// Writes straight into a profile, each file replacing its target when complete: for a
// profile no one else uses yet (an export's scratch profile), a capture class read on its own,
// and tests. A run's restore never uses it.
class DirectProfileSink : public ProfileRestoreSink {
public:
    explicit DirectProfileSink(const Profile& profile);
    ~DirectProfileSink() override;

private:
    explicit DirectProfileSink(std::unique_ptr<ProfileTransaction> own);
    std::unique_ptr<ProfileTransaction> own_;
};

}  // namespace ts
