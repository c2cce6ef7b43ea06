#pragma once
// A real pure-ftpd on 127.0.0.1 for as long as the object lives, run from Debian's package
// unpacked into the build folder (it conflicts with vsftpd as a package): an ordinary child
// process with one virtual user in a password database of its own. It needs root, to become
// that user.
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/server_process.h"

namespace ts::test {

class PureFtpd : public UnpackedFtpServer {
public:
    struct Options {
        int64_t diskBytes = 0;   // > 0: the upload folder is a disk of this size, which fills up
        int quotaMegabytes = 0;  // > 0: the user may keep no more than this
    };
    // The program, unpacked on first use; "" with the reason in why when it cannot be had or
    // run here.
    static std::string program(std::string& why);

    // Throws std::runtime_error with the server's output when it does not come up.
    explicit PureFtpd(Options options);

    std::string log() const;

private:
    Options options_;
};

}  // namespace ts::test
