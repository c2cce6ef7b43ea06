#include <gtest/gtest.h>

#include "platform/ansi_text.h"

namespace ts {
namespace {

TEST(AnsiText, TextWindows1252CanHoldBecomesWindows1252) {
    EXPECT_EQ(toAnsi("abc"), "abc");
    EXPECT_EQ(toAnsi("caf\xC3\xA9"), "caf\xE9");          // é
    EXPECT_EQ(toAnsi("\xE2\x82\xAC" "5"), "\x80" "5");     // € lives at 0x80
    EXPECT_EQ(toAnsi("\xC5\x93"), "\x9C");                 // œ
}

TEST(AnsiText, TextOutsideWindows1252StaysUtf8SoNothingIsLost) {
    std::string mixed = "caf\xC3\xA9 \xE6\x97\xA5";  // é and a CJK character
    EXPECT_EQ(toAnsi(mixed), mixed);
    EXPECT_EQ(fromAnsi(toAnsi(mixed)), mixed);
}

TEST(AnsiText, ReadingTakesValidUtf8AsUtf8AndAnythingElseAsWindows1252) {
    EXPECT_EQ(fromAnsi("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(fromAnsi("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(fromAnsi("\x80"), "\xE2\x82\xAC");
}

TEST(AnsiText, EveryByteRoundTripsIncludingTheUndefinedOnes) {
    for (int b = 1; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(toAnsi(fromAnsi(one)), one) << "byte " << b;
    }
}

TEST(AnsiText, MalformedHostTextPassesThroughUntouched) {
    std::string broken = "a\xC3(b";  // truncated sequence
    EXPECT_FALSE(isValidUtf8(broken));
    EXPECT_EQ(toAnsi(broken), broken);
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // a surrogate
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));      // an overlong slash
}

}  // namespace
}  // namespace ts
