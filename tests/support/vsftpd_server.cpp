#include "support/vsftpd_server.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <unistd.h>

namespace ts::test {

bool Vsftpd::available() { return ::access(kProgram, X_OK) == 0; }

Vsftpd::Vsftpd(Options options) : options_(options) {
    const auto root = dir_.path();
    std::filesystem::create_directories(root / "home" / kFolder);
    std::filesystem::create_directories(root / "empty");
    writeHostFile((root / "passwords").string(), std::string(kPassword) + "\n");
    if (options_.tls) makeSelfSignedCertificate(root / "key.pem", root / "cert.pem");
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) started = start();
    if (!started) throw std::runtime_error("vsftpd did not start: " + log());
}

bool Vsftpd::start() {
    const auto root = dir_.path();
    port_ = freeLoopbackPort(options_.ipv6);
    std::string config = fileText(std::string(TESSALY_SOURCE_DIR) + "/tests/support/vsftpd.conf");
    replaceAll(config, "@PORT@", std::to_string(port_));
    replaceAll(config, "@EMPTY@", (root / "empty").string());
    replaceAll(config, "@PASSWORDS@", (root / "passwords").string());
    replaceAll(config, "@HOME@", (root / "home").string());
    replaceAll(config, "@LOG@", (root / "vsftpd.log").string());
    replaceAll(config, "@PORT_ENABLE@", options_.portEnabled ? "YES" : "NO");
    if (options_.ipv6) {
        replaceAll(config, "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n",
                   "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n");
        replaceAll(config, "pasv_address=127.0.0.1\n", "");
    }
    if (options_.tls)
        config += "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                  "require_ssl_reuse=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
                  (root / "cert.pem").string() + "\nrsa_private_key_file=" + (root / "key.pem").string() + "\n";
    const std::string configFile = (root / "vsftpd.conf").string();
    writeHostFile(configFile, config);
    std::vector<std::string> argv{kProgram, configFile};
    if (options_.diskBytes > 0) {
        argv = withSmallDisk(folder(), options_.diskBytes, argv);
        if (argv.empty()) throw std::runtime_error("no mount namespace here for a small disk");
    }
    return process_.start(argv, (root / "vsftpd.out").string(), port_, options_.ipv6);
}

std::string Vsftpd::fingerprint() const { return certificateFingerprint(dir_.path() / "cert.pem"); }

std::string Vsftpd::log() const { return fileText(dir_.path() / "vsftpd.out") + fileText(dir_.path() / "vsftpd.log"); }

}  // namespace ts::test
