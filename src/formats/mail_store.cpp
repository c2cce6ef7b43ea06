#include "formats/mail_store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace ts {

using namespace store_layout;

StoreRecord::StoreRecord(int64_t offset, std::vector<uint8_t> body, int fieldCount)
    : offset_(offset), body_(std::move(body)), fieldCount_(fieldCount) {}

std::optional<std::pair<bool, uint32_t>> StoreRecord::entry(uint8_t field) const {
    for (int i = 0; i < fieldCount_; ++i) {
        const uint8_t* p = body_.data() + 4 * i;
        if ((p[0] & ~kFieldInPlace) != field) continue;
        const uint32_t value = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                               static_cast<uint32_t>(p[3]) << 16;
        return std::make_pair((p[0] & kFieldInPlace) != 0, value);
    }
    return std::nullopt;
}

std::optional<uint32_t> StoreRecord::number(uint8_t field) const {
    const auto found = entry(field);
    if (!found) return std::nullopt;
    if (found->first) return found->second;
    const size_t at = 4 * static_cast<size_t>(fieldCount_) + found->second;
    if (at > body_.size() || body_.size() - at < 4) return std::nullopt;
    return littleEndian32(body_.data() + at);
}

std::optional<std::string> StoreRecord::text(uint8_t field) const {
    const auto found = entry(field);
    if (!found || found->first) return std::nullopt;
    const size_t at = 4 * static_cast<size_t>(fieldCount_) + found->second;
    if (at >= body_.size()) return std::nullopt;
    const auto begin = body_.begin() + static_cast<std::ptrdiff_t>(at);
    const auto end = std::find(begin, body_.end(), uint8_t{0});
    if (end == body_.end()) return std::nullopt;
    return std::string(begin, end);
}

MailStoreFile::MailStoreFile(Stream& file, std::string name) : reader_(file), name_(std::move(name)) {
    if (!reader_.holds(0, kHeaderSize)) throw EStoreFileDamaged(name_, "too short for a mail store file");
    const uint8_t* header = reader_.at(0, 20);
    const uint32_t classWord = littleEndian32(header + 4);
    if (littleEndian32(header) != kMagic || std::memcmp(header + 8, kClassIdTail, sizeof kClassIdTail) != 0 ||
        (classWord & ~0xfu) != (kMessagesClass & ~0xfu))
        throw EStoreFileDamaged(name_, "not a mail store file (its header is not one)");
    kind_ = classWord == kMessagesClass ? Kind::Messages : classWord == kFoldersClass ? Kind::Folders : Kind::Other;
}

void MailStoreFile::noteDamage(int64_t offset, const std::string& what) {
    ++damageCount_;
    if (damages_.size() < kMaxDamagesKept) damages_.push_back(StoreDamage{offset, what});
}

std::optional<StoreRecord> MailStoreFile::readRecord(int64_t offset) {
    if (!reader_.holds(offset, kRecordHeaderSize) || offset < kHeaderSize) {
        noteDamage(offset, "a record lies outside the file");
        return std::nullopt;
    }
    const uint8_t* head = reader_.at(offset, kRecordHeaderSize);
    const uint32_t bodyLength = littleEndian32(head + 4);
    const int fieldCount = head[10];
    if (littleEndian32(head) != offset) {
        noteDamage(offset, "a record does not carry its own offset");
        return std::nullopt;
    }
    if (bodyLength > kMaxRecordBody || !reader_.holds(offset + kRecordHeaderSize, bodyLength) ||
        4u * fieldCount > bodyLength) {
        noteDamage(offset, "a record's length runs past the file or its fields");
        return std::nullopt;
    }
    const uint8_t* body = reader_.at(offset + kRecordHeaderSize, bodyLength);
    return StoreRecord(offset, std::vector<uint8_t>(body, body + bodyLength), fieldCount);
}

void MailStoreFile::forEachRecord(const std::function<void(const StoreRecord&)>& visit) {
    const int64_t root = reader_.dword(kTreeRootAt);
    if (root == 0) return;
    // A sound tree reaches each node once; a node met again is a loop or a shared branch.
    std::unordered_set<int64_t> seen;
    const size_t mostNodes = static_cast<size_t>(reader_.size() / kNodeSize);
    // A node's bytes are kept while its entries are visited: the records and messages read
    // meanwhile lie elsewhere in the file, and the window follows them.
    struct Place {
        int nextEntry;  // -1: the node's own first child comes next
        int entries;
        std::array<uint8_t, kNodeSize> bytes;
    };
    std::vector<Place> path;
    // Enters a node; false (noted) when it fails its checks.
    const auto enter = [&](int64_t node) {
        if (!reader_.holds(node, kNodeSize) || node < kHeaderSize) {
            noteDamage(node, "an index node lies outside the file");
            return false;
        }
        const uint8_t* p = reader_.at(node, kNodeSize);
        if (littleEndian32(p) != node) {
            noteDamage(node, "an index node does not carry its own offset");
            return false;
        }
        if (p[0x11] > kNodeEntries) {
            noteDamage(node, "an index node lists more entries than it holds");
            return false;
        }
        if (seen.size() >= mostNodes || !seen.insert(node).second) {
            noteDamage(node, "the index tree reaches this node twice (a loop)");
            return false;
        }
        path.push_back(Place{-1, p[0x11], {}});
        std::copy(p, p + kNodeSize, path.back().bytes.begin());
        return true;
    };
    enter(root);
    while (!path.empty()) {
        Place& place = path.back();
        if (place.nextEntry >= place.entries) {
            path.pop_back();
            continue;
        }
        const int index = place.nextEntry++;
        if (index < 0) {
            const int64_t child = littleEndian32(place.bytes.data() + 0x08);
            if (child != 0) enter(child);
            continue;
        }
        const uint8_t* entry = place.bytes.data() + 0x18 + 12 * index;
        const int64_t value = littleEndian32(entry);
        const int64_t child = littleEndian32(entry + 4);
        // enter() may move the path: nothing of place is used after it.
        if (auto record = readRecord(value)) visit(*record);
        if (child != 0) enter(child);
    }
}

bool MailStoreFile::checkChain(int64_t firstBlock) {
    // Brent's cycle check: a loop is found within twice its length plus its lead-in, and
    // the walk holds two offsets, however long the chain.
    int64_t bytes = 0;
    int64_t mark = firstBlock;
    int64_t power = 1, sinceMark = 0;
    for (int64_t block = firstBlock; block != 0;) {
        if (block < kHeaderSize || !reader_.holds(block, kBlockHeaderSize)) {
            noteDamage(block, "a message block lies outside the file");
            return false;
        }
        const uint8_t* head = reader_.at(block, kBlockHeaderSize);
        const uint32_t room = littleEndian32(head + 4);
        const uint16_t used = littleEndian16(head + 8);
        if (littleEndian32(head) != block) {
            noteDamage(block, "a message block does not carry its own offset");
            return false;
        }
        if (used > room || !reader_.holds(block + kBlockHeaderSize, used)) {
            noteDamage(block, "a message block's length runs past its room or the file");
            return false;
        }
        bytes += used;
        // Sound messages never share blocks, so all of them together hold less than the file.
        if (messageBytes_ + bytes > reader_.size()) {
            noteDamage(block, "message blocks overlap: the messages would be longer than the file");
            return false;
        }
        block = littleEndian32(head + 12);
        if (block == mark) {
            noteDamage(block, "a message's block chain loops");
            return false;
        }
        if (++sinceMark == power) {
            mark = block;
            power *= 2;
            sinceMark = 0;
        }
    }
    return true;
}

bool MailStoreFile::readMessage(int64_t firstBlock, const std::function<void(const uint8_t*, size_t)>& write) {
    if (!checkChain(firstBlock)) return false;
    for (int64_t block = firstBlock; block != 0;) {
        const uint8_t* head = reader_.at(block, kBlockHeaderSize);
        const uint16_t used = littleEndian16(head + 8);
        const int64_t next = littleEndian32(head + 12);
        write(reader_.at(block + kBlockHeaderSize, used), used);
        messageBytes_ += used;
        block = next;
    }
    return true;
}

void LeftoverBlockCounter::examine(const uint8_t* head) {
    // A block of a deleted message keeps its room, length and next offset; its own offset
    // is overwritten, so it is known by the rest of its header. Live objects carry their own
    // offset and are passed over whole, so that words inside them are not taken for blocks.
    const uint32_t second = littleEndian32(head + 4);
    const bool live = littleEndian32(head) == next_;
    const uint32_t next = littleEndian32(head + 12);
    if (second == kBlockDataSize && littleEndian16(head + 8) <= kBlockDataSize &&
        (next == 0 || (next >= kHeaderSize && next < size_))) {
        if (!live) ++found_;
        next_ += kBlockHeaderSize + kBlockDataSize;
    } else if (live && second == 0) {
        next_ += kNodeSize;
    } else if (live && second <= MailStoreFile::kMaxRecordBody) {
        next_ += kRecordHeaderSize + ((second + 3) & ~3u);
    } else {
        next_ += 4;
    }
}

void LeftoverBlockCounter::add(const uint8_t* data, size_t length) {
    const int64_t start = added_;
    const int64_t end = added_ + static_cast<int64_t>(length);
    added_ = end;
    // The last step ended inside the bytes before: next_ lies less than a header before start.
    while (next_ < start && next_ + kBlockHeaderSize <= end) {
        uint8_t head[kBlockHeaderSize];
        const size_t before = static_cast<size_t>(start - next_);
        std::memcpy(head, tail_ + (tailLength_ - before), before);
        std::memcpy(head + before, data, sizeof head - before);
        examine(head);
    }
    while (next_ >= start && next_ + kBlockHeaderSize <= end) examine(data + (next_ - start));
    if (length >= kTail) {
        std::memcpy(tail_, data + length - kTail, kTail);
        tailLength_ = kTail;
    } else {
        const size_t kept = std::min(tailLength_, kTail - length);
        std::memmove(tail_, tail_ + tailLength_ - kept, kept);
        std::memcpy(tail_ + kept, data, length);
        tailLength_ = kept + length;
    }
}

int64_t MailStoreFile::countLeftoverBlocks() {
    LeftoverBlockCounter counter(reader_.size());
    for (int64_t start = 0; start < reader_.size(); start += WindowReader::kWindowSize) {
        const int64_t length = std::min(WindowReader::kWindowSize, reader_.size() - start);
        counter.add(reader_.at(start, length), static_cast<size_t>(length));
    }
    return counter.found();
}

std::vector<StoreFolder> readStoreFolders(MailStoreFile& list) {
    std::vector<StoreFolder> folders;
    list.forEachRecord([&](const StoreRecord& record) {
        const auto id = record.number(kFolderId);
        if (!id) return;
        folders.push_back(StoreFolder{*id, record.number(kFolderParentId).value_or(0),
                                      record.text(kFolderName).value_or(""), record.text(kFolderFileName).value_or("")});
    });
    return folders;
}

std::vector<std::vector<std::string>> storeFolderPaths(const std::vector<StoreFolder>& folders) {
    std::unordered_map<uint32_t, const StoreFolder*> byId;
    for (const StoreFolder& folder : folders) byId.emplace(folder.id, &folder);
    std::vector<std::vector<std::string>> paths;
    paths.reserve(folders.size());
    for (const StoreFolder& own : folders) {
        std::vector<std::string> names;
        std::unordered_set<uint32_t> met;
        // Number 0 is the top: folders directly below it have it as their parent.
        for (const StoreFolder* folder = &own; folder && met.insert(folder->id).second;) {
            names.push_back(folder->name);
            const auto parent = folder->parentId != 0 ? byId.find(folder->parentId) : byId.end();
            folder = parent != byId.end() ? parent->second : nullptr;
        }
        std::reverse(names.begin(), names.end());
        paths.push_back(std::move(names));
    }
    return paths;
}

}  // namespace ts
