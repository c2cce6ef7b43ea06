#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/work_folder.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
    return st.st_mode & 0777;
}

// Tries to take the folder in a child process; true when that succeeded.
bool otherProcessCanLock(const std::string& path) {
    pid_t child = ::fork();
    if (child == 0) {
        try {
            WorkFolderLock lock(path);
            ::_exit(0);
        } catch (const EWorkFolderBusy&) {
            ::_exit(1);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2);
    return WEXITSTATUS(status) == 0;
}

TEST(WorkFolder, DefaultIsBelowTheCacheHome) {
    const char* oldCache = std::getenv("XDG_CACHE_HOME");
    std::string saved = oldCache ? oldCache : "";
    ::setenv("XDG_CACHE_HOME", "/tmp/cache-home", 1);
    EXPECT_EQ(defaultWorkFolderPath(), "/tmp/cache-home/tessaly");
    ::setenv("XDG_CACHE_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(defaultWorkFolderPath(), std::string(std::getenv("HOME")) + "/.cache/tessaly");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(defaultWorkFolderPath(), std::string(std::getenv("HOME")) + "/.cache/tessaly");
    if (oldCache) ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
}

TEST(WorkFolder, IsCreatedPrivateWithItsParentsAndTightenedWhenOpen) {
    test::TempDir dir;
    std::string path = dir.file("a/b/tessaly");
    { WorkFolderLock lock(path); }
    EXPECT_EQ(modeOf(path), 0700u);
    ::chmod(path.c_str(), 0755);
    WorkFolderLock lock(path);
    EXPECT_EQ(modeOf(path), 0700u);
    EXPECT_EQ(lock.file("Temp.data"), path + "/Temp.data");
}

TEST(WorkFolder, OneHolderAtATimeAcrossProcessesAndWithinOne) {
    test::TempDir dir;
    std::string path = dir.file("work");
    {
        WorkFolderLock first(path);
        EXPECT_FALSE(otherProcessCanLock(path));
        EXPECT_THROW(WorkFolderLock second(path), EWorkFolderBusy);
    }
    EXPECT_TRUE(otherProcessCanLock(path));
}

TEST(WorkFolder, RefusesASymbolicLinkOrAFile) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "elsewhere");
    fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "link");
    EXPECT_THROW(WorkFolderLock lock(dir.file("link")), TsException);
    test::writeHostFile(dir.file("file"), std::string("x"));
    EXPECT_THROW(WorkFolderLock lock(dir.file("file")), TsException);
}

}  // namespace
}  // namespace ts
