// The accounts summary from the account manager's keys: server kinds, default ports, and
// never a password.
#include "formats/accounts_summary.h"

#include <gtest/gtest.h>

namespace ts {
namespace {

const std::string kAccounts = "Software\\Microsoft\\Internet Account Manager\\Accounts";

TEST(AccountsSummaryTest, EachKindOfAccountGivesItsServersPortsAndSecurity) {
    auto hive = RegistryHive::inMemory();
    const auto text = [&](const std::string& key, const std::string& name, const std::string& value) {
        hive->setValue(kAccounts + "\\" + key, RegValue::text(name, REG_SZ, value));
    };
    const auto number = [&](const std::string& key, const std::string& name, uint32_t value) {
        hive->setValue(kAccounts + "\\" + key, RegValue::dword(name, value));
    };
    // POP3 with the ports written down.
    text("00000001", "Account Name", "Home");
    text("00000001", "POP3 Server", "pop.example.org");
    number("00000001", "POP3 Port", 1110);
    text("00000001", "POP3 User Name", "ann");
    text("00000001", "SMTP Server", "smtp.example.org");
    number("00000001", "SMTP Port", 587);
    text("00000001", "SMTP Display Name", "Ann \xc3\x89mile");
    text("00000001", "SMTP Email Address", "ann@example.org");
    hive->setValue(kAccounts + "\\00000001", RegValue::binary("POP3 Password2", {1, 2, 3}));
    // IMAP and SMTP over SSL, ports left to their defaults.
    text("00000002", "Account Name", "Work");
    text("00000002", "IMAP Server", "imap.example.net");
    number("00000002", "IMAP Secure Connection", 1);
    text("00000002", "SMTP Server", "smtp.example.net");
    number("00000002", "SMTP Secure Connection", 1);
    // A news account keeps its name and address under its own prefix.
    text("00000003", "Account Name", "News");
    text("00000003", "NNTP Server", "news.example.com");
    text("00000003", "NNTP Display Name", "Ann");
    text("00000003", "NNTP Email Address", "ann@news.example.com");
    // A directory service account has neither: no mail or news account.
    text("00000004", "Account Name", "Directory");
    text("00000004", "LDAP Server", "ldap.example.com");

    const std::vector<MailAccount> accounts = readMailAccounts(*hive, kAccounts, "all identities");
    ASSERT_EQ(accounts.size(), 3u);
    struct Expected {
        const char* name;
        const char* kind;
        uint32_t in;
        bool inSecure;
        const char* out;
        uint32_t outPort;
        const char* address;
    };
    const Expected expected[] = {{"Home", "POP3", 1110, false, "smtp.example.org", 587, "ann@example.org"},
                                 {"Work", "IMAP", 993, true, "smtp.example.net", 465, ""},
                                 {"News", "NNTP", 119, false, "", 0, "ann@news.example.com"}};
    for (size_t i = 0; i < accounts.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(accounts[i].name, expected[i].name);
        EXPECT_EQ(accounts[i].incomingKind, expected[i].kind);
        EXPECT_EQ(accounts[i].incomingPort, expected[i].in);
        EXPECT_EQ(accounts[i].incomingSecure, expected[i].inSecure);
        EXPECT_EQ(accounts[i].outgoingServer, expected[i].out);
        EXPECT_EQ(accounts[i].outgoingPort, expected[i].outPort);
        EXPECT_EQ(accounts[i].address, expected[i].address);
    }
    const std::string summary = accountsText(accounts);
    EXPECT_NE(summary.find("Display name: Ann \xc3\x89mile"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Incoming: IMAP imap.example.net, port 993, secure connection (SSL)"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Passwords are not exported"), std::string::npos);
    EXPECT_EQ(summary.find("Password2"), std::string::npos);
    EXPECT_EQ(readMailAccounts(*hive, kAccounts + "\\Missing", "x").size(), 0u);
}

}  // namespace
}  // namespace ts
