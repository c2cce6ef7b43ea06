// Feeds arbitrary server output to the FTP reply reader and to the passive-mode reply
// parsers: they must either return or throw the FTP error, never crash or hang.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "transfer/ftp/ftp_data_address.h"
#include "transfer/ftp/ftp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how the bytes arrive, so that line ends split across reads are covered.
    const size_t chunk = size > 0 ? 1 + data[0] % 64 : 1;
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t position = size > 0 ? 1 : 0;
    ts::FtpReplyReader reader([&](char* buffer, size_t capacity) {
        size_t count = std::min({capacity, chunk, input.size() - position});
        std::memcpy(buffer, input.data() + position, count);
        position += count;
        return count;
    });
    try {
        for (;;) {
            ts::FtpReply reply = reader.read();
            if (reply.code < 100 || reply.code > 599 || reply.lines.empty()) __builtin_trap();
            const std::string text = reply.text();
            try {
                ts::parseEpsvReplyPort(text);
            } catch (const ts::EFtpError&) {
            }
            try {
                ts::parsePasvReplyPort(text);
            } catch (const ts::EFtpError&) {
            }
        }
    } catch (const ts::EFtpError&) {
    }
    return 0;
}
