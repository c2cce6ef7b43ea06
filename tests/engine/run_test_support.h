#pragma once
// Shared by the run tests: a project wired to record its events, and zlib's own inflation of
// a whole file, independent of the engine's reader.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/project.h"
#include "support/temp_dir.h"
#include "platform/debug_log.h"

namespace ts::test {

struct RecordedEvents {
    std::vector<std::string> statuses;
    std::vector<int> progress;
};

inline void recordEvents(TtsBackupProject& project, RecordedEvents& events) {
    project.SetOnStatus([&events](const std::string& text) { events.statuses.push_back(text); });
    project.SetOnProgress([&events](uint8_t percent) { events.progress.push_back(percent); });
}

inline RunEvents eventsOf(RecordedEvents& events) {
    return RunEvents{[&events](const std::string& text) { events.statuses.push_back(text); },
                     [&events](uint8_t percent) { events.progress.push_back(percent); }};
}

inline std::vector<uint8_t> inflateFile(const std::string& path) {
    std::vector<uint8_t> compressed = readHostFile(path);
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    z.next_in = compressed.data();
    z.avail_in = static_cast<uInt>(compressed.size());
    std::vector<uint8_t> plain;
    uint8_t block[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = block;
        z.avail_out = sizeof block;
        rc = inflate(&z, Z_NO_FLUSH);
        plain.insert(plain.end(), block, block + (sizeof block - z.avail_out));
    }
    EXPECT_EQ(rc, Z_STREAM_END) << path;
    inflateEnd(&z);
    return plain;
}

inline std::vector<uint8_t> projectStreamOf(TtsBackupProject& project) {
    MemoryStream stream;
    project.SaveToStream(stream);
    return stream.takeBytes();
}

inline bool logHas(const std::string& line) {
    auto lines = DebugLog::instance().lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline std::vector<uint8_t> deflateBytes(const std::vector<uint8_t>& plain) {
    uLongf length = compressBound(static_cast<uLong>(plain.size()));
    std::vector<uint8_t> out(length);
    EXPECT_EQ(compress(out.data(), &length, plain.data(), static_cast<uLong>(plain.size())), Z_OK);
    out.resize(length);
    return out;
}

}  // namespace ts::test
