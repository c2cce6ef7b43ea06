#pragma once
// Writes mail store files from the published layout, independently of the reader: a header
// with the class id of a folder file or of the folder list, records, an index tree of any
// depth, messages in block chains, and the leftovers of deleted messages. Tests make both
// sound and hostile files with it.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ts::test {

class MailStoreMaker {
public:
    struct Field {
        uint8_t id;
        std::variant<uint32_t, std::string> value;  // a number (in place when it fits 24 bits) or text
    };

    explicit MailStoreMaker(bool folderList = false);

    // A message's text in a chain of blocks, each holding up to blockData bytes; returns the
    // first block's offset. The blocks are laid out in order unless scattered, then the
    // chain runs from the end of the file backwards.
    uint32_t addMessage(const std::string& text, uint32_t blockData = 0x200, bool scattered = false);
    // A message as deleting it leaves it: blocks whose own offsets are overwritten and that
    // no record points to. Returns the number of blocks.
    int addDeletedMessage(const std::string& text);
    // A record with these fields; returns its offset.
    uint32_t addRecord(const std::vector<Field>& fields);
    // A message and the record that points to it.
    uint32_t addMessageRecord(const std::string& text, uint32_t blockData = 0x200, bool scattered = false);
    // The first block of the message a record made by addMessageRecord points to.
    uint32_t firstBlockOf(uint32_t record) const { return dwordAt(record + 16) >> 8; }
    // A folder list record.
    uint32_t addFolderRecord(uint32_t id, uint32_t parentId, const std::string& name, const std::string& fileName);

    // The index tree over the records, at most perNode entries a node (2 ..51), so fewer per
    // node make more levels; tree order is the order given. Sets the root and the count.
    void buildTree(const std::vector<uint32_t>& records, int perNode = 51);
    // The number of tree levels the last buildTree made.
    int treeDepth() const { return depth_; }

    std::vector<uint8_t>& bytes() { return bytes_; }
    void putDword(size_t offset, uint32_t value);
    uint32_t dwordAt(size_t offset) const;
    void save(const std::string& hostPath) const;

private:
    uint32_t addNode(const std::vector<uint32_t>& records, size_t begin, size_t end, int perNode, int level);

    std::vector<uint8_t> bytes_;
    int depth_ = 0;
};

// A message text with the headers a mail program writes, and a body of `bodyLines` lines.
std::string sampleMessage(const std::string& from, const std::string& subject, const std::string& date,
                          int bodyLines, const std::string& line = "The quick brown fox jumps over the lazy dog.");

}  // namespace ts::test
