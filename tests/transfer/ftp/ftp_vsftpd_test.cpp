// The client and the upload against a real vsftpd on loopback, in the configurations that made
// active mode, plain text and direct stores fail in the field.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/backup_run.h"
#include "engine/ftp_upload.h"
#include "engine/project.h"
#include "platform/debug_log.h"
#include "support/temp_dir.h"
#include "support/swallowing_relay.h"
#include "support/vsftpd_server.h"
#include "transfer/ftp/ftp_client.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::SwallowingRelay;
using test::Vsftpd;

std::vector<std::string> ftpLogLines() {
    std::vector<std::string> lines;
    for (auto& line : DebugLog::instance().lines())
        if (line.rfind("FTP", 0) == 0) lines.push_back(line);
    // TESSALY_SHOW_FTP_LOG=1 prints what went over the wire, for looking at a fallback.
    if (std::getenv("TESSALY_SHOW_FTP_LOG"))
        for (auto& line : lines) std::cout << "    " << line << "\n";
    return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

class VsftpdTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Vsftpd::available()) GTEST_SKIP() << Vsftpd::kProgram << " is not installed (scripts/setup.sh installs it)";
        DebugLog::instance().clear();
        test::writeHostFile(local_, bytes_);
    }
    void TearDown() override {
        if (HasFailure()) ftpLogLines();
        DebugLog::instance().clear();
    }

    std::unique_ptr<FtpClient> clientFor(const std::string& host, FtpTimeouts timeouts = {5000ms, 10000ms, 5000ms}) {
        auto client = std::make_unique<FtpClient>();
        client->setHost(host);
        client->setUserName(Vsftpd::kUser);
        client->setPassword(Vsftpd::kPassword);
        client->setTimeouts(timeouts);
        return client;
    }
    std::vector<uint8_t> remote(const Vsftpd& server, const std::string& name) const {
        return test::readHostFile((server.folder() / name).string());
    }

    test::TempDir dir_;
    std::string local_ = dir_.file("Temp.data_compressed");
    std::vector<uint8_t> bytes_ = test::randomBytes(3 * 1024 * 1024 + 17, 21);
};

TEST_F(VsftpdTest, ActiveUploadArrivesByteIdenticalAndSizeRenameAndDeleteWork) {
    Vsftpd server;
    auto client = clientFor(server.host());
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    client->store(local_, "Mail.tsly_dat_tmp");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Active);
    EXPECT_EQ(client->remoteSize("Mail.tsly_dat_tmp"), static_cast<int64_t>(bytes_.size()));
    test::writeHostFile((server.folder() / "Mail.tsly_dat").string(), std::string("old backup"));
    client->rename("Mail.tsly_dat_tmp", "Mail.tsly_dat");
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), bytes_);
    EXPECT_FALSE(fs::exists(server.folder() / "Mail.tsly_dat_tmp"));
    client->remove("Mail.tsly_dat");
    EXPECT_FALSE(fs::exists(server.folder() / "Mail.tsly_dat"));
}

TEST_F(VsftpdTest, IPv6HasActiveModeThroughEprt) {
    const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_loopback;
    const bool haveIPv6 = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
    if (probe >= 0) ::close(probe);
    if (!haveIPv6) GTEST_SKIP() << "no IPv6 loopback here";
    Vsftpd server({.ipv6 = true});
    auto client = clientFor(server.host());
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    client->store(local_, "Mail.tsly_dat");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Active);
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), bytes_);
    EXPECT_TRUE(contains(ftpLogLines(), "FTP> EPRT |2|::1|"));
}

TEST_F(VsftpdTest, RefusedPortFallsBackToPassiveMode) {
    Vsftpd server({.portEnabled = false});
    auto client = clientFor(server.host());
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    client->store(local_, "Mail.tsly_dat");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), bytes_);
    const auto lines = ftpLogLines();
    EXPECT_TRUE(contains(lines, "FTP: the server refused active mode (550 Permission denied.); switching to passive mode"));
    EXPECT_TRUE(contains(lines, "FTP> EPSV"));
}

TEST_F(VsftpdTest, ConnectBackThatIsRejectedFallsBackToPassiveModeAtOnce) {
    Vsftpd server;
    SwallowingRelay relay(server.port(), true);
    auto client = clientFor(relay.host());
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    const auto start = std::chrono::steady_clock::now();
    client->store(local_, "Mail.tsly_dat");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), bytes_);
    EXPECT_TRUE(contains(ftpLogLines(), "FTP: the server could not open the data connection (425 Failed to establish "
                                        "connection.); switching to passive mode"));
}

// The abandoned session, still connecting, holds the first name until its own 60-second limit;
// the passive try under a name of its own need not wait for it.
TEST_F(VsftpdTest, ConnectBackThatIsDroppedFallsBackToPassiveModeUnderAFreshName) {
    Vsftpd server;
    SwallowingRelay relay(server.port());
    if (!relay.swallows()) GTEST_SKIP() << "this kernel queues connections beyond the backlog";
    auto client = clientFor(relay.host(), {5000ms, 10000ms, 1000ms, 1000ms});
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client->store(local_, "Mail.tsly_dat_tmp", "Mail.tsly_dat_tmp2"), "Mail.tsly_dat_tmp2");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
    EXPECT_EQ(remote(server, "Mail.tsly_dat_tmp2"), bytes_);
    const auto lines = ftpLogLines();
    EXPECT_TRUE(contains(lines, "no data connection from the server within 1 second of STOR"));
    EXPECT_TRUE(contains(lines, "FTP> ABOR"));
    EXPECT_TRUE(contains(lines, "FTP> EPSV"));
}

TEST_F(VsftpdTest, TlsServerIsTrustedOnlyByItsPinnedFingerprintAndRefusesPlainText) {
    Vsftpd server({.tls = true});
    const std::string secureHost = "ftpes://" + server.host();
    auto client = clientFor(secureHost);
    try {
        client->connect();
        FAIL() << "a self-signed certificate was trusted without a pin";
    } catch (const EFtpUntrustedCertificate& error) {
        EXPECT_EQ(error.fingerprint(), server.fingerprint());
        EXPECT_NE(std::string(error.what()).find("self-signed certificate"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(client->connected());
    // Someone else's certificate pinned is no better than none, and the message says it changed.
    const std::string otherPin = normalizeFingerprint(std::string(64, 'a')).value();
    client->setTrustedFingerprint(otherPin);
    try {
        client->connect();
        FAIL() << "a certificate other than the pinned one was trusted";
    } catch (const EFtpCertificateChanged& error) {
        EXPECT_EQ(error.pinned(), otherPin);
        EXPECT_EQ(std::string(error.what()),
                  "The FTP server's certificate differs from the one pinned for it: its SHA-256 fingerprint is " +
                      server.fingerprint() + ", the pinned one " + otherPin +
                      ". This may be an attack on the connection, or the server's certificate was renewed");
    }

    // Pinned, in the form without colons: both data modes run over TLS.
    std::string bare = server.fingerprint();
    std::erase(bare, ':');
    client->setTrustedFingerprint(bare);
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    client->store(local_, "Mail.tsly_dat");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Active);
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), bytes_);

    // A bare host gets the server's refusal in one line that names the cure.
    auto plain = clientFor(server.host());
    try {
        plain->connect();
        FAIL() << "logged in without TLS";
    } catch (const EFtpTlsRequired& error) {
        EXPECT_EQ(std::string(error.what()), "The FTP server accepts only encrypted sessions; set the host to " +
                                                 secureHost + " to use TLS (530 Anonymous sessions must use encryption.)");
    }
}

// Under TLS 1.3 the server's session tickets sit unread on the data connection: the upload
// must still end cleanly, all of it on the server.
TEST_F(VsftpdTest, TlsOneThreeUploadFallsBackToPassiveModeWithTheSessionReused) {
    Vsftpd server({.portEnabled = false, .tls = true});
    auto client = clientFor("ftpes://" + server.host());
    client->setTrustedFingerprint(server.fingerprint());
    client->connect();
    client->changeDirectory(Vsftpd::kFolder);
    client->store(local_, "Mail.tsly_dat");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), bytes_);
    EXPECT_TRUE(contains(ftpLogLines(), "FTP: TLSv1.3 session established"));
}

TEST_F(VsftpdTest, CancelledUploadLeavesThePreviousBackupByteIdentical) {
    Vsftpd server;
    const auto previous = test::randomBytes(500000, 4);
    test::writeHostFile((server.folder() / "Mail.tsly_dat").string(), previous);
    const std::string large = dir_.file("large");
    test::writeHostFile(large, std::string());
    fs::resize_file(large, 512u * 1024 * 1024);

    TtsBackupProject project;
    project.SetName("Mail");
    TtsBPDestination& destination = project.Destination();
    destination.SetKind(TtsBPDestination::kKindFtp);
    destination.SetHost(server.host());
    destination.SetUserName(Vsftpd::kUser);
    destination.SetFtpPassword(Vsftpd::kPassword);
    destination.SetRemoteFolder(Vsftpd::kFolder);
    BackupRun run(project, RunEvents{{}, [&](uint8_t percent) {
                                         if (percent >= 5 && !run.cancelled()) run.cancel();
                                     }});
    FtpUpload upload(nullptr, FtpTimeouts{5000ms, 10000ms, 5000ms});
    EXPECT_THROW(upload.Upload(run, project.Destination(), large, "Mail.tsly_dat"), TsException);
    EXPECT_EQ(remote(server, "Mail.tsly_dat"), previous);
    EXPECT_FALSE(fs::exists(server.folder() / "Mail.tsly_dat_tmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(server.folder()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace ts
