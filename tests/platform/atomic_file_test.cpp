#include <gtest/gtest.h>

#include <utime.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

size_t entriesIn(const std::filesystem::path& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                             std::filesystem::directory_iterator()));
}

TEST(AtomicFileTest, AWriteThatFailsBeforeCommitLeavesThePreviousFileAndNoTemporary) {
    test::TempDir dir;
    std::string target = dir.file("project.tsly");
    test::writeHostFile(target, std::string("previous"));
    try {
        AtomicFile file(target);
        file.stream().write("half of the new", 15);
        EXPECT_EQ(std::filesystem::path(file.temporaryPath()).parent_path(), dir.path());
        throw std::runtime_error("the save failed");
    } catch (const std::runtime_error&) {
    }
    auto bytes = test::readHostFile(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "previous");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicFileTest, CommitReplacesTheTargetWhole) {
    test::TempDir dir;
    std::string target = dir.file("project.tsly");
    test::writeHostFile(target, std::string(100, 'x'));
    {
        AtomicFile file(target);
        file.stream().write("new", 3);
        file.commit();
    }
    auto bytes = test::readHostFile(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

// Keeping existing files holds also for one that appears while the new one is written.
TEST(AtomicFileTest, KeepingExistingFilesRefusesATakenNameAtEitherEnd) {
    test::TempDir dir;
    std::string target = dir.file("x.wab");
    test::writeHostFile(target, std::string("there"));
    EXPECT_THROW(AtomicFile(target, 0600, AtomicFile::Durability::SyncAlways, AtomicFile::Existing::Keep), EFileExists);

    std::string later = dir.file("y.wab");
    {
        AtomicFile file(later, 0600, AtomicFile::Durability::SyncAlways, AtomicFile::Existing::Keep);
        file.stream().write("new", 3);
        test::writeHostFile(later, std::string("meanwhile"));
        EXPECT_THROW(file.commit(), EFileExists);
    }
    auto bytes = test::readHostFile(later);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "meanwhile");
    EXPECT_EQ(entriesIn(dir.path()), 2u) << "the temporary file is gone";
}

TEST(AtomicFileTest, ATargetThatCannotBeReplacedIsNamedInTheError) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "taken");
    std::string target = dir.file("taken");
    try {
        AtomicFile file(target);
        file.commit();
        ADD_FAILURE() << "a folder was replaced by a file";
    } catch (const EFCreateError& error) {
        EXPECT_NE(std::string(error.what()).find(target), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

// Only our own pattern, only older than the run, never one a live writer holds. A folder a
// killed restore was building goes with what it holds, but a link in it is not followed.
TEST(AtomicFileTest, ASweepRemovesOnlyStaleUnheldTemporaryFilesOfOurs) {
    test::TempDir dir, outside;
    const std::time_t start = std::time(nullptr);
    AtomicFile live(dir.file("data.tsly_dat"));
    test::writeHostFile(outside.file("kept.eml"), std::string("user's"));
    std::filesystem::create_directories(dir.path() / ".tessaly-tmp-F0ld3r/Sub");
    test::writeHostFile(dir.file(".tessaly-tmp-F0ld3r/Sub/new.eml"), std::string("x"));
    std::filesystem::create_directory_symlink(outside.path(), dir.path() / ".tessaly-tmp-F0ld3r/Sub/out");
    struct Case {
        std::string name;
        bool old;
        bool swept;
    };
    const std::vector<Case> cases = {{".tessaly-tmp-Ab12Cd", true, true},
                                     {".tessaly-tmp-F0ld3r", true, true},
                                     {".tessaly-tmp-young1", false, false},
                                     {"mail.dbx.tmp-Ab12Cd", true, false},
                                     {std::filesystem::path(live.temporaryPath()).filename().string(), true, false}};
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        if (!std::filesystem::exists(path)) test::writeHostFile(path, std::string("x"));
        const std::time_t when = c.old ? start - 3600 : start + 5;
        const utimbuf times{when, when};
        ASSERT_EQ(::utime(path.c_str(), &times), 0);
    }
    EXPECT_EQ(sweepLeftovers(dir.path().string(), start), 2);
    for (const Case& c : cases) EXPECT_EQ(std::filesystem::exists(dir.file(c.name)), !c.swept) << c.name;
    EXPECT_TRUE(std::filesystem::exists(outside.file("kept.eml")));
}

}  // namespace
}  // namespace ts
