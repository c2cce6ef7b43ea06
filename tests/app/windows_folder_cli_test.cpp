// End to end on a Windows user's folder: the real tessaly-cli backs up from one without
// writing below it, lists what it saved as it lists the same data from a Wine prefix, and
// restores into one so that hivexregedit, a reader independent of ours, sees the values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <cstdio>

#include "cli_runner.h"
#include "platform/registry/registry_hive.h"
#include "support/hive_maker.h"
#include "support/read_only_mount.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::CliResult;

class WindowsFolderCli : public ::testing::Test {
protected:
    WindowsFolderCli() : cli(dir.path().string()) {
        cli.keepToWorkDir();
        cli.environment["USER"] = "alice";
        EXPECT_TRUE(test::makeSampleProfile(dir.file("wine"), "alice"));
        windowsFolder = copyAsWindowsFolder(dir.file("disk"), "alice");
    }

    // The sample prefix's user as a Windows user folder: the same files, and a hive holding
    // every key and value of its user.reg.
    // With favoritesAt, the hive moves the user's favorites there, as Windows lets a user do.
    std::string copyAsWindowsFolder(const std::string& driveC, const std::string& user,
                                    const std::string& favoritesAt = {}) {
        const std::string folder = driveC + "/Users/" + user;
        fs::create_directories(folder);
        fs::copy(dir.file("wine/drive_c/users/alice"), folder, fs::copy_options::recursive);
        auto hive = RegistryHive::openUserReg(dir.file("wine/user.reg"), dir.file("wine"));
        std::vector<test::HiveKey> keys = test::keysOf(*hive);
        if (!favoritesAt.empty()) {
            for (test::HiveKey& key : keys)
                if (key.path.ends_with("Explorer\\User Shell Folders"))
                    std::erase_if(key.values, [](const RegValue& value) { return value.name == "Favorites"; });
            keys.push_back({"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                            {RegValue::text("Favorites", REG_EXPAND_SZ, favoritesAt)}});
        }
        fs::remove(folder + "/NTUSER.DAT");
        test::makeHive(folder + "/NTUSER.DAT", keys);
        return folder;
    }

    CliResult run(const std::vector<std::string>& args) { return cli.run(args); }

    // A backup of every item from profile into out/name; returns the data file.
    std::string backUp(const std::string& name, const std::string& profile) {
        fs::create_directories(dir.file("out/" + name));
        CliResult made = run({"new", dir.file(name + ".tsly"), "--name", "Mail", "--items", "all", "--folder",
                              dir.file("out/" + name), "--level", "default", "--profile", profile});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        CliResult done = run({"backup", dir.file(name + ".tsly"), "--profile", profile});
        EXPECT_EQ(done.exitCode, 0) << done.err;
        return dir.file("out/" + name + "/Mail.tsly_dat");
    }

    test::TempDir dir;
    test::CliRunner cli;
    std::string windowsFolder;
};

// The system calls of a traced run that write, create, rename or delete something below
// folder (strace -y names the file behind every descriptor).
std::vector<std::string> writesBelow(const std::string& traceLog, const std::string& folder) {
    static const std::set<std::string> kChanging = {
        "write", "pwrite64", "writev", "pwritev", "ftruncate", "truncate", "mkdir", "mkdirat", "rename", "renameat",
        "renameat2", "unlink", "unlinkat", "rmdir", "link", "linkat", "symlink", "symlinkat", "chmod", "fchmod",
        "fchmodat", "chown", "fchown", "fchownat", "lchown", "utimensat", "setxattr", "lsetxattr", "fsetxattr",
        "creat", "removexattr", "lremovexattr", "fremovexattr"};
    static const std::regex kCall(R"(^\d+\s+([a-z0-9_]+)\()");
    std::vector<std::string> found;
    std::ifstream log(traceLog);
    for (std::string line; std::getline(log, line);) {
        std::smatch call;
        if (!std::regex_search(line, call, kCall) || line.find(folder) == std::string::npos) continue;
        const std::string name = call[1];
        const bool opensToWrite = (name == "open" || name == "openat" || name == "openat2") &&
                                  (line.find("O_WRONLY") != std::string::npos || line.find("O_RDWR") != std::string::npos ||
                                   line.find("O_CREAT") != std::string::npos || line.find("O_TRUNC") != std::string::npos);
        if (opensToWrite || kChanging.contains(name)) found.push_back(line);
    }
    return found;
}

TEST_F(WindowsFolderCli, ABackupWritesNothingBelowTheWindowsFolder) {
    if (std::system("command -v strace > /dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    fs::create_directories(dir.file("out/traced"));
    CliResult made = run({"new", dir.file("traced.tsly"), "--name", "Mail", "--items", "all", "--folder",
                          dir.file("out/traced"), "--profile", windowsFolder});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string traceLog = dir.file("trace.log");
    cli.launcher = {"/usr/bin/strace", "-f", "-y", "-o", traceLog, "-e",
                    "trace=%file,write,pwrite64,writev,pwritev,ftruncate,fchmod,fchown,fsetxattr,fremovexattr"};
    // The leak checker cannot work under a tracer.
    cli.environment["ASAN_OPTIONS"] = "detect_leaks=0";
    CliResult done = run({"backup", dir.file("traced.tsly"), "--profile", windowsFolder});
    cli.launcher.clear();
    cli.environment.erase("ASAN_OPTIONS");
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_THAT(done.out, ::testing::EndsWith("; from the Windows user folder " + windowsFolder + "\n"));
    EXPECT_GT(fs::file_size(dir.file("out/traced/Mail.tsly_dat")), 1000u);
    EXPECT_THAT(writesBelow(traceLog, dir.file("disk")), ::testing::IsEmpty());
    // The trace saw the folder at all: the check above is not vacuous.
    std::ifstream log(traceLog);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, ::testing::HasSubstr("NTUSER.DAT"));
}

// What ls --json says of the items, which must not depend on where the data came from.
std::string itemsListed(const std::string& json) {
    const size_t items = json.find("\"items\"");
    EXPECT_NE(items, std::string::npos) << json;
    return items == std::string::npos ? std::string() : json.substr(items);
}

TEST_F(WindowsFolderCli, TheSameUserDataListsTheSameFromAWinePrefixAndAWindowsFolder) {
    const std::string fromWine = backUp("wine", dir.file("wine"));
    const std::string fromWindows = backUp("windows", windowsFolder);
    CliResult wine = run({"ls", fromWine, "--json"});
    CliResult windows = run({"ls", fromWindows, "--json"});
    ASSERT_EQ(wine.exitCode, 0) << wine.err;
    ASSERT_EQ(windows.exitCode, 0) << windows.err;
    EXPECT_THAT(wine.out, ::testing::HasSubstr(".wab"));
    EXPECT_EQ(itemsListed(windows.out), itemsListed(wine.out));
}

TEST_F(WindowsFolderCli, ARestoreIntoAWindowsFolderIsWhatHivexregeditReadsBack) {
    const std::string data = backUp("wine", dir.file("wine"));
    const std::string target = test::makeWindowsUserFolder(dir.file("disk2"), "bob", true);
    cli.environment["USER"] = "bob";
    CliResult restored = run({"restore", data, "--profile", target});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_THAT(restored.out, ::testing::EndsWith("; into the Windows user folder " + target + "\n"));

    // Every string, number and binary value of the saved keys, as the other reader sees it.
    auto source = RegistryHive::openUserReg(dir.file("wine/user.reg"), dir.file("wine"));
    const test::ExportedHive written = test::exportHive(target + "/NTUSER.DAT");
    int compared = 0;
    for (const test::HiveKey& key : test::keysOf(*source)) {
        if (!key.path.starts_with("Software\\Microsoft\\Internet Account Manager") &&
            !key.path.starts_with("Software\\Microsoft\\Internet Explorer") && !key.path.starts_with("Identities"))
            continue;
        for (const RegValue& value : key.values) {
            if (value.type != REG_SZ && value.type != REG_DWORD && value.type != REG_BINARY) continue;
            SCOPED_TRACE(key.path + " : " + value.name);
            auto found = written.find(key.path);
            ASSERT_NE(found, written.end());
            EXPECT_THAT(found->second, ::testing::Contains(value));
            ++compared;
        }
    }
    EXPECT_GT(compared, 20);
    EXPECT_TRUE(fs::exists(target + "/NTUSER.DAT.tessaly-previous"));
    // The files went where Windows XP keeps them.
    EXPECT_TRUE(fs::exists(target + "/Application Data/Microsoft/Address Book"));
    EXPECT_TRUE(fs::exists(target + "/Favorites/Example.url"));
}

TEST_F(WindowsFolderCli, ARestoreIntoAWindowsFolderOnAReadOnlyDiskIsRefusedBeforeAnythingIsWritten) {
    const std::string data = backUp("wine", dir.file("wine"));
    const std::string target = test::makeWindowsUserFolder(dir.file("disk2"), "bob", false);
    const std::vector<uint8_t> hive = test::readHostFile(target + "/NTUSER.DAT");
    test::ReadOnlyMount readOnly(dir.file("disk2"));
    if (!readOnly.available()) GTEST_SKIP() << readOnly.why();
    CliResult restored = run({"restore", data, "--profile", target});
    EXPECT_NE(restored.exitCode, 0);
    EXPECT_THAT(restored.err, ::testing::HasSubstr("mounted read-only"));
    EXPECT_EQ(test::readHostFile(target + "/NTUSER.DAT"), hive);
}

// What real Wine's reg query shows below a key of HKEY_CURRENT_USER: key path below it ->
// value name -> type and data as reg prints them.
std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>> wineRegQuery(const std::string& env,
                                                                                               const std::string& key) {
    std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>> shown;
    const std::string command = env + "timeout 300 wine reg query 'HKCU\\" + key + "' /s 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string text;
    char buffer[4096];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe.get())) text.append(buffer, got);
    std::string current;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("HKEY_CURRENT_USER\\")) {
            current = line.substr(18);
        } else if (line.starts_with("    ")) {
            std::vector<std::string> fields;
            for (size_t at = 4; at <= line.size();) {
                size_t next = line.find("    ", at);
                if (next == std::string::npos) next = line.size();
                fields.push_back(line.substr(at, next - at));
                at = next + 4;
            }
            if (fields.size() >= 2) shown[current][fields[0] == "(Default)" ? "" : fields[0]] = {fields[1], fields.size() > 2 ? fields[2] : ""};
        }
    }
    return shown;
}

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

TEST_F(WindowsFolderCli, ABackupFromAWindowsFolderRestoresIntoAWinePrefixThatRealWineReads) {
    if (std::system("command -v wine > /dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed here";
    const std::string data = backUp("windows", windowsFolder);
    const std::string prefix = dir.file("wineprefix");
    const std::string env = "USER=alice WINEPREFIX='" + prefix + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    // Wine writes user.reg when its server ends.
    const bool booted = std::system((env + "timeout 300 wine wineboot -i > /dev/null 2>&1").c_str()) == 0;
    ASSERT_EQ(std::system((env + "wineserver -w").c_str()), 0);
    if (!booted || !fs::exists(prefix + "/user.reg")) GTEST_SKIP() << "wine could not make a prefix here";
    CliResult restored = run({"restore", data, "--profile", prefix});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;

    auto source = RegistryHive::openNtUserDat(windowsFolder + "/NTUSER.DAT");
    int compared = 0;
    for (const std::string top : {"Software\\Microsoft\\Internet Account Manager", "Identities"}) {
        const auto shown = wineRegQuery(env, top);
        for (const test::HiveKey& key : test::keysOf(*source)) {
            if (!key.path.starts_with(top)) continue;
            for (const RegValue& value : key.values) {
                SCOPED_TRACE(key.path + " : " + value.name);
                std::pair<std::string, std::string> expected;
                if (value.type == REG_SZ && isAscii(value.asText()) && isAscii(value.name)) {
                    expected = {"REG_SZ", value.asText()};
                } else if (value.type == REG_DWORD) {
                    const uint32_t number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 | uint32_t{value.data[3]} << 24;
                    char text[16];
                    std::snprintf(text, sizeof text, "0x%x", number);
                    expected = {"REG_DWORD", text};
                } else {
                    continue;
                }
                auto key_ = shown.find(key.path);
                ASSERT_NE(key_, shown.end());
                auto found = key_->second.find(value.name);
                ASSERT_NE(found, key_->second.end());
                EXPECT_EQ(found->second, expected);
                ++compared;
            }
        }
    }
    std::system((env + "wineserver -k").c_str());
    EXPECT_GT(compared, 10);
}

// A Windows disk's other drives: a path the hive names on D: is refused until --drive gives
// D:'s folder, then backed up and restored there like any on C:.
TEST_F(WindowsFolderCli, FavoritesOnDriveDAreRefusedWithoutTheDriveAndMovedWithIt) {
    const std::string driveD = dir.file("disk-d");
    fs::create_directories(driveD + "/Favs");
    const std::string folder = copyAsWindowsFolder(dir.file("disk3"), "alice", "D:\\Favs");
    fs::rename(folder + "/Favorites", driveD + "/Favs/alice");
    // The hive above names D:\Favs itself: the favorites are below it.
    fs::create_directories(dir.file("out/d"));
    CliResult made = run({"new", dir.file("d.tsly"), "--name", "Mail", "--items", "favorites", "--folder",
                          dir.file("out/d"), "--profile", folder, "--drive", "D=" + driveD});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    CliResult refused = run({"backup", dir.file("d.tsly"), "--profile", folder});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_THAT(refused.err, ::testing::HasSubstr("give its folder with --drive D=DIR"));
    EXPECT_FALSE(fs::exists(dir.file("out/d/Mail.tsly_dat")));

    CliResult saved = run({"backup", dir.file("d.tsly"), "--profile", folder, "--drive", "d=" + driveD});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    CliResult listed = run({"ls", dir.file("out/d/Mail.tsly_dat")});
    EXPECT_THAT(listed.out, ::testing::HasSubstr("Example.url"));

    const std::string targetD = dir.file("disk4-d");
    fs::create_directories(targetD);
    const std::string target = test::makeWindowsUserFolder(
        dir.file("disk4"), "bob", false,
        {{"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
          {RegValue::text("Favorites", REG_EXPAND_SZ, "D:\\Links")}}});
    cli.environment["USER"] = "bob";
    CliResult restored = run({"restore", dir.file("out/d/Mail.tsly_dat"), "--profile", target, "--drive=D=" + targetD});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_TRUE(fs::exists(targetD + "/Links/alice/Example.url"))
        << restored.out << restored.err;
}

TEST_F(WindowsFolderCli, ADriveOptionThatCannotBeUsedIsRefusedSayingWhy) {
    struct Case {
        std::vector<std::string> drives;
        std::string profile;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"D"}, windowsFolder, "such as D=/mnt/old-d"},
        {{"DD=" + dir.path().string()}, windowsFolder, "such as D=/mnt/old-d"},
        {{"C=" + dir.path().string()}, windowsFolder, "Only other drive letters"},
        {{"D=" + dir.file("missing")}, windowsFolder, "does not exist"},
        {{"D=" + dir.path().string(), "d=" + dir.path().string()}, windowsFolder, "--drive D is given twice"},
        {{"D=" + dir.path().string()}, dir.file("wine"), "--drive is for a Windows user folder"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"backup", dir.file("none.tsly"), "--profile", c.profile};
        for (const std::string& drive : c.drives) args.insert(args.end(), {"--drive", drive});
        SCOPED_TRACE(::testing::PrintToString(args));
        CliResult result = run(args);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_THAT(result.err, ::testing::HasSubstr(c.says));
    }
}

}  // namespace
}  // namespace ts
