// A backup to an FTP destination, against a real FTP server on loopback.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/backup_run.h"
#include "engine/ftp_replacing_store.h"
#include "engine/ftp_upload.h"
#include "run_test_support.h"
#include "support/ftp_script_server.h"
#include "support/ftp_test_server.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A file of zeros made without writing it.
struct LargeFile {
    std::string path;
    LargeFile(std::string p, uintmax_t size) : path(std::move(p)) {
        test::writeHostFile(path, std::string());
        fs::resize_file(path, size);
    }
};

class FtpUploadTest : public ::testing::Test {
protected:
    FtpUploadTest()
        : upload(&recorder,
                 FtpTimeouts{5000ms, 10000ms, 5000ms}) {
        fs::create_directory(server.home() / "backups");
        project.SetName("Mail");
        project.SetWorkFolder(dir.file("work"));
        TtsBPDestination& destination = project.Destination();
        destination.SetKind(TtsBPDestination::kKindFtp);
        destination.SetHost(server.host());
        destination.SetUserName(server.options().user);
        destination.SetFtpPassword(server.options().password);
        destination.SetRemoteFolder("backups");
    }
    // A run whose status texts also go to onStatus.
    void backUp(const std::function<void(BackupRun&, const std::string&)>& onStatus = {}) {
        BackupRun run(project,
                      RunEvents{[&](const std::string& text) {
                                    events.statuses.push_back(text);
                                    if (onStatus) onStatus(run, text);
                                },
                                [&](uint8_t percent) { events.progress.push_back(percent); }},
                      &recorder);
        run.setUploader(&upload);
        try {
            run.run();
        } catch (...) {
            uploadingAfter = run.uploading();
            cancelled = run.cancelled();
            throw;
        }
        uploadingAfter = run.uploading();
        cancelled = run.cancelled();
    }
    void TearDown() override { DebugLog::instance().clear(); }

    std::string remoteFile() const { return (server.home() / "backups" / "Mail.tsly_dat").string(); }

    test::PyFtpServer server;
    test::TempDir dir;
    std::vector<std::string> messages;
    struct Recorder : UserMessages {
        std::vector<std::string>& messages;
        explicit Recorder(std::vector<std::string>& m) : messages(m) {}
        void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
            EXPECT_EQ(icon, MessageIcon::Error);
            messages.push_back(caption + ": " + text);
        }
    } recorder{messages};
    TtsFtpUpload upload;
    TtsBackupProject project;
    test::RecordedEvents events;
    bool uploadingAfter = false;
    bool cancelled = false;
};

TEST_F(FtpUploadTest, TheDataFileArrivesWholeAndTheTemporaryFilesGo) {
    backUp();
    ASSERT_TRUE(fs::exists(remoteFile()));
    EXPECT_EQ(test::inflateFile(remoteFile()).size(), 272 + test::projectStreamOf(project).size());
    const std::vector<std::string> tail(events.statuses.end() - 4, events.statuses.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Compress Data ...", "Connect to host", "Prepare transferring",
                                              "Transferring ..."}));
    EXPECT_EQ(events.progress.back(), 100);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(fs::exists(dir.file("work/Temp.data")));
    EXPECT_FALSE(fs::exists(dir.file("work/Temp.data_compressed")));
    EXPECT_FALSE(uploadingAfter);
    EXPECT_TRUE(test::logHas("-Backup Finished-"));
    // It went by way of a temporary name, which is gone.
    EXPECT_TRUE(test::logHas("FTP> RNFR Mail.tsly_dat_tmp"));
    EXPECT_TRUE(test::logHas("FTP> RNTO Mail.tsly_dat"));
    EXPECT_FALSE(fs::exists(server.home() / "backups" / "Mail.tsly_dat_tmp"));
}

TEST_F(FtpUploadTest, ACancelledOrBrokenUploadLeavesThePreviousBackupByteIdentical) {
    const auto previous = test::randomBytes(300000, 3);
    test::writeHostFile(remoteFile(), previous);
    LargeFile large(dir.file("big"), 256 * 1024 * 1024);
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancel" : "server gone mid-transfer");
        messages.clear();
        BackupRun run(project, RunEvents{{}, [&](uint8_t percent) {
                                             if (percent < 5) return;
                                             if (cancel) {
                                                 run.cancel();
                                             } else {
                                                 // the clean-up finds no server either
                                                 project.Destination().SetHost("127.0.0.1:1");
                                                 run.closeUploadConnection();
                                             }
                                         }});
        EXPECT_THROW(upload.Upload(run, project.Destination(), large.path, "Mail.tsly_dat"), TsException);
        EXPECT_EQ(test::readHostFile(remoteFile()), previous);
        EXPECT_EQ(messages.size(), 1u);
        project.Destination().SetHost(server.host());
    }
    // The cancelled run removed its temporary file through a second session.
    EXPECT_TRUE(test::logHas("FTP: removed the unfinished \"Mail.tsly_dat_tmp\""));
}

TEST_F(FtpUploadTest, AWrongPasswordOrAMissingFolderShowsTheMessageThenFailsRemovingTheFiles) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        messages.clear();
        if (attempt == 0) project.Destination().SetFtpPassword("wrong");
        else {
            project.Destination().SetFtpPassword(server.options().password);
            project.Destination().SetRemoteFolder("no-such-folder");
        }
        try {
            backUp();
            FAIL() << "no exception";
        } catch (const TsException& e) {
            EXPECT_EQ(std::string(e.what()).find("wrong"), std::string::npos) << "no password in " << e.what();
        }
        EXPECT_EQ(messages, std::vector<std::string>{"Error: Transferring failed, please check your ftp settings!"});
        EXPECT_FALSE(fs::exists(dir.file("work/Temp.data")));
        EXPECT_FALSE(fs::exists(dir.file("work/Temp.data_compressed")));
        EXPECT_FALSE(fs::exists(remoteFile()));
        EXPECT_FALSE(uploadingAfter);
    }
}

TEST_F(FtpUploadTest, ACancelDuringTheUploadClosesTheConnection) {
    EXPECT_THROW(backUp([](BackupRun& run, const std::string& text) {
                     if (text == "Prepare transferring") run.cancel();
                 }),
                 TsException);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(test::logHas("-Backup Finished-"));
}

// Replies real servers give only in some configurations.
TEST_F(FtpUploadTest, RenameRefusedStoresDirectlyAndAShortFileOnTheServerNeverReplacesTheBackup) {
    const std::string local = dir.file("Temp.data_compressed");
    const auto bytes = test::randomBytes(40000, 5);
    test::writeHostFile(local, bytes);
    for (bool renameRefused : {true, false}) {
        SCOPED_TRACE(renameRefused ? "rename refused" : "short file");
        std::vector<std::vector<uint8_t>> stored;
        test::ScriptedFtpServer scripted([&](test::ScriptedFtpSession& session) {
            auto storeAs = [&](const std::string& name, const std::string& sizeReply) {
                TcpSocket data = session.connectToPort(session.readCommand());
                session.reply("200 PORT ok");
                session.expectCommand("STOR " + name);
                session.reply("150 go");
                stored.push_back(session.receiveAll(data));
                session.reply("226 done");
                session.expectCommand("SIZE " + name);
                session.reply(sizeReply);
            };
            session.logIn();
            session.expectCommand("CWD backups");
            session.reply("250 ok");
            if (renameRefused) {
                storeAs("Mail.tsly_dat_tmp", "213 40000");
                session.expectCommand("RNFR Mail.tsly_dat_tmp");
                session.reply("502 RNFR not implemented");
                storeAs("Mail.tsly_dat", "550 SIZE not allowed");
            } else {
                storeAs("Mail.tsly_dat_tmp", "213 32768");
            }
            session.expectCommand("DELE Mail.tsly_dat_tmp");
            session.reply("250 deleted");
            EXPECT_TRUE(session.waitForClientClose(Milliseconds(10000)));
        });
        project.Destination().SetHost(scripted.host());
        events.statuses.clear();
        messages.clear();
        BackupRun run(project, test::eventsOf(events));
        if (renameRefused) {
            upload.Upload(run, project.Destination(), local, "Mail.tsly_dat");
            EXPECT_EQ(std::count(events.statuses.begin(), events.statuses.end(), kDirectStoreStatus), 1);
            EXPECT_TRUE(messages.empty());
        } else {
            try {
                upload.Upload(run, project.Destination(), local, "Mail.tsly_dat");
                ADD_FAILURE() << "a short file passed";
            } catch (const EFtpError& error) {
                EXPECT_STREQ(error.what(), "The FTP server holds 32768 bytes of \"Mail.tsly_dat_tmp\" after 40000 were sent");
            }
            EXPECT_EQ(messages.size(), 1u);
        }
        scripted.join();
        for (const auto& received : stored) EXPECT_EQ(received, bytes);
        EXPECT_EQ(stored.size(), renameRefused ? 2u : 1u);
        EXPECT_EQ(scripted.scriptError(), "");
    }
}

}  // namespace
}  // namespace ts
