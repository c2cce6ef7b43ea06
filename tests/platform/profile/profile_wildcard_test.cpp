#include "platform/profile/profile_wildcard.h"

#include <gtest/gtest.h>

#include "platform/profile/profile_name_case.h"

namespace ts {
namespace {

struct Case {
    const char* mask;
    const char* name;
    bool matches;
};

TEST(WildcardMask, FollowsTheWindowsRules) {
    const Case cases[] = {
        // "*.*" is every name, dotted or not; "*" likewise.
        {"*.*", "readme", true}, {"*.*", "a.b.c", true}, {"*.*", ".hidden", true}, {"*", "x.y", true},
        // An extension mask matches the last extension only, whole, any case.
        {"*.url", "Site.url", true}, {"*.url", "a.b.URL", true}, {"*.url", "a.urlx", false},
        {"*.url", "url", false}, {"*.url", ".url", true},
        // "*." is exactly the names without a dot.
        {"*.", "readme", true}, {"*.", "a.txt", false},
        // "." before "*" or the end also matches the end of the name.
        {"a.*", "a", true}, {"a.*", "a.b", true}, {"a.*", "ab", false},
        // "?" is one character, or none at the end or before a dot.
        {"a?c", "abc", true}, {"a?c", "ac", false}, {"a?c", "a.c", false}, {"abc?", "abc", true},
        {"a?.txt", "a.txt", true}, {"a?.txt", "ab.txt", true}, {"a?.txt", "abc.txt", false},
        {"??", "x", true}, {"??", "xyz", false},
        // Literal text, case, and non-ASCII letters.
        {"Inbox.dbx", "INBOX.DBX", true}, {"Inbox.dbx", "Inbox.dbx2", false}, {"ÉTÉ*", "été.txt", true},
        {"*b*b*", "abxb", true}, {"*b*b*", "ab", false},
        // An empty mask lists nothing.
        {"", "a", false}, {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMask(c.mask).matches(c.name), c.matches) << "mask \"" << c.mask << "\" name \"" << c.name << "\"";
}

TEST(WildcardMask, ManyStarsStayFast) {
    // A backtracking matcher takes exponential time here.
    const std::string name(200, 'a');
    EXPECT_FALSE(WildcardMask("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b").matches(name));
}

TEST(NameCase, ComparesAndReplacesWithoutRegardToCase) {
    EXPECT_TRUE(equalsIgnoringCase("AppData", "APPDATA"));
    EXPECT_TRUE(equalsIgnoringCase("Été", "éTÉ"));
    EXPECT_FALSE(equalsIgnoringCase("AppData", "AppDat"));
    // Bytes that are not UTF-8 equal only themselves.
    EXPECT_TRUE(equalsIgnoringCase("a\xE9", "A\xE9"));
    EXPECT_FALSE(equalsIgnoringCase("\xC9", "\xE9"));

    EXPECT_EQ(replaceAllIgnoringCase("C:\\Users\\X\\a C:\\USERS\\x\\b", "c:\\users\\x", "[P]"), "[P]\\a [P]\\b");
    // Replaced text is not searched again.
    EXPECT_EQ(replaceAllIgnoringCase("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replaceAllIgnoringCase("abc", "", "x"), "abc");
    // A match whose encoding is longer than the pattern's (Kelvin sign vs "k").
    EXPECT_EQ(replaceAllIgnoringCase("\u212A1 k2", "k", "K"), "K1 K2");
    EXPECT_EQ(findIgnoringCase("xAbAB", "ab", 2)->position, 3u);
}

// The key must split names exactly where the comparison does, or a cached folder would
// find a name the folder does not hold, or miss one it does.
TEST(NameCase, FoldedKeyAgreesWithTheComparison) {
    const char* names[] = {"AppData", "APPDATA", "appdatA", "AppDat", "\u00C9t\u00E9", "\u00E9T\u00C9", "\u212A", "k",
                           "K", "a\xE9", "A\xE9", "\xC9", "\xE9", "\xFF\xE9", "\xFF", "\xC3\xA9", "", "a.b", "A.B"};
    for (const char* a : names)
        for (const char* b : names)
            EXPECT_EQ(caseFoldedKey(a) == caseFoldedKey(b), equalsIgnoringCase(a, b)) << a << " / " << b;
}

}  // namespace
}  // namespace ts
