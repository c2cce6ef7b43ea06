#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/project.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

class SourceSetTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }

    // The record one item writes, on its own.
    static std::vector<uint8_t> recordOf(TtsBPSourceItem& item) {
        MemoryStream stream;
        item.WriteToStream(stream);
        return stream.bytes();
    }

    TtsBackupProject project;
    TtsBPSource& source = project.Source();
};

TEST_F(SourceSetTest, AFreshSetHoldsTheFourItemsInFixedOrderNoneSelected) {
    const auto& list = source.ItemList();
    ASSERT_EQ(list.Count(), 4);
    const char* captions[] = {"Windows Address Book", "Favorites", "IE Settings",
                              "Outlook Express Data"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.Items(i)->Caption(), captions[i]);
        EXPECT_FALSE(list.Items(i)->Selected());
        EXPECT_EQ(list.Items(i)->Project(), &project);
    }
    EXPECT_THROW(list.Items(4), TsException);
    EXPECT_THROW(list.Items(-1), TsException);
}

TEST_F(SourceSetTest, FindItemIsExactAndCaseSensitive) {
    EXPECT_EQ(source.FindItem("Favorites"), source.ItemList().Items(1));
    EXPECT_EQ(source.FindItem("favorites"), nullptr);
    EXPECT_EQ(source.FindItem("Favorites "), nullptr);
    EXPECT_EQ(source.FindItem(""), nullptr);
}

TEST_F(SourceSetTest, TheHeadOfASelectedItemIsItsCaptionFieldThenTheSelectedByte) {
    TtsBPSourceItem& favorites = *source.FindItem("Favorites");
    favorites.SetSelected(true);
    MemoryStream stream;
    EXPECT_EQ(favorites.TtsBPSourceItem::WriteToStream(stream), 257);
    const auto& bytes = stream.bytes();
    ASSERT_EQ(bytes.size(), 257u);
    EXPECT_EQ(std::memcmp(bytes.data(), "Favorites", 9), 0);
    for (size_t i = 9; i < 256; ++i) ASSERT_EQ(bytes[i], 0) << "at " << i;
    EXPECT_EQ(bytes[256], 1);

    TtsBackupProject other;
    TtsBPSourceItem& target = *other.Source().ItemList().Items(1);
    DebugLog::instance().clear();
    stream.rewind();
    EXPECT_EQ(target.TtsBPSourceItem::ReadFromStream(stream), 257);
    EXPECT_EQ(target.Caption(), "Favorites");
    EXPECT_TRUE(target.Selected());
    EXPECT_EQ(DebugLog::instance().lines(),
              std::vector<std::string>{"TtsBPSourceItem.ReadFromStream(Favorites), Result=257"});
}

TEST_F(SourceSetTest, AnyNonZeroSelectedByteMeansSelected) {
    TtsBPSourceItem& item = *source.ItemList().Items(0);
    std::vector<uint8_t> head(257, 0);
    std::memcpy(head.data(), "X", 1);
    head[256] = 0x7F;
    MemoryStream stream(head);
    item.TtsBPSourceItem::ReadFromStream(stream);
    EXPECT_TRUE(item.Selected());
    EXPECT_EQ(item.Caption(), "X");
}

TEST_F(SourceSetTest, AStreamEndingEarlyKeepsWhatItDidNotReachAndReportsTheShortfall) {
    TtsBPSourceItem& item = *source.ItemList().Items(2);
    item.SetSelected(true);

    std::vector<uint8_t> partCaption(100, 'A');
    MemoryStream cut(partCaption);
    EXPECT_EQ(item.TtsBPSourceItem::ReadFromStream(cut), 100);
    EXPECT_EQ(item.Caption(), "IE Settings");
    EXPECT_TRUE(item.Selected());

    std::vector<uint8_t> captionOnly(256, 0);
    std::memcpy(captionOnly.data(), "Other", 5);
    MemoryStream noFlag(captionOnly);
    EXPECT_EQ(item.TtsBPSourceItem::ReadFromStream(noFlag), 256);
    EXPECT_EQ(item.Caption(), "Other");
    EXPECT_TRUE(item.Selected());
}

TEST_F(SourceSetTest, ACaptionFieldWithoutANulGivesAll256BytesAndIsWrittenBackUnchanged) {
    std::vector<uint8_t> head(257, 'c');
    head[256] = 0;
    MemoryStream in(head);
    TtsBPSourceItem& item = *source.ItemList().Items(0);
    item.TtsBPSourceItem::ReadFromStream(in);
    EXPECT_EQ(item.Caption(), std::string(256, 'c'));
    MemoryStream out;
    item.TtsBPSourceItem::WriteToStream(out);
    EXPECT_EQ(out.bytes(), head);
}

TEST_F(SourceSetTest, RecordsGoToItemsByPositionNotByCaption) {
    source.ItemList().Items(1)->SetSelected(true);
    source.ItemList().Items(3)->SetSelected(true);
    size_t secondRecordAt = recordOf(*source.ItemList().Items(0)).size();
    MemoryStream stream;
    int32_t written = source.WriteToStream(stream);
    EXPECT_EQ(written, stream.size());

    std::vector<uint8_t> bytes = stream.takeBytes();
    std::memset(&bytes[secondRecordAt], 0, 256);
    std::memcpy(&bytes[secondRecordAt], "Renamed", 7);

    TtsBackupProject other;
    MemoryStream in(bytes);
    EXPECT_EQ(other.Source().ReadFromStream(in), written);
    const auto& list = other.Source().ItemList();
    EXPECT_EQ(list.Items(1)->Caption(), "Renamed");
    EXPECT_TRUE(list.Items(1)->Selected());
    EXPECT_EQ(other.Source().FindItem("Favorites"), nullptr);
    EXPECT_FALSE(list.Items(0)->Selected());
    EXPECT_FALSE(list.Items(2)->Selected());
    EXPECT_TRUE(list.Items(3)->Selected());
}

// Each kind's lines around the head line, in the order the source set writes them.
TEST_F(SourceSetTest, WritingTheSetLogsEachHeadBetweenItsKindsOwnLines) {
    MemoryStream stream;
    source.WriteToStream(stream);
    auto lines = DebugLog::instance().lines();
    std::vector<std::string> prefixes = {
        "TtsBPSourceItem.WriteToStream(Windows Address Book), Result=257",
        "TtsBPAddressBook.WriteToStream, Result=",
        "TtsBPSourceItem.WriteToStream(Favorites), Result=257",
        "TtsBPSourceItem.WriteToStream(IE Settings), Result=257",
        "TtsBPIESettings.WriteToStream, Result=",
        "TtsBPOEData.WriteToStream, Current stream position is: ",
        "TtsBPSourceItem.WriteToStream(Outlook Express Data), Result=257",
        "TtsBPOEData.WriteToStream, Result=",
    };
    ASSERT_EQ(lines.size(), prefixes.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(prefixes[i], 0), 0u) << lines[i];
}

TEST_F(SourceSetTest, ReadingTheSetLogsTheSameStructure) {
    MemoryStream stream;
    source.WriteToStream(stream);
    int64_t oeRecordAt = stream.size() - static_cast<int64_t>(recordOf(*source.ItemList().Items(3)).size());
    stream.rewind();
    DebugLog::instance().clear();
    source.ReadFromStream(stream);
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "TtsBPSourceItem.ReadFromStream(Windows Address Book), Result=257");
    EXPECT_EQ(lines[1].rfind("TtsBPAddressBook.ReadFromStream, Result=", 0), 0u);
    EXPECT_EQ(lines[2], "TtsBPSourceItem.ReadFromStream(Favorites), Result=257");
    EXPECT_EQ(lines[3], "TtsBPSourceItem.ReadFromStream(IE Settings), Result=257");
    EXPECT_EQ(lines[4].rfind("TtsBPIESettings.ReadFromStream, Result=", 0), 0u);
    EXPECT_EQ(lines[5], "TtsBPOEData.ReadFromStream, Current stream position is: " +
                            std::to_string(oeRecordAt) + ", Size is: " + std::to_string(stream.size()));
    EXPECT_EQ(lines[6], "TtsBPSourceItem.ReadFromStream(Outlook Express Data), Result=257");
    EXPECT_EQ(lines[7].rfind("TtsBPOEData.ReadFromStream, Result=", 0), 0u);
}

}  // namespace
}  // namespace ts
