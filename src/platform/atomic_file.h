#pragma once
// Replacing a host file so that a failure never destroys the previous one: everything is
// written to a temporary file beside it, which is renamed over the target only on commit.
#include <memory>
#include <string>

#include "platform/stream/stream.h"

namespace ts {

class AtomicFile {
public:
    enum class Durability {
        // The new file is forced to disk before it takes the target's place.
        SyncAlways,
        // Only a file that replaces an existing one is forced to disk first, so the old
        // contents can never give way to unwritten ones; a new file is left to the caller,
        // which syncs many of them at once (a restore writes thousands).
        SyncWhenReplacing,
    };

    // Creates the temporary file beside `path`; the given permission bits are the file's
    // from commit on. Raises EFCreateError naming `path` when that is impossible.
    explicit AtomicFile(std::string path, unsigned permissions = 0600, Durability durability = Durability::SyncAlways);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    Stream& stream() { return *stream_; }
    // Forces the bytes to disk (see Durability), closes the file and renames it over the target. Raises
    // EFCreateError naming the target when that fails (the temporary file is then removed).
    void commit();

    const std::string& path() const { return path_; }
    const std::string& temporaryPath() const { return temporaryPath_; }

private:
    std::string path_;
    std::string temporaryPath_;
    std::unique_ptr<FileStream> stream_;
    unsigned permissions_;
    Durability durability_;
    bool committed_ = false;
};

}  // namespace ts
