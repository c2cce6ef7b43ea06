#include "items/capture/extract_sink.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/exception.h"
#include "platform/stream/bounded_stream.h"
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

}  // namespace
}  // namespace ts
