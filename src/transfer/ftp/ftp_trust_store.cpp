#include "transfer/ftp/ftp_trust_store.h"

#include <cstdlib>
#include <filesystem>

#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "transfer/ftp/ftp_tls.h"

namespace ts {
namespace {

std::unique_ptr<RegistryHive> openHive(const std::string& path) {
    return RegistryHive::openUserReg(path, std::filesystem::path(path).parent_path().string(), LastLink::Follow);
}

}  // namespace

std::string FtpTrustStore::defaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    // The same file the settings records use; XDG says to ignore a relative XDG_CONFIG_HOME.
    if (config && *config && std::filesystem::path(config).is_absolute()) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : ".") / ".config";
    }
    return (base / "tessaly" / "settings.reg").string();
}

std::string FtpTrustStore::fingerprintFor(const std::string& hostAndPort) const {
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return "";
    try {
        auto value = openHive(path_)->value(kKey, hostAndPort);
        if (!value) return "";
        return normalizeFingerprint(value->asText()).value_or("");
    } catch (const std::exception& error) {
        debugLog("Cannot read the trusted FTP servers from \"" + path_ + "\": " + error.what());
        return "";
    }
}

void FtpTrustStore::trust(const std::string& hostAndPort, const std::string& fingerprint) const {
    auto normalized = normalizeFingerprint(fingerprint);
    if (!normalized) throw TsException("\"" + fingerprint + "\" is not a SHA-256 fingerprint (64 hex digits)");
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
    auto hive = openHive(path_);
    hive->setValue(kKey, RegValue::text(hostAndPort, REG_SZ, *normalized));
    hive->save();
}

}  // namespace ts
