// The flows every front end shares, against real files in real temporary profiles.
#include "engine/flows.h"
#include "engine/project_check.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include "engine/backup_run.h"
#include "engine/datafile/data_file_contents.h"
#include "engine/datafile/data_file_reader.h"
#include "engine/restore_run.h"
#include "items/capture/backup_reg_item.h"
#include "items/kinds/favorites.h"
#include "platform/registry/registry_limits.h"
#include "platform/stream/zlib_error.h"
#include "platform/tcp_socket.h"
#include "run_test_support.h"
#include "support/file_opens.h"
#include "support/wine_profile.h"
#include "transfer/ftp/ftp_client.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using Answers = std::vector<std::optional<std::string>>;

// Gives its answers in turn, then gives up; keeps the retry flags it was asked with.
struct ScriptedQuestion : PasswordQuestion {
    explicit ScriptedQuestion(Answers answers) : answers(std::move(answers)) {}
    std::optional<std::string> askPassword(const std::string&, bool retry) override {
        retries.push_back(retry);
        return retries.size() <= answers.size() ? answers[retries.size() - 1] : std::nullopt;
    }
    Answers answers;
    std::vector<bool> retries;
};

std::map<std::string, std::vector<uint8_t>> filesBelow(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = test::readHostFile(entry.path());
    return files;
}

class FlowsTest : public ::testing::Test {
protected:
    FlowsTest() {
        alice.writeFile("C:\\users\\alice\\Favorites\\News.url", "[InternetShortcut]\r\nURL=http://a.example/\r\n");
        alice.writeFile("C:\\users\\alice\\Favorites\\Links\\Mail.url", "[InternetShortcut]\r\nURL=http://b.example/\r\n");
        source = alice.open();
        target = bob.open();
        fs::create_directory(dir.path() / "out");
    }
    void TearDown() override { DebugLog::instance().clear(); }

    // A project of alice's favorites into out/, saved as Mail.tsly and backed up.
    std::string backUp(const std::optional<std::string>& password) {
        TtsBackupProject project(source.get());
        project.SetName("Mail");
        project.SetWorkFolder(dir.file("work"));
        project.SetEncrypt(password.has_value());
        project.SetPassword(password.value_or(""));
        project.Destination().SetLocalFolder(dir.file("out"));
        project.Source().FindItem("Favorites")->SetSelected(true);
        project.SaveToFile(dir.file("Mail.tsly"));
        project.Backup();
        return dir.file("out/Mail.tsly_dat");
    }

    static size_t favoritesOf(const TtsBackupProject& project) {
        return static_cast<TtsBPFavorites*>(project.Source().FindItem("Favorites"))->Files().size();
    }

    test::WineProfile alice;
    test::WineProfile bob{{.userName = "bob"}};
    test::TempDir dir;
    std::unique_ptr<Profile> source, target;
};

TEST_F(FlowsTest, AProjectFileIsAskedForUntilTheRightPasswordAndNeverHalfFilled) {
    backUp("right");
    // Two favorites collected from the profile; the file names the same two, held once.
    const size_t whole = 2;
    struct Case {
        const char* name;
        Answers answers;
        int maxTries;
        enum { Opened, GaveUp, Wrong } outcome;
        std::vector<bool> retries;
    };
    const std::vector<Case> cases = {
        {"right at once", {"right"}, 3, Case::Opened, {false}},
        {"wrong, then right", {"wrong", "right"}, 3, Case::Opened, {false, true}},
        {"gave up", {std::nullopt}, 3, Case::GaveUp, {false}},
        {"wrong until the last try", {"a", "b", "c", "right"}, 3, Case::Wrong, {false, true, true}},
        {"one try for the command line", {"wrong"}, 1, Case::Wrong, {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedQuestion question(c.answers);
        try {
            auto project = openProjectFile(dir.file("Mail.tsly"), *target, question, c.maxTries);
            EXPECT_EQ(c.outcome, project ? Case::Opened : Case::GaveUp);
            if (project) {
                EXPECT_EQ(project->Name(), "Mail");
                EXPECT_EQ(project->Password(), "right");
                // bob has no favorites of his own: the file's, each once.
                EXPECT_EQ(favoritesOf(*project), whole) << "a wrong try left nothing behind";
            }
        } catch (const FlowFailure& e) {
            EXPECT_EQ(c.outcome, Case::Wrong) << e.what();
            EXPECT_EQ(e.failure().kind, FailureKind::WrongPassword);
            EXPECT_NE(e.failure().text.find(dir.file("Mail.tsly")), std::string::npos) << e.what();
        }
        EXPECT_EQ(question.retries, c.retries);
    }
    backUp(std::nullopt);
    ScriptedQuestion none({});
    auto plain = openProjectFile(dir.file("Mail.tsly"), *source, none);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(none.retries.empty()) << "a plain project asks nothing";
    EXPECT_EQ(favoritesOf(*plain), whole);
    try {
        openProjectFile(alice.userRegPath(), *source, none);
        ADD_FAILURE() << "opened user.reg";
    } catch (const FlowFailure& e) {
        EXPECT_EQ(e.failure().kind, FailureKind::NotADataFile);
    }
}

TEST_F(FlowsTest, OpeningADataFileAsksAPasswordOnlyWhenItsHeaderSaysEncryptedAndRefusesOtherFiles) {
    const std::string plain = backUp(std::nullopt);
    fs::copy_file(plain, dir.file("plain.tsly_dat"));
    const std::string encrypted = backUp("pw");
    ScriptedQuestion none({});
    std::optional<OpenedDataFile> opened = openDataFile(dir.file("plain.tsly_dat"), *target, none);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(opened->summary.encrypted);
    EXPECT_TRUE(none.retries.empty());
    ScriptedQuestion right({"pw"});
    opened = openDataFile(encrypted, *target, right);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->summary.encrypted);
    EXPECT_GT(opened->summary.backupTime, 40000.0);

    test::writeHostFile(dir.file("text.tsly_dat"), std::string(3000, 'x'));
    test::writeHostFile(dir.file("project.tsly_dat"), test::deflateBytes(test::readHostFile(dir.file("Mail.tsly"))));
    for (const std::string& other : {dir.file("Mail.tsly"), dir.file("text.tsly_dat"), dir.file("project.tsly_dat")}) {
        try {
            openDataFile(other, *target, none);
            ADD_FAILURE() << other;
        } catch (const FlowFailure& e) {
            EXPECT_EQ(e.failure().kind, FailureKind::NotADataFile) << other;
            EXPECT_NE(e.failure().text.find(other), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(none.retries.empty()) << "a file that is no data file asks nothing";
    try {
        openDataFile(dir.file("none.tsly_dat"), *target, none);
        ADD_FAILURE() << "a missing file";
    } catch (...) {
        EXPECT_EQ(classifyCurrentException(dir.file("none.tsly_dat")).kind, FailureKind::FileSystem);
    }
}

TEST_F(FlowsTest, ARestoreAfterOpeningTheDataFileReadsItOnceAndRestoresIntoTheProfile) {
    const std::string data = backUp("right");
    struct Case {
        Answers answers;
        int opens;
    };
    for (const Case& c : std::vector<Case>{{{"right"}, 1}, {{"wrong", "right"}, 2}}) {
        SCOPED_TRACE(c.opens);
        fs::remove_all(dir.path() / "work");
        test::FileOpens opens(data);
        ScriptedQuestion question(c.answers);
        std::optional<OpenedDataFile> opened = openDataFile(data, *target, question);
        ASSERT_TRUE(opened);
        EXPECT_TRUE(opened->summary.encrypted);
        EXPECT_TRUE(opened->project->Source().FindItem("Favorites")->Selected());
        opened->project->SetWorkFolder(dir.file("work"));
        RestoreRun run(*opened, *target, {});
        run.run();
        EXPECT_EQ(opens.count(), c.opens);
        EXPECT_EQ(test::readHostFile(bob.hostOf("C:\\users\\bob\\Favorites\\Links\\Mail.url")),
                  test::readHostFile(alice.hostOf("C:\\users\\alice\\Favorites\\Links\\Mail.url")));
    }
    ScriptedQuestion givesUp({std::nullopt});
    EXPECT_FALSE(openDataFile(data, *target, givesUp));
}

// A registry value the readers would refuse is left out of its tree, and the run names it
// as it names a file it could not save.
TEST_F(FlowsTest, ARegistryValueLeftOutOfItsTreeIsNamedInTheWarnings) {
    const std::string longName(registry_limits::kMaxValueNameChars + 1, 'v');
    source->hive().setValue("Software\\Microsoft\\Internet Explorer\\Main", RegValue::dword(longName, 1));
    TtsBackupProject project(source.get());
    project.SetName("Mail");
    project.SetWorkFolder(dir.file("work"));
    project.Destination().SetLocalFolder(dir.file("out"));
    project.Source().FindItem("IE Settings")->SetSelected(true);
    BackupRun backup(project, *source, {}, nullptr);
    backup.run();
    ASSERT_EQ(backup.warnings().size(), 1u) << ::testing::PrintToString(backup.warnings());
    EXPECT_NE(backup.warnings()[0].find("Internet Explorer\\Main\\vvvv"), std::string::npos);
    EXPECT_NE(backup.warnings()[0].find("was not saved: the registry value"), std::string::npos);
}

// Every file the backup could not save is named with its reason, among them the names a
// restore would refuse; a restore that meets two names for one file names both.
TEST_F(FlowsTest, FilesNotSavedAreNamedAndCaseTwinsAreNamedAtRestore) {
    const std::string favorites = "C:\\users\\alice\\Favorites\\";
    const std::string longFolder(200, 'd');
    struct NotSaved {
        std::string name;    // below Favorites, as created on the host
        std::string reason;  // a part of the warning
    };
    const std::vector<NotSaved> notSaved = {
        {"a:b.url", "it holds a second drive"},
        {"q?.url", "a character Windows does not allow"},
        {"t\tab.url", "a character Windows does not allow"},
        {longFolder + "\\" + std::string(60, 'f') + ".url", "longer than 255 characters"},
    };
    for (const NotSaved& file : notSaved) alice.writeFile(favorites + file.name, "x");
    test::writeHostFile(alice.hostOf(favorites) + "back\\slash.url", std::string("x"));  // one host name
    alice.writeFile(favorites + "Case.url", "first");
    alice.writeFile(favorites + "CASE.url", "second");
    source = alice.open();

    TtsBackupProject project(source.get());
    project.SetName("Mail");
    project.SetWorkFolder(dir.file("work"));
    project.Destination().SetLocalFolder(dir.file("out"));
    project.Source().FindItem("Favorites")->SetSelected(true);
    BackupRun backup(project, *source, {}, nullptr);
    backup.run();
    const std::vector<std::string>& warnings = backup.warnings();
    ASSERT_EQ(warnings.size(), notSaved.size() + 1) << ::testing::PrintToString(warnings);
    EXPECT_EQ(backup.tally().unreadableFiles, static_cast<int64_t>(warnings.size()));
    EXPECT_EQ(backup.tally().filesSaved, 4);  // News, Links\Mail, Case, CASE
    for (const NotSaved& file : notSaved) {
        const std::string named = "\"" + favorites + file.name + "\" was not saved: ";
        EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                                [&](const std::string& w) { return w.rfind(named, 0) == 0 && w.find(file.reason) != std::string::npos; }),
                  1)
            << file.name;
    }
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [&](const std::string& w) { return w.find("back\\slash.url\" was not saved") != std::string::npos; }),
              1);

    ScriptedQuestion question({});
    std::optional<OpenedDataFile> opened = openDataFile(dir.file("out/Mail.tsly_dat"), *target, question);
    ASSERT_TRUE(opened);
    opened->project->SetWorkFolder(dir.file("work"));
    RestoreRun restore(*opened, *target, {});
    restore.run();
    ASSERT_EQ(restore.refusedNames().size(), 1u);
    const RefusedFileName& twin = restore.refusedNames()[0];
    const bool caseFirst = twin.storedName == "[CSIDL_FAVORITES]\\CASE.url";
    EXPECT_EQ(twin.storedName, caseFirst ? "[CSIDL_FAVORITES]\\CASE.url" : "[CSIDL_FAVORITES]\\Case.url");
    EXPECT_NE(twin.reason.find(caseFirst ? "[CSIDL_FAVORITES]\\Case.url" : "[CSIDL_FAVORITES]\\CASE.url"), std::string::npos)
        << twin.reason;
    const fs::path restored = bob.hostOf("C:\\users\\bob\\Favorites");
    EXPECT_EQ(fs::exists(restored / "Case.url") + fs::exists(restored / "CASE.url"), 1);
}

TEST_F(FlowsTest, APlainDataFileWhoseProjectDoesNotDecodeIsDamagedNotAWrongPassword) {
    std::vector<uint8_t> plain = test::inflateFile(backUp(std::nullopt));
    // The destination section's length, 1281, as it follows the item records.
    const uint8_t length[8] = {0x01, 0x05, 0, 0, 0, 0, 0, 0};
    auto at = std::search(plain.begin() + 800, plain.end(), length, length + 8);
    ASSERT_NE(at, plain.end());
    at[0] = 0x00;  // 1280: one byte short of the record
    test::writeHostFile(dir.file("damaged.tsly_dat"), test::deflateBytes(plain));
    ScriptedQuestion question({});
    try {
        openDataFile(dir.file("damaged.tsly_dat"), *target, question);
        ADD_FAILURE() << "opened";
    } catch (const FlowFailure& e) {
        EXPECT_EQ(e.failure().kind, FailureKind::DamagedDataFile) << e.what();
    }
    EXPECT_TRUE(question.retries.empty()) << "no password is asked for a plain file";
}

// Once the destination and schedule sections have decoded the password is proven, so any
// later failure is damage at a byte of the file; before that a cut or a broken length is
// damage too. Only a section that decodes wrongly in an encrypted file is a password matter.
// A sample of cuts and single-bit flips over a plain and an encrypted file, read as check does.
TEST_F(FlowsTest, ACutOrFlippedDataFileIsDamagedAtAByteAndNeverAWrongPasswordOnceThePasswordIsProven) {
    std::string noise;
    uint32_t seed = 12345;
    // Large next to the block a reader inflates ahead (64 KiB), so most of the file lies after it.
    for (int i = 0; i < 250000; ++i) {
        seed = seed * 1103515245 + 12345;
        noise.push_back(static_cast<char>('a' + (seed >> 16) % 26));
    }
    alice.writeFile("C:\\users\\alice\\Favorites\\Big.url", noise);
    for (const std::optional<std::string>& password : {std::optional<std::string>(), std::optional<std::string>("pw")}) {
        const bool encrypted = password.has_value();
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        const std::string whole = dir.file(encrypted ? "whole-e.tsly_dat" : "whole-p.tsly_dat");
        fs::copy_file(backUp(password), whole, fs::copy_options::overwrite_existing);
        const std::vector<uint8_t> bytes = test::readHostFile(whole);
        int64_t proven = 0;  // compressed bytes read when the schedule had decoded
        {
            DataFileReader reader(whole);
            TtsBackupProject project(target.get());
            project.SetEncrypt(encrypted);
            project.SetPassword(password.value_or(""));
            project.LoadFromStream(reader.stream());
            proven = reader.stream().compressedConsumed();
        }
        const size_t samples = 12;
        int damagedAtByte = 0;
        for (size_t i = 0; i < 2 * samples; ++i) {
            const bool cut = i < samples;
            const size_t at = (i % samples) * bytes.size() / samples + (i % samples) % 7;
            SCOPED_TRACE((cut ? "cut at " : "flip at ") + std::to_string(at));
            std::vector<uint8_t> damaged = bytes;
            if (cut) damaged.resize(at);
            else damaged[at] ^= static_cast<uint8_t>(1u << (i % 8));
            const std::string file = dir.file("damaged.tsly_dat");
            test::writeHostFile(file, damaged);
            TtsBackupProject project(target.get());
            project.SetPassword(password.value_or(""));
            DataFileContents contents;
            try {
                project.InspectDataFile(file, contents);
                EXPECT_FALSE(contents.complete) << "a damaged file read as sound";
            } catch (...) {
                const Failure failure = classifyCurrentException(file, encrypted);
                const bool afterProof = static_cast<int64_t>(at) >= proven + 8;
                if (cut || !encrypted || afterProof) {
                    EXPECT_EQ(failure.kind, FailureKind::DamagedDataFile) << failure.text;
                }
                if (afterProof) {
                    EXPECT_NE(failure.text.find("the data file is damaged at byte "), std::string::npos) << failure.text;
                    ++damagedAtByte;
                }
            }
        }
        EXPECT_GT(damagedAtByte, static_cast<int>(samples)) << "most of the file lies after the proof";
    }
}

TEST_F(FlowsTest, ChecksBeforeABackupNameEveryProblemBeforeAnythingIsWritten) {
    test::writeHostFile(dir.file("a-file"), std::string("x"));
    struct Case {
        const char* name;
        std::function<void(TtsBackupProject&)> set;
        std::vector<FailureKind> expected;
    };
    auto ftp = [](TtsBackupProject& p) {
        p.Destination().SetKind(TtsBPDestination::kKindFtp);
        p.Destination().SetHost("127.0.0.1:2121");
        p.Destination().SetRemoteFolder("/");
        p.Destination().SetUserName("zoe");
        p.Destination().SetFtpPassword("secret");
    };
    const std::vector<Case> cases = {
        {"sound local", [](TtsBackupProject&) {}, {}},
        {"name with a path", [](TtsBackupProject& p) { p.SetName("../up"); }, {FailureKind::Usage}},
        {"empty name, no folder",
         [](TtsBackupProject& p) {
             p.SetName("");
             p.Destination().SetLocalFolder("");
         },
         {FailureKind::Usage, FailureKind::Usage}},
        {"missing folder", [&](TtsBackupProject& p) { p.Destination().SetLocalFolder(dir.file("gone")); },
         {FailureKind::FileSystem}},
        {"folder is a file", [&](TtsBackupProject& p) { p.Destination().SetLocalFolder(dir.file("a-file")); },
         {FailureKind::FileSystem}},
        {"sound FTP", ftp, {}},
        {"FTP without host",
         [&](TtsBackupProject& p) {
             ftp(p);
             p.Destination().SetHost("");
         },
         {FailureKind::Usage}},
        {"FTP without user",
         [&](TtsBackupProject& p) {
             ftp(p);
             p.Destination().SetUserName("");
         },
         {FailureKind::Usage}},
        {"FTP password with a line break",
         [&](TtsBackupProject& p) {
             ftp(p);
             p.Destination().SetFtpPassword("pw\r\nDELE x");
         },
         {FailureKind::Usage}},
        {"FTP host, folder and user with line breaks",
         [&](TtsBackupProject& p) {
             ftp(p);
             p.Destination().SetHost("127.0.0.1\r\nDELE x");
             p.Destination().SetRemoteFolder("up\nDELE x");
             p.Destination().SetUserName("zoe\r");
         },
         {FailureKind::Usage, FailureKind::Usage, FailureKind::Usage}},
        {"name with a line break", [](TtsBackupProject& p) { p.SetName("Mail\r\nDELE x"); }, {FailureKind::Usage}},
        {"name with an escape", [](TtsBackupProject& p) { p.SetName("Mail\x1b]0;x\x07"); }, {FailureKind::Usage}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TtsBackupProject project(source.get());
        project.SetName("Mail");
        project.Source().ItemList().Items(0)->SetSelected(true);
        project.Destination().SetLocalFolder(dir.file("out"));
        c.set(project);
        std::vector<FailureKind> kinds;
        for (const Failure& failure : checkProject(project)) kinds.push_back(failure.kind);
        EXPECT_EQ(kinds, c.expected);
    }
    if (::geteuid() != 0) {  // root writes anywhere
        fs::create_directory(dir.path() / "locked");
        ::chmod(dir.file("locked").c_str(), 0555);
        TtsBackupProject project;
        project.Source().ItemList().Items(0)->SetSelected(true);
        project.Destination().SetLocalFolder(dir.file("locked"));
        ASSERT_EQ(checkProject(project).size(), 1u);
        EXPECT_NE(checkProject(project)[0].text.find("not writable"), std::string::npos);
    }
}

// Wine's server for a prefix, as Debian's Wine lays it out under $TMPDIR: a lock file it keeps
// locked for its whole life.
class FakeWineServer {
public:
    FakeWineServer(const std::string& prefix, const std::string& tmpDir) {
        test::writeHostFile(prefix + "/wineserver", std::string("wine-flows"));
        struct stat st {};
        ::stat(prefix.c_str(), &st);
        char name[64];
        std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
        const fs::path folder = fs::path(tmpDir) / "wine-flows" / name;
        fs::create_directories(folder);
        fd_ = ::open((folder / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = 1;
        EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &lock), 0);
        const char* old = std::getenv("TMPDIR");
        oldTmpDir_ = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("TMPDIR", tmpDir.c_str(), 1);
    }
    ~FakeWineServer() {
        ::close(fd_);
        if (oldTmpDir_) ::setenv("TMPDIR", oldTmpDir_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }

private:
    int fd_;
    std::optional<std::string> oldTmpDir_;
};

TEST_F(FlowsTest, ARestoreWhileWineRunsOnTheProfileWritesNothingAndSaysWhy) {
    const std::string data = backUp(std::nullopt);
    EXPECT_TRUE(checkBeforeRestore(*target).empty());
    const auto before = filesBelow(bob.folder());
    FakeWineServer server(bob.folder(), dir.file("wine-tmp"));
    std::vector<Failure> problems = checkBeforeRestore(*target);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].kind, FailureKind::WineRunning);
    EXPECT_NE(problems[0].text.find(bob.folder()), std::string::npos) << problems[0].text;

    TtsBackupProject project(target.get());
    project.SetWorkFolder(dir.file("work"));
    try {
        project.Restore(data);
        ADD_FAILURE() << "restored while Wine runs";
    } catch (const FlowFailure& e) {
        EXPECT_EQ(e.failure().kind, FailureKind::WineRunning);
    }
    auto after = filesBelow(bob.folder());
    after.erase("wineserver");
    EXPECT_TRUE(after == before) << "the profile changed";
}

TEST_F(FlowsTest, EveryFailureHasItsKindAndATextNamingTheFileOnce) {
    const std::string file = "/data/Mail.tsly_dat";
    struct Case {
        std::function<void()> raise;
        bool encrypted;
        FailureKind kind;
    };
    const std::vector<Case> cases = {
        {[] { throw EFileEncrypted(); }, true, FailureKind::WrongPassword},
        {[] { throw EFileEncrypted(); }, false, FailureKind::DamagedDataFile},
        {[] { throw ECipherException(); }, true, FailureKind::DamagedDataFile},
        {[] { throw ECipherException(); }, false, FailureKind::DamagedDataFile},
        {[] { throw EDataDamaged("a key name longer than 255 characters"); }, true, FailureKind::DamagedDataFile},
        {[] { throw EKeyTreeIncomplete(); }, true, FailureKind::DamagedDataFile},
        {[&] { throw ECompressedDataError("Cannot decompress \"" + file + "\": data error"); }, true,
         FailureKind::DamagedDataFile},
        {[] { throw EReadError(); }, false, FailureKind::DamagedDataFile},
        {[&] { throw EFOpenError(file, "No such file or directory"); }, false, FailureKind::FileSystem},
        {[] { throw EFCreateError("/out/Mail.tsly_dat", "Permission denied"); }, false, FailureKind::FileSystem},
        {[] { throw EFtpLoginRefused(530, "530 Login incorrect."); }, false, FailureKind::FtpLogin},
        {[] { throw EFtpReplyError(550, "550 No such folder"); }, false, FailureKind::Network},
        {[] { throw ESocketError("Connection refused"); }, false, FailureKind::Network},
        {[] { throw FlowFailure(FailureKind::Cancelled, "backup cancelled"); }, false, FailureKind::Cancelled},
        {[] { throw std::runtime_error("odd"); }, false, FailureKind::Other},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        try {
            cases[i].raise();
        } catch (...) {
            Failure failure = classifyCurrentException(file, cases[i].encrypted);
            EXPECT_EQ(failure.kind, cases[i].kind) << failure.text;
            const size_t at = failure.text.find(file);
            EXPECT_NE(at, std::string::npos) << failure.text;
            EXPECT_EQ(failure.text.find(file, at + 1), std::string::npos) << failure.text;
        }
    }
}

TEST_F(FlowsTest, RestoreProgressFollowsTheDataReadAcrossTheItemsAndReaches100AtTheEnd) {
    for (int i = 0; i < 24; ++i) {
        auto bytes = test::randomBytes(96 << 10, static_cast<uint32_t>(i));
        alice.writeFile("C:\\users\\alice\\Favorites\\Big" + std::to_string(i) + ".url",
                        std::string(bytes.begin(), bytes.end()));
    }
    source = alice.open();
    const std::string data = backUp(std::nullopt);

    std::vector<std::string> seen;  // statuses as "s:TEXT", progress as numbers
    TtsBackupProject project(target.get());
    RestoreRun run(project, *target, data,
                   RunEvents{[&](const std::string& text) { seen.push_back("s:" + text); },
                             [&](uint8_t percent) { seen.push_back(std::to_string(percent)); }});
    run.setWorkFolder(dir.file("work"));
    run.run();

    auto restoring = std::find(seen.begin(), seen.end(), "s:Restore Favorites ...");
    ASSERT_NE(restoring, seen.end());
    EXPECT_EQ(seen.front(), "s:Decompress Data ...");
    EXPECT_EQ(seen.back(), "100");
    int last = -1, during = 0, fifty = 0;
    for (auto it = seen.begin(); it != seen.end(); ++it) {
        if (it->starts_with("s:")) continue;
        const int percent = std::stoi(*it);
        EXPECT_GE(percent, last) << "backwards";
        last = percent;
        fifty += percent == 50;
        if (it > restoring) ++during;
        if (it < restoring) {
            EXPECT_LT(percent, 50) << "ahead of the data";
        }
    }
    EXPECT_GE(during, 10) << "the item's data moves the bar";
    EXPECT_EQ(fifty, 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "100"), 1);
}

// A project file whose records do not hold is damaged, said so with its name, whatever the
// place: a compression level no writer gives, a record cut short.
TEST_F(FlowsTest, ADamagedProjectFileIsNamedAsDamaged) {
    backUp(std::nullopt);
    const std::vector<uint8_t> whole = test::readHostFile(dir.file("Mail.tsly"));
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* reason;
    } cases[] = {
        {"level 4", [](auto& b) { b[512] = 4; }, "compression level 4"},
        {"level 255", [](auto& b) { b[512] = 255; }, "compression level 255"},
        {"cut", [](auto& b) { b.resize(1000); }, "ends inside a record"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = whole;
        c.damage(bytes);
        const std::string file = dir.file(std::string(c.what) + ".tsly");
        test::writeHostFile(file, std::string(bytes.begin(), bytes.end()));
        ScriptedQuestion none({});
        try {
            openProjectFile(file, *source, none);
            ADD_FAILURE() << c.what << " opened";
        } catch (const FlowFailure& e) {
            EXPECT_EQ(e.failure().kind, FailureKind::DamagedDataFile) << c.what;
            EXPECT_NE(e.failure().text.find(file), std::string::npos) << e.what();
            EXPECT_NE(e.failure().text.find(c.reason), std::string::npos) << e.what();
        }
    }
}

// One large mail file among small ones: the bar follows its bytes, never goes back, and
// gives 100 once, at the end.
TEST_F(FlowsTest, BackupProgressFollowsTheBytesOfALargeFile) {
    const std::string store = "C:\\users\\alice\\AppData\\Local\\Identities\\{1}\\Microsoft\\Outlook Express\\";
    alice.writeFile(store + "Folders.dbx", "small");
    auto big = test::randomBytes(6 << 20, 7);
    alice.writeFile(store + "Inbox.dbx", std::string(big.begin(), big.end()));
    alice.writeFile(store + "Sent.dbx", "small");
    source = alice.open();

    TtsBackupProject project(source.get());
    project.SetName("Mail");
    project.SetWorkFolder(dir.file("work"));
    project.Destination().SetLocalFolder(dir.file("out"));
    project.Source().FindItem("Outlook Express Data")->SetSelected(true);
    project.Source().FindItem("Favorites")->SetSelected(true);
    std::vector<int> seen;
    BackupRun backup(project, *source, RunEvents{{}, [&](uint8_t percent) { seen.push_back(percent); }}, nullptr);
    backup.run();

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 100), 1);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << ::testing::PrintToString(seen);
    // The large file is one of three in its list: by files the bar would take one step for it.
    const auto during = std::count_if(seen.begin(), seen.end(), [](int p) { return p > 50 && p < 99; });
    EXPECT_GE(during, 20) << ::testing::PrintToString(seen);
}

}  // namespace
}  // namespace ts
