#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "transfer/ftp/ftp_data_address.h"
#include "transfer/ftp/ftp_endpoint.h"
#include "transfer/ftp/ftp_reply.h"
#include "transfer/ftp/ftp_tls.h"
#include "transfer/ftp/ftp_trust_store.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

TEST(FtpHostSetting, PortIsOptionalAndDefaultsTo21AndOnlyFtpesAsksForTls) {
    struct Case {
        const char* setting;
        const char* host;
        uint16_t port;
        bool tls;
        const char* hostAndPort;  // what pinned certificates are kept under
    };
    for (const Case& c : {Case{"ftp.example.org", "ftp.example.org", 21, false, "ftp.example.org:21"},
                          Case{"ftp.example.org:2121", "ftp.example.org", 2121, false, "ftp.example.org:2121"},
                          Case{"192.0.2.7:65535", "192.0.2.7", 65535, false, "192.0.2.7:65535"},
                          Case{"[2001:db8::1]:990", "2001:db8::1", 990, false, "[2001:db8::1]:990"},
                          Case{"[::1]", "::1", 21, false, "[::1]:21"}, Case{"2001:db8::1", "2001:db8::1", 21, false, "[2001:db8::1]:21"},
                          Case{"ftp://ftp.example.org/", "ftp.example.org", 21, false, "ftp.example.org:21"},
                          Case{"FTPES://ftp.example.org:2121", "ftp.example.org", 2121, true, "ftp.example.org:2121"},
                          Case{"ftpes://[::1]:2121/", "::1", 2121, true, "[::1]:2121"}}) {
        FtpEndpoint endpoint = parseFtpHost(c.setting);
        EXPECT_EQ(endpoint.host, c.host) << c.setting;
        EXPECT_EQ(endpoint.port, c.port) << c.setting;
        EXPECT_EQ(endpoint.tls, c.tls) << c.setting;
        EXPECT_EQ(endpoint.hostAndPort(), c.hostAndPort) << c.setting;
    }
}

TEST(FtpHostSetting, InvalidSettingsAreRefusedWithTheSettingNamed) {
    for (const char* bad : {"", "host:", "host:0", "host:65536", "host:21x", "host:-1", ":21", "[::1", "[::1]x", "[]:21",
                            "host:99999999999999999999", "ftps://host", "sftp://host", "ftpes://", "ftp://host/backups"}) {
        try {
            parseFtpHost(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const EFtpError& error) {
            EXPECT_NE(std::string(error.what()).find(std::string("\"") + bad + "\""), std::string::npos) << error.what();
        }
    }
}

TEST(FtpDataAddress, PortArgumentNamesAddressAndPortHighByteFirst) {
    sockaddr_in raw{};
    raw.sin_family = AF_INET;
    raw.sin_port = htons(5001);
    inet_pton(AF_INET, "192.168.1.5", &raw.sin_addr);
    EXPECT_EQ(portCommandArgument(SocketAddress(reinterpret_cast<sockaddr*>(&raw), sizeof raw)), "192,168,1,5,19,137");
}

TEST(FtpDataAddress, EprtArgumentNamesFamilyAddressAndPort) {
    sockaddr_in6 raw{};
    raw.sin6_family = AF_INET6;
    raw.sin6_port = htons(5282);
    inet_pton(AF_INET6, "2001:db8::1", &raw.sin6_addr);
    EXPECT_EQ(eprtCommandArgument(SocketAddress(reinterpret_cast<sockaddr*>(&raw), sizeof raw)), "|2|2001:db8::1|5282|");
}

TEST(FtpFingerprint, TakesWhatOpensslPrintsWithOrWithoutColonsInEitherCase) {
    const std::string canonical =
        "22:2E:0C:13:B2:4E:0E:D2:9C:82:7C:5A:AD:CA:0A:BB:16:09:A0:C5:EC:EB:2C:42:89:06:52:96:80:87:23:77";
    EXPECT_EQ(normalizeFingerprint("222e0c13b24e0ed29c827c5aadca0abb1609a0c5eceb2c428906529680872377"), canonical);
    EXPECT_EQ(normalizeFingerprint(canonical), canonical);
    for (const char* bad : {"", "12:34", "222e0c13b24e0ed29c827c5aadca0abb1609a0c5eceb2c4289065296808723 77", "zz2e0c13b24e0ed29c827c5aadca0abb1609a0c5eceb2c428906529680872377",
                            "222e0c13b24e0ed29c827c5aadca0abb1609a0c5eceb2c42890652968087237700"})
        EXPECT_EQ(normalizeFingerprint(bad), std::nullopt) << bad;
}

TEST(FtpTrustStore, PinsAreKeptPerHostAndPortInTheSettingsHive) {
    test::TempDir dir;
    const std::string path = dir.file("config/tessaly/settings.reg");
    FtpTrustStore store(path);
    EXPECT_EQ(store.fingerprintFor("ftp.example.org:21"), "");
    store.trust("ftp.example.org:21", std::string(64, 'a'));
    store.trust("[::1]:2121", std::string(64, 'B'));
    FtpTrustStore again(path);
    EXPECT_EQ(again.fingerprintFor("ftp.example.org:21"), *normalizeFingerprint(std::string(64, 'A')));
    EXPECT_EQ(again.fingerprintFor("[::1]:2121"), *normalizeFingerprint(std::string(64, 'b')));
    EXPECT_EQ(again.fingerprintFor("ftp.example.org:2121"), "");
    EXPECT_THROW(again.trust("x:21", "not hex"), TsException);
    const auto text = test::readHostFile(path);
    EXPECT_NE(std::string(text.begin(), text.end()).find("[Software\\\\Tessaly\\\\Trusted FTP Servers]"), std::string::npos);
}

TEST(FtpDataAddress, PassiveRepliesGiveTheirPort) {
    EXPECT_EQ(parseEpsvReplyPort("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(parseEpsvReplyPort("229 ok (!!!65535!)"), 65535);
    EXPECT_EQ(parsePasvReplyPort("227 Entering Passive Mode (192,168,1,5,19,137)."), 5001);
    EXPECT_EQ(parsePasvReplyPort("227 Entering Passive Mode 10,0,0,1,4,1"), 1025);
    for (const char* bad : {"229 no port", "229 (|||0|)", "229 (|||70000|)", "229 (|||12)", "229 (||12|)", "229 (|||1234567|)"})
        EXPECT_THROW(parseEpsvReplyPort(bad), EFtpProtocolError) << bad;
    for (const char* bad : {"227 nothing", "227 (1,2,3,4,5)", "227 (1,2,3,4,256,1)", "227 (1,2,3,4,0,0)", "227 (1,2,3,4,5,1000)"})
        EXPECT_THROW(parsePasvReplyPort(bad), EFtpProtocolError) << bad;
}

}  // namespace
}  // namespace ts
