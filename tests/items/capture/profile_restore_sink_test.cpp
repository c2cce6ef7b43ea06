// Writing restored files into a profile as an ordinary user would: root writes through
// read-only permissions, so when the tests run as root the writes run in a child process
// that has become "nobody".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "items/capture/profile_restore_sink.h"
#include "platform/exception.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
const char* const kStored = "[CSIDL_APPDATA]\\Microsoft\\Address Book\\alice.wab";
const char* const kWindowsPath = "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Address Book\\alice.wab";

// Runs body in a child process as an ordinary user owning `tree`; returns what the child
// wrote to standard error, or "exit N" when it did not end normally.
std::string asOrdinaryUser(const std::string& tree, const std::function<void()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "no pipe";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDERR_FILENO);
        if (::geteuid() == 0) {
            for (const auto& entry : fs::recursive_directory_iterator(tree))
                if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0) ::_exit(2);
            if (::chown(tree.c_str(), kNobody, kNobody) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(3);
        }
        try {
            body();
        } catch (const std::exception& e) {
            std::fputs(e.what(), stderr);
        }
        std::fflush(stderr);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "exit " + std::to_string(status);
    return text;
}

void restoreBook(const test::WineProfile& wine, const std::string& content) {
    auto profile = wine.open();
    DirectProfileSink sink(*profile);
    MemoryStream data(std::vector<uint8_t>(content.begin(), content.end()));
    sink.writeFile(kStored, kWindowsPath, data, static_cast<int64_t>(content.size()));
}

TEST(ProfileRestoreSinkTest, AReadOnlyFileIsReplacedAndStaysReadOnly) {
    test::WineProfile wine;
    wine.writeFile(kWindowsPath, "old book");
    const std::string host = wine.hostOf(kWindowsPath);
    ASSERT_EQ(::chmod(host.c_str(), 0444), 0);
    EXPECT_EQ(asOrdinaryUser(wine.folder(), [&] { restoreBook(wine, "new book"); }), "");
    auto bytes = test::readHostFile(host);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new book");
    struct stat st {};
    ASSERT_EQ(::stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(host).parent_path()), fs::directory_iterator()), 1)
        << "no temporary file is left";
}

TEST(ProfileRestoreSinkTest, AFolderThatCannotBeWrittenIsReportedWithTheWindowsPath) {
    test::WineProfile wine;
    wine.writeFile(kWindowsPath, "old book");
    const std::string folder = fs::path(wine.hostOf(kWindowsPath)).parent_path().string();
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string error = asOrdinaryUser(wine.folder(), [&] { restoreBook(wine, "new book"); });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(error.rfind(std::string("Cannot create file \"") + kWindowsPath + "\".", 0), 0u) << error;
    EXPECT_EQ(error.find("tmp-"), std::string::npos) << error;
}

}  // namespace
}  // namespace ts
