#include "items/capture/inventory_sink.h"

#include <algorithm>

#include "platform/ansi_text.h"
#include "platform/exception.h"

namespace ts {

InventoryKey& InventorySink::keyFor(const std::string& keyPath) {
    // Values follow the key they belong to, so the newest key is nearly always the one.
    if (!keys_.empty() && keys_.back().path == keyPath) return keys_.back();
    keys_.push_back(InventoryKey{keyPath, {}});
    return keys_.back();
}

void InventorySink::createKey(const std::string& keyPath) {
    keyFor(keyPath);
}

namespace {

// The size a data file records: a string's ANSI bytes with the NUL, not the UTF-16 ones it
// takes in memory.
int64_t storedSizeOf(const RegValue& value) {
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) return static_cast<int64_t>(toAnsi(value.asText()).size()) + 1;
    return static_cast<int64_t>(value.data.size());
}

}  // namespace

void InventorySink::setValue(const std::string& keyPath, const RegValue& value) {
    keyFor(keyPath).values.push_back(InventoryValue{value.name, value.type, storedSizeOf(value), false});
}

void InventorySink::keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) {
    uint32_t type = typeCode == 2 ? REG_EXPAND_SZ : REG_NONE;
    keyFor(keyPath).values.push_back(InventoryValue{name, type, size, true});
}

void InventorySink::writeFile(const std::string& storedName, const std::string& realPath, Stream& data,
                              int64_t size) {
    if (size < 0) throw EReadError();
    // Read, not skipped by seeking: a damaged or short file must show here.
    std::vector<uint8_t> scratch(static_cast<size_t>(std::min<int64_t>(size, 65536)));
    for (int64_t left = size; left > 0;) {
        int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(scratch.size()));
        data.readExact(scratch.data(), chunk);
        left -= chunk;
    }
    addFile(InventoryFile{storedName, realPath, size, false});
    fileBytes_ += size;
}

void InventorySink::skippedFile(const std::string& storedName) {
    addFile(InventoryFile{storedName, {}, 0, true});
}

void InventorySink::refusedFile(const std::string& storedName, const std::string& reason) {
    addFile(InventoryFile{storedName, {}, 0, true, reason});
}

void InventorySink::addFile(InventoryFile file) {
    ++fileCount_;
    if (listFiles_ || !file.refusedReason.empty()) files_.push_back(std::move(file));
}

void InventorySink::clear() {
    keys_.clear();
    files_.clear();
    fileCount_ = 0;
    fileBytes_ = 0;
}

}  // namespace ts
