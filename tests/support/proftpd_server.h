#pragma once
// A real proftpd on 127.0.0.1 for as long as the object lives, run from Debian's package
// unpacked into the build folder (it conflicts with vsftpd as a package): an ordinary child
// process with tests/support/proftpd.conf, its own port, home, user file and log.
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/server_process.h"

namespace ts::test {

class Proftpd : public UnpackedFtpServer {
public:
    struct Options {
        bool portEnabled = true;     // false: PORT and EPRT are refused
        bool allowOverwrite = true;  // false: STOR and RNTO never replace an existing file
        bool hiddenStores = false;   // uploads go to ".in.NAME." until complete
        std::string tls;             // "TLSv1.3", "TLSv1.2": explicit TLS required, that version only
        int64_t diskBytes = 0;       // > 0: the upload folder is a disk of this size, which fills up
    };
    // The program, unpacked on first use; "" with the reason in why when it cannot be had.
    static std::string program(std::string& why);

    // Throws std::runtime_error with the server's log when it does not come up.
    explicit Proftpd(Options options);

    std::string fingerprint() const;
    std::string log() const;

private:
    bool start(const std::string& program);

    Options options_;
};

}  // namespace ts::test
