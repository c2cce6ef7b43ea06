#include "support/mail_store_maker.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace ts::test {

namespace {
constexpr size_t kHeaderSize = 0x24bc;
constexpr size_t kNodeSize = 0x27c;

void appendDword(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

MailStoreMaker::MailStoreMaker(bool folderList) : bytes_(kHeaderSize, 0) {
    const uint8_t id[20] = {0xcf, 0xad, 0x12, 0xfe, static_cast<uint8_t>(folderList ? 0xc6 : 0xc5), 0xfd, 0x74, 0x6f,
                            0x66, 0xe3, 0xd1, 0x11, 0x9a, 0x4e, 0x00, 0xc0, 0x4f, 0xa3, 0x09, 0xd4};
    std::copy(std::begin(id), std::end(id), bytes_.begin());
}

void MailStoreMaker::putDword(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t MailStoreMaker::dwordAt(size_t offset) const {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes_.at(offset + i);
    return value;
}

uint32_t MailStoreMaker::addMessage(const std::string& text, uint32_t blockData, bool scattered) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < text.size() || pieces.empty(); at += blockData) pieces.push_back(text.substr(at, blockData));
    std::vector<uint32_t> offsets(pieces.size());
    // Scattered: the last piece is written first, so every link points backwards.
    for (size_t n = 0; n < pieces.size(); ++n) {
        const size_t i = scattered ? pieces.size() - 1 - n : n;
        offsets[i] = static_cast<uint32_t>(bytes_.size());
        appendDword(bytes_, offsets[i]);
        appendDword(bytes_, 0x200);
        bytes_.push_back(static_cast<uint8_t>(pieces[i].size()));
        bytes_.push_back(static_cast<uint8_t>(pieces[i].size() >> 8));
        bytes_.push_back(0);
        bytes_.push_back(0);
        appendDword(bytes_, 0);  // next, set below
        bytes_.insert(bytes_.end(), pieces[i].begin(), pieces[i].end());
        bytes_.resize(bytes_.size() + (0x200 - std::min<size_t>(pieces[i].size(), 0x200)), 0);
    }
    for (size_t i = 0; i + 1 < offsets.size(); ++i) putDword(offsets[i] + 12, offsets[i + 1]);
    return offsets[0];
}

int MailStoreMaker::addDeletedMessage(const std::string& text) {
    const size_t before = bytes_.size();
    addMessage(text);
    int blocks = 0;
    for (size_t at = before; at < bytes_.size(); at += 0x210, ++blocks) putDword(at, 0);
    return blocks;
}

uint32_t MailStoreMaker::addRecord(const std::vector<Field>& fields) {
    std::vector<uint8_t> entries, data;
    for (const Field& field : fields) {
        if (const auto* number = std::get_if<uint32_t>(&field.value); number && *number < (1u << 24)) {
            appendDword(entries, static_cast<uint32_t>(field.id | 0x80) | *number << 8);
            continue;
        }
        appendDword(entries, static_cast<uint32_t>(field.id) | static_cast<uint32_t>(data.size()) << 8);
        if (const auto* number = std::get_if<uint32_t>(&field.value)) {
            appendDword(data, *number);
        } else {
            const std::string& text = std::get<std::string>(field.value);
            data.insert(data.end(), text.begin(), text.end());
            data.push_back(0);
        }
    }
    const uint32_t offset = static_cast<uint32_t>(bytes_.size());
    appendDword(bytes_, offset);
    appendDword(bytes_, static_cast<uint32_t>(entries.size() + data.size()));
    bytes_.push_back(static_cast<uint8_t>(data.size()));
    bytes_.push_back(static_cast<uint8_t>(data.size() >> 8));
    bytes_.push_back(static_cast<uint8_t>(fields.size()));
    bytes_.push_back(1);
    bytes_.insert(bytes_.end(), entries.begin(), entries.end());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return offset;
}

uint32_t MailStoreMaker::addMessageRecord(const std::string& text, uint32_t blockData, bool scattered) {
    const uint32_t first = addMessage(text, blockData, scattered);
    static uint32_t serial = 0;
    return addRecord({{0x00, ++serial}, {0x04, first}});
}

uint32_t MailStoreMaker::addFolderRecord(uint32_t id, uint32_t parentId, const std::string& name,
                                         const std::string& fileName) {
    std::vector<Field> fields{{0x00, id}, {0x01, parentId}, {0x02, name}};
    if (!fileName.empty()) fields.push_back({0x03, fileName});
    return addRecord(fields);
}

uint32_t MailStoreMaker::addNode(const std::vector<uint32_t>& records, size_t begin, size_t end, int perNode,
                                 int level) {
    depth_ = std::max(depth_, level);
    const size_t count = end - begin;
    // Children and entries alternate in tree order: child0, entry1, child1, entry2, ...
    std::vector<std::pair<size_t, size_t>> children;  // record ranges below each entry (and before the first)
    std::vector<size_t> entries;
    if (count <= static_cast<size_t>(perNode)) {
        for (size_t i = begin; i < end; ++i) entries.push_back(i);
    } else {
        const size_t slots = static_cast<size_t>(perNode) + 1;
        const size_t below = (count - perNode + slots - 1) / slots;
        size_t at = begin;
        children.emplace_back(at, std::min(end, at + below));
        at = children.back().second;
        while (at < end) {
            entries.push_back(at++);
            children.emplace_back(at, std::min(end, at + below));
            at = children.back().second;
        }
    }
    std::vector<uint32_t> childOffsets;
    for (auto [from, to] : children) childOffsets.push_back(from < to ? addNode(records, from, to, perNode, level + 1) : 0);
    const uint32_t node = static_cast<uint32_t>(bytes_.size());
    bytes_.resize(bytes_.size() + kNodeSize, 0);
    putDword(node, node);
    // Each child pointer goes with the number of records below it.
    if (!childOffsets.empty()) {
        putDword(node + 8, childOffsets[0]);
        putDword(node + 0x14, static_cast<uint32_t>(children[0].second - children[0].first));
    }
    bytes_[node + 0x11] = static_cast<uint8_t>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        putDword(node + 0x18 + 12 * i, records[entries[i]]);
        if (i + 1 < childOffsets.size()) {
            putDword(node + 0x18 + 12 * i + 4, childOffsets[i + 1]);
            putDword(node + 0x18 + 12 * i + 8, static_cast<uint32_t>(children[i + 1].second - children[i + 1].first));
        }
    }
    return node;
}

void MailStoreMaker::buildTree(const std::vector<uint32_t>& records, int perNode) {
    if (perNode < 2 || perNode > 0x33) throw std::invalid_argument("a node holds 2 to 51 entries");
    depth_ = 0;
    putDword(0xc4, static_cast<uint32_t>(records.size()));
    putDword(0xe4, records.empty() ? 0 : addNode(records, 0, records.size(), perNode, 1));
}

void MailStoreMaker::save(const std::string& hostPath) const {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    if (!out) throw std::runtime_error("cannot write " + hostPath);
}

std::string sampleMessage(const std::string& from, const std::string& subject, const std::string& date,
                          int bodyLines, const std::string& line) {
    std::string text = "From: " + from + "\r\nTo: someone@example.org\r\nSubject: " + subject + "\r\nDate: " + date +
                       "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\n";
    for (int i = 0; i < bodyLines; ++i) text += line + "\r\n";
    return text;
}

}  // namespace ts::test
