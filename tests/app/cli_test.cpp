// End to end: the real tessaly-cli on sample profiles made by scripts/make-sample-profile.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "cli_runner.h"
#include "engine/backup_run.h"
#include "engine/run_test_support.h"
#include "engine/project.h"
#include "engine/work_folder.h"
#include "platform/registry/registry_hive.h"
#include "support/crafted_data_file.h"
#include "support/ftp_script_server.h"
#include "support/strict_reg_reader.h"
#include "support/ftp_test_server.h"
#include "support/vsftpd_server.h"
#include "transfer/ftp/ftp_trust_store.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::CliResult;

// The folders the items save, relative to the user's folder in drive_c.
const char* const kAddressBook = "AppData/Roaming/Microsoft/Address Book";
const char* const kIdentities = "AppData/Local/Identities";
const char* const kFavorites = "Favorites";
const std::vector<std::string> kSavedKeys = {"Software\\Microsoft\\Internet Explorer",
                                             "Software\\Microsoft\\Internet Account Manager", "Identities"};

std::map<std::string, std::vector<uint8_t>> filesBelow(const fs::path& base, const std::string& onlyExtension = "") {
    std::map<std::string, std::vector<uint8_t>> files;
    if (!fs::exists(base)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(base)) {
        if (!entry.is_regular_file()) continue;
        if (!onlyExtension.empty() && entry.path().extension() != onlyExtension) continue;
        files[fs::relative(entry.path(), base).string()] = test::readHostFile(entry.path().string());
    }
    return files;
}

// Every file, and its bytes, of a whole folder: what "nothing was written" compares.
std::map<std::string, std::vector<uint8_t>> snapshot(const fs::path& folder) {
    return filesBelow(folder);
}

class CliTest : public ::testing::Test {
protected:
    CliTest() : cli(dir.path().string()) {
        cli.keepToWorkDir();
        makeProfile("alice", "alice");
        fs::create_directory(dir.path() / "out");
    }

    void makeProfile(const std::string& folder, const std::string& user) {
        ASSERT_TRUE(test::makeSampleProfile(dir.file(folder), user)) << folder;
    }

    CliResult run(const std::vector<std::string>& args, const std::string& user = "alice") {
        cli.environment["USER"] = user;
        return cli.run(args);
    }

    void setPassword(std::optional<std::string> password) { cli.environment["TESSALY_PASSWORD"] = password; }

    // A project file for all items into out/, then its backup; returns the data file.
    std::string backUp(const std::string& name, const std::string& level = "default", bool encrypt = false,
                       const std::string& items = "all") {
        std::vector<std::string> args = {"new", dir.file(name + ".tsly"), "--name", name, "--items", items,
                                         "--folder", dir.file("out"), "--level", level, "--profile", dir.file("alice")};
        if (encrypt) args.push_back("--encrypt");
        CliResult made = run(args);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        CliResult done = run({"backup", dir.file(name + ".tsly"), "--profile", dir.file("alice")});
        EXPECT_EQ(done.exitCode, 0) << done.err;
        return dir.file("out/" + name + ".tsly_dat");
    }

    fs::path userFolder(const std::string& profile, const std::string& user) const {
        return dir.path() / profile / "drive_c/users" / user;
    }

    std::unique_ptr<RegistryHive> hiveOf(const std::string& profile) const {
        return RegistryHive::openUserReg(dir.file(profile + "/user.reg"), dir.file(profile));
    }

    // String, integer and binary values come back equal; expandable strings and other types
    // are kept by name and size only and never written back.
    void expectRegistryRestored(const std::string& target) {
        auto source = hiveOf("alice");
        auto restored = hiveOf(target);
        int compared = 0;
        std::function<void(const std::string&)> walk = [&](const std::string& key) {
            for (const std::string& name : source->valueNames(key)) {
                RegValue value = *source->value(key, name);
                auto copy = restored->value(key, name);
                SCOPED_TRACE(key + " : " + name);
                if (value.type == REG_SZ) {
                    ASSERT_TRUE(copy);
                    EXPECT_EQ(copy->type, REG_SZ);
                    EXPECT_EQ(copy->asText(), value.asText());
                } else if (value.type == REG_DWORD || value.type == REG_BINARY) {
                    ASSERT_TRUE(copy);
                    EXPECT_EQ(copy->type, value.type);
                    EXPECT_EQ(copy->data, value.data);
                } else {
                    EXPECT_FALSE(copy) << "type " << value.type << " written back";
                }
                ++compared;
            }
            for (const std::string& sub : source->subkeyNames(key)) {
                EXPECT_TRUE(restored->keyExists(key + "\\" + sub)) << key << "\\" << sub;
                walk(key + "\\" + sub);
            }
        };
        for (const std::string& key : kSavedKeys) walk(key);
        EXPECT_GT(compared, 20);
    }

    void expectFilesRestored(const std::string& target, const std::string& user) {
        fs::path from = userFolder("alice", "alice"), to = userFolder(target, user);
        EXPECT_EQ(filesBelow(to / kAddressBook), filesBelow(from / kAddressBook));
        EXPECT_EQ(filesBelow(to / kIdentities), filesBelow(from / kIdentities));
        EXPECT_EQ(filesBelow(to / kFavorites), filesBelow(from / kFavorites, ".url"));
        EXPECT_FALSE(filesBelow(from / kIdentities).empty());
        EXPECT_FALSE(filesBelow(from / kFavorites, ".url").empty());
    }

    test::TempDir dir;
    test::CliRunner cli;
};

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

TEST_F(CliTest, BackupAndRestoreIntoAFreshProfileOfAnotherUserAtEveryLevelWithAndWithoutPassword) {
    struct Case {
        std::string level;
        std::optional<std::string> password;
    };
    const std::vector<Case> cases = {{"none", {}},
                                     {"fastest", {}},
                                     {"default", {}},
                                     {"max", {}},
                                     {"default", std::string("s\xc3\xa9same")},
                                     {"fastest", std::string("")}};  // the empty text is a password too
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level + (c.password ? " with password \"" + *c.password + "\"" : ""));
        std::string name = "Mail" + std::to_string(++n);
        setPassword(c.password);
        std::string data = backUp(name, c.level, c.password.has_value());
        EXPECT_EQ(modeOf(data), 0600u);
        EXPECT_EQ(modeOf(dir.file(name + ".tsly")), 0600u);

        CliResult checked = run({"check", data, "--profile", dir.file("alice")});
        EXPECT_EQ(checked.exitCode, 0) << checked.err;
        EXPECT_EQ(checked.out + checked.err, "") << "nothing but errors off a terminal";

        std::string target = "fresh" + std::to_string(n);
        CliResult restored = run({"restore", data, "--profile", dir.file(target)}, "bob");
        ASSERT_EQ(restored.exitCode, 0) << restored.err;
        expectFilesRestored(target, "bob");
        expectRegistryRestored(target);
    }
}

TEST_F(CliTest, AWrongOrMissingPasswordExitsWith3AndWritesNothing) {
    setPassword("right");
    std::string data = backUp("Secret", "default", true);
    makeProfile("bob", "bob");
    auto before = snapshot(dir.path() / "bob");

    setPassword("wrong");
    for (std::string command : {"restore", "ls", "check"}) {
        CliResult result = run({command, data, "--profile", dir.file("bob")}, "bob");
        EXPECT_EQ(result.exitCode, 3) << command << ": " << result.err;
        EXPECT_NE(result.err.find(data), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one line: " << result.err;
    }
    setPassword(std::nullopt);  // and no terminal to ask on
    CliResult missing = run({"restore", data, "--profile", dir.file("bob")}, "bob");
    EXPECT_EQ(missing.exitCode, 3) << missing.err;
    EXPECT_NE(missing.err.find("TESSALY_PASSWORD"), std::string::npos) << missing.err;
    CliResult backup = run({"backup", dir.file("Secret.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(backup.exitCode, 3) << backup.err;
    setPassword("wrong");
    CliResult extracted = run({"extract", data, dir.file("x"), "--profile", dir.file("bob")}, "bob");
    EXPECT_EQ(extracted.exitCode, 3) << extracted.err;
    EXPECT_FALSE(fs::exists(dir.path() / "x")) << "the folder is made only after the password is right";
    CliResult fresh = run({"restore", data, "--profile", dir.file("fresh")}, "bob");
    EXPECT_EQ(fresh.exitCode, 3) << fresh.err;
    EXPECT_FALSE(fs::exists(dir.path() / "fresh")) << "no profile skeleton and no debug log for a wrong password";

    auto after = snapshot(dir.path() / "bob");
    after.erase("drive_c/ts_debug.log");
    before.erase("drive_c/ts_debug.log");
    EXPECT_TRUE(before == after) << "the profile changed";
}

TEST_F(CliTest, RestoreOfSomeItemsPassesOverTheOthers) {
    std::string data = backUp("Mail");
    CliResult result = run({"restore", data, "--items", "favorites,ie", "--profile", dir.file("part")}, "bob");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    fs::path to = userFolder("part", "bob");
    EXPECT_EQ(filesBelow(to / kFavorites), filesBelow(userFolder("alice", "alice") / kFavorites, ".url"));
    EXPECT_TRUE(filesBelow(to / kIdentities).empty());
    EXPECT_TRUE(filesBelow(to / kAddressBook).empty());
    auto hive = hiveOf("part");
    EXPECT_TRUE(hive->keyExists("Software\\Microsoft\\Internet Explorer\\Main"));
    EXPECT_FALSE(hive->keyExists("Software\\Microsoft\\Internet Account Manager"));
    EXPECT_FALSE(hive->keyExists("Identities"));

    std::string some = backUp("Some", "default", false, "favorites");
    CliResult absent = run({"restore", some, "--items", "oe", "--profile", dir.file("part")}, "bob");
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_NE(absent.err.find("holds no Outlook Express Data"), std::string::npos) << absent.err;
    EXPECT_EQ(run({"restore", some, "--items", "mail", "--profile", dir.file("part")}).exitCode, 2);
}

// With the right password, damage is damage (exit 1), plain or encrypted, never exit 3.
TEST_F(CliTest, CheckFailsOnEveryKindOfDamageNamingTheFile) {
    for (bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        setPassword(encrypted ? std::optional<std::string>("right") : std::nullopt);
        std::string data = backUp("Mail", "default", encrypted);
        std::vector<uint8_t> whole = test::readHostFile(data);
        struct Damage {
            std::string name;
            std::function<std::vector<uint8_t>()> make;
            std::string expected;
        };
        const std::vector<Damage> damages = {
            {"cut", [&] { return std::vector<uint8_t>(whole.begin(), whole.end() - 2); }, "cut short"},
            {"cut-early", [&] { return std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2); },
             "damaged at byte"},
            {"flipped", [&] { auto b = whole; b[b.size() / 2] ^= 0x55; return b; }, "damaged at byte"},
            {"trailing", [&] { auto b = whole; b.push_back(0); return b; }, "unexpected bytes"},
            {"text", [&] { return std::vector<uint8_t>(4000, 'x'); }, "incorrect header check"},
        };
        for (const Damage& damage : damages) {
            SCOPED_TRACE(damage.name);
            std::string file = dir.file(damage.name + ".tsly_dat");
            test::writeHostFile(file, damage.make());
            CliResult result = run({"check", file, "--profile", dir.file("alice")});
            EXPECT_EQ(result.exitCode, 1) << result.err;
            EXPECT_NE(result.err.find(file), std::string::npos) << result.err;
            EXPECT_NE(result.err.find(damage.expected), std::string::npos) << result.err;
        }
    }
    // A project file is no data file, compressed or not.
    CliResult project = run({"check", dir.file("Mail.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(project.exitCode, 1);
    // A FIFO nobody writes to is refused at once instead of waiting for ever.
    ASSERT_EQ(::mkfifo(dir.file("fifo.tsly_dat").c_str(), 0600), 0);
    for (std::string command : {"check", "ls", "restore"}) {
        CliResult fifo = run({command, dir.file("fifo.tsly_dat"), "--profile", dir.file("alice")});
        EXPECT_EQ(fifo.exitCode, 1) << command << ": " << fifo.err;
        EXPECT_NE(fifo.err.find("not a regular file"), std::string::npos) << command << ": " << fifo.err;
    }
    CliResult fifoProject = run({"backup", dir.file("fifo.tsly_dat"), "--profile", dir.file("alice")});
    EXPECT_EQ(fifoProject.exitCode, 1) << fifoProject.err;
}

TEST_F(CliTest, LsShowsTheProjectAndItsItemsButNeverTheFtpPassword) {
    // An FTP project's data file, made in this process: the run itself would upload it.
    std::string data = dir.file("out/Remote.tsly_dat");
    {
        TtsBackupProject project;
        project.SetName("Remote");
        project.SetWorkFolder(dir.file("cache/tessaly"));
        project.Destination().SetKind(TtsBPDestination::kKindFtp);
        project.Destination().SetHost("ftp.example.org:2121");
        project.Destination().SetUserName("zoe");
        project.Destination().SetRemoteFolder("backups");
        project.Destination().SetFtpPassword("ftp-secret-42");
        // The data file the run would store on the server, kept here instead.
        struct KeepHere : DataFileUpload {
            std::string data;
            void Upload(UploadRunLink&, const TtsBPDestination&, const std::string& localFile,
                        const std::string&) override {
                fs::create_directories(fs::path(data).parent_path());
                fs::copy_file(localFile, data);
            }
        } keep;
        keep.data = data;
        BackupRun run(project);
        run.setUploader(&keep);
        run.run();
    }
    CliResult result = run({"ls", data, "--profile", dir.file("alice")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Project:      Remote"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Encrypted:    no"), std::string::npos);
    EXPECT_NE(result.out.find("FTP ftp.example.org:2121, folder backups, user zoe"), std::string::npos);
    EXPECT_NE(result.out.find("Favorites: not stored"), std::string::npos);
    EXPECT_EQ(result.out.find("ftp-secret-42"), std::string::npos);

    std::string mail = backUp("Mail");
    CliResult listed = run({"ls", mail, "--profile", dir.file("alice")});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("Outlook Express Data: stored"), std::string::npos);
    EXPECT_NE(listed.out.find("key  \\Software\\Microsoft\\Internet Explorer\\Main"), std::string::npos);
    EXPECT_NE(listed.out.find("file [CSIDL_LOCAL_APPDATA]\\Identities\\"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("file [CSIDL_FAVORITES]\\Example.url"), std::string::npos) << listed.out;
}

TEST_F(CliTest, NewWritesFtpProjectsWithThePasswordFromTheEnvironmentOnly) {
    cli.environment["TESSALY_FTP_PASSWORD"] = "ftp-secret";
    CliResult made = run({"new", dir.file("ftp.tsly"), "--name", "Up", "--items", "oe,ie", "--ftp",
                          "ftp.example.org:2121", "--remote-folder", "/in", "--user", "zoe", "--level", "max"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    TtsBackupProject project;
    project.LoadFromFile(dir.file("ftp.tsly"));
    EXPECT_EQ(project.Name(), "Up");
    EXPECT_EQ(project.CompressionLevel(), 3);
    EXPECT_EQ(project.Destination().Kind(), TtsBPDestination::kKindFtp);
    EXPECT_EQ(project.Destination().Host(), "ftp.example.org:2121");
    EXPECT_EQ(project.Destination().FtpPassword(), "ftp-secret");
    EXPECT_FALSE(project.Source().FindItem("Favorites")->Selected());
    EXPECT_TRUE(project.Source().FindItem("IE Settings")->Selected());
    EXPECT_TRUE(project.Source().FindItem("Outlook Express Data")->Selected());

    cli.environment["TESSALY_FTP_PASSWORD"] = std::nullopt;
    CliResult noPassword = run({"new", dir.file("ftp2.tsly"), "--name", "Up", "--items", "oe", "--ftp", "h",
                                "--remote-folder", "/in", "--user", "zoe"});
    EXPECT_EQ(noPassword.exitCode, 3) << noPassword.err;
    EXPECT_FALSE(fs::exists(dir.file("ftp2.tsly")));
}

TEST_F(CliTest, BackupUploadsToAnFtpServerAndReportsAFailedUploadInOneLine) {
    test::PyFtpServer server;
    fs::create_directory(server.home() / "in");
    cli.environment["TESSALY_FTP_PASSWORD"] = server.options().password;
    ASSERT_EQ(run({"new", dir.file("up.tsly"), "--name", "Up", "--items", "favorites", "--ftp", server.host(),
                   "--remote-folder", "in", "--user", server.options().user, "--profile", dir.file("alice")})
                  .exitCode,
              0);
    CliResult done = run({"backup", dir.file("up.tsly"), "--profile", dir.file("alice")});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    // Where it went, and never with the password.
    EXPECT_EQ(done.out.rfind("Uploaded ftp://" + server.options().user + "@" + server.host() + "/in/Up.tsly_dat: 1 item (Favorites), ", 0), 0u)
        << done.out;
    EXPECT_EQ(done.out.find(server.options().password), std::string::npos);
    std::string uploaded = (server.home() / "in/Up.tsly_dat").string();
    CliResult checked = run({"check", uploaded, "--profile", dir.file("alice")});
    EXPECT_EQ(checked.exitCode, 0) << checked.err;

    cli.environment["TESSALY_FTP_PASSWORD"] = "not-the-password";
    ASSERT_EQ(run({"new", dir.file("bad.tsly"), "--name", "Bad", "--items", "favorites", "--ftp", server.host(),
                   "--remote-folder", "in", "--user", server.options().user, "--profile", dir.file("alice")})
                  .exitCode,
              0);
    CliResult failed = run({"backup", dir.file("bad.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(failed.exitCode, 4);
    EXPECT_NE(failed.err.find(dir.file("bad.tsly") + ": Transferring failed, please check your ftp settings! ("),
              std::string::npos)
        << failed.err;
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
    EXPECT_EQ(failed.err.find("not-the-password"), std::string::npos);
    EXPECT_FALSE(fs::exists(server.home() / "in/Bad.tsly_dat"));
}

TEST_F(CliTest, TestFtpChecksLogInFolderAndCertificateWithItsOwnExitCodeForARefusedLogIn) {
    if (!test::Vsftpd::available()) GTEST_SKIP() << "vsftpd is not installed";
    test::Vsftpd plain;
    test::Vsftpd secure({.tls = true});
    auto project = [&](const std::string& file, const std::string& host, const std::string& password,
                       const std::string& folder = test::Vsftpd::kFolder) {
        cli.environment["TESSALY_FTP_PASSWORD"] = password;
        CliResult made = run({"new", dir.file(file), "--name", "Up", "--items", "favorites", "--ftp", host,
                              "--remote-folder", folder, "--user", test::Vsftpd::kUser, "--profile", dir.file("alice")});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return dir.file(file);
    };
    auto testFtp = [&](const std::string& file, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"test-ftp", file, "--profile", dir.file("alice")};
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    struct Case {
        std::string name;
        std::string host;
        std::string password;
        std::string folder;
        int exitCode;
        std::string saying;  // in standard output on success, standard error otherwise
    };
    const Case cases[] = {
        {"ok", plain.host(), test::Vsftpd::kPassword, test::Vsftpd::kFolder, 0, "FTP Test ok!\n"},
        {"password", plain.host(), "wrong-password", test::Vsftpd::kFolder, 4, "refused the log-in: 530 Login incorrect."},
        {"folder", plain.host(), test::Vsftpd::kPassword, "no-such-folder", 1, "550 Failed to change directory."},
        {"tls wanted", secure.host(), test::Vsftpd::kPassword, test::Vsftpd::kFolder, 1,
         "set the host to ftpes://" + secure.host() + " to use TLS"},
        {"not trusted", "ftpes://" + secure.host(), test::Vsftpd::kPassword, test::Vsftpd::kFolder, 1,
         "--trust-fingerprint " + secure.fingerprint()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CliResult result = testFtp(project(c.name + ".tsly", c.host, c.password, c.folder));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE((c.exitCode == 0 ? result.out : result.err).find(c.saying), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find(c.password), std::string::npos);
    }
    CliResult refused = run({"backup", dir.file("password.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(refused.exitCode, 4) << refused.err;

    // Pinned once by the test, the self-signed server takes backups from then on.
    CliResult pinned = testFtp(dir.file("not trusted.tsly"), {"--trust-fingerprint", secure.fingerprint()});
    EXPECT_EQ(pinned.exitCode, 0) << pinned.err;
    EXPECT_NE(pinned.out.find("FTP Test ok!"), std::string::npos);
    EXPECT_EQ(run({"backup", dir.file("not trusted.tsly"), "--profile", dir.file("alice")}).exitCode, 0);
    EXPECT_TRUE(fs::exists(secure.folder() / "Up.tsly_dat"));
    EXPECT_EQ(testFtp(dir.file("not trusted.tsly"), {"--trust-fingerprint", "12:34"}).exitCode, 2);

    // A server whose certificate is not the one pinned for it: renewed, or someone in between.
    test::Vsftpd renewed({.tls = true});
    FtpTrustStore(dir.file("config") + "/tessaly/settings.reg").trust(renewed.host(), secure.fingerprint());
    CliResult changed = testFtp(project("renewed.tsly", "ftpes://" + renewed.host(), test::Vsftpd::kPassword));
    EXPECT_EQ(changed.exitCode, 1);
    for (const std::string& saying :
         {"certificate differs from the one pinned for it: its SHA-256 fingerprint is " + renewed.fingerprint() +
              ", the pinned one " + secure.fingerprint() + ". This may be an attack",
          std::string("the certificate is not the one pinned for this server"),
          "--trust-fingerprint " + renewed.fingerprint()})
        EXPECT_NE(changed.err.find(saying), std::string::npos) << saying << "\n" << changed.err;
}

TEST_F(CliTest, UsageErrorsExitWith2AndEveryCommandHasHelp) {
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({"frobnicate"}).exitCode, 2);
    for (std::string command : {"new", "backup", "ls", "check", "restore", "test-ftp"}) {
        CliResult help = run({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind("Usage: tessaly-cli " + command, 0), 0u) << help.out;
        EXPECT_EQ(run({command}).exitCode, 2) << command << " without its file";
        EXPECT_EQ(run({command, "x", "--bogus"}).exitCode, 2) << command;
    }
    EXPECT_EQ(run({"new", "p.tsly", "--name", "n", "--items", "all"}).exitCode, 2) << "no destination";
    EXPECT_EQ(run({"new", "p.tsly", "--name", "n", "--items", "all", "--folder", "o", "--ftp", "h"}).exitCode, 2);
    EXPECT_EQ(run({"new", "p.tsly", "--name", "n", "--items", "all", "--folder", "o", "--level", "9"}).exitCode, 2);
    EXPECT_EQ(run({"new", "p.tsly", "--name", "n", "--items", "all", "--ftp", "h", "--user", "u"}).exitCode, 2)
        << "no remote folder";
    CliResult missing = run({"backup", dir.file("none.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find(dir.file("none.tsly")), std::string::npos) << missing.err;
    CliResult notProject = run({"backup", dir.file("alice/user.reg"), "--profile", dir.file("alice")});
    EXPECT_EQ(notProject.exitCode, 1);
    EXPECT_NE(notProject.err.find("not a Tessaly project file"), std::string::npos) << notProject.err;
}

TEST_F(CliTest, ASecondRunAtTheSameTimeFailsAtOnceWithAClearMessage) {
    std::string data = backUp("Mail");
    auto before = test::readHostFile(data);
    WorkFolderLock held(dir.file("cache/tessaly"));
    CliResult result = run({"backup", dir.file("Mail.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Another backup or restore is running"), std::string::npos) << result.err;
    EXPECT_EQ(test::readHostFile(data), before);
    EXPECT_EQ(run({"restore", data, "--profile", dir.file("other")}, "bob").exitCode, 1);
}

TEST_F(CliTest, CtrlCCancelsTheBackupAndKeepsThePreviousDataFile) {
    std::string data = backUp("Mail");
    auto before = test::readHostFile(data);
    // Enough mail to keep the run busy for a while.
    fs::path store = userFolder("alice", "alice") / kIdentities / "{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}";
    test::writeHostFile((store / "Huge.dbx").string(), test::randomBytes(96 << 20, 5));

    cli.environment["USER"] = "alice";
    int pid = cli.start({"backup", dir.file("Mail.tsly"), "--profile", dir.file("alice")});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGINT);
    CliResult result = cli.wait(pid);
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.err.find("backup cancelled"), std::string::npos) << "stopped through the cancel flag: " << result.err;
    EXPECT_EQ(test::readHostFile(data), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "out"), fs::directory_iterator()), 1)
        << "no partial file beside the data file";
}

// Once RNTO is out the server may already have put the new backup in place: a Ctrl-C then
// changes nothing, and the run reports what the server answered.
TEST_F(CliTest, CtrlCAfterTheFtpRenameWasSentIsIgnoredAndTheBackupSucceeds) {
    std::atomic<int> pid{0};
    test::ScriptedFtpServer server([&](test::ScriptedFtpSession& session) {
        session.logIn();
        session.expectCommand("CWD in");
        session.reply("250 ok");
        for (const char* stale : {"DELE Up.tsly_dat_tmp", "DELE Up.tsly_dat_tmp2"}) {
            session.expectCommand(stale);
            session.reply("550 No such file");
        }
        TcpSocket data = session.connectToPort(session.readCommand());
        session.reply("200 PORT ok");
        session.expectCommand("STOR Up.tsly_dat_tmp");
        session.reply("150 go");
        const size_t size = session.receiveAll(data).size();
        session.reply("226 done");
        session.expectCommand("SIZE Up.tsly_dat_tmp");
        session.reply("213 " + std::to_string(size));
        session.expectCommand("RNFR Up.tsly_dat_tmp");
        session.reply("350 ok");
        session.expectCommand("RNTO Up.tsly_dat");
        ::kill(pid, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        session.reply("250 renamed");
        session.waitForClientClose(std::chrono::milliseconds(10000));
    });
    cli.environment["TESSALY_FTP_PASSWORD"] = "secret";
    ASSERT_EQ(run({"new", dir.file("up.tsly"), "--name", "Up", "--items", "favorites", "--ftp", server.host(),
                   "--remote-folder", "in", "--user", "bob", "--profile", dir.file("alice")})
                  .exitCode,
              0);
    pid = cli.start({"backup", dir.file("up.tsly"), "--profile", dir.file("alice")});
    CliResult result = cli.wait(pid);
    server.join();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("Uploaded ftp://bob@" + server.host() + "/in/Up.tsly_dat", 0), 0u) << result.out;
    EXPECT_EQ(server.scriptError(), "");
}

TEST_F(CliTest, CtrlCEarlyInARestoreLeavesTheProfileAsItWas) {
    fs::path store = userFolder("alice", "alice") / kIdentities / "{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}";
    test::writeHostFile((store / "Huge.dbx").string(), test::randomBytes(48 << 20, 6));
    std::string data = backUp("Mail");
    makeProfile("bob", "bob");
    auto before = snapshot(dir.path() / "bob");

    cli.environment["USER"] = "bob";
    int pid = cli.start({"restore", data, "--profile", dir.file("bob")});
    // Signalled once the big file is being written, so the cancel surely meets phase one
    // however fast the machine is.
    const auto writing = [&] {
        std::error_code error;
        for (fs::recursive_directory_iterator it(dir.path() / "bob", error), end; !error && it != end; it.increment(error))
            if (it->path().filename().string().starts_with(".tessaly-tmp-")) return true;
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!writing() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGINT);
    CliResult result = cli.wait(pid);
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.err.find("restore cancelled"), std::string::npos) << result.err;
    auto after = snapshot(dir.path() / "bob");
    after.erase("drive_c/ts_debug.log");
    before.erase("drive_c/ts_debug.log");
    EXPECT_TRUE(before == after) << "the profile changed";
}

TEST_F(CliTest, TheDebugLogOfTheProfileKeepsTheRunsLines) {
    backUp("Mail");
    std::vector<uint8_t> log = test::readHostFile(dir.file("alice/drive_c/ts_debug.log"));
    std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("-Backup-"), std::string::npos);
    EXPECT_NE(text.find("-Backup Finished-"), std::string::npos);
    EXPECT_NE(text.find("Log at "), std::string::npos);
}

TEST_F(CliTest, StoredNamesOutsideTheSpecialFoldersAreNamedByRestoreLsAndCheck) {
    const std::string escape = "[CSIDL_APPDATA]\\..\\..\\..\\.bashrc";
    const std::string data = dir.file("out/crafted.tsly_dat");
    test::writeCraftedDataFile(data, {{escape, "evil"},
                                      {"[CSIDL_APPDATA]\\Microsoft\\Address Book\\bob.wab", "book"},
                                      {"<file error>", ""}});
    const std::string why = ": it holds a \".\" or \"..\" segment\n";

    CliResult restored = run({"restore", data, "--profile", dir.file("target")}, "bob");
    EXPECT_EQ(restored.exitCode, 0) << "everything else was restored: " << restored.err;
    EXPECT_EQ(restored.err, "tessaly-cli: warning: " + data + ": the restore refused the saved file \"" + escape +
                                "\"" + why + "tessaly-cli: warning: " + data +
                                ": 1 saved file was refused and not written\n");
    EXPECT_EQ(restored.out.rfind("Restored 1 item (Windows Address Book) from " + data + ": 1 file (4 bytes), 0 registry values, 1 name held back, ", 0), 0u)
        << restored.out;
    fs::path bob = userFolder("target", "bob");
    EXPECT_EQ(test::readHostFile((bob / kAddressBook / "bob.wab").string()), (std::vector<uint8_t>{'b', 'o', 'o', 'k'}));
    auto written = filesBelow(dir.path() / "target");
    written.erase("drive_c/ts_debug.log");
    written.erase("user.reg");
    EXPECT_EQ(written.size(), 1u) << "only the address book file: " << written.begin()->first;

    const std::string wouldRefuse = "tessaly-cli: warning: " + data + ": the restore would refuse the saved file \"" +
                                    escape + "\"" + why + "tessaly-cli: warning: " + data +
                                    ": 1 saved file would be refused and not written\n";
    CliResult listed = run({"ls", data, "--profile", dir.file("target")}, "bob");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("file " + escape + " (refused, not restorable" + why.substr(0, why.size() - 1) + ")"),
              std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("file <file error> (unreadable when saved"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("bob.wab  4 bytes"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.err, wouldRefuse);

    CliResult checked = run({"check", data, "--profile", dir.file("target")}, "bob");
    EXPECT_EQ(checked.exitCode, 0) << "the file itself is sound";
    EXPECT_EQ(checked.err, wouldRefuse);

    CliResult help = run({"restore", "--help"});
    EXPECT_NE(help.out.find("the exit code stays 0"), std::string::npos) << help.out;

    // An extract refuses the same names, and nothing lands outside its folder.
    CliResult extracted = run({"extract", data, dir.file("x/y"), "--profile", dir.file("target")}, "bob");
    EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.err, "tessaly-cli: warning: " + data + ": the restore refused the saved file \"" + escape +
                                 "\"" + why + "tessaly-cli: warning: " + data +
                                 ": 1 saved file was refused and not written\n");
    EXPECT_EQ(filesBelow(dir.path() / "x"),
              (std::map<std::string, std::vector<uint8_t>>{{"y/AppData/Microsoft/Address Book/bob.wab", {'b', 'o', 'o', 'k'}}}));
    EXPECT_FALSE(fs::exists(dir.path() / ".bashrc"));
    EXPECT_FALSE(fs::exists(dir.path().parent_path() / ".bashrc"));
}

// Bytes a terminal would act on: no control character but the line ends.
bool terminalSafe(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; });
}

TEST_F(CliTest, ControlCharactersFromADataFileReachTheTerminalOnlyEscaped) {
    const std::string evil = "\x1b]0;pwned\x07\x1b[2J";
    const std::string shown = "\\x1b]0;pwned\\x07\\x1b[2J";
    const std::string data = dir.file("out/crafted.tsly_dat");
    test::writeCraftedDataFile(data,
                               {{"[CSIDL_APPDATA]\\Microsoft\\Address Book\\" + evil + ".wab", "x"},
                                {"[CSIDL_APPDATA]\\..\\" + evil, "y"}},
                               std::nullopt, "Mail" + evil);
    for (const std::string command : {"restore", "ls", "check"}) {
        SCOPED_TRACE(command);
        CliResult result = run({command, data, "--profile", dir.file("target")}, "bob");
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(terminalSafe(result.out)) << result.out;
        EXPECT_TRUE(terminalSafe(result.err)) << result.err;
        EXPECT_NE((result.out + result.err).find(shown), std::string::npos) << result.out << result.err;
    }
    EXPECT_FALSE(fs::exists(userFolder("target", "bob") / kAddressBook / (evil + ".wab")));
}

// Backup keeps an error record for each file it cannot save, names each one and still exits 0.
TEST_F(CliTest, BackupNamesEveryFileItCouldNotSave) {
    const fs::path favorites = userFolder("alice", "alice") / kFavorites;
    test::writeHostFile((favorites / "a:b.url").string(), std::string("x"));
    test::writeHostFile((favorites / "\x1b[2Jx.url").string(), std::string("x"));
    CliResult made = run({"new", dir.file("Fav.tsly"), "--name", "Fav", "--items", "favorites", "--folder",
                          dir.file("out"), "--profile", dir.file("alice")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    CliResult done = run({"backup", dir.file("Fav.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    const std::string prefix = "tessaly-cli: warning: " + dir.file("Fav.tsly") + ": \"C:\\users\\alice\\Favorites\\";
    EXPECT_NE(done.err.find(prefix + "a:b.url\" was not saved: a restore would refuse its stored name "), std::string::npos)
        << done.err;
    EXPECT_NE(done.err.find(prefix + "\\x1b[2Jx.url\" was not saved: "), std::string::npos) << done.err;
    EXPECT_NE(done.err.find(": 2 files were not saved (an error record in their place)\n"), std::string::npos) << done.err;
    EXPECT_TRUE(terminalSafe(done.err)) << done.err;
    EXPECT_NE(done.out.find("(2 not saved, named above)"), std::string::npos) << done.out;
}

TEST_F(CliTest, NewRefusesWhatABackupWouldRefuse) {
    cli.environment["TESSALY_FTP_PASSWORD"] = "pw";
    const std::vector<std::string> ftp = {"--ftp", "ftp.example.org", "--remote-folder", "/in", "--user", "zoe"};
    struct Case {
        std::string option, value;
    };
    const std::vector<Case> cases = {{"--name", "Up\r\nDELE x"}, {"--ftp", "ftp.example.org\r\nDELE x"},
                                     {"--remote-folder", "/in\nDELE x"}, {"--user", "zoe\r\nDELE x"},
                                     {"--name", "Up\x1b[2J"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        std::vector<std::string> args = {"new", dir.file("bad.tsly"), "--name", "Up", "--items", "oe"};
        args.insert(args.end(), ftp.begin(), ftp.end());
        *(std::find(args.begin(), args.end(), c.option) + 1) = c.value;
        CliResult made = run(args);
        EXPECT_EQ(made.exitCode, 2) << made.err;
        EXPECT_TRUE(terminalSafe(made.err)) << made.err;
        EXPECT_FALSE(fs::exists(dir.file("bad.tsly")));
    }
    cli.environment["TESSALY_FTP_PASSWORD"] = "pw\r\nDELE x";
    std::vector<std::string> args = {"new", dir.file("bad.tsly"), "--name", "Up", "--items", "oe"};
    args.insert(args.end(), ftp.begin(), ftp.end());
    CliResult made = run(args);
    EXPECT_EQ(made.exitCode, 2) << made.err;
    EXPECT_NE(made.err.find("The FTP password of the project \"Up\" must not contain line breaks"), std::string::npos)
        << made.err;
    EXPECT_FALSE(fs::exists(dir.file("bad.tsly")));
}

TEST_F(CliTest, ARestoreThatFailsHalfwayLeavesTheProfileAsItWas) {
    std::string data = backUp("Mail", "default", false, "ie,oe");
    // Cut inside the mail store's files, after both registry trees.
    std::vector<uint8_t> plain = test::inflateFile(data);
    plain.resize(plain.size() - 100);
    test::writeHostFile(data, test::deflateBytes(plain));

    // Into a new profile: none is left. Over a profile: it is as it was, byte for byte.
    CliResult fresh = run({"restore", data, "--profile", dir.file("half")}, "bob");
    EXPECT_EQ(fresh.exitCode, 1);
    EXPECT_NE(fresh.err.find(data), std::string::npos) << fresh.err;
    EXPECT_FALSE(fs::exists(dir.path() / "half")) << "a failed restore left a profile";

    makeProfile("bob", "bob");
    auto before = snapshot(dir.path() / "bob");
    before.erase("drive_c/ts_debug.log");
    CliResult over = run({"restore", data, "--profile", dir.file("bob")}, "bob");
    EXPECT_EQ(over.exitCode, 1);
    auto after = snapshot(dir.path() / "bob");
    after.erase("drive_c/ts_debug.log");
    EXPECT_TRUE(after == before) << "the profile changed";
}

TEST_F(CliTest, ExtractWritesEveryFileByteIdenticalUnderReadableFoldersAndTheRunsTellWhatTheyWrote) {
    std::string data = backUp("Mail");
    const fs::path alice = userFolder("alice", "alice");
    // The data file's own count of files (a favorite it lists twice is one file), and the
    // registry values of the types it stores with their data.
    const std::string listing = run({"ls", data, "--profile", dir.file("alice")}).out;
    std::set<std::string> names;
    for (size_t at = listing.find("\n  file "); at != std::string::npos; at = listing.find("\n  file ", at + 1))
        names.insert(listing.substr(at, listing.find('\n', at + 1) - at));
    const size_t records = names.size();
    size_t values = 0;
    auto hive = hiveOf("alice");
    std::function<void(const std::string&)> count = [&](const std::string& key) {
        for (const std::string& name : hive->valueNames(key)) {
            const uint32_t type = hive->value(key, name)->type;
            if (type == REG_SZ || type == REG_DWORD || type == REG_BINARY) ++values;
        }
        for (const std::string& sub : hive->subkeyNames(key)) count(key + "\\" + sub);
    };
    for (const std::string& key : kSavedKeys) count(key);
    const std::string items = "4 items (Windows Address Book, Favorites, IE Settings, Outlook Express Data)";
    const std::string files = std::to_string(records) + " files";

    // The closing lines count what the runs moved.
    CliResult backup = run({"backup", dir.file("Mail.tsly"), "--profile", dir.file("alice")});
    // (A project read from its file may list a favorite again at each backup: the backup
    // counts the records it wrote, the restore and the extract the files.)
    EXPECT_EQ(backup.out.rfind("Wrote " + data + ": " + items + ", ", 0), 0u) << backup.out;
    EXPECT_EQ(run({"backup", dir.file("Mail.tsly"), "--quiet", "--profile", dir.file("alice")}).out, "");
    CliResult restored = run({"restore", data, "--profile", dir.file("bob")}, "bob");
    EXPECT_EQ(restored.out.rfind("Restored " + items + " from " + data + ": " + files + " (", 0), 0u) << restored.out;
    EXPECT_NE(restored.out.find(", " + std::to_string(values) + " registry values, "), std::string::npos)
        << restored.out;

    const fs::path x = dir.path() / "x";
    CliResult extracted = run({"extract", data, x.string(), "--profile", dir.file("alice")});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.out.rfind("Extracted " + items + " from " + data + " into " + x.string() + ": " + files + " (", 0),
              0u)
        << extracted.out;
    EXPECT_NE(extracted.out.find(std::to_string(values) + " registry values in 2 .reg files"), std::string::npos)
        << extracted.out;
    EXPECT_EQ(filesBelow(x / "AppData/Microsoft/Address Book"), filesBelow(alice / kAddressBook));
    EXPECT_EQ(filesBelow(x / "Local AppData/Identities"), filesBelow(alice / kIdentities));
    EXPECT_EQ(filesBelow(x / "Favorites"), filesBelow(alice / kFavorites, ".url"));
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(x)) top.insert(entry.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"AppData", "Local AppData", "Favorites", "IE Settings.reg",
                                          "Outlook Express Data.reg"}));

    // Nothing that is there is replaced without --force, and no temporary file stays.
    const fs::path mine = x / "Favorites/Example.url";
    test::writeHostFile(mine.string(), std::string("mine"));
    const auto before = snapshot(x);
    CliResult again = run({"extract", data, x.string(), "--quiet", "--profile", dir.file("alice")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("--force replaces it"), std::string::npos) << again.err;
    EXPECT_TRUE(snapshot(x) == before) << "an existing file was replaced";
    CliResult forced = run({"extract", data, x.string(), "--force", "--quiet", "--profile", dir.file("alice")});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(forced.out, "");
    EXPECT_EQ(test::readHostFile(mine.string()), test::readHostFile((alice / kFavorites / "Example.url").string()));
    for (const auto& [name, bytes] : snapshot(x)) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;

    CliResult some = run({"extract", data, dir.file("some"), "--items", "ie", "--profile", dir.file("alice")});
    EXPECT_EQ(some.exitCode, 0) << some.err;
    EXPECT_EQ(filesBelow(dir.path() / "some").size(), 1u) << "only IE Settings.reg";
}

TEST_F(CliTest, LsJsonIsValidJsonWithEveryNameExactlyAsStored) {
    // Quotes, backslashes and control characters must be escaped, never passed raw. (Windows
    // allows none of them but the backslash in a name, so a restore refuses it.)
    const std::string odd = "[CSIDL_APPDATA]\\Tab\there\\\"quoted\" \x01\x1f.txt";
    const std::string data = dir.file("out/odd.tsly_dat");
    test::writeCraftedDataFile(data, {{odd, "x"}, {"<file error>", ""}});
    CliResult listed = run({"ls", data, "--json", "--profile", dir.file("alice")});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    test::writeHostFile(dir.file("ls.json"), listed.out);
    test::writeHostFile(dir.file("expected"), odd);
    const std::string check =
        "/usr/bin/python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); f=d['items'][0]['files'];"
        " assert d['complete'] and d['destination']['kind']=='folder', d;"
        " assert f[0]['name']==open(sys.argv[2]).read() and f[0]['state']=='refused', f;"
        " assert f[1]['state']=='unreadable', f\" '" +
        dir.file("ls.json") + "' '" + dir.file("expected") + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << listed.out;
}

// Real Wine imports what extract wrote into a fresh prefix; the hive reader reads it back once
// wineserver has saved it.
TEST_F(CliTest, ExtractedRegFilesImportIntoAFreshWinePrefixWithTheValuesEqual) {
    if (std::system("command -v wine > /dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed here";
    std::string data = backUp("Mail", "default", false, "ie,oe");
    const fs::path x = dir.path() / "x";
    ASSERT_EQ(run({"extract", data, x.string(), "--quiet", "--profile", dir.file("alice")}).exitCode, 0);

    const std::string prefix = dir.file("wineprefix");
    const std::string env = "WINEPREFIX='" + prefix + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    for (const char* reg : {"IE Settings.reg", "Outlook Express Data.reg"}) {
        const std::string command = env + "timeout 300 wine regedit /s '" + (x / reg).string() + "' > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0 && !fs::exists(prefix + "/user.reg"))
            GTEST_SKIP() << "wine could not start here: " << command;
    }
    ASSERT_EQ(std::system((env + "wineserver -w").c_str()), 0);

    auto imported = RegistryHive::openUserReg(prefix + "/user.reg", prefix);
    auto source = hiveOf("alice");
    int compared = 0;
    std::function<void(const std::string&)> walk = [&](const std::string& key) {
        EXPECT_TRUE(imported->keyExists(key)) << key;
        for (const std::string& name : source->valueNames(key)) {
            RegValue value = *source->value(key, name);
            if (value.type != REG_SZ && value.type != REG_DWORD && value.type != REG_BINARY) continue;
            SCOPED_TRACE(key + " : " + name);
            auto copy = imported->value(key, name);
            ASSERT_TRUE(copy);
            EXPECT_EQ(copy->type, value.type);
            if (value.type == REG_SZ)
                EXPECT_EQ(copy->asText(), value.asText());
            else
                EXPECT_EQ(copy->data, value.data);
            ++compared;
        }
        for (const std::string& sub : source->subkeyNames(key)) walk(key + "\\" + sub);
    };
    for (const std::string& key : kSavedKeys) walk(key);
    EXPECT_GT(compared, 20);
}

// A .reg file is run by whoever imports it: a key path from the data file that holds a line
// break would otherwise write, or delete, keys the data file never held.
TEST_F(CliTest, AnExtractedRegFileImportsIntoWineAsExactlyTheItemsKeysAndNothingElse) {
    if (std::system("command -v wine > /dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed here";
    const std::string accounts = "\\Software\\Microsoft\\Internet Account Manager";
    const std::string runKeyLine = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string data = dir.file("out/hostile.tsly_dat");
    test::writeCraftedMailDataFile(
        data,
        {{accounts + "\\Accounts\\00000001", {{"Account Name", "ok"}, {"we\"ird\\name", "two\r\nlines"}}},
         {accounts + "\\x]\r\n\r\n[-HKEY_CURRENT_USER\\Software", {}},
         {accounts + "\\y\r\n[" + runKeyLine, {{"evil", "calc.exe"}}},
         {"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", {{"evil2", "calc.exe"}}},
         {"\\Identities\\{1}", {{"Username", "Main Identity"}}}},
        {});
    const fs::path x = dir.path() / "x";
    CliResult extracted = run({"extract", data, x.string(), "--profile", dir.file("alice")});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_NE(extracted.err.find("3 saved"), std::string::npos) << "the three keys are named: " << extracted.err;
    const fs::path reg = x / "Outlook Express Data.reg";
    const test::StrictRegFile read = test::readRegFileStrictly(test::readHostFile(reg.string()));
    std::set<std::string> keys;
    for (const auto& [key, values] : read) keys.insert(key);
    EXPECT_EQ(keys, (std::set<std::string>{"HKEY_CURRENT_USER" + accounts + "\\Accounts\\00000001",
                                           "HKEY_CURRENT_USER\\Identities\\{1}"}));

    const std::string prefix = dir.file("wineprefix");
    const std::string env = "WINEPREFIX='" + prefix + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    const std::string command = env + "timeout 300 wine regedit /s '" + reg.string() + "' > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0 && !fs::exists(prefix + "/user.reg"))
        GTEST_SKIP() << "wine could not start here: " << command;
    ASSERT_EQ(std::system((env + "wineserver -w").c_str()), 0);
    auto imported = RegistryHive::openUserReg(prefix + "/user.reg", prefix);
    EXPECT_TRUE(imported->keyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"))
        << "HKEY_CURRENT_USER\\Software was deleted";
    const std::string runKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_FALSE(imported->value(runKey, "evil"));
    EXPECT_FALSE(imported->value(runKey, "evil2"));
    auto name = imported->value(accounts + "\\Accounts\\00000001", "Account Name");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->asText(), "ok");
    auto odd = imported->value(accounts + "\\Accounts\\00000001", "we\"ird\\name");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->asText(), "two\r\nlines");
    EXPECT_TRUE(imported->keyExists("Identities\\{1}"));
}

// Every damage that check and restore refuse is refused by extract too, and leaves nothing:
// not a file, not a temporary file, not the folder it made.
TEST_F(CliTest, ExtractCheckAndRestoreRefuseEveryDamagedEndAndExtractLeavesNothing) {
    const std::string data = backUp("Mail");
    const std::vector<uint8_t> whole = test::readHostFile(data);
    struct Damage {
        std::string name;
        std::function<std::vector<uint8_t>()> make;
    };
    std::vector<Damage> damages;
    for (size_t cut = 1; cut <= 6; ++cut)
        damages.push_back({"cut by " + std::to_string(cut), [&, cut] {
                               return std::vector<uint8_t>(whole.begin(), whole.end() - static_cast<long>(cut));
                           }});
    for (size_t back = 1; back <= 4; ++back)
        damages.push_back({"a bit flipped " + std::to_string(back) + " bytes before the end", [&, back] {
                               std::vector<uint8_t> bytes = whole;
                               bytes[bytes.size() - back] ^= 0x10;
                               return bytes;
                           }});
    damages.push_back({"bytes after the end", [&] {
                           std::vector<uint8_t> bytes = whole;
                           bytes.insert(bytes.end(), 16, 'x');
                           return bytes;
                       }});
    damages.push_back({"1,000 plain bytes after the last item", [&] {
                           std::vector<uint8_t> plain = test::inflateFile(data);
                           plain.insert(plain.end(), 1000, 0);
                           return test::deflateBytes(plain);
                       }});
    for (size_t i = 0; i < damages.size(); ++i) {
        SCOPED_TRACE(damages[i].name);
        const std::string damaged = dir.file("damaged" + std::to_string(i) + ".tsly_dat");
        test::writeHostFile(damaged, damages[i].make());
        const fs::path x = dir.path() / ("x" + std::to_string(i));
        CliResult extracted = run({"extract", damaged, x.string(), "--profile", dir.file("alice")});
        EXPECT_EQ(extracted.exitCode, 1) << extracted.out;
        EXPECT_NE(extracted.err.find(damaged), std::string::npos) << extracted.err;
        EXPECT_FALSE(fs::exists(x)) << "the extract left its folder";
        EXPECT_EQ(run({"check", damaged, "--profile", dir.file("alice")}).exitCode, 1);
        CliResult restored = run({"restore", damaged, "--profile", dir.file("new" + std::to_string(i))}, "bob");
        EXPECT_EQ(restored.exitCode, 1) << restored.out;
        EXPECT_FALSE(fs::exists(dir.path() / ("new" + std::to_string(i)))) << "a failed restore left a profile";
    }
}

// Two spellings of one file (another letter case, "/" for "\\") in one data file: the first
// is written, the second named, and the closing line counts one file.
TEST_F(CliTest, TwoSpellingsOfOneFileRestoreAndExtractAsTheFirstWithBothNamed) {
    const std::string data = dir.file("out/twins.tsly_dat");
    const std::string first = "[CSIDL_APPDATA]\\Microsoft\\Address Book\\sl.wab";
    const std::string second = "[CSIDL_APPDATA]/Microsoft/Address Book/SL.wab";
    test::writeCraftedDataFile(data, {{first, "first"}, {second, "second"}});
    const std::string warning = "tessaly-cli: warning: " + data + ": the restore refused the saved file \"" + second +
                                "\": it lands on the same file as the saved file \"" + first + "\"\n";

    CliResult restored = run({"restore", data, "--profile", dir.file("target")}, "bob");
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(restored.err.rfind(warning, 0), 0u) << restored.err;
    EXPECT_NE(restored.out.find(": 1 file (5 bytes)"), std::string::npos) << restored.out;
    EXPECT_EQ(filesBelow(userFolder("target", "bob") / kAddressBook),
              (std::map<std::string, std::vector<uint8_t>>{{"sl.wab", {'f', 'i', 'r', 's', 't'}}}));

    const fs::path x = dir.path() / "x";
    CliResult extracted = run({"extract", data, x.string(), "--profile", dir.file("alice")});
    EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.err.rfind(warning, 0), 0u) << extracted.err;
    EXPECT_EQ(filesBelow(x), (std::map<std::string, std::vector<uint8_t>>{
                                 {"AppData/Microsoft/Address Book/sl.wab", {'f', 'i', 'r', 's', 't'}}}));
}

// Every fixed name a command opens in a prefix may hold a link out of it, a FIFO or a device:
// no command waits on it, reads or writes through it, or grows without bound.
TEST_F(CliTest, HostileFilesAtTheProfilesFixedNamesAreNeverFollowedWaitedOnOrReadWithoutEnd) {
    const std::string data = backUp("Mail");
    ASSERT_EQ(run({"new", dir.file("Other.tsly"), "--name", "Other", "--items", "all", "--folder", dir.file("out"),
                   "--profile", dir.file("alice")})
                  .exitCode,
              0);
    const std::string secret = "SECRET-OUTSIDE-THE-PROFILE";
    const std::string outside = dir.file("outside.txt");
    test::writeHostFile(outside, secret);
    const fs::path alice = dir.path() / "alice";
    struct Kind {
        std::string name;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Kind> kinds = {
        {"a link to a file outside", [&](const fs::path& p) { fs::create_symlink(outside, p); }},
        {"a FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a link to a device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
    };
    cli.timeLimit = std::chrono::seconds(10);
    cli.measurePeak = true;
    int round = 0;
    for (const std::string name : {"user.reg", "system.reg", "wineserver", "drive_c/ts_debug.log"}) {
        const fs::path place = alice / name;
        const fs::path kept = dir.path() / "kept";
        if (fs::exists(place)) fs::rename(place, kept);
        for (const Kind& kind : kinds) {
            SCOPED_TRACE(name + " is " + kind.name);
            kind.make(place);
            const std::string x = dir.file("x" + std::to_string(round++));
            for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                     {"ls", data}, {"check", data}, {"backup", dir.file("Other.tsly")}, {"restore", data},
                     {"extract", data, x}}) {
                std::vector<std::string> withProfile = args;
                withProfile.insert(withProfile.end(), {"--profile", alice.string()});
                const CliResult result = run(withProfile);
                SCOPED_TRACE(args[0] + ": " + result.err);
                EXPECT_FALSE(result.timedOut);
                EXPECT_EQ(result.exitCode, name == "user.reg" ? 1 : 0);
                EXPECT_EQ(result.out.find(secret), std::string::npos);
                EXPECT_EQ(result.err.find(secret), std::string::npos);
                EXPECT_GT(result.peakKiB, 0) << "no peak measured";
                EXPECT_LT(result.peakKiB, 256 * 1024) << "KiB";
                EXPECT_EQ(test::readHostFile(outside), std::vector<uint8_t>(secret.begin(), secret.end()));
            }
            const fs::path other = dir.path() / "out/Other.tsly_dat";
            if (fs::exists(other)) {
                const std::vector<uint8_t> plain = test::inflateFile(other.string());
                EXPECT_EQ(std::search(plain.begin(), plain.end(), secret.begin(), secret.end()), plain.end());
                fs::remove(other);
            }
            fs::remove(place);
        }
        if (fs::exists(kept)) fs::rename(kept, place);
    }
}

// A plain file never asks for a password, whatever a damaged header says: each bit flip of
// its encryption flag is damage (exit 1), never a wrong password (exit 3).
TEST_F(CliTest, AFlippedEncryptionFlagInAPlainFilesHeaderIsDamageNeverAPasswordCase) {
    const std::string data = backUp("Mail");
    const std::vector<uint8_t> plain = test::inflateFile(data);
    setPassword("any");
    for (int bit = 0; bit < 8; ++bit) {
        SCOPED_TRACE("bit " + std::to_string(bit));
        std::vector<uint8_t> flipped = plain;
        flipped[264] ^= static_cast<uint8_t>(1u << bit);
        const std::string damaged = dir.file("flipped.tsly_dat");
        test::writeHostFile(damaged, test::deflateBytes(flipped));
        for (const char* command : {"check", "ls", "restore"}) {
            const std::string profile = dir.file(std::string(command) == "restore" ? "target" : "alice");
            const CliResult result = run({command, damaged, "--profile", profile});
            EXPECT_EQ(result.exitCode, 1) << command << ": " << result.err;
            EXPECT_NE(result.err.find("damaged"), std::string::npos) << command << ": " << result.err;
        }
    }
}

// A favorite that is a link to a file outside the profile would save that file's content as
// the user's: it is named and not saved. A backup names a file that changed as it was read.
TEST_F(CliTest, ABackupSavesNoFileThatIsALinkOutOfTheProfile) {
    const std::string secret = "SECRET-OUTSIDE-THE-PROFILE";
    test::writeHostFile(dir.file("outside.txt"), secret);
    fs::create_symlink(dir.file("outside.txt"), userFolder("alice", "alice") / kFavorites / "s.url");
    // A link inside the profile is the profile's own file.
    fs::create_symlink("Example.url", userFolder("alice", "alice") / kFavorites / "inside.url");
    const std::string data = backUp("Mail");
    const CliResult backup = run({"backup", dir.file("Mail.tsly"), "--profile", dir.file("alice")});
    EXPECT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_NE(backup.err.find("s.url\" was not saved: "), std::string::npos) << backup.err;
    EXPECT_NE(backup.err.find("outside the profile"), std::string::npos) << backup.err;
    EXPECT_EQ(backup.err.find("inside.url"), std::string::npos) << backup.err;
    const std::vector<uint8_t> plain = test::inflateFile(data);
    EXPECT_EQ(std::search(plain.begin(), plain.end(), secret.begin(), secret.end()), plain.end());
}

// Drive C leading out of the prefix would make a restore write wherever the link points.
TEST_F(CliTest, ARestoreRefusesAProfileWhoseDriveCLeadsOutOfIt) {
    const std::string data = backUp("Mail");
    makeProfile("bob", "bob");
    const fs::path outside = dir.path() / "outside-c";
    fs::rename(dir.path() / "bob/drive_c", outside);
    fs::remove(dir.path() / "bob/dosdevices/c:");
    fs::create_directory_symlink(outside, dir.path() / "bob/dosdevices/c:");
    const auto before = snapshot(outside);
    const CliResult restored = run({"restore", data, "--profile", dir.file("bob")}, "bob");
    EXPECT_EQ(restored.exitCode, 1);
    EXPECT_NE(restored.err.find("outside the profile"), std::string::npos) << restored.err;
    EXPECT_NE(restored.err.find(outside.string()), std::string::npos) << restored.err;
    auto after = snapshot(outside);
    after.erase("ts_debug.log");
    auto expected = before;
    expected.erase("ts_debug.log");
    EXPECT_TRUE(after == expected) << "the restore wrote outside the profile";
}

// A restore into a new profile killed after it locked the folder but before it made the
// layout leaves the lock file behind: the folder is still a new profile to the next restore.
TEST_F(CliTest, AFolderHoldingOnlyALeftLockFileIsStillANewProfile) {
    const std::string data = backUp("Mail");
    fs::create_directory(dir.path() / "killed");
    test::writeHostFile(dir.file("killed/.tessaly-lock"), std::string());
    const CliResult restored = run({"restore", data, "--profile", dir.file("killed")}, "bob");
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_TRUE(fs::exists(dir.path() / "killed/user.reg"));
}

}  // namespace
}  // namespace ts
