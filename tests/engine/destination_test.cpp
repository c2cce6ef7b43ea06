#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/project.h"
#include "platform/exception.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

class DestinationTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }

    static void fillFtp(TtsBPDestination& destination) {
        destination.SetKind(TtsBPDestination::kKindFtp);
        destination.SetLocalFolder("/home/alice/backups");
        destination.SetRemoteFolder("incoming/mail");
        destination.SetHost("ftp.example.org:2121");
        destination.SetUserName("alice");
        destination.SetFtpPassword("s3cr\xc3\xa9t");  // "s3crét"
    }

    static void expectFtp(const TtsBPDestination& destination) {
        EXPECT_EQ(destination.Kind(), TtsBPDestination::kKindFtp);
        EXPECT_EQ(destination.LocalFolder(), "/home/alice/backups");
        EXPECT_EQ(destination.RemoteFolder(), "incoming/mail");
        EXPECT_EQ(destination.Host(), "ftp.example.org:2121");
        EXPECT_EQ(destination.UserName(), "alice");
        EXPECT_EQ(destination.FtpPassword(), "s3cr\xc3\xa9t");
    }

    TtsBackupProject project;
};

TEST_F(DestinationTest, PlainRecordLaysOutTheFieldsWithUserNameBeforePassword) {
    fillFtp(project.Destination());
    MemoryStream stream;
    EXPECT_EQ(project.Destination().WriteToStream(stream), 8 + 1281);
    const auto& b = stream.bytes();
    ASSERT_EQ(b.size(), 8u + 1281u);
    int64_t length;
    std::memcpy(&length, b.data(), 8);
    EXPECT_EQ(length, 1281);
    const uint8_t* rec = b.data() + 8;
    EXPECT_EQ(rec[0], 1);
    auto field = [&](size_t offset) { return std::string(reinterpret_cast<const char*>(rec + offset)); };
    EXPECT_EQ(field(1), "/home/alice/backups");
    EXPECT_EQ(field(257), "incoming/mail");
    EXPECT_EQ(field(513), "ftp.example.org:2121");
    EXPECT_EQ(field(769), "alice");
    EXPECT_EQ(field(1025), "s3cr\xe9t");  // the FTP password stands in plain, in Windows-1252
    for (size_t i = 1025 + 7; i < 1281; ++i) ASSERT_EQ(rec[i], 0) << "at " << i;
}

TEST_F(DestinationTest, FtpFieldsComeBackPlainAndEncrypted) {
    for (bool encrypt : {false, true}) {
        SCOPED_TRACE(encrypt);
        project.SetEncrypt(encrypt);
        project.SetPassword("pass phrase");
        fillFtp(project.Destination());
        MemoryStream stream;
        project.Destination().WriteToStream(stream);
        EXPECT_EQ(stream.size(), encrypt ? 8 + 1288 : 8 + 1281);

        TtsBackupProject reader;
        reader.SetEncrypt(encrypt);
        reader.SetPassword("pass phrase");
        stream.rewind();
        EXPECT_EQ(reader.Destination().ReadFromStream(stream), stream.size());
        EXPECT_EQ(stream.position(), stream.size());
        expectFtp(reader.Destination());
    }
}

TEST_F(DestinationTest, AMismatchedPasswordRaisesFileEncryptedAndChangesNothing) {
    project.SetEncrypt(true);
    project.SetPassword("right");
    fillFtp(project.Destination());
    MemoryStream encrypted;
    project.Destination().WriteToStream(encrypted);

    project.SetEncrypt(false);
    MemoryStream plain;
    project.Destination().WriteToStream(plain);

    struct Case {
        const char* what;
        MemoryStream& stream;
        bool encrypt;
        const char* password;
    } cases[] = {
        {"encrypted read without a password", encrypted, false, ""},
        {"encrypted read with a wrong password", encrypted, true, "wrong"},
        {"plain read with a password", plain, true, "right"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        TtsBackupProject reader;
        reader.SetEncrypt(c.encrypt);
        reader.SetPassword(c.password);
        reader.Destination().SetLocalFolder("/keep/me");
        c.stream.rewind();
        try {
            reader.Destination().ReadFromStream(c.stream);
            ADD_FAILURE() << "no EFileEncrypted";
        } catch (const EFileEncrypted& error) {
            EXPECT_STREQ(error.what(), "Decrypted data invalid, please check your password!");
        }
        EXPECT_EQ(reader.Destination().Kind(), TtsBPDestination::kKindLocalFolder);
        EXPECT_EQ(reader.Destination().LocalFolder(), "/keep/me");
        EXPECT_EQ(reader.Destination().Host(), "");
    }
}

TEST_F(DestinationTest, TextsOf255ComeBackWholeAndLongerOnesAreRefused) {
    TtsBPDestination& destination = project.Destination();
    std::string longest(255, 'h');
    destination.SetHost(longest);
    // 128 two-byte characters outside Windows-1252 stay UTF-8: 256 bytes, one too many.
    std::string cyrillic;
    for (int i = 0; i < 128; ++i) cyrillic += "\xd0\xb6";
    EXPECT_THROW(destination.SetHost(cyrillic), TsException);
    EXPECT_THROW(destination.SetFtpPassword(std::string(256, 'p')), TsException);
    EXPECT_EQ(destination.Host(), longest);
    EXPECT_EQ(destination.FtpPassword(), "");
    EXPECT_THROW(destination.SetKind(2), TsException);

    MemoryStream stream;
    destination.WriteToStream(stream);
    TtsBackupProject reader;
    stream.rewind();
    reader.Destination().ReadFromStream(stream);
    EXPECT_EQ(reader.Destination().Host(), longest);
}

TEST_F(DestinationTest, AFieldWithoutANulGives256CharactersAndIsWrittenBackUnchanged) {
    std::vector<uint8_t> section(8 + 1281, 0);
    int64_t length = 1281;
    std::memcpy(section.data(), &length, 8);
    std::memset(&section[8 + 257], 'r', 256);  // RemoteFolder, no NUL
    MemoryStream in(section);
    project.Destination().ReadFromStream(in);
    EXPECT_EQ(project.Destination().RemoteFolder(), std::string(256, 'r'));
    MemoryStream out;
    project.Destination().WriteToStream(out);
    EXPECT_EQ(out.bytes(), section);
}

TEST_F(DestinationTest, WritingAtTheEndOfAStreamLogsItsPositionTwiceThenTheRecordSize) {
    MemoryStream stream;
    std::vector<uint8_t> before(1234, 7);
    stream.write(before.data(), before.size());
    project.Destination().WriteToStream(stream);
    EXPECT_EQ(DebugLog::instance().lines(),
              (std::vector<std::string>{
                  "TtsBPDestination.WriteToStream, Current stream position is: 1234, Size is: 1234",
                  "TtsBPDestination.WriteToStream, SizeOf(DestRec)=1281, Result=1289"}));

    DebugLog::instance().clear();
    stream.seek(1234);
    project.Destination().ReadFromStream(stream);
    EXPECT_EQ(DebugLog::instance().lines(),
              (std::vector<std::string>{
                  "TtsBPDestination.ReadFromStream, Current stream position is: 1234, Size is: 2523",
                  "TtsBPDestination.ReadFromStream, Result=1289"}));
}

TEST_F(DestinationTest, ScheduleSectionIs48Or56BytesAndCarriesItsValuesUnchanged) {
    TtsBPScheme& scheme = project.Scheme();
    EXPECT_EQ(scheme.SchemeValue1(), 0);
    EXPECT_EQ(scheme.SchemeFlag(), 0);
    EXPECT_EQ(scheme.SchemeTime(), 0.0);

    // A plain record with every field set, the padding zero as we write it.
    std::vector<uint8_t> section(8 + 40, 0);
    int64_t length = 40;
    std::memcpy(section.data(), &length, 8);
    uint8_t* rec = section.data() + 8;
    rec[0] = 0xA5;
    double time = 45000.75;
    std::memcpy(rec + 8, &time, 8);
    int32_t values[] = {-5, 4, 1, 2, 3};  // Value5, 4, 1, 2, 3 at 16, 20, 24, 28, 32
    for (int i = 0; i < 5; ++i) std::memcpy(rec + 16 + 4 * i, &values[i], 4);

    MemoryStream in(section);
    EXPECT_EQ(scheme.ReadFromStream(in), 48);
    EXPECT_EQ(scheme.SchemeFlag(), 0xA5);
    EXPECT_EQ(scheme.SchemeTime(), 45000.75);
    EXPECT_EQ(scheme.SchemeValue5(), -5);
    EXPECT_EQ(scheme.SchemeValue4(), 4);
    EXPECT_EQ(scheme.SchemeValue1(), 1);
    EXPECT_EQ(scheme.SchemeValue2(), 2);
    EXPECT_EQ(scheme.SchemeValue3(), 3);

    MemoryStream out;
    EXPECT_EQ(scheme.WriteToStream(out), 48);
    EXPECT_EQ(out.bytes(), section);

    project.SetEncrypt(true);
    project.SetPassword("p");
    MemoryStream encrypted;
    EXPECT_EQ(scheme.WriteToStream(encrypted), 8 + 48);
    TtsBackupProject reader;
    reader.SetEncrypt(true);
    reader.SetPassword("p");
    encrypted.rewind();
    EXPECT_EQ(reader.Scheme().ReadFromStream(encrypted), 56);
    EXPECT_EQ(reader.Scheme().SchemeValue5(), -5);
    EXPECT_EQ(reader.Scheme().SchemeTime(), 45000.75);
}

// A schedule section whose values are all set, as a plain 40-byte record.
std::vector<uint8_t> plainScheduleSection(uint8_t flag, int32_t value1) {
    std::vector<uint8_t> section(8 + 40, 0);
    int64_t length = 40;
    std::memcpy(section.data(), &length, 8);
    section[8] = flag;
    std::memcpy(section.data() + 8 + 24, &value1, 4);
    return section;
}

TEST_F(DestinationTest, AScheduleSectionOfAnyOtherLengthThanItsRecordsIsRefusedBeforeItsPayload) {
    MemoryStream valid(plainScheduleSection(7, 77));
    project.Scheme().ReadFromStream(valid);
    // Only the encrypted record's length (48) can be a password matter; any other is damage.
    for (int64_t length : {int64_t{0}, int64_t{20}, int64_t{39}, int64_t{41}, int64_t{48}, int64_t{1} << 40}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> section(8 + 48, 1);
        std::memcpy(section.data(), &length, 8);
        MemoryStream in(section);
        if (length == 48) EXPECT_THROW(project.Scheme().ReadFromStream(in), EFileEncrypted);
        else EXPECT_THROW(project.Scheme().ReadFromStream(in), EDataDamaged);
        EXPECT_EQ(in.position(), 8) << "the payload is not read";
        EXPECT_EQ(project.Scheme().SchemeValue1(), 77);
        EXPECT_EQ(project.Scheme().SchemeFlag(), 7);
    }
}

// A wrong password that happens to decode the destination to its 1281 bytes is still caught
// by the schedule right after it.
TEST_F(DestinationTest, AWrongPasswordThatGetsPastTheDestinationIsCaughtByTheSchedule) {
    TtsBackupProject writer;
    writer.SetEncrypt(true);
    writer.SetPassword("right");
    MemoryStream stream;
    writer.SaveToStream(stream);
    const std::vector<uint8_t> original = stream.bytes();
    std::vector<uint8_t> bytes = original;

    // Under another password, the schedule section of the same length.
    TtsBackupProject other;
    other.SetEncrypt(true);
    other.SetPassword("other");
    MemoryStream foreign;
    ASSERT_EQ(other.Scheme().WriteToStream(foreign), 56);
    std::copy(foreign.bytes().begin(), foreign.bytes().end(), bytes.end() - 56);

    TtsBackupProject reader;
    reader.SetPassword("right");
    MemoryStream valid(plainScheduleSection(9, 99));
    reader.Scheme().ReadFromStream(valid);
    reader.SetEncrypt(true);
    MemoryStream in(bytes);
    try {
        reader.LoadFromStream(in);
        FAIL() << "a schedule under another password was taken";
    } catch (const EFileEncrypted& e) {
        EXPECT_STREQ(e.what(), "Decrypted data invalid, please check your password!");
    }
    EXPECT_EQ(reader.Scheme().SchemeValue1(), 99);
    EXPECT_EQ(reader.Scheme().SchemeFlag(), 9);

    // The same stream with its own schedule loads: the destination alone did not fail it.
    MemoryStream whole(original);
    EXPECT_NO_THROW(reader.LoadFromStream(whole));
    EXPECT_EQ(reader.Scheme().SchemeValue1(), 0);
}

}  // namespace
}  // namespace ts
