#include "transfer/ftp/ftp_endpoint.h"

#include <algorithm>

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

}  // namespace

FtpEndpoint parseFtpHost(const std::string& setting) {
    FtpEndpoint endpoint;
    if (setting.empty()) throwInvalid(setting, "no host name");
    if (setting.front() == '[') {
        auto close = setting.find(']');
        if (close == std::string::npos) throwInvalid(setting, "\"[\" without \"]\"");
        endpoint.host = setting.substr(1, close - 1);
        std::string rest = setting.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') throwInvalid(setting, "unexpected text after \"]\"");
            endpoint.port = parsePort(setting, rest.substr(1));
        }
    } else if (std::count(setting.begin(), setting.end(), ':') == 1) {
        auto colon = setting.find(':');
        endpoint.host = setting.substr(0, colon);
        endpoint.port = parsePort(setting, setting.substr(colon + 1));
    } else {
        endpoint.host = setting;  // a name, an IPv4 address or a bare IPv6 address
    }
    if (endpoint.host.empty()) throwInvalid(setting, "no host name");
    return endpoint;
}

}  // namespace ts
