// The mboxrd writer and what it reads from a message's headers.
#include "formats/mbox_writer.h"

#include <gtest/gtest.h>

#include "formats/bookmarks_file.h"

namespace ts {
namespace {

TEST(MboxWriterTest, MessageDatesAreReadAsRfc5322ReadsThem) {
    struct Case {
        const char* text;
        std::optional<std::time_t> expected;
    };
    const Case cases[] = {
        {"Mon, 1 Jan 2007 10:00:00 +0000", 1167645600},
        {"Mon, 1 Jan 2007 10:00:00 +0130", 1167645600 - 5400},
        {"1 Jan 2007 10:00 -0500", 1167645600 + 5 * 3600},
        {"Mon, 01 Jan 07 10:00:00 GMT", 1167645600},
        {"Mon, 1 Jan 2007 10:00:00 EST", 1167645600 + 5 * 3600},
        {"Mon (a comment), 1 Jan 2007 10:00:00 +0000 (UTC)", 1167645600},
        {"29 Feb 2000 23:59:59 +0000", 951868799},
        {"Thu, 1 Jan 1970 00:00:00 +0000", 0},
        {"1 January 2007 10:00:00 +0000", 1167645600},
        {"Mon, 1 Jan 2007", std::nullopt},
        {"yesterday", std::nullopt},
        {"32 Jan 2007 10:00:00 +0000", std::nullopt},
        {"1 Foo 2007 10:00:00 +0000", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseMessageDate(c.text), c.expected) << c.text;
}

TEST(MboxWriterTest, SeparatorLineNamesTheSenderAddressAndTheUtcDate) {
    struct Case {
        const char* headers;
        const char* line;
    };
    const Case cases[] = {
        {"From: Ann Example <ann@example.org>\r\nDate: Mon, 1 Jan 2007 11:00:00 +0100\r\n\r\n",
         "From ann@example.org Mon Jan  1 10:00:00 2007"},
        {"from: bob@example.net (Bob)\nDATE: 2 Feb 2008 23:59 -0500\n\n", "From bob@example.net Sun Feb  3 04:59:00 2008"},
        {"Subject: x\r\nFrom: \"Last, First\"\r\n <first@example.org>\r\n\r\n", "From first@example.org Thu Jan  1 00:00:00 1970"},
        {"Subject: no sender\r\n\r\nFrom: body@example.org\r\n", "From MAILER-DAEMON Thu Jan  1 00:00:00 1970"},
    };
    for (const Case& c : cases) EXPECT_EQ(mboxFromLine(c.headers), c.line) << c.headers;
}

std::string mboxOf(const std::vector<std::string>& messages, size_t pieceSize) {
    MemoryStream out;
    MboxWriter writer(out);
    for (const std::string& text : messages) {
        writer.beginMessage();
        for (size_t at = 0; at < text.size(); at += pieceSize)
            writer.write(reinterpret_cast<const uint8_t*>(text.data()) + at, std::min(pieceSize, text.size() - at));
        writer.endMessage();
    }
    return std::string(out.bytes().begin(), out.bytes().end());
}

TEST(MboxWriterTest, LinesThatCouldBeSeparatorsGetOneMoreQuoteWhereverThePiecesBreak) {
    const std::string head = "From: a@example.org\r\nDate: Mon, 1 Jan 2007 10:00:00 +0000\r\n\r\n";
    const std::string separator = "From a@example.org Mon Jan  1 10:00:00 2007\n";
    struct Case {
        std::string body;
        std::string written;
    };
    const Case cases[] = {
        {"From here\r\n", ">From here\r\n\n"},
        {">From here\r\n>>From there\r\n", ">>From here\r\n>>>From there\r\n\n"},
        {"From\r\nFromage\r\n From \r\nX From \r\n", "From\r\nFromage\r\n From \r\nX From \r\n\n"},
        {">>>\r\n>Fro\r\n", ">>>\r\n>Fro\r\n\n"},
        {"no line end", "no line end\n\n"},
        {"ends in a quote\n>", "ends in a quote\n>\n\n"},
        {"ends in half a separator\nFrom", "ends in half a separator\nFrom\n\n"},
        {"", "\n"},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{1}, size_t{3}, size_t{4096}}) {
            EXPECT_EQ(mboxOf({head + c.body}, piece), separator + head + c.written) << c.body << " in pieces of " << piece;
        }
    }
    // A header part that never ends is written as it is after the bound.
    const std::string endless = "X-Long: " + std::string(MboxWriter::kMaxHeaderPart + 10, 'x');
    EXPECT_EQ(mboxOf({endless}, 65536), "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n" + endless + "\n\n");
}

TEST(BookmarksFileTest, ShortcutUrlsAndBookmarkTextAreReadAndEscaped) {
    EXPECT_EQ(shortcutUrl("[InternetShortcut]\r\nURL=http://a.example/?x=1&y=2\r\n"), "http://a.example/?x=1&y=2");
    EXPECT_EQ(shortcutUrl("[DEFAULT]\r\nBASEURL=http://b.example/\r\n[InternetShortcut]\r\nIconIndex=0\r\nurl = http://c.example/ \r\n"),
              "http://c.example/");
    EXPECT_EQ(shortcutUrl("[Other]\r\nURL=http://d.example/\r\n"), std::nullopt);
    EXPECT_EQ(shortcutUrl(""), std::nullopt);

    MemoryStream out;
    writeBookmarksFile(out, {{{"A & B"}, "<Title> \"1\"", "http://e.example/?a=1&b=\"2\"", 1234},
                             {{}, "Top", "http://f.example/", std::nullopt}});
    const std::string html(out.bytes().begin(), out.bytes().end());
    EXPECT_NE(html.find("<DT><H3>A &amp; B</H3>"), std::string::npos) << html;
    EXPECT_NE(html.find("HREF=\"http://e.example/?a=1&amp;b=&quot;2&quot;\" ADD_DATE=\"1234\">&lt;Title&gt; &quot;1&quot;</A>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<A HREF=\"http://f.example/\">Top</A>"), std::string::npos) << html;
    // Top-level links come before the folders, and every list that opens closes.
    EXPECT_LT(html.find("Top"), html.find("A &amp; B"));
    size_t opened = 0, closed = 0;
    for (size_t at = html.find("<DL>"); at != std::string::npos; at = html.find("<DL>", at + 1)) ++opened;
    for (size_t at = html.find("</DL>"); at != std::string::npos; at = html.find("</DL>", at + 1)) ++closed;
    EXPECT_EQ(opened, closed);
}

}  // namespace
}  // namespace ts
