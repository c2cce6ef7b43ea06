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

// What a part sees of its owning project: the codec's switch and pass phrase, and the Windows
// user profile the items read and write. What a run reports, where a restore writes and the
// run's stop are handed to the items by the run itself, never asked of the project.
// TtsBackupProject implements it.
class ProjectLink {
public:
    virtual ~ProjectLink() = default;
    virtual bool Encrypt() const = 0;
    virtual std::string Password() const = 0;  // host text (UTF-8)
    // The codec of the project's sections, set from Encrypt and Password at each call; the
    // key it keeps is digested again only when the pass phrase changed since the last one.
    virtual const SectionCodec& Codec() const {
        codec_.Configure(Encrypt(), Password());
        return codec_;
    }
    virtual Profile& UserProfile() const = 0;

private:
    mutable SectionCodec codec_;
};

class TtsBPObject {
public:
    explicit TtsBPObject(ProjectLink* project) : project_(project) {}
    virtual ~TtsBPObject() = default;
    TtsBPObject(const TtsBPObject&) = delete;
    TtsBPObject& operator=(const TtsBPObject&) = delete;

    ProjectLink* Project() const { return project_; }
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
    int64_t writeSection(Stream& plain, int64_t plainCount, Stream& dest) const;
    int64_t WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const;
    int64_t ReadSection(Stream& source, Stream& dest) const;

private:
    ProjectLink* project_;
};

}  // namespace ts
