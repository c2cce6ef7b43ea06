#include "settings/reg_env_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace ts {
namespace {

using test::TempDir;

struct FakeWindow : PlacedWindow {
    int32_t left = 10, top = 20, width = 640, height = 480;
    int32_t Left() const override { return left; }
    int32_t Top() const override { return top; }
    int32_t Width() const override { return width; }
    int32_t Height() const override { return height; }
    void SetLeft(int32_t v) override { left = v; }
    void SetTop(int32_t v) override { top = v; }
    void SetWidth(int32_t v) override { width = v; }
    void SetHeight(int32_t v) override { height = v; }
};

class SettingsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("config/tessaly/settings.reg");

    // What the file holds, read by a hive of its own.
    std::vector<std::string> valueNames(const char* key) {
        SettingsFile fresh(path);
        return fresh.hive().valueNames(std::string(key).substr(1));
    }
    std::optional<RegValue> value(const char* key, const char* name) {
        SettingsFile fresh(path);
        return fresh.hive().value(std::string(key).substr(1), name);
    }
    std::vector<std::string> storeAndLoad(const std::vector<std::string>& history) {
        {
            SettingsFile settings(path);
            TtsRegXPEnv env(settings);
            env.Projects().ProjectFiles = history;
            env.WriteToRegistry();
        }
        SettingsFile settings(path);
        TtsRegXPEnv env(settings);
        env.ReadFromRegistry();
        return env.Projects().ProjectFiles;
    }
};

TEST_F(SettingsTest, FirstStartCreatesTheKeysAndStoresTheDefaults) {
    FakeWindow window;
    {
        SettingsFile settings(path);
        TtsRegXPEnv env(settings);
        env.ReadFromRegistry();
        EXPECT_EQ(env.Options().CompressionLevel, 2);
        EXPECT_TRUE(env.Projects().ProjectFiles.empty());
        TtsRegMainWindow placement(settings, &window);
        placement.ReadFromRegistry();
        EXPECT_EQ(window.left, 10);
        EXPECT_EQ(window.height, 480);
        placement.WriteToRegistry();
        env.WriteToRegistry();
    }
    SettingsFile fresh(path);
    for (const char* key : {kMainWindowKey, kOptionsKey, kProjectsKey}) EXPECT_TRUE(fresh.hive().keyExists(key + 1)) << key;
    EXPECT_EQ(valueNames(kMainWindowKey), (std::vector<std::string>{"Left", "Top", "Width", "Height"}));
    EXPECT_EQ(value(kOptionsKey, "CompressionLevel"), RegValue::dword("CompressionLevel", 2));
    EXPECT_TRUE(valueNames(kProjectsKey).empty());
}

TEST_F(SettingsTest, HistoryComesBackInStoredOrder) {
    std::vector<std::string> twelve;
    for (int i = 0; i < 12; ++i) twelve.push_back("/home/u/p" + std::to_string(i) + ".tsly");
    const std::vector<std::vector<std::string>> cases = {
        {"/a.tsly", "/b.tsly", "/c.tsly"},
        {"/same.tsly", "/same.tsly"},
        twelve,
    };
    for (const auto& history : cases) EXPECT_EQ(storeAndLoad(history), history);
    storeAndLoad({"/a.tsly", "/b.tsly", "/c.tsly"});
    EXPECT_EQ(valueNames(kProjectsKey), (std::vector<std::string>{"0", "1", "2"}));
}

TEST_F(SettingsTest, NumberedHistoryListedAsTextComesBackInNumberOrder) {
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) names.push_back(std::to_string(i));
    std::sort(names.begin(), names.end());  // "0", "1", "10", "11", "2", ... as Wine lists them
    {
        SettingsFile settings(path);
        for (const std::string& name : names)
            settings.hive().setValue(kProjectsKey + 1, RegValue::text(name, REG_SZ, "/p" + name + ".tsly"));
        settings.save();
    }
    SettingsFile settings(path);
    TtsRegXPEnv env(settings);
    env.ReadFromRegistry();
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i) expected.push_back("/p" + std::to_string(i) + ".tsly");
    EXPECT_EQ(env.Projects().ProjectFiles, expected);
}

TEST_F(SettingsTest, DeletingAnEntryDropsTheLastValueName) {
    storeAndLoad({"/a.tsly", "/b.tsly", "/c.tsly"});
    {
        SettingsFile settings(path);
        TtsRegXPEnv env(settings);
        env.ReadFromRegistry();
        env.Projects().Delete(0);
        env.WriteToRegistry();
    }
    EXPECT_EQ(valueNames(kProjectsKey), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(value(kProjectsKey, "0")->asText(), "/b.tsly");
}

TEST_F(SettingsTest, HistoryWithOtherNamesKeepsTheHiveOrderAndRefusesNonStrings) {
    {
        SettingsFile settings(path);
        settings.hive().setValue(kProjectsKey + 1, RegValue::text("b", REG_SZ, "/first.tsly"));
        settings.hive().setValue(kProjectsKey + 1, RegValue::text("a", REG_SZ, "/second.tsly"));
        settings.hive().setValue(kProjectsKey + 1, RegValue::dword("c", 1));
        settings.hive().setValue(kProjectsKey + 1, RegValue::text("d", REG_SZ, "/after.tsly"));
        settings.hive().setValue(kProjectsKey + 1, RegValue::binary("e", {1}));
        settings.save();
    }
    const std::vector<std::string> valid{"/first.tsly", "/second.tsly", "/after.tsly"};
    {
        SettingsFile settings(path);
        TtsRegXPEnv env(settings);
        try {
            env.ReadFromRegistry();
            FAIL() << "a DWORD in the history was accepted";
        } catch (const ERegistryException& error) {
            EXPECT_STREQ(error.what(), "Invalid data type for 'c'");
        }
        // Every valid entry, also those after the bad one, survives the store at exit.
        EXPECT_EQ(env.Projects().ProjectFiles, valid);
        env.WriteToRegistry();
    }
    SettingsFile settings(path);
    TtsRegXPEnv env(settings);
    env.ReadFromRegistry();
    EXPECT_EQ(env.Projects().ProjectFiles, valid);
}

TEST_F(SettingsTest, PlacementAppliesWhatItFindsAndStopsSilently) {
    {
        SettingsFile settings(path);
        settings.hive().setValue(kMainWindowKey + 1, RegValue::dword("Left", 300));
        settings.hive().setValue(kMainWindowKey + 1, RegValue::text("Width", REG_SZ, "wide"));
        settings.save();
    }
    SettingsFile settings(path);
    FakeWindow window;
    TtsRegMainWindow placement(settings, &window);
    placement.ReadFromRegistry();
    EXPECT_EQ(window.left, 300);
    EXPECT_EQ(window.top, 20);
    EXPECT_EQ(window.width, 640);
    TtsRegMainWindow none(settings, nullptr);
    none.WriteToRegistry();
    EXPECT_EQ(value(kMainWindowKey, "Top"), std::nullopt);
}

TEST_F(SettingsTest, StoringKeepsWhatAnotherWriterSavedMeanwhile) {
    SettingsFile first(path);
    TtsRegXPEnv env(first);
    env.ReadFromRegistry();
    {
        SettingsFile second(path);
        second.hive().setValue("Software\\Tessaly\\Other", RegValue::dword("Kept", 7));
        second.save();
    }
    env.Projects().Add("/x.tsly");
    env.WriteToRegistry();
    EXPECT_EQ(value("\\Software\\Tessaly\\Other", "Kept"), RegValue::dword("Kept", 7));
    EXPECT_EQ(value(kProjectsKey, "0")->asText(), "/x.tsly");
}

TEST_F(SettingsTest, IndexOfIgnoresLetterCaseAndFindsTheFirst) {
    SettingsFile settings(path);
    TtsRegProjects projects(settings);
    projects.ProjectFiles = {"/A/Ä.tsly", "/a/ä.tsly"};
    EXPECT_EQ(projects.IndexOf("/a/ä.TSLY"), 0);
    EXPECT_EQ(projects.IndexOf("/b.tsly"), -1);
}

TEST(SettingsPathTest, FollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(SettingsFile::defaultPath(), "/tmp/cfg/tessaly/settings.reg");
    setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(SettingsFile::defaultPath(), std::string(std::getenv("HOME")) + "/.config/tessaly/settings.reg");
    if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace ts
