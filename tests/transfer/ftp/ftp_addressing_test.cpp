#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "transfer/ftp/ftp_data_address.h"
#include "transfer/ftp/ftp_endpoint.h"
#include "transfer/ftp/ftp_reply.h"

namespace ts {
namespace {

TEST(FtpHostSetting, PortIsOptionalAndDefaultsTo21) {
    struct Case {
        const char* setting;
        const char* host;
        uint16_t port;
    };
    for (const Case& c : {Case{"ftp.example.org", "ftp.example.org", 21}, Case{"ftp.example.org:2121", "ftp.example.org", 2121},
                          Case{"192.0.2.7:65535", "192.0.2.7", 65535}, Case{"[2001:db8::1]:990", "2001:db8::1", 990},
                          Case{"[::1]", "::1", 21}, Case{"2001:db8::1", "2001:db8::1", 21}}) {
        FtpEndpoint endpoint = parseFtpHost(c.setting);
        EXPECT_EQ(endpoint.host, c.host) << c.setting;
        EXPECT_EQ(endpoint.port, c.port) << c.setting;
    }
}

TEST(FtpHostSetting, InvalidSettingsAreRefusedWithTheSettingNamed) {
    for (const char* bad : {"", "host:", "host:0", "host:65536", "host:21x", "host:-1", ":21", "[::1", "[::1]x", "[]:21",
                            "host:99999999999999999999"}) {
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
