// The records the address book, favorites and mail data items keep in the project stream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/project.h"
#include "items/kinds/address_book.h"
#include "items/kinds/favorites.h"
#include "items/kinds/oe_data.h"
#include "platform/exception.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

constexpr size_t kHead = 257;

std::vector<uint8_t> recordOf(TtsBPSourceItem& item) {
    MemoryStream stream;
    int32_t written = item.WriteToStream(stream);
    EXPECT_EQ(written, stream.size());
    return stream.bytes();
}

std::string fieldText(const std::vector<uint8_t>& bytes, size_t at) {
    return std::string(reinterpret_cast<const char*>(&bytes[at]));
}

int64_t valueAt(const std::vector<uint8_t>& bytes, size_t at) {
    int64_t value;
    std::memcpy(&value, &bytes[at], sizeof value);
    return value;
}

class ItemRecordTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }

    TtsBackupProject project;  // no profile: records need none
    TtsBPAddressBook& addressBook = static_cast<TtsBPAddressBook&>(*project.Source().ItemList().Items(0));
    TtsBPFavorites& favorites = static_cast<TtsBPFavorites&>(*project.Source().ItemList().Items(1));
};

TEST_F(ItemRecordTest, TheAddressBookRecordIsTheHeadAnEmptyTextFieldAndZero) {
    auto bytes = recordOf(addressBook);
    ASSERT_EQ(bytes.size(), kHead + 264);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + kHead, bytes.end()), std::vector<uint8_t>(264, 0));
    EXPECT_EQ(DebugLog::instance().lines().back(), "TtsBPAddressBook.WriteToStream, Result=521");
}

TEST_F(ItemRecordTest, ExtraFieldsReadFromARecordAreCarriedAndWrittenBackUnchanged) {
    addressBook.SetExtraText("Carnet d'adresses \xC3\xA9t\xC3\xA9");  // "été" in UTF-8
    addressBook.SetExtraValue(-2);
    addressBook.SetSelected(true);
    auto bytes = recordOf(addressBook);
    EXPECT_EQ(fieldText(bytes, kHead), "Carnet d'adresses \xE9t\xE9");  // Windows-1252 in the file
    EXPECT_EQ(valueAt(bytes, kHead + 256), -2);

    TtsBackupProject other;
    auto& copy = static_cast<TtsBPAddressBook&>(*other.Source().ItemList().Items(0));
    MemoryStream in(bytes);
    DebugLog::instance().clear();
    EXPECT_EQ(copy.ReadFromStream(in), 521);
    EXPECT_EQ(copy.ExtraText(), addressBook.ExtraText());
    EXPECT_EQ(copy.ExtraValue(), -2);
    EXPECT_TRUE(copy.Selected());
    EXPECT_EQ(DebugLog::instance().lines(),
              (std::vector<std::string>{"TtsBPSourceItem.ReadFromStream(Windows Address Book), Result=257",
                                        "TtsBPAddressBook.ReadFromStream, Result=521"}));
    EXPECT_EQ(recordOf(copy), bytes);
}

TEST_F(ItemRecordTest, AnExtraTextFillingItsWholeFieldIsReadAndWrittenBackWithoutANul) {
    auto bytes = recordOf(addressBook);
    std::memset(&bytes[kHead], 'x', 256);
    MemoryStream in(bytes);
    addressBook.ReadFromStream(in);
    EXPECT_EQ(addressBook.ExtraText(), std::string(256, 'x'));
    EXPECT_EQ(recordOf(addressBook), bytes);
}

TEST_F(ItemRecordTest, AnExtraTextTooLongForItsFieldIsRefusedAndTheOldTextKept) {
    addressBook.SetExtraText(std::string(255, 'a'));
    EXPECT_THROW(addressBook.SetExtraText(std::string(256, 'b')), TsException);
    // "é" is one byte in the file, so 255 of them fit although the host text has 510 bytes.
    std::string accents;
    for (int i = 0; i < 255; ++i) accents += "\xC3\xA9";
    addressBook.SetExtraText(accents);
    EXPECT_EQ(addressBook.ExtraText(), accents);
    EXPECT_THROW(addressBook.SetExtraText(accents + "\xC3\xA9"), TsException);
    EXPECT_EQ(addressBook.ExtraText(), accents);
}

TEST_F(ItemRecordTest, ARecordCutShortRaisesAReadError) {
    auto bytes = recordOf(addressBook);
    bytes.resize(bytes.size() - 1);
    MemoryStream in(bytes);
    EXPECT_THROW(addressBook.ReadFromStream(in), EReadError);
}

TEST_F(ItemRecordTest, TheMailDataRecordIsTheHeadPlus264BytesBetweenItsTwoLogLines) {
    auto& oe = static_cast<TtsBPOEData&>(*project.Source().ItemList().Items(3));
    oe.SetExtraText("x");
    oe.SetExtraValue(0x0102030405060708);
    MemoryStream stream;
    stream.write("abc", 3);
    EXPECT_EQ(oe.WriteToStream(stream), 521);
    ASSERT_EQ(stream.size(), 3 + 521);
    EXPECT_EQ(fieldText(stream.bytes(), 3 + kHead), "x");
    EXPECT_EQ(valueAt(stream.bytes(), 3 + kHead + 256), 0x0102030405060708);
    EXPECT_EQ(DebugLog::instance().lines(),
              (std::vector<std::string>{"TtsBPOEData.WriteToStream, Current stream position is: 3, Size is: 3",
                                        "TtsBPSourceItem.WriteToStream(Outlook Express Data), Result=257",
                                        "TtsBPOEData.WriteToStream, Result=521"}));

    TtsBackupProject other;
    auto& copy = static_cast<TtsBPOEData&>(*other.Source().ItemList().Items(3));
    stream.seek(3);
    DebugLog::instance().clear();
    EXPECT_EQ(copy.ReadFromStream(stream), 521);
    EXPECT_EQ(copy.ExtraText(), "x");
    EXPECT_EQ(copy.ExtraValue(), 0x0102030405060708);
    EXPECT_EQ(DebugLog::instance().lines(),
              (std::vector<std::string>{"TtsBPOEData.ReadFromStream, Current stream position is: 3, Size is: 524",
                                        "TtsBPSourceItem.ReadFromStream(Outlook Express Data), Result=257",
                                        "TtsBPOEData.ReadFromStream, Result=521"}));
}

TEST_F(ItemRecordTest, FavoritesWithoutFilesWriteTheHeadTheEndFieldAndEightBytes) {
    ASSERT_TRUE(favorites.Files().empty());
    auto bytes = recordOf(favorites);
    ASSERT_EQ(bytes.size(), kHead + 256 + 8);
    EXPECT_EQ(fieldText(bytes, kHead), "(end)");
    EXPECT_EQ(valueAt(bytes, kHead + 256), 0);
    // Only the head logs.
    EXPECT_EQ(DebugLog::instance().lines(),
              std::vector<std::string>{"TtsBPSourceItem.WriteToStream(Favorites), Result=257"});
}

TEST_F(ItemRecordTest, FavoritesNamesAreWrittenOneFieldEachBeforeTheEndField) {
    favorites.Files() = {"C:\\users\\alice\\Favorites\\a.url", "C:\\users\\alice\\Favorites\\Caf\xC3\xA9\\b.url"};
    favorites.SetExtraValue(7);
    auto bytes = recordOf(favorites);
    ASSERT_EQ(bytes.size(), kHead + 3 * 256 + 8);
    EXPECT_EQ(fieldText(bytes, kHead), "C:\\users\\alice\\Favorites\\a.url");
    EXPECT_EQ(fieldText(bytes, kHead + 256), "C:\\users\\alice\\Favorites\\Caf\xE9\\b.url");
    EXPECT_EQ(fieldText(bytes, kHead + 512), "(end)");
    EXPECT_EQ(valueAt(bytes, kHead + 768), 7);
}

// Reading a record adds only the names not held yet, compared as Windows compares file
// names; a record that lists a name many times (older versions piled them up) loads clean.
TEST_F(ItemRecordTest, ReadingStoredNamesAddsEachNameOnce) {
    struct Case {
        std::vector<std::string> held, stored, expected;
    } cases[] = {
        {{"A"}, {"A", "B"}, {"A", "B"}},
        {{}, {"A", "B", "A", "B", "A"}, {"A", "B"}},
        {{"C:\\Fav\\x.url"}, {"c:\\FAV\\X.URL", "C:\\Fav\\y.url"}, {"C:\\Fav\\x.url", "C:\\Fav\\y.url"}},
        {{}, {"C:\\Caf\xC3\xA9.url", "C:\\CAF\xC3\x89.url"}, {"C:\\Caf\xC3\xA9.url"}},
        {{"kept"}, {}, {"kept"}},
    };
    for (const Case& c : cases) {
        favorites.Files() = c.stored;
        favorites.SetExtraValue(5);
        auto bytes = recordOf(favorites);
        TtsBackupProject other;
        auto& target = static_cast<TtsBPFavorites&>(*other.Source().ItemList().Items(1));
        target.Files() = c.held;
        MemoryStream in(bytes);
        EXPECT_EQ(target.ReadFromStream(in), static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(target.Files(), c.expected);
        EXPECT_EQ(target.ExtraValue(), 5);
        EXPECT_EQ(in.position(), in.size());
        // Written again, the record lists each name once.
        EXPECT_EQ(recordOf(target).size(), kHead + (c.expected.size() + 1) * 256 + 8);
    }
}

TEST_F(ItemRecordTest, FavoritesReadingStopsWhenTheStreamEndsBeforeTheEndField) {
    favorites.Files() = {"A", "B"};
    auto bytes = recordOf(favorites);
    TtsBackupProject other;
    auto& target = static_cast<TtsBPFavorites&>(*other.Source().ItemList().Items(1));
    target.Files() = {"kept"};

    for (size_t cut : {kHead + 256, kHead + 512, kHead + 600, kHead + 768 + 4}) {
        MemoryStream in(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
        EXPECT_THROW(target.ReadFromStream(in), EReadError) << cut;
        EXPECT_EQ(target.Files(), std::vector<std::string>{"kept"}) << cut;
    }
}

// The writer lists no more than the reader accepts; one name more, crafted, is refused
// before it is held, leaving Files as it was. Repeats of one name do not count against it.
TEST_F(ItemRecordTest, AFavoritesRecordListsAtMostItsBoundAndOneListingMoreIsRefused) {
    for (size_t i = 0; i <= TtsBPFavorites::kMaxFiles; ++i) favorites.Files().push_back("C:\\" + std::to_string(i));
    auto bytes = recordOf(favorites);
    ASSERT_EQ(bytes.size(), kHead + (TtsBPFavorites::kMaxFiles + 1) * 256 + 8);
    TtsBackupProject other;
    auto& target = static_cast<TtsBPFavorites&>(*other.Source().ItemList().Items(1));
    MemoryStream whole(bytes);
    target.ReadFromStream(whole);
    EXPECT_EQ(target.Files().size(), TtsBPFavorites::kMaxFiles);

    std::vector<uint8_t> crafted(bytes.begin(), bytes.end() - 256 - 8);
    std::vector<uint8_t> extra(256, 0);
    std::memcpy(extra.data(), "C:\\one more", 11);
    crafted.insert(crafted.end(), extra.begin(), extra.end());
    crafted.insert(crafted.end(), bytes.end() - 256 - 8, bytes.end());
    target.Files() = {"kept"};
    MemoryStream in(crafted);
    EXPECT_THROW(target.ReadFromStream(in), EDataDamaged);
    EXPECT_EQ(target.Files(), std::vector<std::string>{"kept"});

    favorites.Files().assign(TtsBPFavorites::kMaxFiles + 10, "C:\\f.url");
    MemoryStream repeats(recordOf(favorites));
    target.Files().clear();
    target.ReadFromStream(repeats);
    EXPECT_EQ(target.Files(), std::vector<std::string>{"C:\\f.url"});
}

TEST_F(ItemRecordTest, AFavoritePathTooLongForItsFieldIsLeftOutOfTheRecordButKept) {
    std::string longPath = "C:\\users\\alice\\Favorites\\" + std::string(240, 'n') + ".url";
    std::string exact = "C:\\" + std::string(252, 'e');  // 255 characters: fits with its NUL
    favorites.Files() = {"first", longPath, exact};
    auto bytes = recordOf(favorites);
    ASSERT_EQ(bytes.size(), kHead + 3 * 256 + 8);
    EXPECT_EQ(fieldText(bytes, kHead), "first");
    EXPECT_EQ(fieldText(bytes, kHead + 256), exact);
    EXPECT_EQ(fieldText(bytes, kHead + 512), "(end)");
    EXPECT_EQ(favorites.Files().size(), 3u);
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "TtsBPSourceItem.WriteToStream(Favorites), Result=257");
    EXPECT_NE(lines[1].find(longPath), std::string::npos);
}

TEST_F(ItemRecordTest, TheProjectStreamCarriesTheItemRecordsThroughAProjectFile) {
    addressBook.SetExtraValue(42);
    favorites.Files() = {"C:\\users\\alice\\Favorites\\x.url"};
    MemoryStream stream;
    project.SaveToStream(stream);
    stream.rewind();

    TtsBackupProject loaded;
    EXPECT_EQ(loaded.LoadFromStream(stream), stream.size());
    auto& book = static_cast<TtsBPAddressBook&>(*loaded.Source().ItemList().Items(0));
    auto& favs = static_cast<TtsBPFavorites&>(*loaded.Source().ItemList().Items(1));
    EXPECT_EQ(book.ExtraValue(), 42);
    EXPECT_EQ(favs.Files(), favorites.Files());
}

}  // namespace
}  // namespace ts
