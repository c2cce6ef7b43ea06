#pragma once
// The sink of a real restore: registry keys and values go into the profile's hive, saved
// files into the profile's folders.
//
// A file is never half-replaced: its bytes go to a temporary file beside the target, which
// is renamed over the target only when complete, and removed on any failure. A stored name
// that would land outside the user's special folders is not written (the file record reading
// refuses such names before any sink sees them; this sink checks again for other callers).
#include <string>
#include <vector>

#include "items/registry.h"
#include "items/restore_sink.h"

namespace ts {

class Profile;

class ProfileRestoreSink : public RestoreSink {
public:
    explicit ProfileRestoreSink(const Profile& profile);

    void createKey(const std::string& keyPath) override;
    // REG_SZ, REG_DWORD and REG_BINARY; raises "Failed to set data for '%s'" for another type
    // or a failed write.
    void setValue(const std::string& keyPath, const RegValue& value) override;
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override;
    // Creates the missing folders, then replaces the file. Raises "Cannot create file "%s". %s"
    // (the real path, the system's reason) when the folders or the file cannot be made, and
    // EReadError when data ends early; the previous file is then left as it was.
    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override;
    void skippedFile(const std::string& storedName) override;

    // The stored names of the records that named a file but put nothing in place (the error
    // record is not among them), in the order met.
    const std::vector<std::string>& skippedNames() const { return skippedNames_; }

private:
    const Profile& profile_;
    TRegistry registry_;
    std::vector<std::string> skippedNames_;
};

}  // namespace ts
