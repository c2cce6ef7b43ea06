#include "support/proftpd_server.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace ts::test {
namespace {

const char kPasswordHash[] =  // openssl passwd -6 -salt tessalytest right-Password-1
    "$6$tessalytest$qoH0HcLM52a9U2PBOeJ3uRo1z0KYLx.60cvDbwpW5zWlLqjxFVifA8Rqhalv4VCACTokHdZVpHMfyyQmzzeIq/";

// proftpd reads a user file only when others cannot.
void writePrivateFile(const std::filesystem::path& path, const std::string& text) {
    writeHostFile(path.string(), text);
    ::chmod(path.c_str(), 0600);
}

}  // namespace

std::string Proftpd::program(std::string& why) {
    const std::string program = unpackedServerProgram("usr/sbin/proftpd", "proftpd-core proftpd-mod-crypto", why);
    if (!program.empty() && runQuietly("'" + program + "' -v") != 0) {
        why = "the unpacked proftpd does not run (its libraries: scripts/setup.sh installs them)";
        return "";
    }
    return program;
}

Proftpd::Proftpd(Options options) : options_(options) {
    std::string why;
    const std::string binary = program(why);
    if (binary.empty()) throw std::runtime_error(why);
    const auto root = dir_.path();
    std::filesystem::create_directories(folder());
    // Inside the mount namespace of a small disk the server runs as root there.
    const bool namespaced = options_.diskBytes > 0;
    const uid_t uid = namespaced ? 0 : ::getuid();
    const gid_t gid = namespaced ? 0 : ::getgid();
    writePrivateFile(root / "passwd", std::string(kUser) + ":" + kPasswordHash + ":" + std::to_string(uid) + ":" +
                                          std::to_string(gid) + "::" + (root / "home").string() + ":/bin/sh\n");
    writePrivateFile(root / "group", std::string(kUser) + ":x:" + std::to_string(gid) + ":\n");
    if (!options_.tls.empty()) makeSelfSignedCertificate(root / "key.pem", root / "cert.pem");
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) started = start(binary);
    if (!started) throw std::runtime_error("proftpd did not start: " + log());
}

bool Proftpd::start(const std::string& binary) {
    const auto root = dir_.path();
    port_ = freeLoopbackPort(false);
    std::string config = fileText(std::string(TESSALY_SOURCE_DIR) + "/tests/support/proftpd.conf");
    const passwd* user = ::getpwuid(::getuid());
    const group* group = ::getgrgid(::getgid());
    replaceAll(config, "@PORT@", std::to_string(port_));
    replaceAll(config, "@USER@", options_.diskBytes > 0 || !user ? "root" : user->pw_name);
    replaceAll(config, "@GROUP@", options_.diskBytes > 0 || !group ? "root" : group->gr_name);
    replaceAll(config, "@MODULES@", (unpackedServersFolder() / "usr/lib/proftpd").string());
    replaceAll(config, "@DIR@", root.string());
    replaceAll(config, "@ALLOW_OVERWRITE@", options_.allowOverwrite ? "on" : "off");
    replaceAll(config, "@HIDDEN_STORES@", options_.hiddenStores ? "on" : "off");
    if (!options_.portEnabled) config += "<Limit PORT EPRT>\n  DenyAll\n</Limit>\n";
    if (!options_.tls.empty())
        config += "LoadModule mod_tls.c\nTLSEngine on\nTLSRequired on\nTLSProtocol " + options_.tls +
                  "\nTLSRSACertificateFile " +
                  (root / "cert.pem").string() + "\nTLSRSACertificateKeyFile " + (root / "key.pem").string() +
                  "\nTLSLog " + (root / "tls.log").string() + "\n";
    const std::string configFile = (root / "proftpd.conf").string();
    writeHostFile(configFile, config);
    std::vector<std::string> argv{binary, "-n", "-c", configFile};
    if (options_.diskBytes > 0) {
        argv = withSmallDisk(folder(), options_.diskBytes, argv);
        if (argv.empty()) throw std::runtime_error("no mount namespace here for a small disk");
    }
    return process_.start(argv, (root / "proftpd.out").string(), port_);
}

std::string Proftpd::fingerprint() const { return certificateFingerprint(dir_.path() / "cert.pem"); }

std::string Proftpd::log() const {
    return fileText(dir_.path() / "proftpd.out") + fileText(dir_.path() / "proftpd.log") + fileText(dir_.path() / "tls.log");
}

}  // namespace ts::test
