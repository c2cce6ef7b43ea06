#include "items/capture/extract_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/exception.h"
#include "platform/stream/bounded_stream.h"
#include "support/strict_reg_reader.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

TEST(ExtractSink, EachPlaceholderHasAFolderOfItsOwn) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"[CSIDL_APPDATA]\\Microsoft\\Address Book\\x.wab", "AppData/Microsoft/Address Book/x.wab"},
        {"[CSIDL_LOCAL_APPDATA]\\Identities\\a.dbx", "Local AppData/Identities/a.dbx"},
        {"[CSIDL_DESKTOP]\\a.lnk", "Desktop/a.lnk"},
        {"[CSIDL_DESKTOPDIRECTORY]\\a.lnk", "Desktop Folder/a.lnk"},
        {"[CSIDL_PROGRAMS]\\a.lnk", "Start Menu Programs/a.lnk"},
        {"[CSIDL_STARTMENU]\\a.lnk", "Start Menu/a.lnk"},
        {"[CSIDL_FAVORITES]\\Links/News.url", "Favorites/Links/News.url"},
        {"[CSIDL_PERSONAL]\\a.doc", "Documents/a.doc"},
        {"C:\\users\\alice\\a.txt", std::nullopt},
        {"[csidl_appdata]\\a.txt", std::nullopt},
    };
    for (const auto& [stored, expected] : cases) EXPECT_EQ(extractPathOf(stored), expected) << stored;
}

// A folder the user had made a link to somewhere else must not lead the files out.
TEST(ExtractSink, AFolderInTheWayThatIsNotAFolderStopsTheFile) {
    test::WineProfile wine;
    auto profile = wine.open();
    test::TempDir dir;
    const fs::path out = dir.path() / "out", elsewhere = dir.path() / "elsewhere";
    fs::create_directories(out);
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, out / "AppData");

    ExtractSink sink(out.string(), *profile, true);
    ByteViewStream data(reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_THROW(sink.writeFile("[CSIDL_APPDATA]\\Microsoft\\x.wab", "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\x.wab",
                                data, 3),
                 EFCreateError);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(sink.tally().files, 0);
}


class ExtractSinkTest : public ::testing::Test {
protected:
    ExtractSinkTest() : profile(wine.open()), out(dir.path() / "out") { fs::create_directories(out); }

    void writeFile(ExtractSink& sink, const std::string& storedName, const std::string& realPath,
                   const std::string& contents) {
        ByteViewStream data(reinterpret_cast<const uint8_t*>(contents.data()), static_cast<int64_t>(contents.size()));
        sink.writeFile(storedName, realPath, data, static_cast<int64_t>(contents.size()));
    }

    std::vector<std::string> filesInOut() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            names.push_back(fs::relative(entry.path(), out).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::WineProfile wine;
    std::unique_ptr<Profile> profile;
    test::TempDir dir;
    fs::path out;
};

// A .reg line ends at its line break: a key path holding one would import as a key (or a
// deletion) the data file never held. An import must make exactly the keys and values that a
// restore of the item would write.
TEST_F(ExtractSinkTest, AnExportHoldsExactlyTheKeysARestoreWritesAndNothingThatImportsAsMore) {
    const std::string root = "\\Software\\Microsoft\\Internet Explorer";
    struct Case {
        std::string keyPath;
        bool exported;
    };
    const std::vector<Case> cases = {
        {root + "\\Main", true},
        {root + "\\odd ] [name", true},
        {root + "\\x]\r\n\r\n[-HKEY_CURRENT_USER\\Software", false},
        {root + "\\x\n[HKEY_LOCAL_MACHINE\\Software\\Evil", false},
        {root + "\\tab\tname", false},
        {root + "\\\\doubled", false},
        {"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", false},
        {"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", false},
        {"\\Software\\Microsoft\\Internet Explorer Evil", false},
        {"\\SOFTWARE\\microsoft\\internet explorer\\Case", true},
    };
    ExtractSink sink(out.string(), *profile, false);
    sink.beginItem("IE Settings.reg", KeyRoots(std::vector<std::string>{root}));
    for (const Case& c : cases) {
        sink.setValue(c.keyPath, RegValue::text("name \"quoted\" \\ back", REG_SZ, "line\r\nbreak"));
        sink.setValue(c.keyPath, RegValue::text("\n[HKEY_CLASSES_ROOT\\exefile]", REG_SZ, "x"));
        sink.setValue(c.keyPath, RegValue::dword("", 7));
    }
    sink.endItem();
    sink.commit();

    const test::StrictRegFile read = test::readRegFileStrictly(test::readHostFile((out / "IE Settings.reg").string()));
    std::set<std::string> refused;
    for (const auto& [name, reason] : sink.refused()) refused.insert(name);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyPath);
        const auto key = read.find("HKEY_CURRENT_USER" + c.keyPath);
        ASSERT_EQ(key != read.end(), c.exported);
        EXPECT_EQ(refused.count(c.keyPath) == 1, !c.exported);
        if (!c.exported) continue;
        ASSERT_EQ(key->second.size(), 3u);
        EXPECT_EQ(key->second.at("").data, (std::vector<uint8_t>{7, 0, 0, 0}));
        EXPECT_TRUE(key->second.count("name \"quoted\" \\ back"));
        EXPECT_TRUE(key->second.count("\n[HKEY_CLASSES_ROOT\\exefile]"));
    }
    EXPECT_EQ(read.size(), 3u);
}

TEST_F(ExtractSinkTest, OfTwoSpellingsOfOneFileTheFirstIsWrittenAndTheSecondNamed) {
    const std::string appData = "C:\\users\\alice\\AppData\\Roaming";
    const std::string placeholder = "[CSIDL_APPDATA]";
    const std::vector<std::pair<std::string, std::string>> twins = {
        {"[CSIDL_APPDATA]\\sl.txt", "[CSIDL_APPDATA]/sl.txt"},
        {"[CSIDL_APPDATA]\\Case.txt", "[CSIDL_APPDATA]\\CASE.txt"},
        {"[CSIDL_APPDATA]\\a\\b.txt", "[CSIDL_APPDATA]/A/B.TXT"},
    };
    ExtractSink sink(out.string(), *profile, false);
    for (const auto& [first, second] : twins)
        for (const std::string& stored : {first, second})
            writeFile(sink, stored, appData + stored.substr(placeholder.size()), stored);
    sink.commit();
    EXPECT_EQ(sink.tally().files, static_cast<int64_t>(twins.size()));
    ASSERT_EQ(sink.refused().size(), twins.size());
    for (size_t i = 0; i < twins.size(); ++i) {
        EXPECT_EQ(sink.refused()[i].first, twins[i].second);
        EXPECT_NE(sink.refused()[i].second.find(twins[i].first), std::string::npos) << sink.refused()[i].second;
    }
    const std::vector<uint8_t> kept = test::readHostFile((out / "AppData/sl.txt").string());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), twins[0].first);
}

TEST_F(ExtractSinkTest, TwoItemsWithOneCaptionKeepTwoRegFilesEvenWhenReplacing) {
    ExtractSink sink(out.string(), *profile, true);
    for (const char* value : {"first", "second"}) {
        sink.beginItem("Same.reg", KeyRoots());
        sink.setValue("\\Software\\A", RegValue::text("v", REG_SZ, value));
        sink.endItem();
    }
    sink.commit();
    EXPECT_EQ(filesInOut(), (std::vector<std::string>{"Same (2).reg", "Same.reg"}));
    EXPECT_EQ(sink.tally().regFiles, 2);
}

// A damaged or cancelled extract is a sink that never commits: nothing of it may stay.
TEST_F(ExtractSinkTest, NothingIsInPlaceBeforeCommitAndAnUncommittedSinkLeavesNothing) {
    {
        ExtractSink sink(out.string(), *profile, false);
        writeFile(sink, "[CSIDL_APPDATA]\\Microsoft\\deep\\x.wab",
                  "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\deep\\x.wab", "abc");
        sink.beginItem("IE.reg", KeyRoots());
        sink.createKey("\\Software\\A");
        sink.endItem();
        EXPECT_FALSE(fs::exists(out / "AppData/Microsoft/deep/x.wab"));
        EXPECT_FALSE(fs::exists(out / "IE.reg"));
    }
    EXPECT_EQ(filesInOut(), std::vector<std::string>{});
}

}  // namespace
}  // namespace ts
