#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "engine/backup_run.h"
#include "engine/data_file_upload.h"
#include "engine/failure.h"
#include "engine/datafile/data_header.h"
#include "engine/progress_percent.h"
#include "engine/work_folder.h"
#include "platform/date_time.h"
#include "platform/stream/parallel_deflate_stream.h"
#include "platform/profile/profile.h"
#include "run_test_support.h"
#include "support/crafted_data_file.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::inflateFile;

const std::vector<std::string> kBuildStatuses = {"Backup Windows Address Book ...", "Backup Favorites ...",
                                                 "Backup IE Settings ...", "Backup Outlook Express Data ..."};

class BackupRunTest : public ::testing::Test {
protected:
    BackupRunTest() {
        fs::create_directory(dir.path() / "dest");
        project.SetName("Mail");
        project.SetWorkFolder(dir.file("work"));
        project.Destination().SetLocalFolder(dir.file("dest"));
        test::recordEvents(project, events);
    }
    void TearDown() override { DebugLog::instance().clear(); }
    // An FTP destination the run's check accepts; the upload itself is the test's.
    void useFtp() {
        project.Destination().SetKind(TtsBPDestination::kKindFtp);
        project.Destination().SetHost("127.0.0.1");
    }

    std::string dataFile() const { return dir.file("dest/Mail.tsly_dat"); }
    std::string tempData() const { return dir.file("work/Temp.data"); }

    test::TempDir dir;
    TtsBackupProject project;
    test::RecordedEvents events;
};

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

TEST_F(BackupRunTest, NoItemSelectedGivesHeaderAndProjectStreamAndAllFourStatusTexts) {
    double before = dateTimeNow();
    project.Backup();
    auto lines = DebugLog::instance().lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "-Backup-");
    EXPECT_EQ(lines.back(), "-Backup Finished-");

    std::vector<uint8_t> plain = inflateFile(dataFile());
    std::vector<uint8_t> projectStream = test::projectStreamOf(project);
    ASSERT_EQ(plain.size(), 272 + projectStream.size());
    EXPECT_TRUE(std::equal(projectStream.begin(), projectStream.end(), plain.begin() + 272));

    EXPECT_EQ(std::memcmp(plain.data(), "Tessaly Data File Iden\0", 23), 0);
    EXPECT_TRUE(std::all_of(plain.begin() + 23, plain.begin() + 256, [](uint8_t b) { return b == 0; }));
    double backupTime;
    std::memcpy(&backupTime, plain.data() + 256, 8);
    EXPECT_GE(backupTime, before - 1e-6);
    EXPECT_LE(backupTime, dateTimeNow() + 1e-6);
    EXPECT_EQ(plain[264], 0);

    std::vector<std::string> expected = kBuildStatuses;
    expected.push_back("Compress Data ...");
    EXPECT_EQ(events.statuses, expected);
    EXPECT_EQ(events.progress, std::vector<int>{100});  // one block

    EXPECT_FALSE(fs::exists(tempData()));
    EXPECT_EQ(modeOf(dataFile()), 0600u);
    EXPECT_EQ(modeOf(dir.file("work")), 0700u);
    EXPECT_EQ(fs::directory_iterator(dir.path() / "dest")->path().filename(), "Mail.tsly_dat")
        << "nothing else is left beside the data file";
}

TEST_F(BackupRunTest, HeaderFlagFollowsEncryptAndTheDataFileReadsBackOnlyWithThePassword) {
    project.SetEncrypt(true);
    project.SetPassword("s\xc3\xa9same");
    project.Source().FindItem("IE Settings")->SetSelected(false);
    project.Backup();
    std::vector<uint8_t> plain = inflateFile(dataFile());
    EXPECT_EQ(plain[264], 1);
    EXPECT_TRUE(std::all_of(plain.begin() + 265, plain.begin() + 272, [](uint8_t b) { return b == 0; }));
    auto header = DataHeaderRec::fromBytes(*reinterpret_cast<const std::array<uint8_t, 272>*>(plain.data()));
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->Encrypt);
}

TEST_F(BackupRunTest, EachLevelGivesItsZlibHeader) {
    const std::vector<std::pair<uint8_t, uint8_t>> levels = {{0, 0x01}, {1, 0x01}, {2, 0x9C}, {3, 0xDA}};
    for (auto [level, flagByte] : levels) {
        project.SetCompressionLevel(level);
        project.Backup();
        std::vector<uint8_t> bytes = test::readHostFile(dataFile());
        EXPECT_EQ(bytes[0], 0x78);
        EXPECT_EQ(bytes[1], flagByte) << int(level);
        if (level == 0) {
            EXPECT_EQ(bytes[2] & 6, 0) << "first block stored";
        }
        EXPECT_EQ(inflateFile(dataFile()).size(), 272 + test::projectStreamOf(project).size());
    }
}

TEST_F(BackupRunTest, AnExistingDataFileIsReplaced) {
    test::writeHostFile(dataFile(), std::string(100000, 'x'));
    ::chmod(dataFile().c_str(), 0644);
    project.Backup();
    EXPECT_EQ(inflateFile(dataFile()).size(), 272 + test::projectStreamOf(project).size());
    EXPECT_EQ(modeOf(dataFile()), 0600u);
}

TEST_F(BackupRunTest, AnUnknownDestinationKindWritesNoDataFileButFinishes) {
    // Only a stored project can carry such a kind: patch the Kind byte of a plain destination
    // section, which sits before the 48-byte schedule section.
    std::vector<uint8_t> stream = test::projectStreamOf(project);
    stream[stream.size() - 48 - 1281] = 7;
    MemoryStream patched(stream);
    project.LoadFromStream(patched);
    ASSERT_EQ(project.Destination().Kind(), 7);

    project.Backup();
    EXPECT_FALSE(fs::exists(dataFile()));
    EXPECT_FALSE(fs::exists(tempData()));
    EXPECT_EQ(events.statuses, kBuildStatuses);
    EXPECT_EQ(DebugLog::instance().lines().back(), "-Backup Finished-");
}

TEST_F(BackupRunTest, ACancelDuringTheCaptureStopsItKeepingThePreviousDataFileAndNoTemporaryFile) {
    test::writeHostFile(dataFile(), std::string("previous backup"));
    fs::create_directory(dir.path() / "work");
    test::writeHostFile(tempData(), std::string("staged by an older run"));
    project.SetOnStatus([&](const std::string& text) {
        events.statuses.push_back(text);
        if (text == "Backup Favorites ...") project.Cancel();
    });
    project.Backup();
    EXPECT_EQ(events.statuses, (std::vector<std::string>{kBuildStatuses[0], kBuildStatuses[1]}))
        << "no item after the one under way";
    EXPECT_EQ(test::readHostFile(dataFile()).size(), 15u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "dest"), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(tempData()));
    EXPECT_FALSE(test::logHas("-Backup Finished-"));
    // The next run starts afresh.
    project.SetOnStatus({});
    project.Backup();
    EXPECT_EQ(inflateFile(dataFile()).size(), 272 + test::projectStreamOf(project).size());
}

TEST_F(BackupRunTest, ASecondRunAtTheSameTimeIsRefusedAtOnce) {
    WorkFolderLock held(dir.file("work"));
    try {
        project.Backup();
        FAIL() << "no exception";
    } catch (const EWorkFolderBusy& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("work")), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(tempData()));
    EXPECT_FALSE(fs::exists(dataFile()));
}

TEST_F(BackupRunTest, AnUnwritableDestinationFailsNamingTheFileAndLeavesNoTemporaryFile) {
    project.Destination().SetLocalFolder(dir.file("missing-folder"));
    try {
        project.Backup();
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find("missing-folder/Mail.tsly_dat"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_empty(dir.path() / "work") || !fs::exists(tempData()));
    EXPECT_FALSE(test::logHas("-Backup Finished-"));
}

TEST_F(BackupRunTest, AProjectNameHoldingAPathWritesNothingOutsideTheFolder) {
    for (std::string name : {"../escaped", "sub/dir", "back\\slash", ".."}) {
        project.SetName(name);
        EXPECT_THROW(project.Backup(), TsException) << name;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "escaped.tsly_dat"));
    EXPECT_EQ(std::distance(fs::directory_iterator(project.Destination().LocalFolder()), fs::directory_iterator()), 0);
}

TEST_F(BackupRunTest, ANameOrFolderThatCannotTakeTheDataFileFailsBeforeAnyItemIsCaptured) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"../escaped", dir.file("dest")}, {"", dir.file("dest")}, {"Mail", ""}};
    for (const auto& [name, folder] : cases) {
        SCOPED_TRACE(name + " in \"" + folder + "\"");
        events.statuses.clear();
        project.SetName(name);
        project.Destination().SetLocalFolder(folder);
        try {
            project.Backup();
            ADD_FAILURE() << "no exception";
        } catch (const FlowFailure& e) {
            EXPECT_EQ(e.failure().kind, FailureKind::Usage);
        }
        EXPECT_TRUE(events.statuses.empty()) << "captured: " << events.statuses.front();
        EXPECT_FALSE(fs::exists(tempData()));
    }
}

// A sample profile whose mail store holds files of several odd sizes, so sections cross the
// compressor's pieces at every place of a cipher block.
// A mail store of files of odd sizes, so sections cross the compressor's pieces at several
// places of a cipher block.
class BackupRunOfStoreTest : public ::testing::Test {
protected:
    BackupRunOfStoreTest() {
        const std::string line = "Subject: minutes of the meeting on the ninth, see attached\r\n";
        for (size_t size : {size_t{131069}, size_t{77}, size_t{140003}}) {
            std::vector<uint8_t> bytes = test::randomBytes(size, static_cast<uint32_t>(size));
            for (size_t i = 0; i < size / 2; ++i) bytes[i] = static_cast<uint8_t>(line[i % line.size()]);
            wine.writeFile("C:\\users\\alice\\AppData\\Local\\Identities\\Big\\f" + std::to_string(size) + ".dbx",
                           std::string(bytes.begin(), bytes.end()));
        }
        profile = wine.open();
        fs::create_directory(dir.path() / "dest");
        project = std::make_unique<TtsBackupProject>(profile.get());
        project->SetName("Mail");
        project->SetWorkFolder(dir.file("work"));
        project->SetPassword("pw");
        project->Destination().SetLocalFolder(dir.file("dest"));
        for (TtsBPSourceItem* item : project->Source().ItemList()) item->SetSelected(true);
    }
    void TearDown() override { DebugLog::instance().clear(); }
    std::string dataFile() const { return dir.file("dest/Mail.tsly_dat"); }
    // Every name in the destination and work folders but the data file and the work lock.
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> names;
        for (const char* folder : {"dest", "work"}) {
            if (!fs::exists(dir.path() / folder)) continue;
            for (const auto& entry : fs::directory_iterator(dir.path() / folder))
                if (entry.path() != dataFile() && entry.path().filename().string().find("lock") == std::string::npos)
                    names.push_back(entry.path().string());
        }
        return names;
    }

    test::WineProfile wine;
    test::TempDir dir;
    std::unique_ptr<Profile> profile;
    std::unique_ptr<TtsBackupProject> project;
};

TEST_F(BackupRunOfStoreTest, TheDataFileHasTheBytesOfItsPlainStreamCompressedAlone) {
    const double time = 46000.25;
    struct Case { bool encrypt; uint8_t level; };
    for (const Case c : {Case{false, 2}, Case{true, 2}, Case{true, 0}}) {
        SCOPED_TRACE(std::to_string(c.encrypt) + " " + std::to_string(c.level));
        project->SetEncrypt(c.encrypt);
        project->SetCompressionLevel(c.level);
        BackupRun run(*project, *profile, RunEvents{}, nullptr);
        run.setBackupTime(time);
        run.run();
        // Capture and compression side by side give what compressing the whole stream would.
        test::writeHostFile(dir.file("plain.data"), inflateFile(dataFile()));
        test::compressPlainFile(dir.file("plain.data"), dir.file("alone.tsly_dat"), c.level);
        const std::vector<uint8_t> expected = test::readHostFile(dir.file("alone.tsly_dat"));
        EXPECT_GT(expected.size(), 2 * ParallelDeflateStream::kOutputBlockSize);
        EXPECT_TRUE(test::readHostFile(dataFile()) == expected);
        EXPECT_EQ(run.plainBytes(), static_cast<int64_t>(fs::file_size(dir.file("plain.data"))));
        EXPECT_EQ(run.dataFileBytes(), static_cast<int64_t>(expected.size()));
    }
}

TEST_F(BackupRunOfStoreTest, ACancelAtAnyMomentEitherKeepsThePreviousFileOrEndsWithTheNewOne) {
    // Whatever the moment, the outcome told is the outcome on disk.
    project->SetEncrypt(true);
    const auto start = std::chrono::steady_clock::now();
    project->Backup();
    const auto whole = std::chrono::steady_clock::now() - start;
    std::vector<uint8_t> onDisk = test::readHostFile(dataFile());
    int cancelled = 0, completed = 0;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        BackupRun run(*project, *profile, RunEvents{}, nullptr);
        // From the start to well past the end of a whole run.
        std::thread canceller([&run, delay = whole * round / 5] {
            std::this_thread::sleep_for(delay);
            run.cancel();
        });
        run.run();
        canceller.join();
        const std::vector<uint8_t> bytes = test::readHostFile(dataFile());
        if (run.cancelled()) {
            ++cancelled;
            EXPECT_TRUE(run.dataFileLocation().empty());
            EXPECT_TRUE(bytes == onDisk);
        } else {
            ++completed;
            EXPECT_EQ(run.dataFileLocation(), dataFile());
            EXPECT_EQ(static_cast<int64_t>(bytes.size()), run.dataFileBytes());
            EXPECT_NE(bytes, onDisk) << "each run's backup time differs";
            onDisk = bytes;
        }
        EXPECT_EQ(strayFiles(), std::vector<std::string>{});
    }
    // Round 0 always cancels; how many of the later ones end first depends on the machine.
    EXPECT_GT(cancelled, 0);
    RecordProperty("completed", completed);
}

TEST_F(BackupRunOfStoreTest, AFullDiskFailsTheRunAndRemovesTheTemporaryFile) {
    test::writeHostFile(dataFile(), std::string("previous backup"));
    // A file size limit stands in for a full disk: the data file's writes fail half way.
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 60000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    try {
        project->Backup();
        ADD_FAILURE() << "no exception";
    } catch (const EWriteError& e) {
        EXPECT_NE(std::string(e.what()).find("File too large"), std::string::npos) << e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
    const std::vector<uint8_t> bytes = test::readHostFile(dataFile());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "previous backup");
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});
}

TEST_F(BackupRunOfStoreTest, TheProgressOnlyClimbsAndEndsAt100AfterCompressData) {
    test::RecordedEvents events;
    BackupRun run(*project, *profile, test::eventsOf(events), nullptr);
    run.run();
    ASSERT_GT(events.progress.size(), 3u);
    EXPECT_TRUE(std::is_sorted(events.progress.begin(), events.progress.end()));
    EXPECT_EQ(std::adjacent_find(events.progress.begin(), events.progress.end()), events.progress.end())
        << "no percentage told twice";
    EXPECT_EQ(events.progress.back(), 100);
    EXPECT_EQ(events.statuses.back(), "Compress Data ...");
    EXPECT_EQ(static_cast<int64_t>(inflateFile(dataFile()).size()), run.plainBytes());
}

TEST_F(BackupRunOfStoreTest, ACancelledCompressionKeepsThePreviousDataFileAndLeavesNoPartialFile) {
    test::writeHostFile(dataFile(), std::string("previous backup"));
    test::RecordedEvents events;
    std::unique_ptr<BackupRun> run;
    run = std::make_unique<BackupRun>(*project, *profile, RunEvents{{}, [&](uint8_t percent) {
                                                                    events.progress.push_back(percent);
                                                                    if (events.progress.size() == 3) run->cancel();
                                                                }},
                                      nullptr);
    run->run();
    EXPECT_TRUE(run->cancelled());
    EXPECT_EQ(events.progress.size(), 3u) << "the capture stops at its next write";
    const std::vector<uint8_t> kept = test::readHostFile(dataFile());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous backup");
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});
}

TEST_F(BackupRunOfStoreTest, ACancelAfterTheWholeStreamWasCompressedStillTellsTheOutcomeOnDisk) {
    test::writeHostFile(dataFile(), std::string("previous backup"));
    std::unique_ptr<BackupRun> run;
    run = std::make_unique<BackupRun>(*project, *profile, RunEvents{{}, [&](uint8_t percent) {
                                                                    if (percent == 100) run->cancel();
                                                                }},
                                      nullptr);
    run->run();
    // Compressed whole but not yet put in place: the cancel is taken and the old file stays.
    EXPECT_TRUE(run->cancelled());
    const std::vector<uint8_t> kept = test::readHostFile(dataFile());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous backup");
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});
}

TEST(ProgressPercent, CountsBeyondTwoAndFourGibibytesGiveTheRightPercentage) {
    const int64_t gib = int64_t{1} << 30;
    EXPECT_EQ(percentOf(3 * gib, 4 * gib), 75);
    EXPECT_EQ(percentOf(5 * gib + 1, 6 * gib), 83);
    EXPECT_EQ(percentOf(6 * gib - 1, 6 * gib), 99);
    EXPECT_EQ(percentOf(6 * gib, 6 * gib), 100);
    EXPECT_EQ(percentOf(0, 6 * gib), 0);
}

class RecordingUpload : public DataFileUpload {
public:
    void Upload(UploadRunLink&, const TtsBPDestination&, const std::string& localFile,
                const std::string& remoteName) override {
        plain = test::inflateFile(localFile);
        this->localFile = localFile;
        this->remoteName = remoteName;
        if (fail) throw TsException("Transferring failed");
    }
    std::vector<uint8_t> plain;
    std::string localFile, remoteName;
    bool fail = false;
};

TEST_F(BackupRunTest, AnFtpDestinationHandsTheCompressedFileToTheUploadThenRemovesBoth) {
    RecordingUpload upload;
    useFtp();
    BackupRun run(project);
    run.setUploader(&upload);
    run.run();
    EXPECT_EQ(upload.remoteName, "Mail.tsly_dat");
    EXPECT_EQ(upload.localFile, dir.file("work/Temp.data_compressed"));
    EXPECT_EQ(upload.plain.size(), 272 + test::projectStreamOf(project).size());
    EXPECT_FALSE(fs::exists(upload.localFile));
    EXPECT_FALSE(fs::exists(tempData()));
    EXPECT_TRUE(test::logHas("-Backup Finished-"));
}

TEST_F(BackupRunTest, AFailedUploadRemovesTheCompressedFile) {
    RecordingUpload upload;
    upload.fail = true;
    useFtp();
    BackupRun run(project);
    run.setUploader(&upload);
    EXPECT_THROW(run.run(), TsException);
    EXPECT_EQ(upload.plain.size(), 272 + test::projectStreamOf(project).size()) << "the upload had the whole file";
    EXPECT_FALSE(fs::exists(upload.localFile));
    EXPECT_FALSE(fs::exists(tempData()));
    EXPECT_FALSE(test::logHas("-Backup Finished-"));
}

TEST_F(BackupRunTest, ACancelBeforeTheUploadSkipsItAndRemovesTheCompressedFile) {
    for (const std::string stopAt : {"Backup Favorites ...", "Compress Data ..."}) {
        SCOPED_TRACE(stopAt);
        RecordingUpload upload;
        useFtp();
        BackupRun run(project, RunEvents{[&](const std::string& text) {
                                             if (text == stopAt) run.cancel();
                                         },
                                         {}});
        run.setUploader(&upload);
        run.run();
        EXPECT_TRUE(run.cancelled());
        EXPECT_TRUE(upload.remoteName.empty());
        EXPECT_TRUE(fs::is_empty(dir.path() / "work") || !fs::exists(dir.file("work/Temp.data_compressed")));
        EXPECT_FALSE(test::logHas("-Backup Finished-"));
    }
}

// An upload that asks the final step as a real one does, while a cancel races with it: the
// cancel either stops the run before the step (nothing stored) or is ignored from it on (the
// run ends well and a later cancel changes nothing), never half of each.
TEST_F(BackupRunTest, ACancelRacingWithTheFinalStepEitherStopsTheRunOrIsIgnored) {
    // The cancel comes from another thread as the upload reaches its final step.
    struct FinalStepUpload : RecordingUpload {
        BackupRun* run = nullptr;
        std::thread canceller;
        bool entered = false;
        void Upload(UploadRunLink& link, const TtsBPDestination& destination, const std::string& localFile,
                    const std::string& remoteName) override {
            std::atomic<bool> ready{false};
            canceller = std::thread([&] {
                ready = true;
                run->cancel();
            });
            while (!ready) std::this_thread::yield();
            entered = link.uploadFinalStep();
            if (!entered) throw TsException("The upload was cancelled");
            RecordingUpload::Upload(link, destination, localFile, remoteName);
        }
    };
    useFtp();
    int stopped = 0, ignored = 0;
    for (int round = 0; round < 50; ++round) {
        FinalStepUpload upload;
        DebugLog::instance().clear();
        BackupRun run(project);
        upload.run = &run;
        run.setUploader(&upload);
        bool failed = false;
        try {
            run.run();
        } catch (const TsException&) {
            failed = true;
        }
        upload.canceller.join();
        if (upload.entered) {
            ++ignored;
            EXPECT_FALSE(failed);
            EXPECT_FALSE(run.cancelled());
            EXPECT_EQ(upload.remoteName, "Mail.tsly_dat");
            EXPECT_TRUE(test::logHas("-Backup Finished-"));
            run.cancel();
            EXPECT_FALSE(run.cancelled()) << "a cancel after the end changes nothing";
        } else {
            ++stopped;
            EXPECT_TRUE(run.cancelled());
            EXPECT_TRUE(upload.remoteName.empty());
            EXPECT_FALSE(test::logHas("-Backup Finished-"));
        }
        EXPECT_FALSE(fs::exists(dir.file("work/Temp.data_compressed")));
    }
    RecordProperty("stopped", stopped);
    RecordProperty("ignored", ignored);
}

}  // namespace
}  // namespace ts
