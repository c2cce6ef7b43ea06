// End to end: tessaly-cli export on a sample profile whose mail stores are made from the
// published layout, and on its data file; the results are read back by independent readers
// (undbx for the store files, Python's HTML and JSON parsers, vobject for the vCards, an
// mboxrd reader here).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli_runner.h"
#include "formats/address_book.h"
#include "support/address_book_files.h"
#include "support/mail_store_maker.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::CliResult;
using test::MailStoreMaker;
using test::sampleMessage;

const std::string kMainIdentity = "{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}";
const std::string kWorkIdentity = "{A9E41C07-3B58-4D2A-8F16-6C7D8E9F0A12}";

std::string readText(const fs::path& path) {
    const auto bytes = test::readHostFile(path.string());
    return std::string(bytes.begin(), bytes.end());
}

// The messages of an mboxrd file: split at "From " lines, one ">" taken off quoted ones, the
// blank line after each message dropped.
std::vector<std::string> readMboxrd(const std::string& text, std::vector<std::string>* fromLines = nullptr) {
    std::vector<std::string> messages;
    size_t at = 0;
    while (at < text.size()) {
        EXPECT_EQ(text.compare(at, 5, "From "), 0) << "no separator at " << at;
        const size_t lineEnd = text.find('\n', at);
        if (fromLines) fromLines->push_back(text.substr(at, lineEnd - at));
        size_t next = text.find("\n\nFrom ", lineEnd);
        const size_t end = next == std::string::npos ? text.size() - 1 : next + 1;
        std::string body = text.substr(lineEnd + 1, end - lineEnd - 1);
        EXPECT_EQ(text[end], '\n');
        std::string message;
        std::istringstream lines(body);
        for (std::string line; std::getline(lines, line);) {
            const size_t quotes = line.find_first_not_of('>');
            if (quotes != std::string::npos && quotes > 0 && line.compare(quotes, 5, "From ") == 0) line.erase(0, 1);
            message += line + "\n";
        }
        if (!body.empty() && body.back() != '\n') message.pop_back();
        messages.push_back(message);
        at = next == std::string::npos ? text.size() : next + 2;
    }
    return messages;
}

class ExportCliTest : public ::testing::Test {
protected:
    ExportCliTest() : cli(dir.path().string()) {
        cli.keepToWorkDir();
        cli.environment["XDG_DATA_HOME"] = dir.file("data");
        cli.environment["USER"] = "alice";
        EXPECT_TRUE(test::makeSampleProfile(dir.file("alice"), "alice"));
        fs::create_directory(dir.path() / "out");
        fs::remove_all(identities());
        makeStores();
    }

    fs::path addressBooks() const { return dir.path() / "alice/drive_c/users/alice/AppData/Roaming/Microsoft/Address Book"; }
    fs::path identities() const { return dir.path() / "alice/drive_c/users/alice/AppData/Local/Identities"; }
    fs::path storeOf(const std::string& identity) const {
        return identities() / identity / "Microsoft/Outlook Express";
    }

    // The main identity: a folder list of nested folders and their stores (one damaged);
    // the work identity: one store and no folder list.
    void makeStores() {
        fs::create_directories(storeOf(kMainIdentity));
        fs::create_directories(storeOf(kWorkIdentity));
        MailStoreMaker list(true);
        list.buildTree({list.addFolderRecord(1, 0, "Inbox", "Inbox.dbx"), list.addFolderRecord(2, 1, "Work", "Work.dbx"),
                        list.addFolderRecord(3, 0, "Sent Items", "Sent Items.dbx"),
                        list.addFolderRecord(4, 2, "Caf\xe9", "Cafe.dbx"),
                        list.addFolderRecord(5, 0, "Drafts", "Drafts.dbx")});
        list.save((storeOf(kMainIdentity) / "Folders.dbx").string());
        messages["Inbox"] = {sampleMessage("Ann <ann@example.org>", "Hello", "Mon, 1 Jan 2007 10:00:00 +0100", 3),
                             sampleMessage("bob@example.net", "From lines", "2 Feb 2008 23:59 -0500", 2,
                                           "From here on, >From quoted and >>From twice") +
                                 "From the very start\r\n",
                             sampleMessage("Long <long@example.org>", "Long", "Tue, 3 Mar 2009 08:00:00 GMT", 4000)};
        messages["Inbox/Work"] = {sampleMessage("w@example.org", "Work", "Wed, 4 Apr 2010 12:00:00 +0000", 1)};
        messages["Inbox/Work/Caf\xc3\xa9"] = {sampleMessage("c@example.org", "Caf\xe9", "Thu, 5 May 2011 12:00:00 +0000", 1)};
        messages["Sent Items"] = {};
        messages["Drafts"] = {sampleMessage("d@example.org", "Kept", "Fri, 6 Jun 2012 12:00:00 +0000", 30),
                              sampleMessage("d@example.org", "Lost", "Fri, 6 Jun 2012 12:00:00 +0000", 30)};
        const std::map<std::string, std::string> files = {{"Inbox", "Inbox.dbx"},
                                                          {"Inbox/Work", "Work.dbx"},
                                                          {"Inbox/Work/Caf\xc3\xa9", "Cafe.dbx"},
                                                          {"Sent Items", "Sent Items.dbx"},
                                                          {"Drafts", "Drafts.dbx"}};
        for (const auto& [folder, file] : files) {
            MailStoreMaker store;
            std::vector<uint32_t> records;
            for (const std::string& text : messages[folder]) records.push_back(store.addMessageRecord(text));
            if (folder == "Inbox") store.addDeletedMessage(messages[folder][0]);
            store.buildTree(records, 2);
            if (folder == "Drafts") {
                // The second message's chain loops back to its own first block.
                const uint32_t first = store.firstBlockOf(records[1]);
                store.putDword(first + 0x210 + 12, first);
                messages[folder].pop_back();
            }
            store.save((storeOf(kMainIdentity) / file).string());
        }
        MailStoreMaker work;
        messages["Work/Inbox"] = {sampleMessage("x@example.org", "Other identity", "Sat, 7 Jul 2013 12:00:00 +0000", 2)};
        work.buildTree({work.addMessageRecord(messages["Work/Inbox"][0])});
        work.save((storeOf(kWorkIdentity) / "Inbox.dbx").string());
    }

    CliResult run(const std::vector<std::string>& args) { return cli.run(args); }

    // The mail of the main identity as exported (mbox files, by folder).
    void expectMailOf(const fs::path& out) {
        for (const auto& [folder, expected] : messages) {
            SCOPED_TRACE(folder);
            const fs::path mbox = folder.starts_with("Work/") ? out / "Mail/Work" / (folder.substr(5) + ".mbox")
                                                              : out / "Mail/Main Identity" / (folder + ".mbox");
            ASSERT_TRUE(fs::exists(mbox)) << mbox;
            EXPECT_EQ(readMboxrd(readText(mbox)), expected);
        }
    }

    test::TempDir dir;
    test::CliRunner cli;
    std::map<std::string, std::vector<std::string>> messages;  // by folder path
};

TEST_F(ExportCliTest, ProfileAndItsDataFileExportTheSameMailFoldersAccountsAndFavorites) {
    const fs::path fromProfile = dir.path() / "from-profile";
    CliResult live = run({"export", fromProfile.string(), "--profile", dir.file("alice")});
    ASSERT_EQ(live.exitCode, 0) << live.err;
    expectMailOf(fromProfile);
    EXPECT_NE(live.out.find("7 messages in 6 mail folders ("), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("of deleted messages passed over"), std::string::npos) << live.out;
    // The damaged store is named with the offset of the damage; its other message is kept.
    EXPECT_NE(live.err.find("Drafts.dbx: damaged at offset 0x"), std::string::npos) << live.err;
    EXPECT_NE(live.err.find("loops"), std::string::npos) << live.err;

    // The separator lines carry the sender's address and the date in UTC.
    std::vector<std::string> fromLines;
    readMboxrd(readText(fromProfile / "Mail/Main Identity/Inbox.mbox"), &fromLines);
    EXPECT_EQ(fromLines, (std::vector<std::string>{"From ann@example.org Mon Jan  1 09:00:00 2007",
                                                   "From bob@example.net Sun Feb  3 04:59:00 2008",
                                                   "From long@example.org Tue Mar  3 08:00:00 2009"}));

    const std::string accounts = readText(fromProfile / "accounts.txt");
    EXPECT_NE(accounts.find("Incoming: POP3 mail.example.com, port 110"), std::string::npos) << accounts;
    EXPECT_NE(accounts.find("Address: alice.work@example.net"), std::string::npos) << accounts;
    EXPECT_NE(accounts.find("Passwords are not exported"), std::string::npos) << accounts;

    // The same from the data file, byte for byte (favorites keep no times there).
    CliResult made = run({"new", dir.file("p.tsly"), "--name", "p", "--items", "all", "--folder", dir.file("out"),
                          "--profile", dir.file("alice")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    CliResult backup = run({"backup", dir.file("p.tsly"), "--profile", dir.file("alice")});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    const fs::path fromData = dir.path() / "from-data";
    CliResult stored = run({"export", dir.file("out/p.tsly_dat"), fromData.string(), "--profile", dir.file("alice")});
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    expectMailOf(fromData);
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(fromData)) {
        names.push_back(fs::relative(entry.path(), fromData).string());
        if (!entry.is_regular_file() || entry.path().filename() == "bookmarks.html") continue;
        EXPECT_EQ(test::readHostFile(entry.path().string()),
                  test::readHostFile((fromProfile / fs::relative(entry.path(), fromData)).string()))
            << entry.path();
    }
    // Nothing of the scratch profile stays.
    for (const std::string& name : names) EXPECT_EQ(name.find(".tessaly-tmp-"), std::string::npos) << name;
    EXPECT_EQ(std::count(names.begin(), names.end(), "bookmarks.html"), 1);
}

TEST_F(ExportCliTest, EmlFilesHoldTheBytesUndbxExtractsFromTheSameStore) {
    const fs::path out = dir.path() / "eml";
    CliResult done = run({"export", out.string(), "--eml", "--items", "oe", "--profile", dir.file("alice")});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    const std::string undbx = "undbx -v 0 '" + (storeOf(kMainIdentity) / "Inbox.dbx").string() + "' '" +
                              dir.file("undbx") + "' > /dev/null 2>&1";
    ASSERT_EQ(std::system(undbx.c_str()), 0);
    std::vector<std::string> theirs, ours;
    for (const auto& entry : fs::directory_iterator(dir.path() / "undbx/Inbox"))
        if (entry.is_regular_file()) theirs.push_back(readText(entry.path()));
    for (const auto& entry : fs::directory_iterator(out / "Mail/Main Identity/Inbox"))
        if (entry.is_regular_file()) ours.push_back(readText(entry.path()));
    std::sort(theirs.begin(), theirs.end());
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours.size(), 3u);
    EXPECT_EQ(ours, theirs);
    EXPECT_FALSE(fs::exists(out / "bookmarks.html")) << "--items oe exports no favorites";
}

TEST_F(ExportCliTest, BookmarksParseBackIntoTheFavoritesTree) {
    const fs::path out = dir.path() / "b";
    ASSERT_EQ(run({"export", out.string(), "--items", "favorites", "--profile", dir.file("alice")}).exitCode, 0);
    const std::string command = "/usr/bin/python3 '" + std::string(TESSALY_SOURCE_DIR) + "/tests/app/read_bookmarks.py' '" +
                                (out / "bookmarks.html").string() + "' > '" + dir.file("links") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // Each favorite of the sample profile, with its folder, its address and its file's time.
    const fs::path favorites = dir.path() / "alice/drive_c/users/alice/Favorites";
    std::vector<std::string> expected;
    for (const auto& entry : fs::recursive_directory_iterator(favorites)) {
        if (entry.path().extension() != ".url") continue;
        const std::string text = readText(entry.path());
        const size_t url = text.find("URL=") + 4;
        const std::string folder = fs::relative(entry.path().parent_path(), favorites).string();
        struct stat st {};
        ::stat(entry.path().c_str(), &st);
        expected.push_back((folder == "." ? "" : folder) + "\t" + entry.path().stem().string() + "\t" +
                           text.substr(url, text.find('\r', url) - url) + "\t" + std::to_string(st.st_mtime));
    }
    std::vector<std::string> links;
    std::istringstream lines(readText(dir.file("links")));
    for (std::string line; std::getline(lines, line);) links.push_back(line);
    std::sort(expected.begin(), expected.end());
    std::sort(links.begin(), links.end());
    EXPECT_EQ(links.size(), 5u);
    EXPECT_EQ(links, expected);
}

TEST_F(ExportCliTest, NothingIsReplacedWithoutForceAndJsonTellsWhatWasWritten) {
    const fs::path out = dir.path() / "x";
    ASSERT_EQ(run({"export", out.string(), "--items", "oe", "--quiet", "--profile", dir.file("alice")}).exitCode, 0);
    const fs::path inbox = out / "Mail/Main Identity/Inbox.mbox";
    test::writeHostFile(inbox.string(), std::string("mine"));
    CliResult again = run({"export", out.string(), "--items", "oe", "--profile", dir.file("alice")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("--force replaces it"), std::string::npos) << again.err;
    EXPECT_EQ(readText(inbox), "mine");

    CliResult forced = run({"export", out.string(), "--items", "oe", "--force", "--json", "--profile", dir.file("alice")});
    ASSERT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_NE(readText(inbox), "mine");
    for (const auto& entry : fs::recursive_directory_iterator(out))
        EXPECT_EQ(entry.path().filename().string().find(".tessaly-tmp-"), std::string::npos) << entry.path();
    test::writeHostFile(dir.file("export.json"), forced.out);
    const std::string check =
        "/usr/bin/python3 -c \"import json,sys; d=json.load(open(sys.argv[1]));"
        " assert d['messages']==7 and d['mail_folders']==6 and d['passwords_exported'] is False, d;"
        " assert 'Mail/Main Identity/Inbox/Work.mbox' in d['files'] and 'accounts.txt' in d['files'], d['files'];"
        " a=d['accounts']; assert len(a)==2 and a[0]['incoming']=={'kind':'POP3','server':'mail.example.com',"
        "'port':110,'secure':False}, a;"
        " assert not any('assword2' in json.dumps(x) for x in a);"
        " assert any('Drafts.dbx: damaged at offset' in w for w in d['warnings']), d['warnings']\" '" +
        dir.file("export.json") + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << forced.out;

    // A store folder named like a parent folder of the export, or ".." in the folder list,
    // stays below the export folder.
    MailStoreMaker list(true);
    list.buildTree({list.addFolderRecord(1, 0, "..", "Inbox.dbx"), list.addFolderRecord(2, 1, "../../etc", "Work.dbx")});
    list.save((storeOf(kMainIdentity) / "Folders.dbx").string());
    const fs::path odd = dir.path() / "odd";
    ASSERT_EQ(run({"export", odd.string(), "--items", "oe", "--profile", dir.file("alice")}).exitCode, 0);
    EXPECT_TRUE(fs::exists(odd / "Mail/Main Identity/_../.._.._etc.mbox"));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".mbox") << entry.path();
}

TEST_F(ExportCliTest, ADataFileExportStoppedByATakenNameTakesAwayWhatItHadConverted) {
    ASSERT_EQ(run({"new", dir.file("p.tsly"), "--name", "p", "--items", "oe", "--folder", dir.file("out"), "--profile",
                   dir.file("alice")})
                  .exitCode,
              0);
    ASSERT_EQ(run({"backup", dir.file("p.tsly"), "--quiet", "--profile", dir.file("alice")}).exitCode, 0);
    // The work identity's store has no folder list, so it is converted last, after the
    // main identity's stores were converted and held back.
    const fs::path out = dir.path() / "taken";
    fs::create_directories(out / "Mail/Work");
    test::writeHostFile((out / "Mail/Work/Inbox.mbox").string(), std::string("mine"));
    CliResult stopped = run({"export", dir.file("out/p.tsly_dat"), out.string(), "--profile", dir.file("alice")});
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_NE(stopped.err.find("--force replaces it"), std::string::npos) << stopped.err;
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(out)) left.push_back(fs::relative(entry.path(), out).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Mail", "Mail/Work", "Mail/Work/Inbox.mbox"}));
    EXPECT_EQ(readText(out / "Mail/Work/Inbox.mbox"), "mine");
}

TEST_F(ExportCliTest, ADamagedDataFileOrAWrongPasswordLeavesNothingBehind) {
    cli.environment["TESSALY_PASSWORD"] = "secret";
    CliResult made = run({"new", dir.file("p.tsly"), "--name", "p", "--items", "oe", "--folder", dir.file("out"),
                          "--encrypt", "--profile", dir.file("alice")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ASSERT_EQ(run({"backup", dir.file("p.tsly"), "--quiet", "--profile", dir.file("alice")}).exitCode, 0);
    const std::string data = dir.file("out/p.tsly_dat");
    std::vector<uint8_t> bytes = test::readHostFile(data);
    bytes.resize(bytes.size() * 2 / 3);
    test::writeHostFile(dir.file("cut.tsly_dat"), bytes);
    struct Case {
        const char* name;
        std::string file;
        const char* password;
        int exitCode;
    };
    const Case cases[] = {{"a data file cut short", dir.file("cut.tsly_dat"), "secret", 1},
                          {"a wrong password", data, "wrong", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cli.environment["TESSALY_PASSWORD"] = c.password;
        const fs::path out = dir.path() / "failed";
        CliResult failed = run({"export", c.file, out.string(), "--profile", dir.file("alice")});
        EXPECT_EQ(failed.exitCode, c.exitCode) << failed.err;
        EXPECT_NE(failed.err.find(c.file), std::string::npos) << failed.err;
        // Neither the scratch copy nor a part of any output stays.
        if (fs::exists(out)) {
            for (const auto& entry : fs::recursive_directory_iterator(out))
                ADD_FAILURE() << "left behind: " << entry.path();
        }
    }
}

TEST_F(ExportCliTest, TheAddressBookBecomesVCardsAndABookNotWhollyUnderstoodIsAlsoCopiedAsItIs) {
    fs::remove_all(addressBooks());
    fs::create_directories(addressBooks());
    test::makeAddressBook("sound", (addressBooks() / "alice.wab").string(), dir.file("alice.json"));
    const fs::path out = dir.path() / "cards";
    CliResult done = run({"export", out.string(), "--items", "addressbook", "--profile", dir.file("alice")});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_NE(done.out.find("3 contacts and 1 group, 1 file ("), std::string::npos) << done.out;
    EXPECT_EQ(done.err, "");
    EXPECT_EQ(test::vcardDifferences((out / "contacts.vcf").string(), dir.file("alice.json")), "");
    EXPECT_FALSE(fs::exists(out / "Address Book"));

    // A record of a kind no card holds, and a file that is no address book at all: named
    // in a warning with the offset, and the file copied beside what could be converted.
    const struct {
        const char* variant;
        bool cards;
    } cases[] = {{"folder-record", true}, {"not-a-book", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        const test::MadeAddressBook made =
            test::makeAddressBook(c.variant, (addressBooks() / "alice.wab").string(), dir.file("h.json"));
        const fs::path hostile = dir.path() / c.variant;
        CliResult partly = run({"export", hostile.string(), "--items", "addressbook", "--json", "--profile",
                                dir.file("alice")});
        ASSERT_EQ(partly.exitCode, 0) << partly.err;
        EXPECT_NE(partly.err.find("alice.wab: "), std::string::npos) << partly.err;
        EXPECT_NE(partly.err.find(addressBookOffset(made.damageOffset)), std::string::npos) << partly.err;
        EXPECT_NE(partly.err.find("copied as it is to Address Book/alice.wab"), std::string::npos) << partly.err;
        EXPECT_EQ(test::readHostFile((hostile / "Address Book/alice.wab").string()),
                  test::readHostFile((addressBooks() / "alice.wab").string()));
        EXPECT_EQ(fs::exists(hostile / "contacts.vcf"), c.cards);
        EXPECT_NE(partly.out.find(c.cards ? "\"contacts\": 3,\n  \"contact_groups\": 1,\n  \"address_books_copied\": 1"
                                          : "\"contacts\": 0,\n  \"contact_groups\": 0,\n  \"address_books_copied\": 1"),
                  std::string::npos)
            << partly.out;
    }

    // Two address books: two files, told apart by the books' names.
    test::makeAddressBook("sound", (addressBooks() / "alice.wab").string(), dir.file("alice.json"));
    fs::copy_file(addressBooks() / "alice.wab", addressBooks() / "bob.wab");
    const fs::path two = dir.path() / "two";
    ASSERT_EQ(run({"export", two.string(), "--items", "addressbook", "--profile", dir.file("alice")}).exitCode, 0);
    EXPECT_EQ(test::vcardDifferences((two / "contacts (alice).vcf").string(), dir.file("alice.json")), "");
    EXPECT_EQ(test::vcardDifferences((two / "contacts (bob).vcf").string(), dir.file("alice.json")), "");
}

}  // namespace
}  // namespace ts
