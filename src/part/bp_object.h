#pragma once
// The base of every part of a backup project (source set, items, destination, schedule).
// It lives in a module of its own so that the item kinds (items/) can build on it while the
// project, the source set and the runs (engine/) sit above both.
#include <cstdint>
#include <string>

#include "part/section_codec.h"
#include "platform/stream/stream.h"

namespace ts {

class Profile;
class ProfileTransaction;

// What a part sees of its owning project: the codec's switch and pass phrase, and the
// cancel flag the runs poll, and the Windows user profile the items read and write.
// TtsBackupProject implements it.
class TtsProjectLink {
public:
    virtual ~TtsProjectLink() = default;
    virtual bool Encrypt() const = 0;
    virtual std::string Password() const = 0;  // host text (UTF-8)
    // The codec of the project's sections, set from Encrypt and Password at each call; the
    // key it keeps is digested again only when the pass phrase changed since the last one.
    virtual const SectionCodec& Codec() const {
        codec_.Configure(Encrypt(), Password());
        return codec_;
    }
    virtual bool Cancelled() const = 0;
    virtual Profile& UserProfile() const = 0;
    // A restore into UserProfile refused the saved file storedName; reason says why. The
    // project is told so that its run can report every such name; one that runs no restore
    // may ignore it.
    virtual void FileNameRefused(const std::string& storedName, const std::string& reason) {
        (void)storedName;
        (void)reason;
    }
    // What a backup could not save as it was.
    enum class CaptureProblem {
        NotSaved,          // the error record stands in the file's place
        ChangedWhileRead,  // saved, but it shrank or grew while it was read
        FolderNotListed,   // a folder whose files could not be looked for
    };
    // A backup met problem at realPath (a profile path); reason says why. Told so that the
    // run can name every file it did not save as it was.
    virtual void FileNotSaved(const std::string& realPath, const std::string& reason,
                              CaptureProblem problem = CaptureProblem::NotSaved) {
        (void)realPath;
        (void)reason;
        (void)problem;
    }
    // What a run moved, told as it happens so that the run can report its totals at the end
    // without reading anything twice. bytes: the file's size, 0 for the others.
    enum class Moved { FileSaved, UnreadableFileSaved, RegistryValueSaved, FileRestored, RegistryValueRestored };
    // The transaction of the restore under way, which the items write into so that nothing
    // is put in place before the whole data file was read; none outside a run's restore.
    virtual ProfileTransaction* RestoreTransaction() const { return nullptr; }
    virtual void Tally(Moved what, int64_t bytes) {
        (void)what;
        (void)bytes;
    }
    // An item is about to save a list of count files holding bytes bytes in all (their sizes
    // before reading), each then told through Tally, so a run can show how far it got
    // without listing anything twice.
    virtual void FilesAhead(int64_t count, int64_t bytes) { (void)count, (void)bytes; }

private:
    mutable SectionCodec codec_;
};

class TtsBPObject {
public:
    explicit TtsBPObject(TtsProjectLink* project) : project_(project) {}
    virtual ~TtsBPObject() = default;
    TtsBPObject(const TtsBPObject&) = delete;
    TtsBPObject& operator=(const TtsBPObject&) = delete;

    TtsProjectLink* Project() const { return project_; }
    // The project's codec; raises TsException for a part that belongs to no project.
    const SectionCodec& Codec() const;

    virtual int32_t ReadFromStream(Stream& stream) = 0;
    virtual int32_t WriteToStream(Stream& stream) = 0;

    // The project's section codec (see SectionCodec). Without a project each returns 0 and
    // does nothing.
    int64_t EncodeStream(Stream& Source, Stream& Dest) const;
    int64_t EncodeBuffer(const void* Buffer, int64_t Count, Stream& Dest) const;
    int64_t DecodeStream(Stream& Source, Stream& Dest) const;

    int64_t EncodedLength(int64_t plainCount) const;

    // Sections through the project's codec. Without a project a section is written with an
    // empty payload and read by passing over its payload.
    int64_t WriteSection(Stream& plain, int64_t plainCount, Stream& dest) const;
    int64_t WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const;
    int64_t ReadSection(Stream& source, Stream& dest) const;

private:
    TtsProjectLink* project_;
};

}  // namespace ts
