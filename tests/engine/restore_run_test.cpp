#include <gtest/gtest.h>

#include <filesystem>

#include "engine/datafile/data_file_contents.h"
#include "engine/failure.h"
#include "engine/restore_run.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "engine/work_folder.h"
#include "platform/stream/zlib_error.h"
#include "run_test_support.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

class RestoreRunTest : public ::testing::Test {
protected:
    RestoreRunTest() {
        fs::create_directory(dir.path() / "dest");
        writer.SetName("Mail");
        writer.SetWorkFolder(dir.file("work"));
        writer.Destination().SetLocalFolder(dir.file("dest"));
        writer.Destination().SetFtpPassword("ftp-secret");
        reader.SetWorkFolder(dir.file("work"));
        test::recordEvents(reader, events);
    }
    void TearDown() override { DebugLog::instance().clear(); }

    std::string backUp() {
        writer.Backup();
        return dir.file("dest/Mail.tsly_dat");
    }
    // Nothing but the data file may appear beside it.
    void expectNothingBesideDataFile() {
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "dest"), fs::directory_iterator()), 1);
    }

    test::TempDir dir;
    TtsBackupProject writer;
    TtsBackupProject reader;
    test::RecordedEvents events;
};

TEST_F(RestoreRunTest, LoadFromDataFileOfAnEncryptedFileNeedsItsPassword) {
    writer.SetEncrypt(true);
    writer.SetPassword("right");
    std::string file = backUp();

    reader.SetPassword("wrong");
    EXPECT_THROW(reader.LoadFromDataFile(file), EFileEncrypted);
    EXPECT_TRUE(reader.Encrypt()) << "taken from the header before the project is read";
    EXPECT_NE(reader.Destination().FtpPassword(), "ftp-secret");

    TtsBackupProject fresh;
    fresh.SetPassword("right");
    fresh.LoadFromDataFile(file);
    EXPECT_TRUE(fresh.Encrypt());
    EXPECT_EQ(fresh.Name(), "Mail");
    EXPECT_EQ(fresh.Destination().LocalFolder(), dir.file("dest"));
    EXPECT_EQ(fresh.Destination().FtpPassword(), "ftp-secret");
    EXPECT_TRUE(events.statuses.empty());
    expectNothingBesideDataFile();
}

TEST_F(RestoreRunTest, LoadFromDataFileReadsOnlyTheHeaderAndTheProject) {
    std::string file = backUp();
    // Whatever follows the project stream is never looked at: cut the file right after it.
    std::vector<uint8_t> plain = test::inflateFile(file);
    plain.push_back(0xEE);
    std::vector<uint8_t> z = test::deflateBytes(plain);
    z.resize(z.size() - 4);  // without its checksum
    test::writeHostFile(file, z);
    reader.LoadFromDataFile(file);
    EXPECT_EQ(reader.Name(), "Mail");
    EXPECT_FALSE(reader.Encrypt());
}

TEST_F(RestoreRunTest, ACompressedProjectFileIsNoDataFileAndChangesNothing) {
    writer.SaveToFile(dir.file("Mail.tsly"));
    test::writeHostFile(dir.file("dest/Mail.tsly_dat"), test::deflateBytes(test::readHostFile(dir.file("Mail.tsly"))));
    std::string file = dir.file("dest/Mail.tsly_dat");

    reader.LoadFromDataFile(file);
    EXPECT_EQ(reader.Name(), "Unnamed");

    reader.Restore(file);
    EXPECT_EQ(reader.Name(), "Unnamed");
    EXPECT_EQ(events.statuses, std::vector<std::string>{"Decompress Data ..."});
    EXPECT_EQ(events.progress, (std::vector<int>{50, 99, 100})) << "a small file is read in one block";
    EXPECT_TRUE(test::logHas("-Restore Finished-"));
    expectNothingBesideDataFile();

    DataFileContents contents;
    reader.InspectDataFile(file, contents);
    EXPECT_FALSE(contents.isDataFile);
}

TEST_F(RestoreRunTest, AFileThatIsNotZlibFailsNamingItAndLeavesNothingBehind) {
    std::string file = dir.file("dest/Mail.tsly_dat");
    test::writeHostFile(file, std::string(5000, 'x'));
    try {
        reader.LoadFromDataFile(file);
        FAIL() << "no exception";
    } catch (const ECompressedDataError& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + file + "\""), std::string::npos) << e.what();
    }
    EXPECT_THROW(reader.Restore(file), ECompressedDataError);
    EXPECT_FALSE(test::logHas("-Restore Finished-"));
    expectNothingBesideDataFile();
    EXPECT_THROW(reader.LoadFromDataFile(dir.file("dest/none.tsly_dat")), EFOpenError);
}

TEST_F(RestoreRunTest, ARestoreOfADataFileWithNoItemsReportsInOrder) {
    std::string file = backUp();
    DebugLog::instance().clear();
    reader.Restore(file);
    EXPECT_EQ(reader.Name(), "Mail") << "the run takes the project from the file";
    EXPECT_EQ(events.statuses, std::vector<std::string>{"Decompress Data ..."});
    EXPECT_EQ(events.progress, (std::vector<int>{50, 99, 100})) << "a small file is read in one block";
    auto lines = DebugLog::instance().lines();
    EXPECT_EQ(lines.front(), "-Restore-");
    EXPECT_EQ(lines.back(), "-Restore Finished-");
}

TEST_F(RestoreRunTest, ACancelBeforeTheDataIsReadRestoresNothingAndDoesNotFinish) {
    std::string file = backUp();
    reader.SetOnStatus([&](const std::string&) { reader.Cancel(); });
    reader.Restore(file);
    EXPECT_EQ(reader.Name(), "Unnamed");
    EXPECT_EQ(events.progress, (std::vector<int>{50, 99})) << "never 100";
    EXPECT_FALSE(test::logHas("-Restore Finished-"));
}

TEST_F(RestoreRunTest, ARestoreWhileAnotherRunHoldsTheWorkFolderIsRefused) {
    std::string file = backUp();
    WorkFolderLock held(dir.file("work"));
    EXPECT_THROW(reader.Restore(file), EWorkFolderBusy);
    EXPECT_TRUE(events.statuses.empty());
}

TEST_F(RestoreRunTest, InspectionAndRestoreInsistOnAWholeFileWhileLoadDoesNot) {
    std::string file = backUp();
    DataFileContents contents;
    reader.InspectDataFile(file, contents);
    EXPECT_TRUE(contents.isDataFile);
    EXPECT_TRUE(contents.projectRead);
    EXPECT_TRUE(contents.complete);
    ASSERT_EQ(contents.items.size(), 4u);
    EXPECT_EQ(contents.items[3].caption, "Outlook Express Data");
    EXPECT_FALSE(contents.items[3].stored);

    std::vector<uint8_t> bytes = test::readHostFile(file);
    bytes.resize(bytes.size() - 3);
    test::writeHostFile(file, bytes);
    try {
        reader.InspectDataFile(file, contents);
        FAIL() << "a cut file passed inspection";
    } catch (const FlowFailure& e) {
        EXPECT_EQ(e.failure().kind, FailureKind::DamagedDataFile);
        EXPECT_NE(std::string(e.what()).find("damaged at byte"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("cut short"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(contents.projectRead) << "what was read before the failure stays";
    EXPECT_FALSE(contents.complete);
    reader.LoadFromDataFile(file);
    EXPECT_THROW(reader.Restore(file), FlowFailure) << "damaged at a byte, as for the inspection";
    EXPECT_FALSE(test::logHas("-Restore Finished-"));
}

TEST_F(RestoreRunTest, ADamagedChecksumFailsTheRestoreAfterItsItems) {
    std::string file = backUp();
    std::vector<uint8_t> bytes = test::readHostFile(file);
    bytes.back() ^= 1;
    test::writeHostFile(file, bytes);
    EXPECT_THROW(reader.Restore(file), FlowFailure);
    EXPECT_FALSE(test::logHas("-Restore Finished-"));
}

// A restore into a folder that holds no profile yet locks it before it makes anything, so a
// second run cannot make the same profile at the same time; one that then fails leaves no
// profile behind.
TEST_F(RestoreRunTest, ARestoreIntoANewProfileLocksItFirstAndAFailedOneLeavesNoProfile) {
    std::string file = backUp();
    std::vector<uint8_t> bytes = test::readHostFile(file);
    bytes.back() ^= 1;
    test::writeHostFile(file, bytes);
    const std::string folder = dir.file("new-profile");
    Profile profile(folder, RegistryHive::openUserReg(folder + "/user.reg", folder), "bob");
    bool secondRefused = false;
    RunEvents events{[&](const std::string&) {
                         if (secondRefused) return;
                         try {
                             ProfileLock second(folder);
                         } catch (const EWorkFolderBusy&) {
                             secondRefused = true;
                         }
                     },
                     {}};
    RestoreRun run(reader, profile, file, events);
    EXPECT_THROW(run.run(), FlowFailure);
    EXPECT_TRUE(secondRefused);
    EXPECT_FALSE(fs::exists(folder)) << "a failed restore left a profile";
}

}  // namespace
}  // namespace ts
