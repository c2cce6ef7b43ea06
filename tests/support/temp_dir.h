#pragma once
// A real temporary folder on the host, removed with everything in it when the test ends.
#include <filesystem>
#include <string>
#include <vector>
#include <cstdint>

namespace ts::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> readHostFile(const std::string& path);
void writeHostFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeHostFile(const std::string& path, const std::string& text);
// Deterministic pseudo-random bytes for test data.
std::vector<uint8_t> randomBytes(size_t count, uint32_t seed);

}  // namespace ts::test
