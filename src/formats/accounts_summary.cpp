#include "formats/accounts_summary.h"

namespace ts {

namespace {

struct ServerKind {
    const char* kind;
    const char* prefix;  // of the value names: "POP3 Server", "POP3 Port", ...
    uint32_t port;
    uint32_t securePort;
};

// Checked in this order: an account has one incoming server.
constexpr ServerKind kIncoming[] = {
    {"IMAP", "IMAP", 143, 993}, {"POP3", "POP3", 110, 995}, {"HTTP", "HTTPMail", 80, 443}, {"NNTP", "NNTP", 119, 563}};

std::string textValue(const RegistryHive& hive, const std::string& key, const std::string& name) {
    const auto value = hive.value(key, name);
    return value && isStringType(value->type) ? value->asText() : std::string();
}

std::optional<uint32_t> numberValue(const RegistryHive& hive, const std::string& key, const std::string& name) {
    const auto value = hive.value(key, name);
    if (!value || value->type != REG_DWORD || value->data.size() < 4) return std::nullopt;
    return static_cast<uint32_t>(value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
                                 static_cast<uint32_t>(value->data[3]) << 24);
}

}  // namespace

std::vector<MailAccount> readMailAccounts(const RegistryHive& hive, const std::string& accountsKey,
                                          const std::string& owner) {
    std::vector<MailAccount> accounts;
    if (!hive.keyExists(accountsKey)) return accounts;
    for (const std::string& name : hive.subkeyNames(accountsKey)) {
        const std::string key = accountsKey + "\\" + name;
        MailAccount account;
        account.owner = owner;
        account.key = name;
        account.name = textValue(hive, key, "Account Name");
        for (const ServerKind& kind : kIncoming) {
            const std::string prefix = kind.prefix;
            account.incomingServer = textValue(hive, key, prefix + " Server");
            if (account.incomingServer.empty()) continue;
            account.incomingKind = kind.kind;
            account.incomingSecure = numberValue(hive, key, prefix + " Secure Connection").value_or(0) != 0;
            account.incomingPort = numberValue(hive, key, prefix + " Port")
                                       .value_or(account.incomingSecure ? kind.securePort : kind.port);
            account.userName = textValue(hive, key, prefix + " User Name");
            break;
        }
        // News accounts keep their name and address under their own prefix.
        const std::string who = account.incomingKind == "NNTP" ? "NNTP" : "SMTP";
        account.displayName = textValue(hive, key, who + " Display Name");
        account.address = textValue(hive, key, who + " Email Address");
        account.outgoingServer = textValue(hive, key, "SMTP Server");
        if (!account.outgoingServer.empty()) {
            account.outgoingSecure = numberValue(hive, key, "SMTP Secure Connection").value_or(0) != 0;
            account.outgoingPort = numberValue(hive, key, "SMTP Port").value_or(account.outgoingSecure ? 465 : 25);
        }
        if (account.incomingServer.empty() && account.outgoingServer.empty()) continue;  // not a mail or news account
        accounts.push_back(std::move(account));
    }
    return accounts;
}

std::string accountsText(const std::vector<MailAccount>& accounts) {
    std::string text = "Mail and news accounts. Passwords are not exported: enter them again in the new program.\n";
    const auto line = [&](const std::string& label, const std::string& value) {
        if (!value.empty()) text += "  " + label + ": " + value + "\n";
    };
    const auto server = [](const std::string& kind, const std::string& host, uint32_t port, bool secure) {
        std::string text = kind.empty() ? host : kind + " " + host;
        return text + ", port " + std::to_string(port) + (secure ? ", secure connection (SSL)" : ", no secure connection");
    };
    std::string owner;
    for (const MailAccount& account : accounts) {
        if (account.owner != owner) {
            owner = account.owner;
            text += "\nAccounts of " + owner + "\n";
        }
        text += "\n" + (account.name.empty() ? account.key : account.name) + "\n";
        line("Display name", account.displayName);
        line("Address", account.address);
        if (!account.incomingServer.empty())
            line("Incoming", server(account.incomingKind, account.incomingServer, account.incomingPort,
                                    account.incomingSecure));
        if (!account.outgoingServer.empty())
            line("Outgoing", server("SMTP", account.outgoingServer, account.outgoingPort, account.outgoingSecure));
        line("User name", account.userName);
    }
    if (accounts.empty()) text += "\nNo accounts were found.\n";
    return text;
}

}  // namespace ts
