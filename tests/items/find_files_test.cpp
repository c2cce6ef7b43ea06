#include "items/find_files.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "platform/profile/profile.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::WineProfile;

void setDosAttrib(const std::string& hostPath, const char* value) {
    ASSERT_EQ(::setxattr(hostPath.c_str(), "user.DOSATTRIB", value, std::strlen(value), 0), 0) << hostPath;
}

class FindFilesTest : public ::testing::Test {
protected:
    WineProfile wine;
    std::unique_ptr<Profile> profile = wine.open();
    const std::string F = "C:\\users\\alice\\Favorites";

    std::vector<std::string> find(const std::string& folder, const std::string& mask) {
        std::vector<std::string> list;
        FindFiles(*profile, folder, list, mask);
        return list;
    }
};

TEST_F(FindFilesTest, OwnFilesFirstThenVisibleSubfolders) {
    wine.writeFile(F + "\\a", "");
    wine.writeFile(F + "\\h", "");
    wine.writeFile(F + "\\s\\b", "");
    wine.writeFile(F + "\\t\\c", "");
    wine.writeFile(F + "\\sys\\d", "");
    wine.writeFile(F + "\\.dotdir\\e", "");
    setDosAttrib(wine.hostOf(F + "\\h"), "0x2");
    setDosAttrib(wine.hostOf(F + "\\t"), "0x2");
    setDosAttrib(wine.hostOf(F + "\\sys"), "0x4");

    auto list = find(F, "*.*");
    ASSERT_EQ(list.size(), 3u);
    std::vector<std::string> own(list.begin(), list.begin() + 2);
    std::sort(own.begin(), own.end());
    EXPECT_EQ(own, (std::vector<std::string>{F + "\\a", F + "\\h"}));
    EXPECT_EQ(list[2], F + "\\s\\b");
}

TEST_F(FindFilesTest, MaskFiltersFilesButEverySubfolderIsSearched) {
    wine.writeFile(F + "\\one.url", "");
    wine.writeFile(F + "\\notes.txt", "");
    wine.writeFile(F + "\\News\\two.URL", "");
    wine.writeFile(F + "\\News\\Deep\\three.url", "");
    wine.writeFile(F + "\\News\\Deep\\four.url.bak", "");
    auto list = find(F, "*.url");
    EXPECT_EQ(list, (std::vector<std::string>{F + "\\one.url", F + "\\News\\two.URL", F + "\\News\\Deep\\three.url"}));
}

TEST_F(FindFilesTest, NamesKeepTheFolderAsGivenAndAppend) {
    wine.writeFile(F + "\\x.url", "");
    std::vector<std::string> list{"earlier"};
    FindFiles(*profile, "c:\\USERS\\alice\\favorites", list, "*.url");
    EXPECT_EQ(list, (std::vector<std::string>{"earlier", "c:\\USERS\\alice\\favorites\\x.url"}));
    FindFiles(*profile, F + "\\missing", list, "*.*");
    FindFiles(*profile, "Q:\\nowhere", list, "*.*");
    EXPECT_EQ(list.size(), 2u);
}

TEST_F(FindFilesTest, NeverLeavesTheProfileThroughALink) {
    // Wine links Documents and Desktop to the home folder, which holds the prefix itself.
    test::TempDir home;
    test::writeHostFile(home.file("private.url"), "");
    wine.writeFile(F + "\\inside.url", "");
    fs::create_directory_symlink(home.path(), wine.hostOf("C:\\users\\alice\\Documents"));
    fs::create_directory_symlink(home.path(), wine.hostOf(F + "\\Linked"));
    fs::create_directory_symlink(wine.folder(), home.path() / "prefix");

    // A run's cached listings must not open a way out either.
    for (bool inRun : {false, true}) {
        std::optional<ProfileRunScope> run;
        if (inRun) run.emplace(*profile);
        EXPECT_EQ(find(F, "*.url"), (std::vector<std::string>{F + "\\inside.url"})) << inRun;
        EXPECT_TRUE(find("C:\\users\\alice\\Documents", "*.*").empty()) << inRun;
        auto all = find("C:\\users\\alice", "*.url");
        EXPECT_EQ(all, (std::vector<std::string>{F + "\\inside.url"})) << inRun;
    }
}

TEST_F(FindFilesTest, VisitsEveryFolderOnce) {
    wine.writeFile(F + "\\Sub\\x.url", "");
    // A loop back to the top and a second way into the same folder.
    fs::create_directory_symlink("..", wine.hostOf(F + "\\Sub\\Up"));
    fs::create_directory_symlink("Sub", wine.hostOf(F + "\\Again"));
    for (bool inRun : {false, true}) {
        std::optional<ProfileRunScope> run;
        if (inRun) run.emplace(*profile);
        auto list = find(F, "*.url");
        ASSERT_EQ(list.size(), 1u) << inRun;
        EXPECT_TRUE(list[0] == F + "\\Sub\\x.url" || list[0] == F + "\\Again\\x.url") << list[0];
    }
}

}  // namespace
}  // namespace ts
