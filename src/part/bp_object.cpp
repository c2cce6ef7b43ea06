#include "part/bp_object.h"

#include "platform/exception.h"

namespace ts {

const SectionCodec& TtsBPObject::Codec() const {
    if (!project_) throw TsException("The part belongs to no backup project");
    return project_->Codec();
}

int64_t TtsBPObject::EncodeStream(Stream& Source, Stream& Dest) const {
    return project_ ? project_->Codec().EncodeStream(Source, Dest) : 0;
}

int64_t TtsBPObject::EncodeBuffer(const void* Buffer, int64_t Count, Stream& Dest) const {
    return project_ ? project_->Codec().EncodeBuffer(Buffer, Count, Dest) : 0;
}

int64_t TtsBPObject::DecodeStream(Stream& Source, Stream& Dest) const {
    return project_ ? project_->Codec().DecodeStream(Source, Dest) : 0;
}

int64_t TtsBPObject::EncodedLength(int64_t plainCount) const {
    return project_ ? project_->Codec().EncodedLength(plainCount) : 0;
}

int64_t TtsBPObject::writeSection(Stream& plain, int64_t plainCount, Stream& dest) const {
    if (project_) return project_->Codec().writeSection(plain, plainCount, dest);
    if (plainCount < 0 || plain.remaining() < plainCount) throw EReadError();
    dest.writeValue<int64_t>(0);
    return 8;
}

int64_t TtsBPObject::WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const {
    ByteViewStream plain(buffer, count);
    return writeSection(plain, count, dest);
}

int64_t TtsBPObject::ReadSection(Stream& source, Stream& dest) const {
    if (project_) return project_->Codec().ReadSection(source, dest);
    // A codec that gives nothing: the payload is passed over whole.
    const SectionCodec plain;
    SectionReader section(plain, source);
    section.skipRest();
    return section.sectionSize();
}

}  // namespace ts
