// The driver of bench/capture_memory.sh: captures one file of a profile into a file list
// block, or restores such a block into a profile, so that the script can measure each
// phase's peak resident memory with /usr/bin/time. Files stream through fixed buffers, so
// the peak must not follow the file's size.
//
//   tessaly-bench-capture_memory capture PREFIX USER WINDOWS_PATH BLOCK_FILE plain|encrypted
//   tessaly-bench-capture_memory restore PREFIX USER BLOCK_FILE plain|encrypted
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "part/section_codec.h"
#include "items/capture/backup_file_item.h"
#include "items/capture/file_list_block.h"
#include "items/capture/profile_restore_sink.h"
#include "platform/profile/profile.h"

namespace {

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s capture PREFIX USER WINDOWS_PATH BLOCK_FILE plain|encrypted\n"
                 "       %s restore PREFIX USER BLOCK_FILE plain|encrypted\n",
                 program, program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const bool capture = argc == 7 && std::strcmp(argv[1], "capture") == 0;
    const bool restore = argc == 6 && std::strcmp(argv[1], "restore") == 0;
    if (!capture && !restore) return usage(argv[0]);
    const std::string mode = argv[argc - 1];
    if (mode != "plain" && mode != "encrypted") return usage(argv[0]);
    try {
        ts::createProfileLayout(argv[2]);
        auto profile = ts::Profile::open(argv[2], argv[3]);
        const ts::SectionCodec codec(mode == "encrypted", "capture-memory-bench");
        if (capture) {
            ts::FileStream block(argv[5], ts::FileStream::Mode::Create, 0600);
            const int64_t written = ts::WriteFileListBlock(codec, *profile, {argv[4]}, block);
            std::printf("captured %s: %lld bytes\n", argv[4], static_cast<long long>(written));
        } else {
            ts::FileStream block(argv[4], ts::FileStream::Mode::Read);
            ts::DirectProfileSink sink(*profile);
            ts::ReadFileListBlock(codec, *profile, block, sink, [](const ts::TtsBackupFileItem& file) {
                std::printf("restored %s\n", file.FileName().c_str());
            });
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "capture_memory: %s\n", error.what());
        return 1;
    }
    return 0;
}
