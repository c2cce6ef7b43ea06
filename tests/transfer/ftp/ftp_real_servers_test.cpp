// The upload against a real proftpd (Debian's, unpacked into the build folder) configured to
// refuse overwrites, to hide unfinished stores or to speak one TLS version only, and against
// vsftpd, proftpd and pure-ftpd whose disk fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "engine/backup_run.h"
#include "engine/ftp_upload.h"
#include "engine/project.h"
#include "platform/debug_log.h"
#include "support/proftpd_server.h"
#include "support/pureftpd_server.h"
#include "transfer/ftp/ftp_client.h"
#include "support/swallowing_relay.h"
#include "support/temp_dir.h"
#include "support/vsftpd_server.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Proftpd;

struct Account {
    std::string host;
    std::string user;
    std::string password;
    std::string folder;
};

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class RealServerUpload : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure())
            for (const auto& line : DebugLog::instance().lines()) std::cout << "    " << line << "\n";
        DebugLog::instance().clear();
    }
    // "" when the upload went through, else its error's text.
    std::string upload(const Account& account, const std::vector<uint8_t>& bytes, FtpTimeouts timeouts = {5000ms, 10000ms, 5000ms}) {
        test::writeHostFile(local, bytes);
        return uploadLocal(account, timeouts);
    }
    std::string uploadLocal(const Account& account, FtpTimeouts timeouts = {5000ms, 10000ms, 5000ms}) {
        TtsBackupProject project;
        project.SetName("Mail");
        TtsBPDestination& destination = project.Destination();
        destination.SetKind(TtsBPDestination::kKindFtp);
        destination.SetHost(account.host);
        destination.SetUserName(account.user);
        destination.SetFtpPassword(account.password);
        destination.SetRemoteFolder(account.folder);
        BackupRun run(project, RunEvents{});
        FtpUpload uploader(nullptr, timeouts);
        try {
            uploader.Upload(run, project.Destination(), local, "Mail.tsly_dat");
            return "";
        } catch (const std::exception& error) {
            return error.what();
        }
    }
    static Account accountOf(const Proftpd& server, const std::string& host = "") {
        return {host.empty() ? server.host() : host, Proftpd::kUser, Proftpd::kPassword, Proftpd::kFolder};
    }

    test::TempDir dir;
    std::string local = dir.file("Temp.data_compressed");
};

class ProftpdUpload : public RealServerUpload {
protected:
    void SetUp() override {
        std::string why;
        if (Proftpd::program(why).empty()) GTEST_SKIP() << why;
    }
};

// With AllowOverwrite off a rename onto the old backup and a store onto a file left by an
// earlier run are refused: each backup still replaces the one before.
TEST_F(ProftpdUpload, WithoutOverwritesEachBackupReplacesTheOneBefore) {
    Proftpd server({.allowOverwrite = false});
    test::writeHostFile((server.folder() / "Mail.tsly_dat_tmp").string(), std::string("left by an earlier run"));
    for (uint32_t backup = 0; backup < 3; ++backup) {
        SCOPED_TRACE(backup);
        const auto bytes = test::randomBytes(300000 + backup, backup);
        EXPECT_EQ(upload(accountOf(server), bytes), "");
        EXPECT_EQ(test::readHostFile((server.folder() / "Mail.tsly_dat").string()), bytes);
        EXPECT_EQ(filesIn(server.folder()), std::vector<std::string>{"Mail.tsly_dat"});
    }
}

// HiddenStores: the abandoned active session keeps ".in.NAME." open while it still tries to
// connect, and refuses a second store of NAME until then.
TEST_F(ProftpdUpload, HiddenStoresTakeThePassiveRetryUnderAFreshName) {
    Proftpd server({.hiddenStores = true});
    test::SwallowingRelay relay(server.port());
    if (!relay.swallows()) GTEST_SKIP() << "this kernel queues connections beyond the backlog";
    const auto bytes = test::randomBytes(400000, 9);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(upload(accountOf(server, relay.host()), bytes, {5000ms, 10000ms, 1000ms, 1000ms}), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(test::readHostFile((server.folder() / "Mail.tsly_dat").string()), bytes);
}

// Servers that speak only TLS 1.3, or only 1.2: uploads in both data modes, the data
// connections resuming the control connection's session as proftpd requires.
TEST_F(ProftpdUpload, TlsOnlyServersOfEitherVersionTakeUploadsInBothDataModes) {
    for (const std::string version : {"TLSv1.3", "TLSv1.2"}) {
        for (bool passive : {false, true}) {
            SCOPED_TRACE(version + (passive ? " passive" : " active"));
            DebugLog::instance().clear();
            Proftpd server({.portEnabled = !passive, .tls = version});
            auto client = std::make_unique<FtpClient>();
            client->setHost("ftpes://" + server.host());
            client->setUserName(Proftpd::kUser);
            client->setPassword(Proftpd::kPassword);
            client->setTrustedFingerprint(server.fingerprint());
            client->setTimeouts({5000ms, 10000ms, 5000ms});
            const auto bytes = test::randomBytes(3 << 20, passive ? 1 : 2);
            test::writeHostFile(local, bytes);
            client->connect();
            client->changeDirectory(Proftpd::kFolder);
            client->store(local, "Mail.tsly_dat");
            EXPECT_EQ(client->lastDataMode(), passive ? FtpDataMode::Passive : FtpDataMode::Active);
            EXPECT_EQ(test::readHostFile((server.folder() / "Mail.tsly_dat").string()), bytes);
            bool negotiated = false;
            for (const auto& line : DebugLog::instance().lines())
                negotiated |= line.rfind("FTP: " + version + " session established", 0) == 0;
            EXPECT_TRUE(negotiated);
        }
    }
}

// A full remote disk or a quota: each server says so on the control connection as it breaks off
// the data connection, and that is the message.
TEST_F(RealServerUpload, AFullRemoteDiskOrAQuotaIsReportedWithTheServersReply) {
    using Start = std::function<std::shared_ptr<void>(Account&)>;  // null: not available here
    auto pureFtpd = [](test::PureFtpd::Options options) -> Start {
        return [options](Account& account) -> std::shared_ptr<void> {
            std::string why;
            if (test::PureFtpd::program(why).empty()) return nullptr;
            auto server = std::make_shared<test::PureFtpd>(options);
            account = {server->host(), test::PureFtpd::kUser, test::PureFtpd::kPassword, test::PureFtpd::kFolder};
            return server;
        };
    };
    struct Case {
        std::string name;
        Start start;
        std::string reply;
    };
    const Case cases[] = {
        {"vsftpd",
         [](Account& account) -> std::shared_ptr<void> {
             if (!test::Vsftpd::available()) return nullptr;
             auto server = std::make_shared<test::Vsftpd>(test::Vsftpd::Options{.diskBytes = 1 << 20});
             account = {server->host(), test::Vsftpd::kUser, test::Vsftpd::kPassword, test::Vsftpd::kFolder};
             return server;
         },
         "451 Failure writing to local file."},
        {"proftpd",
         [](Account& account) -> std::shared_ptr<void> {
             std::string why;
             if (Proftpd::program(why).empty()) return nullptr;
             auto server = std::make_shared<Proftpd>(Proftpd::Options{.diskBytes = 1 << 20});
             account = accountOf(*server);
             return server;
         },
         "451 Transfer aborted. Input/output error"},
        {"pure-ftpd", pureFtpd({.diskBytes = 1 << 20}), "451 Error during write to file"},
        {"pure-ftpd quota", pureFtpd({.quotaMegabytes = 1}), "552 Transfer aborted (quota)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account;
        const auto server = c.start(account);
        if (!server) {
            std::cout << "    " << c.name << " is not available here\n";
            continue;
        }
        // Far more than the disk and the connection's buffers take: the server breaks off the
        // data connection while the client still sends.
        test::writeHostFile(local, std::string());
        fs::resize_file(local, 64u << 20);
        const std::string failure = uploadLocal(account);
        // pure-ftpd's replies go on with the transfer's time and speed, or the quota's use.
        EXPECT_EQ(failure.rfind("The FTP server ended the transfer: " + c.reply, 0), 0u) << failure;
        bool broken = false;
        for (const auto& line : DebugLog::instance().lines()) broken |= line.find("FTP: sending failed") == 0;
        EXPECT_TRUE(broken) << "the data connection was not broken off";
        DebugLog::instance().clear();
    }
}

}  // namespace
}  // namespace ts
