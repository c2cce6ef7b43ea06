#pragma once
// The sink of a real restore: registry keys and values go into the profile's hive, saved
// files into the profile's folders.
//
// Everything goes through a ProfileTransaction: a run's restore hands its own in, so nothing
// is put in place before the whole data file was read and checked; without one each file
// replaces its target when complete. A stored name that would land outside the user's
// special folders, a target reached through a link out of the profile, and a key tree outside
// the item's own keys are not written; each is told to the project whose restore this is.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "items/capture/key_roots.h"
#include "part/restore_sink.h"

namespace ts {

class Profile;
class ProfileTransaction;
class TtsProjectLink;

class ProfileRestoreSink : public RestoreSink {
public:
    // reportTo, when given, is told of every refused name (FileNameRefused): the run keeps
    // the one list of them; and of every file and registry value written (Tally).
    // transaction: the run's, or none for one of the sink's own that puts each file in place
    // at once. keyRoots: the only key trees written (paths from the root, any case); none
    // given, every key is.
    explicit ProfileRestoreSink(const Profile& profile, TtsProjectLink* reportTo = nullptr,
                                ProfileTransaction* transaction = nullptr,
                                std::optional<std::vector<std::string>> keyRoots = std::nullopt);
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

private:
    bool keyAllowed(const std::string& keyPath);

    const Profile& profile_;
    TtsProjectLink* reportTo_;
    std::unique_ptr<ProfileTransaction> own_;
    ProfileTransaction* transaction_;
    KeyRoots keyRoots_;
    std::set<std::string> refusedKeys_;
};

}  // namespace ts
