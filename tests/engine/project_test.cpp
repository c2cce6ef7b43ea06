#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/backup_run.h"
#include "engine/export_run.h"
#include "engine/extract_run.h"
#include "engine/flows.h"
#include "engine/restore_run.h"
#include "engine/project.h"
#include "items/kinds/favorites.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

class ProjectTest : public ::testing::Test {
protected:
    void TearDown() override { DebugLog::instance().clear(); }

    static int64_t itemRecordsSize(TtsBackupProject& project) {
        MemoryStream stream;
        return project.Source().WriteToStream(stream);
    }

    static void fillProject(TtsBackupProject& project) {
        project.SetName("Mail of Zo\xc3\xab");  // "Mail of Zoë"
        project.SetCompressionLevel(3);
        project.Source().FindItem("Favorites")->SetSelected(true);
        project.Source().FindItem("Outlook Express Data")->SetSelected(true);
        TtsBPDestination& destination = project.Destination();
        destination.SetKind(TtsBPDestination::kKindFtp);
        destination.SetHost("ftp.example.org");
        destination.SetRemoteFolder("backups");
        destination.SetUserName("zoe");
        destination.SetFtpPassword("ftp-secret");
    }

    static void expectFilled(const TtsBackupProject& loaded, const TtsBackupProject& saved) {
        EXPECT_EQ(loaded.Name(), "Mail of Zo\xc3\xab");
        EXPECT_EQ(loaded.CompressionLevel(), 3);
        EXPECT_EQ(std::bit_cast<uint64_t>(loaded.CreateTime()), std::bit_cast<uint64_t>(saved.CreateTime()));
        const auto& items = loaded.Source().ItemList();
        EXPECT_FALSE(items.Items(0)->Selected());
        EXPECT_TRUE(items.Items(1)->Selected());
        EXPECT_FALSE(items.Items(2)->Selected());
        EXPECT_TRUE(items.Items(3)->Selected());
        EXPECT_EQ(loaded.Destination().Kind(), TtsBPDestination::kKindFtp);
        EXPECT_EQ(loaded.Destination().Host(), "ftp.example.org");
        EXPECT_EQ(loaded.Destination().RemoteFolder(), "backups");
        EXPECT_EQ(loaded.Destination().UserName(), "zoe");
        EXPECT_EQ(loaded.Destination().FtpPassword(), "ftp-secret");
    }

    test::TempDir dir;
};

TEST_F(ProjectTest, AFreshProjectRoundTripsThroughAFile) {
    TtsBackupProject saved;
    std::string file = dir.file("fresh.tsly");
    saved.SaveToFile(file);

    TtsBackupProject loaded;
    loaded.LoadFromFile(file);
    EXPECT_EQ(loaded.Name(), "Unnamed");
    EXPECT_EQ(loaded.CompressionLevel(), 2);
    EXPECT_EQ(std::bit_cast<uint64_t>(loaded.CreateTime()), std::bit_cast<uint64_t>(saved.CreateTime()));
    for (TtsBPSourceItem* item : loaded.Source().ItemList()) EXPECT_FALSE(item->Selected());
    EXPECT_EQ(loaded.Destination().Kind(), TtsBPDestination::kKindLocalFolder);
    EXPECT_EQ(loaded.Destination().LocalFolder(), "");
    EXPECT_EQ(loaded.Destination().FtpPassword(), "");
    EXPECT_EQ(loaded.Scheme().SchemeValue1(), 0);
    EXPECT_EQ(loaded.Scheme().SchemeTime(), 0.0);
    EXPECT_FALSE(loaded.Encrypt());
}

TEST_F(ProjectTest, APlainProjectFileIsTheRecordTheItemsAndBothSections) {
    TtsBackupProject project;
    std::string file = dir.file("plain.tsly");
    project.SaveToFile(file);
    auto bytes = test::readHostFile(file);
    int64_t items = itemRecordsSize(project);
    ASSERT_EQ(static_cast<int64_t>(bytes.size()), 528 + items + 8 + 1281 + 8 + 40);

    MemoryStream stream;
    EXPECT_EQ(project.SaveToStream(stream), static_cast<int32_t>(bytes.size()));

    // The record: identifier, name, level, zero padding, creation time.
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data()), "Tessaly Project File");
    for (size_t i = 21; i < 256; ++i) ASSERT_EQ(bytes[i], 0) << "at " << i;
    EXPECT_STREQ(reinterpret_cast<const char*>(&bytes[256]), "Unnamed");
    EXPECT_EQ(bytes[512], 2);
    for (size_t i = 513; i < 520; ++i) ASSERT_EQ(bytes[i], 0) << "at " << i;
    double createTime;
    std::memcpy(&createTime, &bytes[520], 8);
    EXPECT_EQ(createTime, project.CreateTime());
}

TEST_F(ProjectTest, AnEncryptedFileNeedsItsPassword) {
    TtsBackupProject saved;
    fillProject(saved);
    saved.SetEncrypt(true);
    saved.SetPassword("P\xc3\xa4ss");
    std::string file = dir.file("encrypted.tsly");
    saved.SaveToFile(file);
    EXPECT_EQ(static_cast<int64_t>(test::readHostFile(file).size()),
              528 + itemRecordsSize(saved) + 8 + 1288 + 8 + 48);

    // Without the password: the record and the item heads are taken, the sections are not.
    TtsBackupProject fresh;
    try {
        fresh.LoadFromFile(file);
        ADD_FAILURE() << "no EFileEncrypted";
    } catch (const EFileEncrypted& error) {
        EXPECT_STREQ(error.what(), "Decrypted data invalid, please check your password!");
    }
    EXPECT_EQ(fresh.Name(), "Mail of Zo\xc3\xab");
    EXPECT_TRUE(fresh.Source().ItemList().Items(1)->Selected());
    EXPECT_EQ(fresh.Destination().Kind(), TtsBPDestination::kKindLocalFolder);
    EXPECT_EQ(fresh.Destination().Host(), "");

    TtsBackupProject wrong;
    wrong.SetEncrypt(true);
    wrong.SetPassword("Pass");
    EXPECT_THROW(wrong.LoadFromFile(file), EFileEncrypted);

    // What the main window does next: the password, Encrypt on, and the same file again.
    fresh.SetPassword("P\xc3\xa4ss");
    fresh.SetEncrypt(true);
    fresh.LoadFromFile(file);
    expectFilled(fresh, saved);
}

TEST_F(ProjectTest, APlainFilledProjectRoundTripsAndKeepsScheduleBytes) {
    TtsBackupProject saved;
    fillProject(saved);
    MemoryStream stream;
    saved.SaveToStream(stream);
    // Put schedule values in the last section, as a file from elsewhere could hold them.
    std::vector<uint8_t> bytes = stream.takeBytes();
    uint8_t* rec = &bytes[bytes.size() - 40];
    rec[0] = 9;
    int32_t value = 123456;
    std::memcpy(rec + 24, &value, 4);

    TtsBackupProject loaded;
    MemoryStream in(bytes);
    EXPECT_EQ(loaded.LoadFromStream(in), static_cast<int32_t>(bytes.size()));
    expectFilled(loaded, saved);
    EXPECT_EQ(loaded.Scheme().SchemeValue1(), 123456);
    MemoryStream again;
    loaded.SaveToStream(again);
    EXPECT_EQ(again.bytes(), bytes);
}

TEST_F(ProjectTest, NamesUpTo255BytesAreKeptLongerOnesRefused) {
    TtsBackupProject project;
    std::string longest(255, 'n');
    project.SetName(longest);
    try {
        project.SetName(std::string(256, 'n'));
        ADD_FAILURE() << "a 256-byte name was taken";
    } catch (const TsException& error) {
        EXPECT_NE(std::string(error.what()).find("Project name is too long"), std::string::npos);
    }
    EXPECT_EQ(project.Name(), longest);
    // The limit counts the bytes written: 255 "é" are 255 Windows-1252 bytes, 255 "ж" are 510.
    std::string accented, cyrillic;
    for (int i = 0; i < 255; ++i) accented += "\xc3\xa9", cyrillic += "\xd0\xb6";
    EXPECT_NO_THROW(project.SetName(accented));
    EXPECT_THROW(project.SetName(cyrillic), TsException);
    EXPECT_THROW(project.SetCompressionLevel(4), TsException);

    project.SetName(longest);
    MemoryStream stream;
    project.SaveToStream(stream);
    TtsBackupProject loaded;
    stream.rewind();
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.Name(), longest);
}

TEST_F(ProjectTest, AFileThatIsNoProjectLeavesTheProjectUnchanged) {
    std::string file = dir.file("other.tsly_dat");
    test::writeHostFile(file, test::randomBytes(4000, 7));
    TtsBackupProject project;
    project.SetName("Mine");
    project.Destination().SetLocalFolder("/keep");
    project.LoadFromFile(file);
    EXPECT_EQ(project.Name(), "Mine");
    EXPECT_EQ(project.Destination().LocalFolder(), "/keep");

    FileStream stream(file, FileStream::Mode::Read);
    EXPECT_EQ(project.LoadFromStream(stream), 528);
    EXPECT_EQ(stream.position(), 528);

    // The identifier must match exactly, with its NUL.
    std::vector<uint8_t> near(600, 0);
    std::memcpy(near.data(), "Tessaly Project Files", 21);
    MemoryStream nearStream(near);
    EXPECT_EQ(project.LoadFromStream(nearStream), 528);
    std::memcpy(near.data(), "tessaly Project File", 20);
    MemoryStream lowerStream(near);
    EXPECT_EQ(project.LoadFromStream(lowerStream), 528);
    EXPECT_EQ(project.Name(), "Mine");

    MemoryStream shortStream(std::vector<uint8_t>(10, 'x'));
    EXPECT_EQ(project.LoadFromStream(shortStream), 10);
    EXPECT_THROW(project.LoadFromFile(dir.file("missing.tsly")), EFOpenError);
}

TEST_F(ProjectTest, AProjectRecordCutShortIsAnError) {
    TtsBackupProject saved;
    MemoryStream stream;
    saved.SaveToStream(stream);
    std::vector<uint8_t> cut(stream.bytes().begin(), stream.bytes().begin() + 300);
    TtsBackupProject loaded;
    loaded.SetName("Mine");
    MemoryStream in(cut);
    EXPECT_THROW(loaded.LoadFromStream(in), EReadError);
    EXPECT_EQ(loaded.Name(), "Mine");
}

TEST_F(ProjectTest, SavingReplacesTheFileWhole600AndLeavesNothingBeside) {
    std::string file = dir.file("project.tsly");
    test::writeHostFile(file, std::string(5000, 'o'));
    ::chmod(file.c_str(), 0644);
    TtsBackupProject project;
    project.SaveToFile(file);
    MemoryStream expected;
    project.SaveToStream(expected);
    EXPECT_EQ(test::readHostFile(file), expected.bytes());
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    try {
        project.SaveToFile(dir.file("no-such-folder/project.tsly"));
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const EFCreateError& error) {
        EXPECT_NE(std::string(error.what()).find("no-such-folder/project.tsly"), std::string::npos);
    }
}

TEST_F(ProjectTest, AProfileGivenLaterIsThePartsProfileAndItsFavoritesAreCollectedOnce) {
    test::WineProfile wine;
    wine.writeFile("C:\\users\\alice\\Favorites\\News.url", "[InternetShortcut]\r\nURL=http://a.example/\r\n");
    wine.writeFile("C:\\users\\alice\\Favorites\\Links\\Mail.url", "[InternetShortcut]\r\nURL=http://b.example/\r\n");
    auto profile = wine.open();
    auto favorites = [](TtsBackupProject& project) {
        return static_cast<TtsBPFavorites*>(project.Source().FindItem("Favorites"))->Files();
    };
    TtsBackupProject made(profile.get());
    ASSERT_EQ(favorites(made).size(), 2u);

    TtsBackupProject later;
    EXPECT_THROW(later.UserProfile(), TsException);
    later.SetUserProfile(profile.get());
    EXPECT_EQ(&later.UserProfile(), profile.get());
    EXPECT_EQ(&later.Source().ItemList().Items(0)->Project()->UserProfile(), profile.get());
    EXPECT_EQ(favorites(later), favorites(made));
    later.SetUserProfile(profile.get());
    EXPECT_EQ(favorites(later).size(), 2u) << "given again: nothing doubles";
}

TEST_F(ProjectTest, UploadProgressIsATruncatedPercentageAlsoBeyond2GiB) {
    TtsBackupProject project;
    std::vector<int> reported;
    BackupRun run(project, RunEvents{{}, [&](uint8_t percent) { reported.push_back(percent); }});
    run.uploadWork(10);  // no total announced yet
    run.uploadWorkBegin(3);
    run.uploadWork(1);
    run.uploadWork(3);
    run.uploadWork(4);  // a client that overshoots
    run.uploadWorkBegin(int64_t{5} << 30);
    run.uploadWork((int64_t{5} << 30) / 2);
    run.uploadWork((int64_t{5} << 30) - 1);
    EXPECT_EQ(run.transferSize(), int64_t{5} << 30);
    EXPECT_EQ(reported, (std::vector<int>{33, 100, 100, 50, 99}));
}

TEST_F(ProjectTest, TheProjectsCancelReachesTheRunUnderWayAndOnlyIt) {
    TtsBackupProject project;
    project.Cancel();  // no run: nothing to cancel
    EXPECT_FALSE(project.Cancelled());
    {
        std::vector<std::string> statuses;
        BackupRun run(project, RunEvents{[&](const std::string& text) { statuses.push_back(text); }, {}});
        run.status("Backup Favorites ...");
        EXPECT_EQ(statuses, std::vector<std::string>{"Backup Favorites ..."});
        EXPECT_FALSE(project.Cancelled());
        std::thread([&] { project.Cancel(); }).join();
        EXPECT_TRUE(run.cancelled());
        EXPECT_TRUE(run.stopToken().stop_requested()) << "what the run hands down sees it";
        EXPECT_THROW(BackupRun second(project), TsException) << "one run at a time per project";
    }
    EXPECT_FALSE(project.Cancelled()) << "the next run starts afresh";
}

// A cancel through the project racing with runs that come and go must reach each run whole
// or not at all; AddressSanitizer shows a cancel that meets a run being destroyed.
TEST_F(ProjectTest, ACancelRacingWithRunsComingAndGoingNeverMeetsOneHalfDestroyed) {
    TtsBackupProject project;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done) project.Cancel();
    });
    for (int i = 0; i < 2000; ++i) {
        auto run = std::make_unique<BackupRun>(project);
        std::this_thread::yield();
        run.reset();
    }
    done = true;
    canceller.join();
    EXPECT_FALSE(project.Cancelled());
}

// Every kind of run ends in its final step: a cancel after run() returned, as a late click on
// Cancel would send it, leaves the run reported as ended, not cancelled.
TEST_F(ProjectTest, ACancelAfterARunEndedLeavesItEnded) {
    test::WineProfile wine;
    auto profile = wine.open();
    TtsBackupProject project(profile.get());
    project.SetName("Mail");
    project.SetWorkFolder(dir.file("work"));
    std::filesystem::create_directory(dir.path() / "dest");
    project.Destination().SetLocalFolder(dir.file("dest"));
    project.Source().FindItem("Favorites")->SetSelected(true);
    const std::string dataFile = dir.file("dest/Mail.tsly_dat");
    struct NoPassword : PasswordQuestion {
        std::optional<std::string> askPassword(const std::string&, bool) override { return std::nullopt; }
    } noPassword;
    const auto endThenCancel = [](auto& run) {
        run.run();
        run.cancel();
        return run.cancelled();
    };
    const std::vector<std::pair<std::string, std::function<bool()>>> runs = {
        {"backup", [&] {
             BackupRun run(project);
             return endThenCancel(run);
         }},
        {"restore", [&] {
             auto opened = openDataFile(dataFile, *profile, noPassword);
             RestoreRun run(*opened, *profile, {});
             return endThenCancel(run);
         }},
        {"extract", [&] {
             auto opened = openDataFile(dataFile, *profile, noPassword);
             ExtractRun run(*opened, *profile, dir.file("extracted"), false, {});
             return endThenCancel(run);
         }},
        {"export", [&] {
             TtsBackupProject live(profile.get());
             ExportRun run(live, *profile, {.folder = dir.file("exported")}, {});
             return endThenCancel(run);
         }},
    };
    for (const auto& [kind, cancelledAfterEnd] : runs) {
        SCOPED_TRACE(kind);
        EXPECT_FALSE(cancelledAfterEnd());
    }
}

}  // namespace
}  // namespace ts
