#include "transfer/ftp/ftp_reply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace ts {
namespace {

// A reader over fixed bytes, handing them out at most `chunk` at a time.
FtpReplyReader readerOf(std::string bytes, size_t chunk = 4096) {
    auto position = std::make_shared<size_t>(0);
    return FtpReplyReader([bytes = std::move(bytes), position, chunk](char* buffer, size_t size) {
        size_t count = std::min({size, chunk, bytes.size() - *position});
        std::memcpy(buffer, bytes.data() + *position, count);
        *position += count;
        return count;
    });
}

TEST(FtpReplyReader, ReadsSingleLineRepliesInOrder) {
    auto reader = readerOf("220 Ready\r\n331 Password required\r\n200\r\n");
    FtpReply first = reader.read();
    EXPECT_EQ(first.code, 220);
    EXPECT_EQ(first.text(), "220 Ready");
    EXPECT_EQ(reader.read().code, 331);
    FtpReply bare = reader.read();
    EXPECT_EQ(bare.code, 200);
    EXPECT_EQ(bare.text(), "200");
}

TEST(FtpReplyReader, MultiLineReplyRunsToTheLineWithSameCodeAndBlank) {
    // Inner lines may start with digits, even another code or the same code with a hyphen.
    const std::string reply =
        "220-Welcome\r\n"
        "230 is not the end\r\n"
        "220-nor is this\r\n"
        " 220 nor this\r\n"
        "220 Ready\r\n"
        "331 next\r\n";
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
        auto reader = readerOf(reply, chunk);
        FtpReply first = reader.read();
        EXPECT_EQ(first.code, 220);
        ASSERT_EQ(first.lines.size(), 5u) << "chunk " << chunk;
        // One line for messages: the code once, the inner openings that repeat it dropped.
        EXPECT_EQ(first.text(), "220 Welcome 230 is not the end nor is this 220 nor this Ready");
        EXPECT_EQ(reader.read().code, 331);
    }
}

TEST(FtpReplyReader, AcceptsBareLineFeeds) {
    auto reader = readerOf("220-a\n220 b\n");
    EXPECT_EQ(reader.read().text(), "220 a b");
}

TEST(FtpReply, TellsTheRepliesOfServersThatWantTls) {
    struct Case {
        std::string wire;
        bool wantsTls;
    };
    const Case cases[] = {
        {"530 Non-anonymous sessions must use encryption.\r\n", true},
        {"550 SSL/TLS required on the control channel\r\n", true},
        {"421-Sorry, cleartext sessions are not accepted on this server.\r\n421 Please reconnect using TLS.\r\n", true},
        {"530 Login incorrect.\r\n", false},
        {"250 TLS is a fine thing\r\n", false},  // only refusals count
    };
    for (const auto& c : cases) {
        FtpReply reply = readerOf(c.wire).read();
        EXPECT_EQ(reply.asksForEncryption(), c.wantsTls) << c.wire;
        EXPECT_EQ(reply.text().find('\n'), std::string::npos);
    }
    EXPECT_EQ(readerOf("421-Sorry, cleartext sessions are not accepted.\r\n421 Please reconnect using TLS.\r\n").read().text(),
              "421 Sorry, cleartext sessions are not accepted. Please reconnect using TLS.");
}

TEST(FtpReplyReader, LineOfExactlyTheLimitIsAcceptedOneMoreIsNot) {
    const std::string longest = "500 " + std::string(FtpReplyReader::kMaxLineLength - 4, 'x');
    for (size_t chunk : {size_t{1000}, size_t{4096}}) {
        auto reader = readerOf(longest + "\r\n220 ok\r\n", chunk);
        EXPECT_EQ(reader.read().lines.front().size(), FtpReplyReader::kMaxLineLength);
        EXPECT_EQ(reader.read().code, 220);
    }
    auto tooLong = readerOf(longest + "y\r\n");
    try {
        tooLong.read();
        FAIL() << "an over-long line was accepted";
    } catch (const EFtpProtocolError& error) {
        EXPECT_STREQ(error.what(), "The FTP server sent a reply line longer than 16384 characters");
    }
    // A line that never ends must not be buffered without bound either.
    auto endless = readerOf(std::string(100000, 'x'));
    EXPECT_THROW(endless.read(), EFtpProtocolError);
}

TEST(FtpReplyReader, RejectsLinesThatOpenNoReply) {
    for (const char* bad : {"hello\r\n", "22 short\r\n", "2200 four digits\r\n", "600 bad class\r\n",
                            "099 bad class\r\n", "22x x\r\n", "\r\n"}) {
        auto reader = readerOf(bad);
        EXPECT_THROW(reader.read(), EFtpProtocolError) << bad;
    }
}

TEST(FtpReplyReader, EndOfStreamBeforeTheReplyEndsIsAConnectionError) {
    for (const char* cut : {"", "220 Rea", "220-first\r\n220-second\r\n"}) {
        auto reader = readerOf(cut);
        try {
            reader.read();
            FAIL() << "no error for " << cut;
        } catch (const EFtpProtocolError&) {
            FAIL() << "a cut connection is not a protocol error";
        } catch (const EFtpError& error) {
            EXPECT_STREQ(error.what(), "The FTP server closed the connection");
        }
    }
}

TEST(FtpReplyReader, EndlessMultiLineReplyIsRefused) {
    std::string reply = "220-start\r\n";
    while (reply.size() <= FtpReplyReader::kMaxReplyLength) reply += "220-more of the same\r\n";
    auto reader = readerOf(reply + "220 end\r\n");
    EXPECT_THROW(reader.read(), EFtpProtocolError);
}

}  // namespace
}  // namespace ts
