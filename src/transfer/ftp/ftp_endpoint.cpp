#include "transfer/ftp/ftp_endpoint.h"

#include <algorithm>
#include <cctype>

#include "transfer/ftp/ftp_reply.h"

namespace ts {
namespace {

[[noreturn]] void throwInvalid(const std::string& setting, const std::string& why) {
    throw EFtpError("Invalid FTP host \"" + setting + "\": " + why);
}

uint16_t parsePort(const std::string& setting, const std::string& text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throwInvalid(setting, "the port must be a number from 1 to 65535");
    unsigned long port = std::stoul(text);
    if (port < 1 || port > 65535) throwInvalid(setting, "the port must be a number from 1 to 65535");
    return static_cast<uint16_t>(port);
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string FtpEndpoint::hostAndPort() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

FtpEndpoint parseFtpHost(const std::string& whole) {
    FtpEndpoint endpoint;
    std::string setting = whole;
    if (startsWithNoCase(setting, "ftpes://")) {
        endpoint.tls = true;
        setting.erase(0, 8);
    } else if (startsWithNoCase(setting, "ftp://")) {
        setting.erase(0, 6);
    } else if (startsWithNoCase(setting, "ftps://")) {
        throwInvalid(whole, "implicit TLS (ftps://) is not offered; ftpes:// uses TLS on the FTP port");
    } else if (setting.find("://") != std::string::npos) {
        throwInvalid(whole, "the scheme must be ftp:// or ftpes://");
    }
    if (!setting.empty() && setting.back() == '/') setting.pop_back();
    if (setting.find('/') != std::string::npos)
        throwInvalid(whole, "a folder belongs in the remote folder setting, not in the host");
    if (setting.empty()) throwInvalid(whole, "no host name");
    if (setting.front() == '[') {
        auto close = setting.find(']');
        if (close == std::string::npos) throwInvalid(whole, "\"[\" without \"]\"");
        endpoint.host = setting.substr(1, close - 1);
        std::string rest = setting.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') throwInvalid(whole, "unexpected text after \"]\"");
            endpoint.port = parsePort(whole, rest.substr(1));
        }
    } else if (std::count(setting.begin(), setting.end(), ':') == 1) {
        auto colon = setting.find(':');
        endpoint.host = setting.substr(0, colon);
        endpoint.port = parsePort(whole, setting.substr(colon + 1));
    } else {
        endpoint.host = setting;  // a name, an IPv4 address or a bare IPv6 address
    }
    if (endpoint.host.empty()) throwInvalid(whole, "no host name");
    return endpoint;
}

}  // namespace ts
