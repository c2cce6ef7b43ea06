#pragma once
// The mail program's store files: one file per mail folder holding its messages, and the
// folder list naming those files. Each begins with a fixed header whose class id says which
// of the two it is, and lists its records in an index tree; a message's text lies in a
// chain of blocks. Everything is read where it lies, through a fixed window, so memory does
// not grow with the file.
//
// Every count and offset is checked against the file before it is followed, and every object
// must carry its own offset as its first word. A node, record or chain that fails a check is
// passed over and noted with its offset (damages()); what can still be reached is read.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/window_reader.h"
#include "platform/exception.h"

namespace ts {

// A file that is no store file at all, or that cannot be read: names the file.
class EStoreFileDamaged : public TsException {
public:
    EStoreFileDamaged(const std::string& file, const std::string& what) : TsException(file + ": " + what) {}
};

struct StoreDamage {
    int64_t offset = 0;
    std::string what;
};

namespace store_layout {
constexpr int64_t kHeaderSize = 0x24bc;
constexpr int64_t kRecordCountAt = 0xc4;
constexpr int64_t kTreeRootAt = 0xe4;
constexpr int64_t kNodeSize = 0x27c;
constexpr int kNodeEntries = 0x33;
constexpr int64_t kRecordHeaderSize = 12;
constexpr int64_t kBlockHeaderSize = 16;
constexpr uint32_t kBlockDataSize = 0x200;
constexpr uint32_t kMagic = 0xfe12adcf;
constexpr uint32_t kMessagesClass = 0x6f74fdc5;  // first word of the class id
constexpr uint32_t kFoldersClass = 0x6f74fdc6;
constexpr uint8_t kClassIdTail[12] = {0x66, 0xe3, 0xd1, 0x11, 0x9a, 0x4e, 0x00, 0xc0, 0x4f, 0xa3, 0x09, 0xd4};
constexpr uint8_t kFieldInPlace = 0x80;  // the field's value is the entry's own 24 bits

// Fields of a message record and of a folder record.
constexpr uint8_t kMessageFirstBlock = 0x04;
constexpr uint8_t kFolderId = 0x00;
constexpr uint8_t kFolderParentId = 0x01;
constexpr uint8_t kFolderName = 0x02;
constexpr uint8_t kFolderFileName = 0x03;
}  // namespace store_layout

// Counts the blocks deleted messages left behind (see MailStoreFile::countLeftoverBlocks)
// in a store file's bytes handed over in order from its start, so that a file streaming by
// is counted on its way without a second pass.
class LeftoverBlockCounter {
public:
    explicit LeftoverBlockCounter(int64_t fileSize) : size_(fileSize) {}

    void add(const uint8_t* data, size_t length);
    int64_t found() const { return found_; }

private:
    // Looks at the 16 bytes at next_ and steps past what they begin.
    void examine(const uint8_t* head);

    int64_t size_;
    int64_t added_ = 0;
    int64_t next_ = store_layout::kHeaderSize;
    // The last bytes added, for a header that begins in one piece and ends in the next.
    static constexpr size_t kTail = store_layout::kBlockHeaderSize - 1;
    uint8_t tail_[kTail] = {};
    size_t tailLength_ = 0;
    int64_t found_ = 0;
};

// One record of the index tree: numbered fields, each a value in place or bytes in the
// record's data area.
class StoreRecord {
public:
    StoreRecord(int64_t offset, std::vector<uint8_t> body, int fieldCount);

    int64_t offset() const { return offset_; }
    std::optional<uint32_t> number(uint8_t field) const;
    // The text up to its terminating zero; no value when it runs past the record.
    std::optional<std::string> text(uint8_t field) const;

private:
    // The field's entry: in place, and its 24-bit value.
    std::optional<std::pair<bool, uint32_t>> entry(uint8_t field) const;

    int64_t offset_;
    std::vector<uint8_t> body_;
    int fieldCount_;
};

class MailStoreFile {
public:
    // Other: a store file of the same family holding neither (the program keeps its
    // download records and offline state in such files).
    enum class Kind { Messages, Folders, Other };
    // The longest record body read; real ones hold a few names and a few hundred bytes.
    static constexpr uint32_t kMaxRecordBody = 1 << 16;
    // The most damages kept with their offset; the rest are only counted.
    static constexpr size_t kMaxDamagesKept = 100;

    // Reads and checks the header; throws EStoreFileDamaged naming `name` when it is not a
    // store file.
    MailStoreFile(Stream& file, std::string name);

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    int64_t size() const { return reader_.size(); }

    // Visits the records the index tree lists, in tree order. A node or record that fails
    // its checks is passed over (with everything below it) and noted.
    void forEachRecord(const std::function<void(const StoreRecord&)>& visit);

    // Hands the text of the message whose chain starts at firstBlock to `write` piece by
    // piece. The whole chain is checked first, so a damaged message writes nothing: then
    // it is noted and false returned.
    bool readMessage(int64_t firstBlock, const std::function<void(const uint8_t*, size_t)>& write);

    // Blocks that look like message blocks but no longer carry their own offset: what
    // deleted messages left behind. Reads the whole file once.
    int64_t countLeftoverBlocks();

    const std::vector<StoreDamage>& damages() const { return damages_; }
    int64_t damageCount() const { return damageCount_; }

private:
    void noteDamage(int64_t offset, const std::string& what);
    std::optional<StoreRecord> readRecord(int64_t offset);
    // Whether the chain is sound; notes the damage when not.
    bool checkChain(int64_t firstBlock);

    WindowReader reader_;
    std::string name_;
    Kind kind_ = Kind::Messages;
    std::vector<StoreDamage> damages_;
    int64_t damageCount_ = 0;
    int64_t messageBytes_ = 0;
};

// A folder of the folder list: its number, its parent's, its own name and the name of the
// store file holding its messages (empty for folders that hold none, like the root).
struct StoreFolder {
    uint32_t id = 0;
    uint32_t parentId = 0;
    std::string name;
    std::string fileName;
};

// The folders the folder list file lists, in tree order.
std::vector<StoreFolder> readStoreFolders(MailStoreFile& list);

// For each folder, the names from the top folder down to it (itself last). A parent chain
// that loops or names a missing folder ends there.
std::vector<std::vector<std::string>> storeFolderPaths(const std::vector<StoreFolder>& folders);

}  // namespace ts
