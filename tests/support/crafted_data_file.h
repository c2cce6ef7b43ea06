#pragma once
// A data file whose one stored item, the address book, holds file records made by hand: names
// a capture would never write (a data file is outside input), for testing what a restore, a
// listing and a check make of them. Everything else is written by the engine's own writers.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ts::test {

// Compresses a plain data stream (header, project stream, item data) into a data file as a
// backup run compresses what it captures, at the project's compression level (0 to 3).
void compressPlainFile(const std::string& plainPath, const std::string& dataPath, uint8_t compressionLevel);

struct CraftedFileRecord {
    std::string storedName;  // host text, put in the name field in Windows-1252
    std::string contents;
};

// A registry key as a key tree stores it: its path from the root and its string values.
struct CraftedKey {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
};

// Writes the data file at path (a temporary plain stream is made beside it and removed),
// encrypted with password when one is given.
void writeCraftedDataFile(const std::string& path, const std::vector<CraftedFileRecord>& records,
                          const std::optional<std::string>& password = std::nullopt,
                          const std::string& projectName = "Crafted");
// The same records as the mail store's files, after the item's accounts tree holding keys.
void writeCraftedMailDataFile(const std::string& path, const std::vector<CraftedKey>& keys,
                              const std::vector<CraftedFileRecord>& records);

}  // namespace ts::test
