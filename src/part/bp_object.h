#pragma once
// The base of every part of a backup project (source set, items, destination, schedule).
// It lives in a module of its own so that the item kinds (items/) can build on it while the
// project, the source set and the runs (engine/) sit above both.
#include <cstdint>
#include <string>

#include "platform/stream/stream.h"

namespace ts {

class Profile;

// What a part sees of its owning project: the codec's switch and pass phrase, and the
// cancel flag the runs poll, and the Windows user profile the items read and write.
// TtsBackupProject implements it.
class TtsProjectLink {
public:
    virtual ~TtsProjectLink() = default;
    virtual bool Encrypt() const = 0;
    virtual std::string Password() const = 0;  // host text (UTF-8)
    virtual bool Cancelled() const = 0;
    virtual Profile& UserProfile() const = 0;
    // A restore into UserProfile refused the saved file storedName; reason says why. The
    // project is told so that its run can report every such name; one that runs no restore
    // may ignore it.
    virtual void FileNameRefused(const std::string& storedName, const std::string& reason) {
        (void)storedName;
        (void)reason;
    }
    // What a run moved, told as it happens so that the run can report its totals at the end
    // without reading anything twice. bytes: the file's size, 0 for the others.
    enum class Moved { FileSaved, UnreadableFileSaved, FileRestored, RegistryValueRestored };
    virtual void Tally(Moved what, int64_t bytes) {
        (void)what;
        (void)bytes;
    }
};

class TtsBPObject {
public:
    explicit TtsBPObject(TtsProjectLink* project) : project_(project) {}
    virtual ~TtsBPObject() = default;
    TtsBPObject(const TtsBPObject&) = delete;
    TtsBPObject& operator=(const TtsBPObject&) = delete;

    TtsProjectLink* Project() const { return project_; }

    virtual int32_t ReadFromStream(Stream& stream) = 0;
    virtual int32_t WriteToStream(Stream& stream) = 0;

    // The section codec. Without a project each returns 0 and does nothing; with Encrypt
    // off the bytes pass unchanged; with Encrypt on they go through Triple-DES under a key
    // made from Password. Source is read from its current position, its blocks counted
    // from its total size. Each returns how much Dest grew.
    int64_t EncodeStream(Stream& Source, Stream& Dest) const;
    int64_t EncodeBuffer(const void* Buffer, int64_t Count, Stream& Dest) const;
    int64_t DecodeStream(Stream& Source, Stream& Dest) const;

    // The payload length a section of plainCount bytes gets: plainCount when plain,
    // (plainCount div 8 + 1) * 8 when encrypted; 0 without a project.
    int64_t EncodedLength(int64_t plainCount) const;

    // Writes one section (8-byte length, then the payload) of exactly plainCount bytes read
    // from plain's current position, streaming through fixed buffers so memory does not
    // grow with plainCount. Returns 8 + payload length. Throws EReadError if plain ends early.
    int64_t WriteSection(Stream& plain, int64_t plainCount, Stream& dest) const;
    int64_t WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const;

    // Reads one section from source's current position and writes its plain bytes to dest,
    // streaming through fixed buffers. Returns the bytes consumed from source (8 + L).
    // A length below 0 or beyond the end of source raises "Invalid file format".
    int64_t ReadSection(Stream& source, Stream& dest) const;

private:
    TtsProjectLink* project_;
};

}  // namespace ts
