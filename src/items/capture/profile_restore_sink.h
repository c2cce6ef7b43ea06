#pragma once
// The sink of a real restore: registry keys and values go into the profile's hive, saved
// files into the profile's folders.
//
// A file is never half-replaced: its bytes go to a temporary file beside the target, which
// is renamed over the target only when complete, and removed on any failure. A stored name
// that would land outside the user's special folders is not written (the file record reading
// refuses such names before any sink sees them; this sink checks again for other callers).
// Refused names are kept, and told to the project whose restore this is.
#include <string>
#include <vector>

#include "items/registry.h"
#include "part/restore_sink.h"

namespace ts {

class Profile;
class TtsProjectLink;

class ProfileRestoreSink : public RestoreSink {
public:
    // reportTo, when given, is told of every refused name (FileNameRefused): the run keeps
    // the one list of them; and of every file and registry value written (Tally).
    explicit ProfileRestoreSink(const Profile& profile, TtsProjectLink* reportTo = nullptr);

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
    const Profile& profile_;
    TtsProjectLink* reportTo_;
    TRegistry registry_;
};

}  // namespace ts
