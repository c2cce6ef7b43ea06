#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "part/bp_object.h"
#include "part/section_codec.h"
#include "platform/exception.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

using Bytes = std::vector<uint8_t>;

using FakeProject = SectionCodec;
using Part = SectionCodec;

// A part with no record of its own, for the codec as a part without a project offers it.
class RecordlessPart : public TtsBPObject {
public:
    using TtsBPObject::TtsBPObject;
    int32_t ReadFromStream(Stream&) override { return 0; }
    int32_t WriteToStream(Stream&) override { return 0; }
};

int64_t lengthField(const Bytes& section) {
    int64_t length;
    std::memcpy(&length, section.data(), 8);
    return length;
}

Bytes writeSection(const Part& part, const Bytes& plain) {
    MemoryStream out;
    int64_t written = part.WriteSectionBuffer(plain.data(), static_cast<int64_t>(plain.size()), out);
    EXPECT_EQ(written, out.size());
    return out.takeBytes();
}

Bytes readSection(const Part& part, const Bytes& section) {
    MemoryStream in(section), out;
    EXPECT_EQ(part.ReadSection(in, out), static_cast<int64_t>(section.size()));
    EXPECT_EQ(in.position(), in.size());
    return out.takeBytes();
}

// The framing as the callers build it in memory: encode into a new stream M, write M's size,
// then M. The streaming section writer must give exactly these bytes.
Bytes sectionBuiltInMemory(const Part& part, const Bytes& plain) {
    MemoryStream encoded, section;
    part.EncodeBuffer(plain.data(), static_cast<int64_t>(plain.size()), encoded);
    section.writeValue<int64_t>(encoded.size());
    encoded.rewind();
    section.copyFrom(encoded, encoded.size());
    return section.takeBytes();
}

TEST(SectionCodec, WithoutAProjectNothingIsEncoded) {
    RecordlessPart part(nullptr);
    Bytes plain = test::randomBytes(40, 1);
    MemoryStream source(plain), dest;
    EXPECT_EQ(part.EncodeStream(source, dest), 0);
    EXPECT_EQ(part.EncodeBuffer(plain.data(), 40, dest), 0);
    source.rewind();
    EXPECT_EQ(part.DecodeStream(source, dest), 0);
    EXPECT_EQ(dest.size(), 0);
    EXPECT_EQ(part.EncodedLength(40), 0);
}

TEST(SectionCodec, PlainSectionsHoldTheBytesUnchanged) {
    FakeProject project(false, "ignored");
    const Part& part = project;
    Bytes record = test::randomBytes(1281, 2);
    MemoryStream encoded;
    EXPECT_EQ(part.EncodeBuffer(record.data(), 1281, encoded), 1281);
    EXPECT_EQ(encoded.bytes(), record);

    Bytes section = writeSection(part, record);
    ASSERT_EQ(section.size(), 1289u);
    EXPECT_EQ(lengthField(section), 1281);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), section.begin() + 8));
    EXPECT_EQ(readSection(part, section), record);
}

TEST(SectionCodec, EncryptedSectionLengthsFollowTheBlocks) {
    FakeProject project(true, "secret");
    const Part& part = project;
    struct Case { size_t plain; int64_t payload; };
    for (auto [plain, payload] : {Case{1281, 1288}, Case{40, 48}, Case{0, 8}, Case{7, 8}, Case{8, 16}}) {
        EXPECT_EQ(part.EncodedLength(static_cast<int64_t>(plain)), payload);
        Bytes section = writeSection(part, test::randomBytes(plain, 3));
        EXPECT_EQ(section.size(), static_cast<size_t>(8 + payload)) << plain;
        EXPECT_EQ(lengthField(section), payload) << plain;
    }
}

TEST(SectionCodec, StreamedSectionsAreByteForByteTheInMemoryFraming) {
    FakeProject encrypted(true, "p\xC3\xA4ss"), plain(false, "");
    for (FakeProject* project : {&encrypted, &plain}) {
        const Part& part = *project;
        // 65535 to 65537 end the payload at, and just after, the reader's chunk of 8192 blocks.
        for (size_t length : {0, 1, 7, 8, 9, 40, 1281, 65535, 65536, 65537, 70001}) {
            Bytes data = test::randomBytes(length, static_cast<uint32_t>(length));
            Bytes section = writeSection(part, data);
            EXPECT_EQ(section, sectionBuiltInMemory(part, data)) << length;
            EXPECT_EQ(readSection(part, section), data) << length;
        }
    }
}

TEST(SectionCodec, EncodeAndDecodeRoundTripForManyLengthsAndPasswords) {
    for (uint32_t length = 0; length <= 300; ++length) {
        Bytes phrase = test::randomBytes(length % 17, length + 900);
        FakeProject project(true, std::string(phrase.begin(), phrase.end()));
        const Part& part = project;
        Bytes data = test::randomBytes(length, length);
        MemoryStream source(data), encoded, decoded;
        EXPECT_EQ(part.EncodeStream(source, encoded), part.EncodedLength(length));
        encoded.rewind();
        EXPECT_EQ(part.DecodeStream(encoded, decoded), static_cast<int64_t>(length));
        ASSERT_EQ(decoded.bytes(), data) << length;
    }
}

TEST(SectionCodec, DecodingAPlainPayloadAsEncryptedGivesAnotherLength) {
    FakeProject plainProject(false, ""), encryptedProject(true, "secret");
    Bytes record = test::randomBytes(1281, 4);
    Bytes section = writeSection(plainProject, record);
    Bytes decoded = readSection(encryptedProject, section);
    EXPECT_NE(decoded.size(), record.size());
}

TEST(SectionCodec, ALengthOfZeroIsAnEmptyPayloadOfEightBytes) {
    FakeProject encrypted(true, "secret"), plain(false, "");
    for (FakeProject* project : {&encrypted, &plain}) {
        const Part& part = *project;
        MemoryStream in(Bytes(8 + 5, 0)), out;  // zero length, then bytes of the next record
        EXPECT_EQ(part.ReadSection(in, out), 8);
        EXPECT_EQ(in.position(), 8);
        EXPECT_EQ(out.size(), 0);
    }
}

TEST(SectionCodec, ALengthBeyondTheStreamOrBelowZeroIsRejected) {
    FakeProject encrypted(true, "secret"), plain(false, "");
    for (FakeProject* project : {&encrypted, &plain}) {
        const Part& part = *project;
        for (int64_t length : {int64_t{17}, int64_t{-8}, INT64_MAX}) {
            MemoryStream in, out;
            in.writeValue(length);
            in.write(Bytes(16, 1).data(), 16);
            in.rewind();
            EXPECT_THROW(part.ReadSection(in, out), ECipherException) << length;
            EXPECT_EQ(out.size(), 0);
        }
    }
}

TEST(SectionCodec, AnEncryptedPayloadThatIsNotWholeBlocksEndsWhereItsLengthSays) {
    FakeProject project(true, "secret");
    const Part& part = project;
    Bytes first = writeSection(part, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9});
    // Pad the payload with three stray bytes and fix the length field to match.
    first.insert(first.end(), {0xEE, 0xEE, 0xEE});
    int64_t length = lengthField(first) + 3;
    std::memcpy(first.data(), &length, 8);
    Bytes second = writeSection(part, Bytes{42});

    MemoryStream in, out;
    in.write(first.data(), static_cast<int64_t>(first.size()));
    in.write(second.data(), static_cast<int64_t>(second.size()));
    in.rewind();
    part.ReadSection(in, out);
    EXPECT_EQ(out.bytes(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    MemoryStream next;
    part.ReadSection(in, next);
    EXPECT_EQ(next.bytes(), (Bytes{42}));
}

TEST(SectionCodec, SectionsStreamFromTheMiddleOfAFileAndStopAtTheirEnd) {
    test::TempDir dir;
    FakeProject project(true, "secret");
    const Part& part = project;
    Bytes content = test::randomBytes(100000, 5);
    test::writeHostFile(dir.file("plain"), content);

    FileStream plain(dir.file("plain"), FileStream::Mode::Read);
    FileStream sections(dir.file("sections"), FileStream::Mode::Create);
    plain.seek(1000);
    EXPECT_EQ(part.writeSection(plain, 50000, sections), 8 + 50008);
    EXPECT_EQ(plain.position(), 51000);
    EXPECT_EQ(part.writeSection(plain, 49000, sections), 8 + 49008);

    // A request for more than is left fails before anything is written.
    int64_t before = sections.size();
    plain.seek(99990);
    EXPECT_THROW(part.writeSection(plain, 11, sections), EReadError);
    EXPECT_EQ(sections.size(), before);

    sections.rewind();
    MemoryStream first, second;
    part.ReadSection(sections, first);
    part.ReadSection(sections, second);
    EXPECT_EQ(sections.position(), sections.size());
    EXPECT_EQ(first.bytes(), Bytes(content.begin() + 1000, content.begin() + 51000));
    EXPECT_EQ(second.bytes(), Bytes(content.begin() + 51000, content.end()));
}

TEST(SectionCodec, ThePassPhraseIsDigestedOnceUntilItChanges) {
    SectionCodec codec(true, "secret");
    Bytes data = test::randomBytes(100, 6);
    const uint64_t start = SectionCodec::KeyDerivations();
    struct Step { const char* what; std::function<void()> change; uint64_t digestsAfter; };
    const std::vector<Step> steps = {
        {"first use", [] {}, 1},
        {"same pass phrase again", [&] { codec.SetPassword("secret"); }, 1},
        {"switched off and on", [&] { codec.SetEncrypt(false); codec.SetEncrypt(true); }, 1},
        {"new pass phrase", [&] { codec.SetPassword("other"); }, 2},
        {"configured unchanged", [&] { codec.Configure(true, "other"); }, 2},
        {"copied", [&] { codec = SectionCodec(codec); }, 2},
    };
    for (const Step& step : steps) {
        step.change();
        for (int i = 0; i < 5; ++i) {
            Bytes section = writeSection(codec, data);
            EXPECT_EQ(readSection(codec, section), data) << step.what;
        }
        EXPECT_EQ(SectionCodec::KeyDerivations() - start, step.digestsAfter) << step.what;
    }
}

}  // namespace
}  // namespace ts
