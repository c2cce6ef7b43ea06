#include "support/pureftpd_server.h"

#include <pwd.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace ts::test {

std::string PureFtpd::program(std::string& why) {
    if (::getuid() != 0) {
        why = "pure-ftpd needs root to become its virtual user";
        return "";
    }
    return unpackedServerProgram("usr/sbin/pure-ftpd", "pure-ftpd pure-ftpd-common", why);
}

PureFtpd::PureFtpd(Options options) : options_(options) {
    std::string why;
    const std::string binary = program(why);
    if (binary.empty()) throw std::runtime_error(why);
    const auto root = dir_.path();
    std::filesystem::create_directories(folder());
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) throw std::runtime_error("no user nobody for pure-ftpd's virtual user");
    ::chown((root / "home").c_str(), nobody->pw_uid, nobody->pw_gid);
    ::chown(folder().c_str(), nobody->pw_uid, nobody->pw_gid);
    const std::string database = (root / "passwd.pdb").string();
    if (runQuietly("printf '%s\\n%s\\n' '" + std::string(kPassword) + "' '" + kPassword + "' | '" +
                   (unpackedServersFolder() / "usr/bin/pure-pw").string() + "' useradd " + kUser + " -u " +
                   std::to_string(nobody->pw_uid) + " -g " + std::to_string(nobody->pw_gid) + " -d '" +
                   (root / "home").string() + "' -f '" + (root / "passwd").string() + "' -m -F '" + database + "'" +
                   (options_.quotaMegabytes > 0 ? " -N " + std::to_string(options_.quotaMegabytes) : "")) != 0)
        throw std::runtime_error("pure-pw could not make the test user");
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort(false);
        // -E: no anonymous log-in; -H: no name look-ups.
        std::vector<std::string> argv{binary, "-S", "127.0.0.1," + std::to_string(port_), "-l", "puredb:" + database,
                                      "-E", "-H"};
        if (options_.diskBytes > 0) {
            argv = withSmallDisk(folder(), options_.diskBytes, argv);
            if (argv.empty()) throw std::runtime_error("no mount namespace here for a small disk");
        }
        if (process_.start(argv, (root / "pure-ftpd.out").string(), port_)) return;
    }
    throw std::runtime_error("pure-ftpd did not start: " + log());
}

std::string PureFtpd::log() const { return fileText(dir_.path() / "pure-ftpd.out"); }

}  // namespace ts::test
