// Real Wine as the peer: values Wine writes read back right through our hive, and values
// our hive writes are what Wine's own tools and server see. Runs only where Wine is
// installed; one headless prefix serves the whole test.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "platform/registry/wine_server_check.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult runShell(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool installed(const char* program) { return runShell(std::string("command -v ") + program).status == 0; }

class WinePeer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!installed("wine") || !installed("wineserver") || !installed("xvfb-run")) return;
        tmp_ = new test::TempDir();
        prefix_ = (tmp_->path() / "prefix").string();
        runShell(env() + "xvfb-run -a wineboot -i");
        stopServer();
        booted_ = runShell("test -s '" + prefix_ + "/user.reg'").status == 0;
    }
    static void TearDownTestSuite() {
        if (tmp_) stopServer();
        delete tmp_;
        tmp_ = nullptr;
    }
    void SetUp() override {
        if (!tmp_) GTEST_SKIP() << "Wine is not installed";
        ASSERT_TRUE(booted_) << "wineboot did not make a prefix";
    }

    static std::string env() { return "WINEPREFIX='" + prefix_ + "' WINEDEBUG=-all LANG=C.UTF-8 "; }
    static void stopServer() { runShell(env() + "wineserver -k; " + env() + "wineserver -w"); }
    static std::string userReg() { return prefix_ + "/user.reg"; }
    static CommandResult wine(const std::string& arguments) { return runShell(env() + "wine " + arguments); }

    void valuesWineWritesReadBackThroughOurHive();
    void valuesOurHiveWritesAreWhatWineSees();
    void aRunningServerIsDetectedAndTheFileLeftAlone();
    void aWineSaveBetweenOurLoadAndOurSaveIsKept();

    static test::TempDir* tmp_;
    static std::string prefix_;
    static bool booted_;
};

test::TempDir* WinePeer::tmp_ = nullptr;
std::string WinePeer::prefix_;
bool WinePeer::booted_ = false;

std::vector<uint8_t> utf16z(std::u16string_view units) {
    std::vector<uint8_t> out;
    for (char16_t unit : units) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    out.insert(out.end(), {0, 0});
    return out;
}

void WinePeer::valuesWineWritesReadBackThroughOurHive() {
    const std::string key = "'HKCU\\Software\\TsPeer\\From Wine'";
    std::vector<std::string> adds = {
        "/ve /t REG_SZ /d 'default'",
        "/v sz /t REG_SZ /d 'caf\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad \"q\" back\\slash'",
        "/v empty /t REG_SZ /d ''",
        "/v expand /t REG_EXPAND_SZ /d '%USERPROFILE%\\x'",
        "/v multi /t REG_MULTI_SZ /d 'one\\0two'",
        "/v dword /t REG_DWORD /d 0x12345678",
        "/v binary /t REG_BINARY /d 0001feff",
        "/v qword /t REG_QWORD /d 0x1122334455667788",
        "/v 'Mixed Case' /t REG_DWORD /d 7",
    };
    for (const std::string& add : adds) ASSERT_EQ(wine("reg add " + key + " " + add + " /f").status, 0) << add;
    stopServer();

    auto hive = RegistryHive::openUserReg(userReg(), prefix_);
    const std::string path = "software\\tspeer\\from wine";
    auto value = [&](std::string_view name) { return hive->value(path, name).value_or(RegValue{}); };
    EXPECT_EQ(value("").asText(), "default");
    EXPECT_EQ(value("sz"), RegValue::text("sz", REG_SZ, "caf\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad \"q\" back\\slash"));
    EXPECT_EQ(value("empty"), RegValue::text("empty", REG_SZ, ""));
    EXPECT_EQ(value("expand"), RegValue::text("expand", REG_EXPAND_SZ, "%USERPROFILE%\\x"));
    EXPECT_EQ(value("multi"), RegValue::multiText("multi", {"one", "two"}));
    EXPECT_EQ(value("dword"), RegValue::dword("dword", 0x12345678));
    EXPECT_EQ(value("binary"), RegValue::binary("binary", {0x00, 0x01, 0xfe, 0xff}));
    EXPECT_EQ(value("qword"), RegValue::binary("qword", {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}, REG_QWORD));
    EXPECT_EQ(value("mixed case").name, "Mixed Case");
    EXPECT_EQ(hive->subkeyNames("Software\\TsPeer"), std::vector<std::string>{"From Wine"});
}

void WinePeer::valuesOurHiveWritesAreWhatWineSees() {
    std::vector<RegValue> written = {
        RegValue::text("", REG_SZ, "our default"),
        RegValue::text("sz", REG_SZ, "hello world"),
        RegValue::text("expand", REG_EXPAND_SZ, "%TEMP%\\x"),
        RegValue::multiText("multi", {"a", "b"}),
        RegValue::dword("dword", 25),
        RegValue::binary("binary", {0x01, 0x02, 0xff}),
        RegValue::binary("long binary", std::vector<uint8_t>(300, 0xab)),
        RegValue::text("caf\xc3\xa9 \"name\"", REG_SZ, "\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80 tab\t nl\n"),
        RegValue::binary("qword", {1, 2, 3, 4, 5, 6, 7, 8}, REG_QWORD),
        RegValue::binary("custom", {0xbe, 0xef}, 0x12345),
        RegValue{"inner nul", REG_SZ, utf16z(u"ab\0cd")},
    };
    {
        auto hive = RegistryHive::openUserReg(userReg(), prefix_);
        for (const RegValue& value : written) hive->setValue("Software\\TsPeer\\From Us\\[x]", value);
        hive->createKey("Software\\TsPeer\\From Us\\Empty");
        hive->save();
    }

    CommandResult query = wine("reg query 'HKCU\\Software\\TsPeer\\From Us\\[x]'");
    ASSERT_EQ(query.status, 0) << query.output;
    std::map<std::string, std::pair<std::string, std::string>> seen;   // name -> type, data
    size_t start = 0;
    while (start < query.output.size()) {
        size_t end = query.output.find('\n', start);
        std::string line = query.output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? query.output.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.starts_with("    ")) continue;
        std::vector<std::string> fields;
        for (size_t pos = 4; pos <= line.size();) {
            size_t next = line.find("    ", pos);
            fields.push_back(line.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
            pos = next == std::string::npos ? line.size() + 1 : next + 4;
        }
        if (fields.size() >= 2) seen[fields[0]] = {fields[1], fields.size() > 2 ? fields[2] : ""};
    }
    using Seen = std::pair<std::string, std::string>;
    EXPECT_EQ(seen["(Default)"], (Seen{"REG_SZ", "our default"})) << query.output;
    EXPECT_EQ(seen["sz"], (Seen{"REG_SZ", "hello world"}));
    EXPECT_EQ(seen["expand"], (Seen{"REG_EXPAND_SZ", "%TEMP%\\x"}));
    EXPECT_EQ(seen["multi"], (Seen{"REG_MULTI_SZ", "a\\0b"}));
    EXPECT_EQ(seen["dword"], (Seen{"REG_DWORD", "0x19"}));
    EXPECT_EQ(seen["binary"], (Seen{"REG_BINARY", "0102FF"}));
    std::string longHex;
    for (int i = 0; i < 300; ++i) longHex += "AB";
    EXPECT_EQ(seen["long binary"], (Seen{"REG_BINARY", longHex}));
    EXPECT_EQ(wine("reg query 'HKCU\\Software\\TsPeer\\From Us\\Empty'").status, 0);
    stopServer();

    // The server loaded everything and wrote the whole file anew from what it understood:
    // every value must come back exactly as we wrote it.
    auto reread = RegistryHive::openUserReg(userReg(), prefix_);
    for (const RegValue& value : written) {
        auto seenByWine = reread->value("Software\\TsPeer\\From Us\\[x]", value.name);
        ASSERT_TRUE(seenByWine) << value.name;
        EXPECT_EQ(*seenByWine, value) << value.name;
    }
    EXPECT_TRUE(reread->keyExists("Software\\TsPeer\\From Us\\Empty"));
}

void WinePeer::aRunningServerIsDetectedAndTheFileLeftAlone() {
    ASSERT_EQ(runShell(env() + "wineserver -p").status, 0);
    bool running = false;
    for (int i = 0; i < 100 && !running; ++i) {
        running = findRunningWineServer(prefix_).has_value();
        if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(running);
    auto before = test::readHostFile(userReg());

    auto hive = RegistryHive::openUserReg(userReg(), prefix_);   // reading is allowed
    hive->setValue("Software\\TsPeer", RegValue::dword("while running", 1));
    try {
        hive->save();
        ADD_FAILURE() << "saved while the server runs";
    } catch (const TsException& error) {
        EXPECT_NE(std::string(error.what()).find("run `wineserver -k`"), std::string::npos) << error.what();
    }
    EXPECT_EQ(test::readHostFile(userReg()), before);

    stopServer();
    EXPECT_FALSE(findRunningWineServer(prefix_));
    hive->save();
    EXPECT_EQ(RegistryHive::openUserReg(userReg(), prefix_)->value("Software\\TsPeer", "while running"),
              RegValue::dword("while running", 1));
}

void WinePeer::aWineSaveBetweenOurLoadAndOurSaveIsKept() {
    auto ours = RegistryHive::openUserReg(userReg(), prefix_);
    ASSERT_EQ(wine("reg add 'HKCU\\Software\\TsPeer\\Both' /v 'from wine' /t REG_SZ /d 'w' /f").status, 0);
    stopServer();  // Wine's server writes user.reg anew as it ends
    ours->setValue("Software\\TsPeer\\Both", RegValue::text("from us", REG_SZ, "u"));
    ours->save();

    CommandResult query = wine("reg query 'HKCU\\Software\\TsPeer\\Both'");
    stopServer();
    EXPECT_NE(query.output.find("from wine"), std::string::npos) << query.output;
    EXPECT_NE(query.output.find("from us"), std::string::npos) << query.output;
    auto reread = RegistryHive::openUserReg(userReg(), prefix_);
    EXPECT_EQ(reread->value("Software\\TsPeer\\Both", "from wine"), RegValue::text("from wine", REG_SZ, "w"));
    EXPECT_EQ(reread->value("Software\\TsPeer\\Both", "from us"), RegValue::text("from us", REG_SZ, "u"));
}

// One test, so that the test runner's process per test does not boot a prefix each time.
TEST_F(WinePeer, BothDirectionsAgree) {
    {
        SCOPED_TRACE("Wine writes, we read");
        valuesWineWritesReadBackThroughOurHive();
    }
    {
        SCOPED_TRACE("we write, Wine reads and writes back");
        valuesOurHiveWritesAreWhatWineSees();
    }
    {
        SCOPED_TRACE("a running server");
        aRunningServerIsDetectedAndTheFileLeftAlone();
    }
    {
        SCOPED_TRACE("Wine saves between our load and our save");
        aWineSaveBetweenOurLoadAndOurSaveIsKept();
    }
}

}  // namespace
}  // namespace ts
