#pragma once
// The FTP servers the user trusts beyond the system's certificate authorities: one SHA-256
// certificate fingerprint per "host:port", kept in the program's own settings hive
// ($XDG_CONFIG_HOME/tessaly/settings.reg, ~/.config when unset; a user.reg file) under
// "Software\Tessaly\Trusted FTP Servers". Never in a project file: a project may be shared,
// trust is the user's.
#include <string>

namespace ts {

class FtpTrustStore {
public:
    static constexpr char kKey[] = "Software\\Tessaly\\Trusted FTP Servers";
    static std::string defaultPath();

    explicit FtpTrustStore(std::string path = defaultPath()) : path_(std::move(path)) {}

    // The pinned fingerprint ("AB:CD:..."), or "" when the host has none or the file cannot
    // be read.
    std::string fingerprintFor(const std::string& hostAndPort) const;
    // Pins fingerprint (any form normalizeFingerprint takes) for the host and saves the hive.
    // Throws TsException for a malformed fingerprint or a file that cannot be written.
    void trust(const std::string& hostAndPort, const std::string& fingerprint) const;

private:
    std::string path_;
};

}  // namespace ts
