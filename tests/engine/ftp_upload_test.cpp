// A backup to an FTP destination, against a real FTP server on loopback.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/backup_run.h"
#include "engine/ftp_upload.h"
#include "run_test_support.h"
#include "support/ftp_test_server.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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
}

TEST_F(FtpUploadTest, AWrongPasswordOrAMissingFolderShowsTheMessageThenFailsKeepingTheFiles) {
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
        EXPECT_TRUE(fs::exists(dir.file("work/Temp.data")));
        EXPECT_TRUE(fs::exists(dir.file("work/Temp.data_compressed")));
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

}  // namespace
}  // namespace ts
