// The store reader against files made from the published layout, with undbx (an independent
// extractor of the same files) as a second reader of every sound file.
#include "formats/mail_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/mail_store_maker.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::MailStoreMaker;
using test::sampleMessage;

struct ReadBack {
    std::vector<std::string> messages;
    std::vector<StoreDamage> damages;
    int64_t leftoverBlocks = 0;
};

ReadBack readAll(const std::vector<uint8_t>& bytes) {
    MemoryStream stream(bytes);
    MailStoreFile store(stream, "Inbox.dbx");
    ReadBack back;
    store.forEachRecord([&](const StoreRecord& record) {
        const auto first = record.number(store_layout::kMessageFirstBlock);
        if (!first) return;
        std::string text;
        if (store.readMessage(*first, [&](const uint8_t* data, size_t size) { text.append(data, data + size); }))
            back.messages.push_back(text);
    });
    back.damages = store.damages();
    back.leftoverBlocks = store.countLeftoverBlocks();
    // Counted on the way, in pieces whose ends fall inside headers, the count is the same.
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{0x211}}) {
        LeftoverBlockCounter counter(static_cast<int64_t>(bytes.size()));
        for (size_t at = 0; at < bytes.size(); at += piece)
            counter.add(bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(counter.found(), back.leftoverBlocks) << "in pieces of " << piece;
    }
    return back;
}

// The messages undbx extracts from the file, sorted (it names its files by their headers).
std::vector<std::string> undbxMessages(const MailStoreMaker& maker) {
    test::TempDir dir;
    maker.save(dir.file("Inbox.dbx"));
    const std::string command = "undbx -v 0 '" + dir.file("Inbox.dbx") + "' '" + dir.file("out") + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<std::string> found;
    if (!fs::exists(dir.file("out/Inbox"))) return found;
    for (const auto& entry : fs::directory_iterator(dir.file("out/Inbox"))) {
        if (!entry.is_regular_file()) continue;
        const auto bytes = test::readHostFile(entry.path().string());
        found.emplace_back(bytes.begin(), bytes.end());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string eightBitText() {
    std::string text = sampleMessage("J\xf6rg <joerg@example.de>", "Gr\xfc\xdf" "e", "Mon, 1 Jan 2007 10:00:00 +0100", 3);
    for (int c = 0x80; c <= 0xff; ++c) text.push_back(static_cast<char>(c));
    return text + "\r\nFrom the start of a line\r\n>From quoted\r\n";
}

struct SoundCase {
    const char* name;
    std::vector<std::string> messages;
    int perNode = 51;
    uint32_t blockData = 0x200;
    bool scattered = false;
    int deletedMessages = 0;
};

std::vector<std::string> manyMessages(int count) {
    std::vector<std::string> all;
    for (int i = 0; i < count; ++i)
        all.push_back(sampleMessage("sender" + std::to_string(i) + "@example.org", "Message " + std::to_string(i),
                                    "Tue, 2 Jan 2007 10:00:00 +0000", i % 7));
    return all;
}

TEST(MailStoreTest, ReadsEveryListedMessageByteForByteAsUndbxDoes) {
    const std::string oneBlock = sampleMessage("a@example.org", "short", "Mon, 1 Jan 2007 10:00:00 +0000", 2);
    const std::string exactBlock = oneBlock + std::string(0x200 - oneBlock.size(), 'x');
    const std::string longMessage = sampleMessage("b@example.org", "long", "Mon, 1 Jan 2007 10:00:00 +0000", 9000);
    const SoundCase cases[] = {
        {"one single-block message", {oneBlock}},
        {"a message filling its block exactly", {exactBlock, oneBlock}},
        {"8-bit text", {eightBitText()}},
        {"a long message of many blocks", {longMessage, oneBlock}},
        {"blocks partly filled", {longMessage}, 51, 100},
        {"a chain running backwards", {longMessage, eightBitText()}, 51, 0x200, true},
        {"an index tree several levels deep", manyMessages(300), 3},
        {"leftovers of deleted messages", {oneBlock, longMessage}, 51, 0x200, false, 2},
        {"no messages", {}},
        // Chains, records and leftovers that straddle the reader's window, running backwards.
        {"a store larger than the read window", std::vector<std::string>(24, longMessage), 4, 0x200, true, 12},
    };
    for (const SoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        MailStoreMaker maker;
        std::vector<uint32_t> records;
        int deletedBlocks = 0;
        for (size_t i = 0; i < c.messages.size(); ++i) {
            records.push_back(maker.addMessageRecord(c.messages[i], c.blockData, c.scattered));
            if (static_cast<int>(i) < c.deletedMessages) deletedBlocks += maker.addDeletedMessage(longMessage);
        }
        maker.buildTree(records, c.perNode);
        if (c.perNode == 3) {
            EXPECT_GE(maker.treeDepth(), 4);
        }

        const ReadBack back = readAll(maker.bytes());
        EXPECT_EQ(back.messages, c.messages);
        EXPECT_TRUE(back.damages.empty());
        EXPECT_EQ(back.leftoverBlocks, deletedBlocks);

        std::vector<std::string> sorted = c.messages;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(undbxMessages(maker), sorted);
    }
}

TEST(MailStoreTest, HostileFilesKeepWhatCanBeReachedAndNameTheDamage) {
    const std::string message = sampleMessage("a@example.org", "kept", "Mon, 1 Jan 2007 10:00:00 +0000", 40);
    struct HostileCase {
        const char* name;
        // Spoils a sound file of three messages (tree of one level) and returns the offset
        // the damage must be reported at.
        std::function<uint32_t(MailStoreMaker&, const std::vector<uint32_t>& records)> spoil;
        size_t messagesLeft;
        const char* damage;
    };
    const auto root = [](MailStoreMaker& m) { return m.dwordAt(0xe4); };
    const HostileCase cases[] = {
        {"a node whose child is itself",
         [&](MailStoreMaker& m, auto&) { m.putDword(root(m) + 8, root(m)); return root(m); }, 3, "loop"},
        {"a record pointing past the file",
         [&](MailStoreMaker& m, auto&) { m.putDword(root(m) + 0x18 + 12, 0x7ffffff0); return 0x7ffffff0u; }, 2,
         "outside the file"},
        {"a record that is not where it points",
         [&](MailStoreMaker& m, auto& records) { m.putDword(records[0], 1); return records[0]; }, 2,
         "own offset"},
        {"a record's length past the file",
         [&](MailStoreMaker& m, auto& records) { m.putDword(records[2] + 4, 0xfffffff0); return records[2]; }, 2,
         "length"},
        {"a node listing more entries than fit",
         [&](MailStoreMaker& m, auto&) { m.bytes()[root(m) + 0x11] = 0xff; return root(m); }, 0, "more entries"},
        {"a block chain that loops back",
         [&](MailStoreMaker& m, auto& records) {
             const uint32_t first = m.firstBlockOf(records[1]);
             m.putDword(first + 0x210 + 12, first);
             return 0u;  // either block of the loop may be named
         },
         2, "loops"},
        {"a block length past its room",
         [&](MailStoreMaker& m, auto& records) {
             const uint32_t first = m.firstBlockOf(records[0]);
             m.bytes()[first + 9] = 0x7f;
             return first;
         },
         2, "runs past"},
        {"every record pointing to one long chain (a bomb)",
         [&](MailStoreMaker& m, auto& records) {
             // Sixty copies of one message: together longer than the file.
             std::vector<uint32_t> many(60, records[0]);
             m.buildTree(many);
             return 0u;
         },
         0, "overlap"},
        {"a tree root outside the file",
         [&](MailStoreMaker& m, auto&) { m.putDword(0xe4, 0xfffffff0); return 0xfffffff0u; }, 0, "outside the file"},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        MailStoreMaker maker;
        std::vector<uint32_t> records;
        for (int i = 0; i < 3; ++i) records.push_back(maker.addMessageRecord(message));
        maker.buildTree(records);
        const uint32_t at = c.spoil(maker, records);
        const ReadBack back = readAll(maker.bytes());
        if (std::string(c.damage) != "overlap") {
            EXPECT_EQ(back.messages.size(), c.messagesLeft);
        } else {
            // What was read before the total passed the file stays bounded by the file.
            EXPECT_LE(back.messages.size() * message.size(), maker.bytes().size());
        }
        for (const std::string& text : back.messages) EXPECT_EQ(text, message);
        ASSERT_FALSE(back.damages.empty());
        EXPECT_NE(back.damages[0].what.find(c.damage), std::string::npos) << back.damages[0].what;
        if (at != 0) {
            EXPECT_EQ(back.damages[0].offset, at);
        }
    }
}

TEST(MailStoreTest, RefusesFilesThatAreNoStoreFiles) {
    MailStoreMaker sound;
    std::vector<std::vector<uint8_t>> files = {{}, std::vector<uint8_t>(0x24bc, 0), sound.bytes()};
    files[2][5] ^= 0xff;  // another class id
    std::vector<uint8_t> cut = sound.bytes();
    cut.resize(0x24bb);
    files.push_back(cut);
    for (const auto& bytes : files) {
        MemoryStream stream(bytes);
        try {
            MailStoreFile store(stream, "Sent Items.dbx");
            ADD_FAILURE() << "accepted a file of " << bytes.size() << " bytes";
        } catch (const EStoreFileDamaged& error) {
            EXPECT_NE(std::string(error.what()).find("Sent Items.dbx"), std::string::npos);
        }
    }
}

TEST(MailStoreTest, KindComesFromTheClassId) {
    for (const auto& [classByte, kind] : {std::pair{0xc5, MailStoreFile::Kind::Messages},
                                          std::pair{0xc6, MailStoreFile::Kind::Folders},
                                          std::pair{0xc7, MailStoreFile::Kind::Other}}) {
        MailStoreMaker maker;
        maker.bytes()[4] = static_cast<uint8_t>(classByte);
        MemoryStream stream(maker.bytes());
        EXPECT_EQ(MailStoreFile(stream, "x.dbx").kind(), kind) << classByte;
    }
}

TEST(MailStoreTest, FolderListGivesNamesFilesAndTreePaths) {
    MailStoreMaker list(true);
    const std::vector<uint32_t> records = {
        list.addFolderRecord(1, 0, "Inbox", "Inbox.dbx"),
        list.addFolderRecord(2, 1, "Work", "Work.dbx"),
        list.addFolderRecord(3, 2, "Project \xe9t\xe9", "Project.dbx"),
        list.addFolderRecord(4, 0, "Local Folders", ""),
        list.addFolderRecord(5, 6, "Loop A", "A.dbx"),
        list.addFolderRecord(6, 5, "Loop B", "B.dbx"),
        list.addFolderRecord(7, 99, "Orphan", "Orphan.dbx"),
    };
    list.buildTree(records, 2);
    MemoryStream stream(list.bytes());
    MailStoreFile store(stream, "Folders.dbx");
    EXPECT_EQ(store.kind(), MailStoreFile::Kind::Folders);
    const std::vector<StoreFolder> folders = readStoreFolders(store);
    ASSERT_EQ(folders.size(), 7u);
    EXPECT_EQ(folders[2].fileName, "Project.dbx");
    EXPECT_EQ(folders[3].fileName, "");
    using Path = std::vector<std::string>;
    const std::vector<Path> expected = {{"Inbox"},           {"Inbox", "Work"}, {"Inbox", "Work", "Project \xe9t\xe9"},
                                        {"Local Folders"},   {"Loop B", "Loop A"}, {"Loop A", "Loop B"},
                                        {"Orphan"}};
    EXPECT_EQ(storeFolderPaths(folders), expected);
}

}  // namespace
}  // namespace ts
