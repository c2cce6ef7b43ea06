// Reads arbitrary data files the way ls and check do: any input must end in a clean
// exception or a result, never a crash, a hang or unbounded memory. The first byte picks
// what the rest is: the compressed file itself, or the plain stream inside one (stored in a
// zlib stream here, so the fuzzer reaches the header, project and item readers), read with
// or without a password.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/datafile/data_file_contents.h"
#include "engine/project.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"

namespace {

struct FuzzWorld {
    std::string folder;
    std::string dataFile;
    std::unique_ptr<ts::Profile> profile;

    FuzzWorld() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-fuzz-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        dataFile = folder + "/input.tsly_dat";
        std::filesystem::create_directories(folder + "/drive_c");
        profile = std::make_unique<ts::Profile>(folder, ts::RegistryHive::inMemory(), "fuzz");
    }
};

std::vector<uint8_t> stored(const uint8_t* data, size_t size) {
    uLongf length = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> out(length);
    compress2(out.data(), &length, data, static_cast<uLong>(size), 0);
    out.resize(length);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzWorld world;
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    std::vector<uint8_t> file = (mode & 1) ? stored(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    {
        std::ofstream out(world.dataFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    ts::TtsBackupProject project(world.profile.get());
    if (mode & 2) project.SetPassword("fuzz");
    ts::DataFileContents contents;
    try {
        project.InspectDataFile(world.dataFile, contents);
    } catch (const ts::TsException&) {
    }
    return 0;
}
