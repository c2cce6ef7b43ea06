#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ts
