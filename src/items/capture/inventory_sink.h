#pragma once
// A sink that writes nothing: it reads every saved file's bytes (so damage shows) and keeps
// a list of the registry keys, values and files an item's data holds.
#include <cstdint>
#include <string>
#include <vector>

#include "part/restore_sink.h"

namespace ts {

struct InventoryValue {
    std::string name;
    uint32_t type = REG_NONE;  // the registry type, or REG_NONE for a value kept by size only
    int64_t size = 0;          // bytes of data
    bool kept = false;         // held by name, type code and size only
};

struct InventoryKey {
    std::string path;
    std::vector<InventoryValue> values;
};

struct InventoryFile {
    std::string storedName;
    std::string realPath;
    int64_t size = 0;
    bool skipped = false;       // the record puts nothing in place
    std::string refusedReason;  // why its name is refused, when it is (skipped is set too)
};

class InventorySink : public RestoreSink {
public:
    // listFiles false: saved files are only counted, but for those refused, so that a check
    // of a data file holding millions of records stays small.
    explicit InventorySink(bool listFiles = true) : listFiles_(listFiles) {}

    void createKey(const std::string& keyPath) override;
    void setValue(const std::string& keyPath, const RegValue& value) override;
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override;
    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override;
    void skippedFile(const std::string& storedName) override;
    void refusedFile(const std::string& storedName, const std::string& reason) override;

    const std::vector<InventoryKey>& keys() const { return keys_; }
    const std::vector<InventoryFile>& files() const { return files_; }
    // Every saved file read, listed or not.
    size_t fileCount() const { return fileCount_; }
    int64_t fileBytes() const { return fileBytes_; }
    void clear();

private:
    InventoryKey& keyFor(const std::string& keyPath);

    std::vector<InventoryKey> keys_;
    void addFile(InventoryFile file);

    bool listFiles_ = true;
    std::vector<InventoryFile> files_;
    size_t fileCount_ = 0;
    int64_t fileBytes_ = 0;
};

}  // namespace ts
