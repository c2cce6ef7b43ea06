#pragma once
// The mail and news accounts of the account manager's registry keys as a plain summary a
// person can retype into another mail program. Passwords are never read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/registry_hive.h"

namespace ts {

struct MailAccount {
    std::string owner;  // whose accounts: "all identities" or an identity's name
    std::string key;    // the account's key name ("00000001")
    std::string name;
    std::string displayName;
    std::string address;
    std::string incomingKind;  // POP3, IMAP, HTTP or NNTP
    std::string incomingServer;
    uint32_t incomingPort = 0;
    bool incomingSecure = false;
    std::string outgoingServer;  // empty for news accounts
    uint32_t outgoingPort = 0;
    bool outgoingSecure = false;
    std::string userName;
};

// The accounts below accountsKey ("...\Internet Account Manager\Accounts"), in key order.
std::vector<MailAccount> readMailAccounts(const RegistryHive& hive, const std::string& accountsKey,
                                          const std::string& owner);

std::string accountsText(const std::vector<MailAccount>& accounts);

}  // namespace ts
