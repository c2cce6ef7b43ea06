// File records and file list blocks in temporary Wine-layout profiles: the record's bytes,
// plain and encrypted blocks, restoring for another user, names that must not be restored,
// and restores that fail halfway.
#include "items/capture/file_list_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "part/bp_object.h"
#include "part/section_codec.h"
#include "items/capture/backup_file_item.h"
#include "items/capture/inventory_sink.h"
#include "items/capture/profile_restore_sink.h"
#include "platform/exception.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::WineProfile;

// A codec for file records: a fixed non-ASCII pass phrase.
SectionCodec makeCodec(bool encrypt) { return SectionCodec(encrypt, "s\xC3\xA9same"); }

// A file record built by hand: name field, size, contents.
Bytes record(std::string_view name, std::string_view contents, int64_t size = -1) {
    Bytes bytes(264, 0);
    std::memcpy(bytes.data(), name.data(), std::min<size_t>(name.size(), 256));
    if (size < 0) size = static_cast<int64_t>(contents.size());
    std::memcpy(bytes.data() + 256, &size, 8);
    bytes.insert(bytes.end(), contents.begin(), contents.end());
    return bytes;
}

// A plain file list block of the given records, each section padded with `junk` bytes.
Bytes plainBlock(const std::vector<Bytes>& records, size_t junk = 0) {
    Bytes block(4);
    const auto count = static_cast<int32_t>(records.size());
    std::memcpy(block.data(), &count, 4);
    for (const auto& r : records) {
        const auto length = static_cast<int64_t>(r.size() + junk);
        block.insert(block.end(), reinterpret_cast<const uint8_t*>(&length), reinterpret_cast<const uint8_t*>(&length) + 8);
        block.insert(block.end(), r.begin(), r.end());
        block.insert(block.end(), junk, 0xEE);
    }
    return block;
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

const std::string kRoaming = "C:\\users\\alice\\AppData\\Roaming";

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }

    Bytes captureRecord(const std::string& realPath) {
        TtsBackupFileItem item(*profile);
        item.SetFileName(realPath);
        MemoryStream out;
        const int32_t written = item.WriteToStream(out);
        EXPECT_EQ(written, out.size());
        return out.takeBytes();
    }
    FileListReadResult restore(const Bytes& block, RestoreSink& sink, bool encrypt = false) {
        const SectionCodec codec = makeCodec(encrypt);
        MemoryStream in(block);
        auto result = ReadFileListBlock(codec, *profile, in, sink);
        EXPECT_EQ(result.bytesRead, in.position());
        return result;
    }
    std::vector<std::string> filesIn(const std::string& hostFolder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(hostFolder)) names.push_back(entry.path().filename().string());
        return names;
    }

    WineProfile wine;
    std::unique_ptr<Profile> profile = wine.open();
};

TEST_F(FileListTest, ARecordIsThePlaceholderNameItsSizeAndTheContents) {
    wine.writeFile(kRoaming + "\\Microsoft\\Address Book\\alice.wab", "abc");
    const Bytes bytes = captureRecord(kRoaming + "\\Microsoft\\Address Book\\alice.wab");
    EXPECT_EQ(bytes, record("[CSIDL_APPDATA]\\Microsoft\\Address Book\\alice.wab", "abc"));
}

TEST_F(FileListTest, AnEmptyFileIs264BytesAndIsRestoredEmpty) {
    wine.writeFile(kRoaming + "\\empty.txt", "");
    EXPECT_EQ(captureRecord(kRoaming + "\\empty.txt"), record("[CSIDL_APPDATA]\\empty.txt", ""));
    fs::remove(wine.hostOf(kRoaming + "\\empty.txt"));

    DirectProfileSink sink(*profile);
    restore(plainBlock({record("[CSIDL_APPDATA]\\empty.txt", "")}), sink);
    EXPECT_TRUE(fs::exists(wine.hostOf(kRoaming + "\\empty.txt")));
    EXPECT_EQ(fs::file_size(wine.hostOf(kRoaming + "\\empty.txt")), 0u);
}

// The stored names a sink refused, in the order met.
std::vector<std::string> refusedNames(const ProfileRestoreSink& sink) {
    std::vector<std::string> names;
    for (const auto& refused : sink.refused()) names.push_back(refused.first);
    return names;
}

TEST_F(FileListTest, AnUnreadableFileIsTheErrorRecordAndRestoresNothing) {
    const Bytes missing = captureRecord(kRoaming + "\\gone.dbx");
    const Bytes folder = captureRecord(kRoaming);
    EXPECT_EQ(missing, record("<file error>", ""));
    EXPECT_EQ(folder, missing);

    DirectProfileSink sink(*profile);
    auto result = restore(plainBlock({missing}), sink);
    EXPECT_EQ(result.bytesRead, 4 + 8 + 264);
    EXPECT_TRUE(sink.refused().empty()) << "the error record is no name that was refused";
    EXPECT_FALSE(fs::exists(wine.hostOf(kRoaming)));
}

TEST_F(FileListTest, ANameTooLongForItsFieldIsSavedAsTheErrorRecord) {
    const std::string path = kRoaming + "\\" + std::string(250, 'n');
    wine.writeFile(path, "data");
    EXPECT_EQ(captureRecord(path), record("<file error>", ""));
    const std::string fits = kRoaming + "\\" + std::string(255 - 16, 'n');  // "[CSIDL_APPDATA]\" is 16
    wine.writeFile(fits, "data");
    EXPECT_EQ(captureRecord(fits), record("[CSIDL_APPDATA]\\" + std::string(239, 'n'), "data"));
}

TEST_F(FileListTest, AWindowsXpLocalAppDataFileIsRestoredForAnotherUserCreatingItsFolders) {
    WineProfile xp({.userName = "bob", .windowsXpFolders = true});
    auto bobs = xp.open();
    const std::string inbox = "C:\\users\\bob\\Local Settings\\Application Data\\Identities\\{1234}"
                              "\\Microsoft\\Outlook Express\\Inbox.dbx";
    xp.writeFile(inbox, "mail");
    const SectionCodec codec = makeCodec(true);
    MemoryStream block;
    std::vector<std::string> stored;
    WriteFileListBlock(codec, *bobs, {inbox}, block, [&](const TtsBackupFileItem& file) {
        stored.push_back(file.FileName());
    });
    EXPECT_EQ(stored, std::vector<std::string>{inbox});

    DirectProfileSink sink(*profile);
    std::vector<std::string> written;
    block.rewind();
    const SectionCodec restoreCodec = makeCodec(true);
    ReadFileListBlock(restoreCodec, *profile, block, sink, [&](const TtsBackupFileItem& file) {
        written.push_back(file.FileName());
    });
    const std::string target =
        "C:\\users\\alice\\AppData\\Local\\Identities\\{1234}\\Microsoft\\Outlook Express\\Inbox.dbx";
    EXPECT_EQ(written, std::vector<std::string>{target});
    EXPECT_EQ(text(test::readHostFile(wine.hostOf(target))), "mail");

    InventorySink inventory;
    block.rewind();
    ReadFileListBlock(restoreCodec, *profile, block, inventory);
    ASSERT_EQ(inventory.files().size(), 1u);
    EXPECT_EQ(inventory.files()[0].storedName,
              "[CSIDL_LOCAL_APPDATA]\\Identities\\{1234}\\Microsoft\\Outlook Express\\Inbox.dbx");
}

TEST_F(FileListTest, RestoringOverALargerFileLeavesExactlyTheRecordedBytes) {
    wine.writeFile(kRoaming + "\\f.txt", std::string(10000, 'o'));
    DirectProfileSink sink(*profile);
    restore(plainBlock({record("[CSIDL_APPDATA]\\f.txt", "new")}), sink);
    EXPECT_EQ(text(test::readHostFile(wine.hostOf(kRoaming + "\\f.txt"))), "new");
    EXPECT_EQ(filesIn(wine.hostOf(kRoaming)), std::vector<std::string>{"f.txt"});
}

// Sizes around the cipher's block and the reader's chunk boundaries.
class FileListRoundTripTest : public FileListTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FileListRoundTripTest, EveryFileComesBackByteForByte) {
    const bool encrypt = GetParam();
    const std::vector<size_t> sizes = {0, 1, 7, 8, 9, 247, 248, 65536 - 264, 65536 * 2 + 5, 700001};
    std::vector<std::string> paths;
    for (size_t i = 0; i < sizes.size(); ++i) {
        paths.push_back(kRoaming + "\\Data\\file" + std::to_string(i) + ".bin");
        const Bytes contents = test::randomBytes(sizes[i], static_cast<uint32_t>(i + 1));
        wine.writeFile(paths.back(), text(contents));
    }
    paths.push_back(paths[3]);  // duplicates are kept

    const SectionCodec codec = makeCodec(encrypt);
    MemoryStream block;
    const int64_t written = WriteFileListBlock(codec, *profile, paths, block);
    EXPECT_EQ(written, block.size());

    // Each section is what the codec's own section reader decodes to the file's record.
    block.rewind();
    EXPECT_EQ(block.readValue<int32_t>(), static_cast<int32_t>(paths.size()));
    for (const auto& path : paths) {
        MemoryStream plain;
        codec.ReadSection(block, plain);
        EXPECT_EQ(plain.bytes(), captureRecord(path)) << path;
    }

    const std::string savedFolder = wine.hostOf(kRoaming + "\\Data");
    const std::string original = savedFolder + ".orig";
    fs::rename(savedFolder, original);
    DirectProfileSink sink(*profile);
    auto result = restore(block.bytes(), sink, encrypt);
    EXPECT_EQ(result.bytesRead, written);
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string name = "/file" + std::to_string(i) + ".bin";
        EXPECT_EQ(test::readHostFile(savedFolder + name), test::readHostFile(original + name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, FileListRoundTripTest, ::testing::Bool());

TEST_F(FileListTest, BytesOfASectionTheRecordDoesNotUseAreDropped) {
    DirectProfileSink sink(*profile);
    restore(plainBlock({record("<file error>", "ignored"), record("[CSIDL_APPDATA]\\a.txt", "A"),
                        record("[CSIDL_APPDATA]\\b.txt", "B")},
                       13),
            sink);
    EXPECT_EQ(text(test::readHostFile(wine.hostOf(kRoaming + "\\a.txt"))), "A");
    EXPECT_EQ(text(test::readHostFile(wine.hostOf(kRoaming + "\\b.txt"))), "B");
}

TEST_F(FileListTest, NamesOutsideTheSpecialFoldersAreSkippedAndTheNextRecordStillRestores) {
    const std::vector<std::string> unsafe = {
        "[CSIDL_APPDATA]\\..\\..\\..\\.bashrc",
        "[CSIDL_APPDATA]\\sub\\.\\x.txt",
        "[CSIDL_APPDATA]\\\\x.txt",
        "[CSIDL_APPDATA]\\a\\C:\\x.txt",
        "[CSIDL_APPDATA]\\a\\[CSIDL_LOCAL_APPDATA]\\x.txt",
        "[CSIDL_APPDATA]/../x.txt",
        "[CSIDL_APPDATA]",
        "C:\\users\\alice\\AppData\\Roaming\\absolute.txt",
        "D:\\other-drive.txt",
        "[CSIDL_UNKNOWN]\\x.txt",
        "[CSIDL_CONTROLS]\\x.txt",
        "notes.txt",  // no folder at all: only its name field is read
    };
    std::vector<Bytes> records;
    for (const auto& name : unsafe) records.push_back(record(name, "evil"));
    records.push_back(record("[CSIDL_APPDATA]\\good.txt", "good"));

    DirectProfileSink sink(*profile);
    restore(plainBlock(records), sink);
    EXPECT_EQ(refusedNames(sink), unsafe);
    EXPECT_EQ(filesIn(wine.hostOf(kRoaming)), std::vector<std::string>{"good.txt"});
    EXPECT_FALSE(fs::exists(wine.hostOf("C:\\users\\.bashrc")));
    EXPECT_FALSE(fs::exists(wine.driveC() + "/other-drive.txt"));
    int logged = 0;
    for (const auto& line : DebugLog::instance().lines()) logged += line.find("skipped the saved file") != std::string::npos;
    EXPECT_EQ(logged, static_cast<int>(unsafe.size()));

    InventorySink inventory;
    restore(plainBlock(records), inventory);
    ASSERT_EQ(inventory.files().size(), records.size());
    EXPECT_TRUE(inventory.files()[0].skipped);
    EXPECT_EQ(inventory.files()[0].storedName, unsafe[0]);
    EXPECT_EQ(inventory.files()[0].refusedReason, "it holds a \".\" or \"..\" segment");
    for (size_t i = 0; i < unsafe.size(); ++i) EXPECT_FALSE(inventory.files()[i].refusedReason.empty()) << unsafe[i];
    EXPECT_FALSE(inventory.files().back().skipped);
    EXPECT_TRUE(inventory.files().back().refusedReason.empty());
}

TEST_F(FileListTest, ARecordOutsideABlockHasItsSkippedContentsReadPast) {
    Bytes stream = record("[CSIDL_APPDATA]\\..\\escape.txt", "12345");
    const Bytes good = record("[CSIDL_APPDATA]\\next.txt", "next");
    stream.insert(stream.end(), good.begin(), good.end());
    MemoryStream in(stream);
    TtsBackupFileItem item(*profile);
    EXPECT_EQ(item.ReadFromStream(in), 264 + 5);
    EXPECT_EQ(item.ReadFromStream(in), 264 + 4);
    EXPECT_EQ(text(test::readHostFile(wine.hostOf(kRoaming + "\\next.txt"))), "next");
}

TEST_F(FileListTest, ARestoreThatFailsHalfwayKeepsTheOldFileAndLeavesNoTemporaryFile) {
    wine.writeFile(kRoaming + "\\mail.dbx", "old contents");
    Bytes cut = record("[CSIDL_APPDATA]\\mail.dbx", std::string(100, 'n'), 100000);
    Bytes block = plainBlock({cut});
    DirectProfileSink sink(*profile);
    EXPECT_THROW(restore(block, sink), EReadError) << "the record is shorter than it says";

    // The section claims more than the stream holds: refused before anything is written.
    std::memcpy(block.data() + 4, "\xFF\xFF\xFF\x00\x00\x00\x00\x00", 8);
    EXPECT_THROW(restore(block, sink), ECipherException);

    // The data ends inside the contents, after writing has begun.
    class FailingStream : public MemoryStream {
    public:
        using MemoryStream::MemoryStream;
        int64_t read(void* buffer, int64_t count) override {
            if (position() > 264 + 3000) throw EReadError();
            return MemoryStream::read(buffer, std::min<int64_t>(count, 1000));
        }
    };
    FailingStream failing(record("[CSIDL_APPDATA]\\mail.dbx", std::string(5000, 'n')));
    TtsBackupFileItem item(*profile);
    EXPECT_THROW(item.ReadFromStream(failing), EReadError);

    EXPECT_EQ(text(test::readHostFile(wine.hostOf(kRoaming + "\\mail.dbx"))), "old contents");
    EXPECT_EQ(filesIn(wine.hostOf(kRoaming)), std::vector<std::string>{"mail.dbx"});
}

TEST_F(FileListTest, AFileThatCannotBeCreatedRaisesTheCreateErrorNamingTheWindowsPath) {
    wine.writeFile(kRoaming + "\\blocker", "a file where a folder should be");
    DirectProfileSink sink(*profile);
    try {
        restore(plainBlock({record("[CSIDL_APPDATA]\\blocker\\x.txt", "x")}), sink);
        FAIL() << "no error";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + kRoaming + "\\blocker\\x.txt\". ", 0), 0u)
            << error.what();
    }
}

TEST_F(FileListTest, AFileChangingSizeWhileCapturedKeepsTheAnnouncedSize) {
    const std::string path = kRoaming + "\\growing.log";
    wine.writeFile(path, "0123456789");
    TtsBackupFileItem item(*profile);
    item.SetFileName(path);

    auto shrinking = item.OpenRecord();
    fs::resize_file(wine.hostOf(path), 4);
    MemoryStream out;
    out.copyFrom(*shrinking, shrinking->size());
    EXPECT_EQ(out.bytes(), record("[CSIDL_APPDATA]\\growing.log", std::string("0123") + std::string(6, '\0')));
    // Saved zero-filled, so the run must be able to say so.
    EXPECT_NE(shrinking->changeWhileRead().find("shrank"), std::string::npos) << shrinking->changeWhileRead();

    wine.writeFile(path, "0123");
    auto growing = item.OpenRecord();
    wine.writeFile(path, "0123456789");
    MemoryStream grown;
    grown.copyFrom(*growing, growing->size());
    EXPECT_EQ(grown.bytes(), record("[CSIDL_APPDATA]\\growing.log", "0123"));
    EXPECT_NE(growing->changeWhileRead().find("grew"), std::string::npos) << growing->changeWhileRead();

    wine.writeFile(path, "0123");
    auto steady = item.OpenRecord();
    MemoryStream same;
    same.copyFrom(*steady, steady->size());
    EXPECT_EQ(steady->changeWhileRead(), "");

    int logged = 0;
    for (const auto& line : DebugLog::instance().lines()) logged += line.find("growing.log") != std::string::npos;
    EXPECT_EQ(logged, 2);
}

TEST_F(FileListTest, ANegativeFileCountIsRefused) {
    Bytes block(4, 0xFF);
    InventorySink inventory;
    EXPECT_THROW(restore(block, inventory), TsException);
}

}  // namespace
}  // namespace ts
