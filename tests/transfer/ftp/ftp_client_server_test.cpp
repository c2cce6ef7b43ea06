// The client against a real FTP server (pyftpdlib) on loopback.
#include "transfer/ftp/ftp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "support/ftp_test_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/ftp_settings_check.h"

namespace ts {
namespace {

using namespace std::chrono_literals;
using test::PyFtpServer;

class FtpClientServerTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(server_.home() / "backups"); }

    std::unique_ptr<FtpClient> makeClient(const PyFtpServer& server, const std::string& password) {
        auto client = std::make_unique<FtpClient>();
        client->setHost(server.host());
        client->setUserName(server.options().user);
        client->setPassword(password);
        client->setTimeouts({5000ms, 10000ms, 5000ms});
        return client;
    }
    std::unique_ptr<FtpClient> makeClient() { return makeClient(server_, server_.options().password); }

    std::string writeLocal(const std::vector<uint8_t>& bytes) {
        std::string path = local_.file("Temp.data_compressed");
        test::writeHostFile(path, bytes);
        return path;
    }
    std::vector<uint8_t> remote(const std::string& path) const { return test::readHostFile((server_.home() / path).string()); }

    PyFtpServer server_;
    test::TempDir local_;
};

TEST_F(FtpClientServerTest, UploadArrivesByteIdenticalWithProgressToTheFullSize) {
    const auto bytes = test::randomBytes(1000000, 11);
    const std::string path = writeLocal(bytes);
    auto client = makeClient();
    int64_t announced = -1, last = -1;
    int works = 0;
    client->OnWorkBegin = [&](FtpClient&, FtpWorkMode, int64_t max) { announced = max; };
    client->OnWork = [&](FtpClient&, FtpWorkMode, int64_t count) {
        EXPECT_GT(count, last);
        last = count;
        ++works;
    };
    client->connect();
    client->changeDirectory("/backups");
    client->store(path, "Weekly.tsly_dat");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Active);
    EXPECT_EQ(remote("backups/Weekly.tsly_dat"), bytes);
    EXPECT_EQ(announced, 1000000);
    EXPECT_EQ(last, 1000000);
    EXPECT_EQ(works, 31);  // 30 full blocks of 32768 bytes and the rest
    // The store left the connection usable: a second one replaces the file, never appends.
    client->OnWork = nullptr;
    const auto shorter = test::randomBytes(1000, 12);
    client->store(writeLocal(shorter), "Weekly.tsly_dat");
    EXPECT_EQ(remote("backups/Weekly.tsly_dat"), shorter);
    // An empty file is a file too.
    client->store(writeLocal({}), "Empty.tsly_dat");
    EXPECT_TRUE(remote("backups/Empty.tsly_dat").empty());
}

TEST_F(FtpClientServerTest, HostNameResolvingToBothFamiliesReachesTheIPv4Server) {
    auto client = makeClient();
    client->setHost("localhost:" + std::to_string(server_.port()));
    client->connect();
    EXPECT_TRUE(client->connected());
}

TEST_F(FtpClientServerTest, WrongPasswordFailsWithTheServersReplyAndNoPassword) {
    auto client = makeClient(server_, "wrong-password-123");
    try {
        client->connect();
        FAIL() << "logged in with a wrong password";
    } catch (const EFtpLoginRefused& error) {
        EXPECT_EQ(error.code(), 530);
        EXPECT_EQ(std::string(error.what()).find("wrong-password-123"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find(": 530 "), std::string::npos) << error.what();
    }
    EXPECT_FALSE(client->connected());
}

TEST_F(FtpClientServerTest, MissingRemoteFolderFailsCwdAndStoresNothing) {
    auto client = makeClient();
    client->connect();
    try {
        client->changeDirectory("/no-such-folder");
        FAIL() << "entered a missing folder";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.code(), 550);
    }
    EXPECT_FALSE(std::filesystem::exists(server_.home() / "no-such-folder"));
}

TEST_F(FtpClientServerTest, RefusedConnectionFailsWithTheSystemsText) {
    FtpClient client;
    {
        // A port on which nothing listens any more.
        sockaddr_in raw{};
        raw.sin_family = AF_INET;
        raw.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        TcpSocket gone = TcpSocket::listen(SocketAddress(reinterpret_cast<sockaddr*>(&raw), sizeof raw));
        client.setHost("127.0.0.1:" + std::to_string(gone.localAddress().port()));
    }
    client.setUserName("tester");
    client.setPassword("x");
    try {
        client.connect();
        FAIL() << "connected to a stopped server";
    } catch (const ESocketError& error) {
        EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(client.connected());
}

TEST(FtpClientRealServer, ServerRefusingActiveModeGetsTheFileInPassiveMode) {
    PyFtpServer server(PyFtpServer::Options{.refuseActive = true});
    test::TempDir local;
    const auto bytes = test::randomBytes(300000, 13);
    test::writeHostFile(local.file("data"), bytes);
    FtpClient client;
    client.setHost(server.host());
    client.setUserName(server.options().user);
    client.setPassword(server.options().password);
    int64_t last = 0;
    client.OnWork = [&](FtpClient&, FtpWorkMode, int64_t count) { last = count; };
    client.connect();
    client.store(local.file("data"), "Passive.tsly_dat");
    EXPECT_EQ(client.lastDataMode(), FtpDataMode::Passive);
    EXPECT_EQ(test::readHostFile((server.home() / "Passive.tsly_dat").string()), bytes);
    EXPECT_EQ(last, 300000);
}

// --- the test of settings

TEST_F(FtpClientServerTest, SettingsCheckTwiceInARowReportsOkBothTimes) {
    FtpClient client;
    for (int round = 0; round < 2; ++round) {
        FtpSettingsCheck check = checkFtpSettings(client, server_.host(), server_.options().user, server_.options().password);
        EXPECT_TRUE(check.ok);
        EXPECT_EQ(check.message, "FTP Test ok!");
        EXPECT_TRUE(check.errorText.empty());
        EXPECT_FALSE(check.error);
        EXPECT_TRUE(client.connected());
    }
}

TEST_F(FtpClientServerTest, SettingsCheckFailureGivesBothMessagesAndNeverThePassword) {
    FtpClient client;
    FtpSettingsCheck check = checkFtpSettings(client, server_.host(), server_.options().user, "Not-The-Password");
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.message,
              "Can not create the connection, please verify your FTP settings and make sure your internet connection is "
              "valid, then try again!");
    EXPECT_NE(check.errorText.find(": 530 "), std::string::npos) << check.errorText;
    EXPECT_TRUE(check.loginRefused);
    EXPECT_EQ(check.errorText.find("Not-The-Password"), std::string::npos);
    ASSERT_TRUE(check.error);
    EXPECT_THROW(std::rethrow_exception(check.error), EFtpReplyError);
    EXPECT_FALSE(client.connected());
    // Settings are taken as they stand: a blank in front of the host is not trimmed away.
    check = checkFtpSettings(client, " " + server_.host(), server_.options().user, server_.options().password);
    EXPECT_FALSE(check.ok);
}

TEST(FtpSettingsCheck, UnansweredConnectEndsWithinTheConnectTimeOut) {
    // A listener whose accept queue is full leaves further connection attempts unanswered.
    sockaddr_in raw{};
    raw.sin_family = AF_INET;
    raw.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    TcpSocket listener = TcpSocket::listen(SocketAddress(reinterpret_cast<sockaddr*>(&raw), sizeof raw));
    ::listen(listener.descriptor(), 0);
    std::vector<TcpSocket> queued;
    try {
        for (int i = 0; i < 8; ++i) queued.push_back(TcpSocket::connect(listener.localAddress(), 200ms));
        GTEST_SKIP() << "this kernel queues beyond the backlog";
    } catch (const ESocketTimeout&) {
    }
    FtpClient client;
    auto start = std::chrono::steady_clock::now();
    FtpSettingsCheck check = checkFtpSettings(client, listener.localAddress().toString(), "user", "password", 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.message, kFtpTestFailedText);
    EXPECT_NE(check.errorText.find("no answer within 300 milliseconds"), std::string::npos) << check.errorText;
}

}  // namespace
}  // namespace ts
