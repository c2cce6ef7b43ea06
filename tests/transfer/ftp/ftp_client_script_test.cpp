// The client against a scripted server: the exact commands it sends, and the replies and
// failures a real server will not produce on demand.
#include "transfer/ftp/ftp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "support/ftp_script_server.h"
#include "transfer/ftp/ftp_settings_check.h"
#include "platform/debug_log.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

using namespace std::chrono_literals;
using test::ScriptedFtpServer;
using test::ScriptedFtpSession;
using Strings = std::vector<std::string>;

constexpr Milliseconds kLong{10000};

std::unique_ptr<FtpClient> clientFor(const ScriptedFtpServer& server, FtpTimeouts timeouts = {kLong, kLong, kLong, kLong}) {
    auto client = std::make_unique<FtpClient>();
    client->setHost(server.host());
    client->setUserName("bob");
    client->setPassword("pw-of-bob");
    client->setTimeouts(timeouts);
    return client;
}

Strings loginCommands() { return {"USER bob", "PASS pw-of-bob", "TYPE I", "SYST"}; }

Strings concat(Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A plain connection to 127.0.0.1:port from another loopback address.
struct Intruder {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Intruder(const char* source, uint16_t port);
    ~Intruder() { ::close(fd); }
    // What arrives until the end of the stream, a reset or 5 seconds of silence.
    size_t bytesReceived() const {
        size_t total = 0;
        char chunk[65536];
        pollfd watched{fd, POLLIN, 0};
        while (::poll(&watched, 1, 5000) == 1) {
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            total += static_cast<size_t>(got);
        }
        return total;
    }
};

Intruder::Intruder(const char* source, uint16_t port) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        ADD_FAILURE() << "cannot connect from " << source << ": " << std::strerror(errno);
}

// Loopback with port 0: the system chooses the port of a passive listener.
SocketAddress loopbackAnyPort() {
    sockaddr_in raw{};
    raw.sin_family = AF_INET;
    raw.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return SocketAddress(reinterpret_cast<sockaddr*>(&raw), sizeof raw);
}

TEST(FtpClientScript, UserAnsweredWith230SendsNoPassAndSyst500StillLogsIn) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.reply("220 hi");
        session.expectCommand("USER bob");
        session.reply("230 No password needed");
        session.expectCommand("TYPE I");
        session.reply("200 ok");
        session.expectCommand("SYST");
        session.reply("500 SYST not understood");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    client->connect();
    EXPECT_TRUE(client->connected());
    client.reset();  // releasing closes the connection without QUIT
    server.join();
    EXPECT_EQ(server.commands(), (Strings{"USER bob", "TYPE I", "SYST"}));
}

TEST(FtpClientScript, MultiLineGreetingIsOneReply) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.send("220-Welcome to the scripted server\r\n220-230 is just text here\r\n220 Ready\r\n");
        session.expectCommand("USER bob");
        session.send("331-Password\r\n331 please\r\n");
        session.expectCommand("PASS pw-of-bob");
        session.reply("230 in");
        session.expectCommand("TYPE I");
        session.reply("200 ok");
        session.expectCommand("SYST");
        session.reply("215 UNIX");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    client->connect();
    client->close();
    server.join();
    EXPECT_EQ(server.commands(), loginCommands());
}

TEST(FtpClientScript, UnexpectedCodeFailsWithTheServersReplyAndClosesTheConnection) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.reply("220 hi");
        session.readCommand();
        session.reply("331 go on");
        session.readCommand();
        // A careless server echoing the password: it must not reach the message.
        session.send("530-Login incorrect for password pw-of-bob\r\n530 Bye\r\n");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    try {
        client->connect();
        FAIL() << "log-in succeeded";
    } catch (const EFtpLoginRefused& error) {
        EXPECT_EQ(error.code(), 530);
        EXPECT_STREQ(error.what(), "The FTP server refused the log-in: 530 Login incorrect for password ******** Bye");
    }
    EXPECT_FALSE(client->connected());
    server.join();  // the server saw the connection closed
}

// Whatever the password holds and however the server mangles or cuts its echo, no part of it
// reaches the error text.
TEST(FtpClientScript, EchoedPasswordIsMaskedInEveryFormBeforeAnyCut) {
    struct Case {
        std::string password;
        std::string echo;  // what the server says after PASS
    };
    const std::string pastTheCut(196, 'x');
    const std::vector<Case> cases = {
        {"tab\there!pw", "530 Wrong password tab\there!pw"},
        {"p\xC3\xA4sswort", "530 Wrong password p\xE4sswort"},           // UTF-8 typed, Windows-1252 echoed
        {"p\xC3\xA4sswort", "530 Wrong password p\xC3\xA4sswort"},       // and echoed as typed
        {"q7", "530 Wrong password q7"},                                 // short ones too
        {"3", "530 Wrong password 3"},                                   // even in the code
        {"secretpassword1", "5x0 " + pastTheCut + "secretpassword1"},    // invalid reply, cut at 200
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.echo);
        ScriptedFtpServer server([&](ScriptedFtpSession& session) {
            session.reply("220 hi");
            session.readCommand();
            session.reply("331 go on");
            session.readCommand();
            session.reply(c.echo);
            session.waitForClientClose(kLong);
        });
        auto client = clientFor(server);
        client->setPassword(c.password);
        try {
            client->connect();
            ADD_FAILURE() << "log-in succeeded";
        } catch (const EFtpError& error) {
            const std::string all = error.what();
            const std::string text = all.substr(all.find(c.echo.substr(0, 3)) + 3);  // past the code
            EXPECT_EQ(text.find(c.password.substr(0, c.password.size() / 2 + 1)), std::string::npos) << text;
            EXPECT_EQ(text.find(c.password.substr(c.password.size() / 2)), std::string::npos) << text;
            EXPECT_EQ(all.find("ere!pw"), std::string::npos) << all;
            if (c.echo[1] != 'x') {
                EXPECT_NE(text.find("********"), std::string::npos) << text;
            }
        }
    }
    // A password that is one digit of the reply codes still logs in.
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.logIn();
        session.waitForClientClose(kLong);
    });
    auto client = clientFor(server);
    client->setPassword("3");
    client->connect();
    EXPECT_TRUE(client->connected());
}

// A reply dribbled a byte at a time must still arrive within the reply wait as a whole.
TEST(FtpClientScript, DribbledReplyFailsWithinTheReplyWait) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        for (char c : std::string("220 hello, this greeting never ends")) {
            session.send(std::string(1, c));
            if (session.waitForClientClose(Milliseconds(100))) return;
        }
    });
    auto client = clientFor(server, {kLong, Milliseconds(500), kLong, kLong});
    const auto start = std::chrono::steady_clock::now();
    try {
        client->connect();
        FAIL() << "connected";
    } catch (const EFtpError& error) {
        EXPECT_STREQ(error.what(), "The FTP server did not answer within 500 milliseconds");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(FtpClientScript, SettingsTestEndsAtItsDeadlineHoweverTheServerStalls) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.logIn();
        session.readCommand();  // CWD, never answered within the test's deadline
        session.waitForClientClose(kLong);
    });
    FtpClient client;
    const auto start = std::chrono::steady_clock::now();
    FtpSettingsToCheck settings{server.host(), "bob", "pw-of-bob", "/backups", "", Milliseconds(400)};
    const FtpSettingsCheck check = checkFtpSettings(client, settings);
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.errorText, "The FTP server did not complete the test within 400 milliseconds");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(client.connected());
}

TEST(FtpClientScript, OverLongReplyLineFails) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.reply("220 " + std::string(20000, 'x'));
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    EXPECT_THROW(client->connect(), EFtpProtocolError);
    EXPECT_FALSE(client->connected());
}

TEST(FtpClientScript, ServerThatStopsAnsweringTimesOut) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.logIn();
        session.expectCommand("CWD /backups");
        EXPECT_TRUE(session.waitForClientClose(kLong));  // never answers
    });
    auto client = clientFor(server, {kLong, Milliseconds(300), kLong});
    client->connect();
    auto start = std::chrono::steady_clock::now();
    try {
        client->changeDirectory("/backups");
        FAIL() << "no time-out";
    } catch (const EFtpError& error) {
        EXPECT_STREQ(error.what(), "The FTP server did not answer within 300 milliseconds");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(client->connected());
}

TEST(FtpClientScript, LineBreaksInSettingsNeverReachTheServer) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.logIn();
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    client->connect();
    EXPECT_THROW(client->changeDirectory("/x\r\nDELE important"), EFtpError);
    EXPECT_THROW(client->store("/dev/null", "a\nb"), EFtpError);
    EXPECT_TRUE(client->connected());
    client->close();
    server.join();
    EXPECT_EQ(server.commands(), loginCommands());
}

TEST(FtpClientScript, OperationsWithoutAConnectionFailClearly) {
    FtpClient fresh;
    try {
        fresh.changeDirectory("/");
        FAIL() << "changed directory without a connection";
    } catch (const EFtpError& error) {
        EXPECT_STREQ(error.what(), "Not connected to an FTP server");
    }
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.logIn();
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    client->connect();
    client->close();  // a cancel that came before the upload started
    try {
        client->store("/dev/null", "f");
        FAIL() << "stored over a closed connection";
    } catch (const EFtpError& error) {
        EXPECT_STREQ(error.what(), "The FTP connection was closed");
    }
    server.join();
    EXPECT_EQ(server.commands(), loginCommands());
}

// --- store

struct UploadFile {
    test::TempDir dir;
    std::string path = dir.file("Temp.data_compressed");
    std::vector<uint8_t> bytes;
    explicit UploadFile(size_t size) : bytes(test::randomBytes(size, 7)) { test::writeHostFile(path, bytes); }
};

// A large file of zeros, made without writing it, for transfers that are cut off.
struct LargeUploadFile {
    test::TempDir dir;
    std::string path = dir.file("large");
    int64_t size;
    explicit LargeUploadFile(int64_t size) : size(size) {
        test::writeHostFile(path, std::string());
        std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
    }
};

TEST(FtpClientScript, ActiveStoreSendsExactlyTheCommandsAndAccepts426Then226) {
    UploadFile file(100000);
    std::vector<uint8_t> received;
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        session.expectCommand("CWD /up");
        session.reply("250 CWD ok");
        std::string port = session.readCommand();
        TcpSocket data = session.connectToPort(port);
        session.reply("200 PORT ok");
        session.expectCommand("STOR Unnamed.tsly_dat");
        session.reply("150 Opening BINARY connection");
        received = session.receiveAll(data);
        session.reply("426 Connection closed; transfer aborted");
        session.reply("226 Closing data connection");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    std::vector<int64_t> work;
    int64_t announced = -1;
    client->OnWorkBegin = [&](FtpClient& sender, FtpWorkMode mode, int64_t max) {
        EXPECT_EQ(&sender, client.get());
        EXPECT_EQ(mode, FtpWorkMode::Write);
        announced = max;
    };
    client->OnWork = [&](FtpClient&, FtpWorkMode, int64_t count) { work.push_back(count); };
    client->connect();
    client->changeDirectory("/up");
    client->store(file.path, "Unnamed.tsly_dat");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Active);
    client.reset();
    server.join();
    EXPECT_EQ(received, file.bytes);
    EXPECT_EQ(announced, 100000);
    EXPECT_EQ(work, (std::vector<int64_t>{32768, 65536, 98304, 100000}));
    Strings commands = server.commands();
    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[5].substr(0, 15), "PORT 127,0,0,1,");
    commands.erase(commands.begin() + 5);
    EXPECT_EQ(commands, concat(loginCommands(), {"CWD /up", "STOR Unnamed.tsly_dat"}));
}

bool logHasLineContaining(const std::string& text) {
    for (const auto& line : DebugLog::instance().lines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// Serves the passive try: EPSV, the data connection, STOR and the data.
std::vector<uint8_t> servePassiveStore(ScriptedFtpSession& session, const std::string& stor) {
    TcpSocket listener = TcpSocket::listen(loopbackAnyPort());
    session.expectCommand("EPSV");
    session.reply("229 Entering Extended Passive Mode (|||" + std::to_string(listener.localAddress().port()) + "|)");
    TcpSocket data = listener.accept(kLong);
    session.expectCommand(stor);
    session.reply("150 go");
    std::vector<uint8_t> received = session.receiveAll(data);
    session.reply("226 done");
    return received;
}

TEST(FtpClientScript, EveryRefusalOfActiveModeFallsBackToPassiveMode) {
    // What real servers answer when they will not or cannot connect back.
    struct Case {
        std::string portReply;  // "" when PORT is accepted
        std::string storReply;  // the refusal at STOR otherwise
    };
    const Case cases[] = {
        {"500 Illegal PORT command.", ""},
        {"501 PORT: Operation not permitted", ""},
        {"550 Permission denied.", ""},
        {"425 Can't open data connection.", ""},
        {"", "425 Failed to establish connection."},
        {"", "426 Connection refused."},
    };
    UploadFile file(70000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.portReply + c.storReply);
        DebugLog::instance().clear();
        std::vector<uint8_t> received;
        ScriptedFtpServer server([&](ScriptedFtpSession& session) {
            session.logIn();
            EXPECT_EQ(session.readCommand().substr(0, 5), "PORT ");
            if (!c.portReply.empty()) {
                session.reply(c.portReply);
            } else {
                session.reply("200 PORT ok");
                session.expectCommand("STOR f.tsly_dat");
                session.reply(c.storReply);
            }
            received = servePassiveStore(session, "STOR f.tsly_dat");
            EXPECT_TRUE(session.waitForClientClose(kLong));
        });
        auto client = clientFor(server);
        client->connect();
        client->store(file.path, "f.tsly_dat");
        EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
        client.reset();
        server.join();
        EXPECT_EQ(received, file.bytes);
        EXPECT_TRUE(logHasLineContaining("switching to passive mode"));
    }
}

TEST(FtpClientScript, ServerSilentWhileItConnectsIsAbortedAndAnUnansweredAborCostsOneReconnect) {
    // A server whose connection back a firewall drops says nothing until its own connect
    // gives up; nor does it answer ABOR meanwhile.
    UploadFile file(5000);
    std::vector<uint8_t> received;
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        session.expectCommand("CWD /up");
        session.reply("250 ok");
        session.readCommand();
        session.reply("200 PORT ok");
        session.expectCommand("STOR f");
        session.expectCommand("ABOR");
        session.acceptAnotherConnection();
        session.logIn();
        session.expectCommand("CWD /up");
        session.reply("250 ok");
        received = servePassiveStore(session, "STOR f");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    DebugLog::instance().clear();
    auto client = clientFor(server, {kLong, kLong, Milliseconds(300), Milliseconds(300)});
    client->connect();
    client->changeDirectory("/up");
    const auto start = std::chrono::steady_clock::now();
    client->store(file.path, "f");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
    client.reset();
    server.join();
    EXPECT_EQ(received, file.bytes);
    for (const char* step : {"no data connection from the server within 300 milliseconds of STOR",
                             "the control connection was lost during ABOR", "connecting again for passive mode"})
        EXPECT_TRUE(logHasLineContaining(step)) << step;
}

TEST(FtpClientScript, FtpesNeverFallsBackToPlainTextAndNeverSendsTheUser) {
    for (const char* authReply : {"500 AUTH not understood", "234 go ahead"}) {
        SCOPED_TRACE(authReply);
        ScriptedFtpServer server([&](ScriptedFtpSession& session) {
            session.reply("220 hi");
            session.expectCommand("AUTH TLS");
            // The second server says yes, then speaks plain FTP instead of TLS.
            session.reply(authReply);
            if (authReply[0] == '2') session.reply("331 Password required");
            EXPECT_TRUE(session.waitForClientClose(kLong));
        });
        // OpenSSL takes the plain reply for the head of a long record and waits for the rest.
        auto client = clientFor(server, {Milliseconds(500), kLong, kLong, kLong});
        client->setHost("ftpes://" + server.host());
        try {
            client->connect();
            FAIL() << "connected";
        } catch (const EFtpError& error) {
            if (authReply[0] == '5')
                EXPECT_STREQ(error.what(), "The FTP server does not offer TLS (500 AUTH not understood)");
            else
                EXPECT_NE(std::string(error.what()).find("TLS"), std::string::npos) << error.what();
        }
        server.join();
        EXPECT_EQ(server.commands(), Strings{"AUTH TLS"});
    }
}

TEST(FtpClientScript, PlainLogInRefusedForWantOfTlsNamesTheFtpesForm) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.reply("220 hi");
        session.readCommand();
        session.reply("530 Non-anonymous sessions must use encryption.");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    try {
        client->connect();
        FAIL() << "logged in";
    } catch (const EFtpTlsRequired& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The FTP server accepts only encrypted sessions; set the host to ftpes://" + server.host() +
                      " to use TLS (530 Non-anonymous sessions must use encryption.)");
    }
}

TEST(FtpClientScript, ActiveConnectionThatNeverComesIsAbortedThenPasvIsUsedWithTheControlAddress) {
    UploadFile file(5000);
    std::vector<uint8_t> received;
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        session.readCommand();
        session.reply("200 PORT ok");
        session.expectCommand("STOR f");
        session.reply("150 Opening data connection");  // ...which never comes
        session.expectCommand("ABOR");
        session.reply("426 Transfer aborted");
        session.reply("226 ABOR successful");
        TcpSocket listener = TcpSocket::listen(loopbackAnyPort());
        uint16_t port = listener.localAddress().port();
        session.expectCommand("EPSV");
        session.reply("500 EPSV not understood");
        session.expectCommand("PASV");
        // A private address behind NAT: the client must use the server it talks to.
        session.reply("227 Entering Passive Mode (10,99,99,99," + std::to_string(port >> 8) + "," +
                      std::to_string(port & 0xff) + ")");
        TcpSocket data = listener.accept(kLong);
        // The abandoned transfer may still hold "f" on the server.
        session.expectCommand("STOR f2");
        session.reply("125 go");
        received = session.receiveAll(data);
        session.reply("250 done");
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server, {Milliseconds(2000), kLong, Milliseconds(300)});
    client->connect();
    EXPECT_EQ(client->store(file.path, "f", "f2"), "f2");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Passive);
    client.reset();
    server.join();
    EXPECT_EQ(received, file.bytes);
}

TEST(FtpClientScript, ServerClosingMidTransferFailsTheStore) {
    LargeUploadFile file(32 * 1024 * 1024);
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        TcpSocket data = session.connectToPort(session.readCommand());
        session.reply("200 PORT ok");
        session.readCommand();
        session.reply("150 go");
        char some[65536];
        data.receiveSome(some, sizeof some, kLong);
        // Unread data makes the close a reset; the control connection goes too.
    });
    auto client = clientFor(server);
    client->connect();
    try {
        client->store(file.path, "f");
        ADD_FAILURE() << "the store survived the server's close";
    } catch (const TsException& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.find("Connection reset") != std::string::npos ||
                    message.find("Broken pipe") != std::string::npos ||
                    message == "The FTP server closed the connection")
            << message;
    }
    EXPECT_FALSE(client->connected());
}

// The server takes a byte now and then, so the idle timer never runs out; the throughput
// rule ends the store.
TEST(FtpClientScript, StoreToAServerThatTricklesFailsOnTheThroughputRule) {
    LargeUploadFile file(64 * 1024 * 1024);
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        TcpSocket data = session.connectToPort(session.readCommand());
        session.reply("200 PORT ok");
        session.readCommand();
        session.reply("150 go");
        char byte;
        while (!session.waitForClientClose(Milliseconds(300))) {
            try {
                data.receiveSome(&byte, 1, kLong);
            } catch (const std::exception&) {
                return;
            }
        }
    });
    FtpTimeouts timeouts{kLong, kLong, kLong, kLong};
    timeouts.throughputWindow = Milliseconds(1000);
    auto client = clientFor(server, timeouts);
    client->connect();
    const auto start = std::chrono::steady_clock::now();
    try {
        client->store(file.path, "f");
        ADD_FAILURE() << "the store went through";
    } catch (const EFtpError& error) {
        EXPECT_NE(std::string(error.what()).find("fewer than 1024 bytes in 1 second"), std::string::npos)
            << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    EXPECT_FALSE(client->connected());
}

// A full disk or a quota: the server says why on the control connection as it drops the data
// connection, and that is what the user reads.
TEST(FtpClientScript, BrokenDataConnectionReportsTheServersReason) {
    for (bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        LargeUploadFile file(32 * 1024 * 1024);
        ScriptedFtpServer server([&](ScriptedFtpSession& session) {
            session.logIn();
            TcpSocket data;
            if (passive) {
                session.readCommand();
                session.reply("502 PORT not allowed");
                TcpSocket listener = TcpSocket::listen(loopbackAnyPort());
                session.expectCommand("EPSV");
                session.reply("229 Entering Extended Passive Mode (|||" +
                              std::to_string(listener.localAddress().port()) + "|)");
                data = listener.accept(kLong);
                session.readCommand();
            } else {
                data = session.connectToPort(session.readCommand());
                session.reply("200 PORT ok");
                session.readCommand();
            }
            session.reply("150 go");
            char some[65536];
            data.receiveSome(some, sizeof some, kLong);
            session.reply("451 Failure writing to local file (No space left on device)");
            data.close();  // unread data: a reset
            EXPECT_TRUE(session.waitForClientClose(kLong));
        });
        auto client = clientFor(server);
        client->connect();
        try {
            client->store(file.path, "f");
            ADD_FAILURE() << "the store went through";
        } catch (const EFtpReplyError& error) {
            EXPECT_EQ(error.code(), 451);
            EXPECT_STREQ(error.what(),
                         "The FTP server ended the transfer: 451 Failure writing to local file (No space left on device)");
        }
        // The control connection is still good for the clean-up.
        EXPECT_TRUE(client->connected());
        client.reset();
        server.join();
    }
}

// Anyone can connect to the port PORT announces; the data goes only to the server's address.
TEST(FtpClientScript, ActiveDataConnectionFromAnotherAddressIsRefused) {
    UploadFile file(100000);
    std::vector<uint8_t> received;
    size_t stolen = 0;
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        const std::string port = session.readCommand();
        unsigned h1, h2, h3, h4, p1, p2;
        ASSERT_EQ(std::sscanf(port.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2), 6);
        // The thief, on another loopback address, is first.
        Intruder thief("127.0.0.2", static_cast<uint16_t>(p1 * 256 + p2));
        session.reply("200 PORT ok");
        session.expectCommand("STOR f");
        std::this_thread::sleep_for(100ms);
        TcpSocket data = session.connectToPort(port);
        session.reply("150 go");
        received = session.receiveAll(data);
        session.reply("226 done");
        stolen = thief.bytesReceived();
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    DebugLog::instance().clear();
    auto client = clientFor(server);
    client->connect();
    client->store(file.path, "f");
    EXPECT_EQ(client->lastDataMode(), FtpDataMode::Active);
    client.reset();
    server.join();
    EXPECT_EQ(received, file.bytes);
    EXPECT_EQ(stolen, 0u);
    EXPECT_TRUE(logHasLineContaining("refused a data connection from 127.0.0.2:"));
}

TEST(FtpClientScript, CloseFromAnotherThreadEndsABlockedTransferWithinASecond) {
    LargeUploadFile file(64 * 1024 * 1024);
    std::atomic<bool> dataOpen{false};
    ScriptedFtpServer server([&](ScriptedFtpSession& session) {
        session.logIn();
        TcpSocket data = session.connectToPort(session.readCommand());
        session.reply("200 PORT ok");
        session.readCommand();
        session.reply("150 go");
        dataOpen = true;
        // Reads nothing: the client's sends block once the buffers are full.
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    client->connect();
    std::atomic<int64_t> sent{0};
    client->OnWork = [&](FtpClient&, FtpWorkMode, int64_t count) { sent = count; };
    std::chrono::steady_clock::time_point closedAt;
    std::thread canceller([&] {
        while (!dataOpen) std::this_thread::sleep_for(5ms);
        std::this_thread::sleep_for(200ms);
        closedAt = std::chrono::steady_clock::now();
        client->close();
    });
    try {
        client->store(file.path, "f");
        ADD_FAILURE() << "the store survived the close";
    } catch (const EFtpError& error) {
        EXPECT_STREQ(error.what(), "The FTP connection was closed");
    }
    auto ended = std::chrono::steady_clock::now();
    canceller.join();
    EXPECT_LT(ended - closedAt, 1s);
    EXPECT_LT(sent.load(), file.size);
    EXPECT_FALSE(client->connected());
    server.join();  // the server saw the control connection close
    for (const auto& command : server.commands()) {
        EXPECT_NE(command, "QUIT");
        EXPECT_NE(command, "ABOR");
    }
}

TEST(FtpClientScript, CloseFromAnotherThreadEndsAReplyWait) {
    ScriptedFtpServer server([](ScriptedFtpSession& session) {
        session.logIn();
        session.readCommand();  // CWD, never answered
        EXPECT_TRUE(session.waitForClientClose(kLong));
    });
    auto client = clientFor(server);
    client->connect();
    std::thread canceller([&] {
        std::this_thread::sleep_for(200ms);
        client->close();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client->changeDirectory("/slow"), EFtpError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1200ms);
    canceller.join();
    server.join();
}

}  // namespace
}  // namespace ts
