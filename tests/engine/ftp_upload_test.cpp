// A backup to an FTP destination, against a real FTP server on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

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

// An upload's link of its own: at 5 % its stop closes the connection and the server goes.
class BrokenAtFivePercent : public UploadRunLink {
public:
    explicit BrokenAtFivePercent(TtsBPDestination& destination) : destination_(destination) {}
    void uploadStatus(const std::string&) override {}
    void uploadWorkBegin(int64_t total) override { total_ = total; }
    void uploadWork(int64_t sent) override {
        if (total_ <= 0 || sent * 20 < total_) return;
        destination_.SetHost("127.0.0.1:1");
        stop_.request_stop();
    }
    std::stop_token uploadStopToken() const override { return stop_.get_token(); }
    bool uploadFinalStep() override { return !stop_.stop_requested(); }

private:
    TtsBPDestination& destination_;
    std::stop_source stop_;
    int64_t total_ = 0;
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
            cancelled = run.cancelled();
            throw;
        }
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
    FtpUpload upload;
    TtsBackupProject project;
    test::RecordedEvents events;
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
                                             if (percent >= 5) run.cancel();
                                         }});
        // The connection closed under the upload as a server gone away closes it, with no run
        // to cancel; the clean-up then finds no server either.
        BrokenAtFivePercent broken(project.Destination());
        UploadRunLink& link = cancel ? static_cast<UploadRunLink&>(run) : broken;
        EXPECT_THROW(upload.Upload(link, project.Destination(), large.path, "Mail.tsly_dat"), TsException);
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

// Replies real servers give only in some configurations, from a server of the test's own.
class ScriptedUploadTest : public FtpUploadTest {
protected:
    ScriptedUploadTest() {
        test::writeHostFile(local, bytes);
        upload = FtpUpload(&recorder, timeouts);
    }
    // Log-in, folder, the two stale temporary names deleted (one was there), the store to
    // Mail.tsly_dat_tmp and its size.
    void serveStore(test::ScriptedFtpSession& session) {
        session.logIn();
        session.expectCommand("CWD backups");
        session.reply("250 ok");
        session.expectCommand("DELE Mail.tsly_dat_tmp");
        session.reply("250 DELE command successful");
        session.expectCommand("DELE Mail.tsly_dat_tmp2");
        session.reply("550 Mail.tsly_dat_tmp2: No such file or directory");
        TcpSocket data = session.connectToPort(session.readCommand());
        session.reply("200 PORT ok");
        session.expectCommand("STOR Mail.tsly_dat_tmp");
        session.reply("150 go");
        stored = session.receiveAll(data);
        session.reply("226 done");
        session.expectCommand("SIZE Mail.tsly_dat_tmp");
        session.reply("213 40000");
    }
    // What a run's upload to the scripted server ended with: "" or the error's text.
    std::string uploadTo(test::ScriptedFtpServer& scripted, BackupRun& run) {
        project.Destination().SetHost(scripted.host());
        std::string failure;
        try {
            upload.Upload(run, project.Destination(), local, "Mail.tsly_dat");
        } catch (const std::exception& error) {
            failure = error.what();
        }
        scripted.join();
        EXPECT_EQ(scripted.scriptError(), "");
        EXPECT_EQ(stored, bytes);
        for (const auto& command : scripted.commands()) EXPECT_NE(command, "STOR Mail.tsly_dat");
        return failure;
    }

    FtpTimeouts timeouts{5000ms, 10000ms, 5000ms, 5000ms, kFtpThroughputWindow, kFtpMinimumBytes, 400ms};
    const std::string local = dir.file("Temp.data_compressed");
    const std::vector<uint8_t> bytes = test::randomBytes(40000, 5);
    std::vector<uint8_t> stored;
};

// Nothing is ever stored under the final name: a server that will not rename over the old
// backup has it deleted once the new one is complete; one that will not rename at all keeps
// both, and the message names them.
TEST_F(ScriptedUploadTest, ARefusedRenameNeverStoresOverThePreviousBackup) {
    struct Case {
        std::string name;
        std::string rnfrReply;
        std::string rntoReply;     // "" when RNFR was refused
        std::string deleReply;     // of the previous backup; "" when not asked
        std::string secondRename;  // RNTO's answer after the delete; "" when not asked
        std::string failure;       // "" for success
    };
    const std::string refusal = "The FTP server refused to rename \"Mail.tsly_dat_tmp\" to \"Mail.tsly_dat\" (";
    const Case cases[] = {
        {"no overwrite", "350 ok", "550 Mail.tsly_dat: Rename permission denied", "250 deleted", "250 renamed", ""},
        {"no rename at all", "502 RNFR not implemented", "", "", "",
         refusal + "502 RNFR not implemented); the new backup is complete on the server as \"Mail.tsly_dat_tmp\", the "
                   "previous backup is unchanged"},
        {"no delete either", "350 ok", "550 Rename denied", "550 Delete denied", "",
         refusal + "550 Rename denied) and to delete the previous backup; the new backup is complete on the server as "
                   "\"Mail.tsly_dat_tmp\", the previous backup is unchanged"},
        {"refused after the delete", "350 ok", "550 Rename denied", "250 deleted", "553 Not allowed",
         refusal.substr(0, refusal.size() - 2) + " after the previous backup was deleted (553 Not allowed); the new "
                                                 "backup is complete on the server as \"Mail.tsly_dat_tmp\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        test::ScriptedFtpServer scripted([&](test::ScriptedFtpSession& session) {
            serveStore(session);
            session.expectCommand("RNFR Mail.tsly_dat_tmp");
            session.reply(c.rnfrReply);
            if (!c.rntoReply.empty()) {
                session.expectCommand("RNTO Mail.tsly_dat");
                session.reply(c.rntoReply);
            }
            if (!c.deleReply.empty()) {
                session.expectCommand("DELE Mail.tsly_dat");
                session.reply(c.deleReply);
            }
            if (!c.secondRename.empty()) {
                session.expectCommand("RNFR Mail.tsly_dat_tmp");
                session.reply("350 ok");
                session.expectCommand("RNTO Mail.tsly_dat");
                session.reply(c.secondRename);
            }
            // No clean-up: the temporary file is a complete backup now.
            EXPECT_TRUE(session.waitForClientClose(Milliseconds(10000)));
        });
        BackupRun run(project, test::eventsOf(events));
        EXPECT_EQ(uploadTo(scripted, run), c.failure);
        EXPECT_EQ(messages.size(), c.failure.empty() ? 0u : 1u);
    }
}

// Once RNTO is out the run waits for its answer: a cancel changes nothing, and an answer that
// never comes leaves the state unknown, which the message says, naming both files.
TEST_F(ScriptedUploadTest, OnceRntoIsSentACancelIsIgnoredAndNoAnswerIsReportedAsUnknown) {
    for (bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "answered late" : "never answered");
        std::atomic<bool> rntoSent{false};
        test::ScriptedFtpServer scripted([&](test::ScriptedFtpSession& session) {
            serveStore(session);
            session.expectCommand("RNFR Mail.tsly_dat_tmp");
            session.reply("350 ok");
            session.expectCommand("RNTO Mail.tsly_dat");
            rntoSent = true;
            if (answered) {
                std::this_thread::sleep_for(200ms);
                session.reply("250 renamed");
            }
            // Nothing is deleted afterwards, whatever happened.
            EXPECT_TRUE(session.waitForClientClose(Milliseconds(10000)));
        });
        BackupRun run(project, test::eventsOf(events));
        std::thread canceller([&] {
            while (!rntoSent) std::this_thread::sleep_for(5ms);
            run.cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        const std::string failure = uploadTo(scripted, run);
        canceller.join();
        EXPECT_FALSE(run.cancelled());
        if (answered) {
            EXPECT_EQ(failure, "");
        } else {
            EXPECT_EQ(failure,
                      "No answer came to the rename of \"Mail.tsly_dat_tmp\" to \"Mail.tsly_dat\" (The FTP server did "
                      "not answer within 400 milliseconds), so whether it was done is unknown: the new backup is "
                      "complete on the server as \"Mail.tsly_dat\" or, if the rename was not done, as "
                      "\"Mail.tsly_dat_tmp\", and the previous backup is still \"Mail.tsly_dat\"");
            EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        }
    }
}

}  // namespace
}  // namespace ts
