#include <gtest/gtest.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <future>

#include "FtpTestSupport.h"
#include "support/Loopback.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;
using std::chrono::milliseconds;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

namespace {

// Every wait of these tests gives up after this long without progress.
constexpr milliseconds Limit{1500};

// Each test runs one scenario of the scripted server.
class Fault : public ::testing::Test {
protected:
    void start(const QString& scenario) {
        server_ = std::make_unique<FaultFtpServer>(scenario);
        pointAt(client_, *server_);
        client_.Timeout = Limit;
        descriptors_ = openDescriptors();
    }
    // The session is over, and every descriptor opened since the start is closed again.
    void expectClosedLeavingNothingOpen() {
        EXPECT_FALSE(client_.IsConnected());
        EXPECT_EQ(openDescriptors(), descriptors_);
    }

    // The server logs what it received as it comes; wait (bounded) for `count` lines.
    QList<QByteArray> received(qsizetype count) {
        (void)QTest::qWaitFor([&] { return server_->receivedLines().size() >= count; }, 5000);
        return server_->receivedLines();
    }

    QString local(const QString& name) const { return local_.filePath(name); }
    // The file "up.bin" written with `bytes`, and its upload to "//up.bin".
    void makeUpload(const QByteArray& bytes) { writeFile(local("up.bin"), bytes); }
    void upload() { client_.UploadFile(local("up.bin"), "//up.bin"); }
    QStringList listing() {
        QStringList lines;
        client_.ListFolder(lines);
        return lines;
    }

    std::unique_ptr<FaultFtpServer> server_;
    FtpClient client_;
    qsizetype descriptors_ = 0;
    QTemporaryDir local_;
};

TEST_F(Fault, WireExchangeOfEveryOperation) {
    start("normal");
    const QByteArray sent = randomBytes(300000, 1);
    makeUpload(sent);

    client_.OpenSession();
    client_.ChangeFolder("//Папка");
    client_.MakeFolder("//mf/");
    client_.DeleteRemoteFile("//x.txt");
    client_.RenameRemote("//a.txt", "//b.txt");
    upload();
    const QStringList lines = listing();
    client_.DownloadFile("///etc/head.txt", local("down.bin"));
    client_.CloseSession();
    EXPECT_FALSE(client_.IsConnected());

    const QList<QByteArray> expected{
        "USER tester\r\n", "PASS secret\r\n", "TYPE I\r\n", "SYST\r\n",  // the login
        "CWD //\xCF\xE0\xEF\xEA\xE0\r\n",                                // in Windows-1251
        "MKD //mf/\r\n", "DELE //x.txt\r\n", "RNFR //a.txt\r\n", "RNTO //b.txt\r\n",
        // Each transfer on a passive connection of its own. The first file finds out, by a
        // NOOP answered only after it, that the server reads one command at a time: from then
        // on the next PASV goes out before a file's end reply.
        "PASV\r\n", "STOR //up.bin\r\n", "NOOP\r\n", "PASV\r\n", "LIST\r\n", "PASV\r\n",
        "RETR ///etc/head.txt\r\n", "QUIT\r\n"};
    EXPECT_EQ(received(expected.size()), expected);

    EXPECT_EQ(server_->storedSizes(), QList<qint64>{sent.size()});
    EXPECT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.value(1).endsWith(" index.php"));
    EXPECT_EQ(readFile(local("down.bin")), everyByte(4096));
}

// Servers that log in their own way: each opens a session, and the client says what it must.
TEST_F(Fault, SessionsOpenWhereverTheServerDiffers) {
    const QList<QByteArray> all{"USER tester\r\n", "PASS secret\r\n", "TYPE I\r\n", "SYST\r\n",
                                "QUIT\r\n"};
    const struct {
        const char* scenario;
        const char* host;
        int lastCode;  // of the last step of the login
        QList<QByteArray> said;
    } rows[] = {
        {"multiline-greeting", "127.0.0.1", 215, all},  // the greeting is one reply
        {"user-230", "127.0.0.1", 215, {all[0], all[2], all[3], all[4]}},  // no password asked
        {"syst-500", "127.0.0.1", 500, all},                               // still opens
        {"normal", "localhost", 215, all},  // the server found by name
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        start(QString::fromLatin1(row.scenario));
        client_.Host = QString::fromLatin1(row.host);
        client_.OpenSession();
        EXPECT_TRUE(client_.IsConnected());
        EXPECT_EQ(client_.LastReply().code, row.lastCode);
        client_.CloseSession();
        EXPECT_EQ(received(row.said.size()), row.said);
    }
}

TEST_F(Fault, Syst502FailsAndClosesTheSession) {
    start("syst-502");
    EXPECT_THAT([&] { client_.OpenSession(); }, throwsFtpError(502, "SYST not implemented."));
    expectClosedLeavingNothingOpen();
}

TEST_F(Fault, PassiveAddressWithoutParenthesesOrOfAnotherMachine) {
    // "pasv-elsewhere" names 127.0.0.2, where nothing listens: only a client that stays with the
    // server it talks to (127.0.0.1) gets the listing.
    for (const char* scenario : {"pasv-bare", "pasv-elsewhere"}) {
        SCOPED_TRACE(scenario);
        start(QString::fromLatin1(scenario));
        client_.OpenSession();
        EXPECT_EQ(listing().size(), 2);
        client_.CloseSession();
    }
}

// Only 226 or 250 confirm a transfer. Whatever else ends it is a failure in the server's own
// words, at once (a lone 426 costs no time-out), and leaves the conversation in step.
TEST_F(Fault, ATransferNotConfirmedBy226Or250Fails) {
    const struct {
        const char* scenario;
        const char* says;
    } rows[] = {
        {"end-426", "Failure writing network stream."},         // the usual form, without ABOR
        {"abort-426", "Connection closed; transfer aborted."},  // and a 226 after it
        {"end-451", "Local error in processing."},
        {"end-225", "no transfer in progress"},
    };
    for (const auto& row : rows) {
        start(QString::fromLatin1(row.scenario));
        makeUpload("small file");
        client_.OpenSession();
        for (const auto& [what, transfer] :
             {std::pair<const char*, std::function<void()>>{"upload", [&] { upload(); }},
              {"download",
               [&] {
                   QFile::remove(local("down.bin"));
                   client_.DownloadFile("//f.bin", local("down.bin"));
               }},
              {"listing", [&] { listing(); }}}) {
            SCOPED_TRACE(std::string(row.scenario) + ", " + what);
            QElapsedTimer timer;
            timer.start();
            EXPECT_THAT(transfer, ThrowsMessage<FtpError>(HasSubstr(row.says)));
            EXPECT_LT(milliseconds(timer.elapsed()), Limit);
            // The next command gets its own answer, over the same session or a new one.
            if (!client_.IsConnected()) {
                client_.OpenSession();
            }
            client_.ChangeFolder("//");
            EXPECT_EQ(client_.LastReply().code, 250);
        }
        client_.DropConnection();
    }
}

struct Breakdown {
    const char* scenario;
    enum Step { Open, List, Upload, Download } step;
    bool timesOut;
};

void PrintTo(const Breakdown& b, std::ostream* os) {
    *os << b.scenario;
}

// The connection drops or goes quiet at one point; whatever the point, the operation ends in an
// error within the time-out, the session is closed and no descriptor is left open.
class Broken : public Fault, public ::testing::WithParamInterface<Breakdown> {};

TEST_P(Broken, EndsInAClearErrorWithNothingLeftOpen) {
    const Breakdown& c = GetParam();
    start(QString::fromLatin1(c.scenario));
    // Large enough that the socket buffers cannot swallow it before the server drops.
    makeUpload(randomBytes(32 * 1024 * 1024, 3));
    // Descriptors were counted while closed: a fault ends the session too.
    if (c.step != Breakdown::Open) {
        client_.OpenSession();
    }

    QElapsedTimer timer;
    timer.start();
    const auto step = [&] {
        switch (c.step) {
            case Breakdown::Open:
                client_.OpenSession();
                break;
            case Breakdown::List:
                listing();
                break;
            case Breakdown::Upload:
                upload();
                break;
            case Breakdown::Download:
                client_.DownloadFile("//f.bin", local("f.bin"));
                break;
        }
    };
    EXPECT_THAT(step, ThrowsMessage<FtpError>(HasSubstr("127.0.0.1")));
    const auto elapsed = milliseconds(timer.elapsed());
    if (c.timesOut) {
        EXPECT_GE(elapsed, Limit - milliseconds(50));
    }
    EXPECT_LT(elapsed, 3 * Limit);
    expectClosedLeavingNothingOpen();
}

INSTANTIATE_TEST_SUITE_P(Faults, Broken,
                         ::testing::Values(Breakdown{"drop-after-greeting", Breakdown::Open, false},
                                           Breakdown{"drop-after-user", Breakdown::Open, false},
                                           Breakdown{"silent", Breakdown::Open, true},
                                           Breakdown{"drop-after-pasv", Breakdown::List, false},
                                           Breakdown{"drop-mid-stor", Breakdown::Upload, false},
                                           Breakdown{"silent-end", Breakdown::Upload, true},
                                           Breakdown{"drop-mid-retr", Breakdown::Download, false},
                                           Breakdown{"stall-mid-retr", Breakdown::Download, true},
                                           // A byte now and then keeps no wait from ending.
                                           Breakdown{"drip-greeting", Breakdown::Open, true},
                                           Breakdown{"drip-retr", Breakdown::Download, true}),
                         [](const auto& info) {
                             QByteArray name(info.param.scenario);
                             return name.replace('-', '_').toStdString();
                         });

TEST_F(Fault, AnAnswerThatNeverEndsIsCutOff) {
    struct Case {
        const char* scenario;
        DownloadLimit limit;  // a listing when both bounds are negative
        const char* says;
    };
    const Case cases[] = {
        {"endless-data", {-1, -1}, "200000 строк"},
        {"endless-line", {-1, -1}, "64 МБ"},
        {"endless-data", {3 * 1024 * 1024, -1}, "больше 3 МБ"},
        {"endless-data", {-1, 5002}, "длиннее 5002 строк"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        start(QString::fromLatin1(c.scenario));
        client_.OpenSession();
        QFile::remove(local("f.bin"));
        EXPECT_THAT(
            [&] {
                if (c.limit.maxBytes < 0 && c.limit.maxLines < 0) {
                    listing();
                } else {
                    client_.DownloadFile("//f.bin", local("f.bin"), c.limit);
                }
            },
            ThrowsMessage<FtpError>(HasSubstr(c.says)));
        expectClosedLeavingNothingOpen();
        if (c.limit.maxBytes > 0) {
            EXPECT_LE(QFileInfo(local("f.bin")).size(), c.limit.maxBytes);
        }
    }
}

// Servers that keep a command going by sending: now and then, at a trickle, or without end.
// None may hold it past its limits, and Cancel is heard within a fraction of a second.
TEST_F(Fault, NoServerHoldsACommandPastItsLimitsOrKeepsCancelOff) {
    TlsRun tls;
    const ServerTls certificate = tls.certificates.signedFor("IP:127.0.0.1");
    enum Outcome { Completes, Stopped, TimesOut };
    const struct {
        const char* scenario;
        bool encrypted;
        Outcome outcome;
    } rows[] = {
        // Sends on after the upload's end: the end reply decides, soon.
        {"tls-endless-after-stor", true, Completes},
        // A byte every 4 ms, faster than any wait gives up.
        {"trickle-greeting", false, Stopped},
        {"tls-trickle-handshake", true, Stopped},
        // A byte every 0.7 s keeps the handshake alive, not within its limit.
        {"tls-drip-handshake", true, TimesOut},
    };
    constexpr milliseconds CancelAfter{300};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        server_ = std::make_unique<FaultFtpServer>(
            QString::fromLatin1(row.scenario),
            row.encrypted ? std::optional(certificate) : std::nullopt);
        pointAt(client_, *server_);
        client_.Timeout = Limit;
        client_.Encryption = row.encrypted ? FtpEncryption::Required : FtpEncryption::Off;
        makeUpload(randomBytes(100000, 7));
        QElapsedTimer timer;
        timer.start();
        client_.Pump = [&] {
            if (row.outcome == Stopped && milliseconds(timer.elapsed()) > CancelAfter) {
                throw Cancelled();
            }
        };
        const auto command = [&] {
            client_.OpenSession();
            upload();
        };
        switch (row.outcome) {
            case Completes:
                command();
                EXPECT_EQ(server_->storedSizes(), QList<qint64>{100000});
                EXPECT_LT(milliseconds(timer.elapsed()), 2 * Limit);
                break;
            case Stopped:
                EXPECT_THROW(command(), Cancelled);
                EXPECT_LT(milliseconds(timer.elapsed()), CancelAfter + milliseconds(500));
                break;
            case TimesOut:
                EXPECT_THAT(command, ThrowsMessage<ConnectionTimedOut>(HasSubstr("защищённ")));
                EXPECT_LT(milliseconds(timer.elapsed()), 2 * Limit + milliseconds(500));
                break;
        }
        client_.Pump = nullptr;
        client_.DropConnection();
    }
}

// Over TLS a data connection must end with the close notice: an end without it may be an
// attacker on the way cutting the file short, whatever the server then replies.
TEST_F(Fault, AnEncryptedDownloadCutWithoutTheCloseNoticeFails) {
    TlsRun tls;
    const ServerTls certificate = tls.certificates.signedFor("IP:127.0.0.1");
    for (const auto& [scenario, whole] :
         {std::pair{"tls", true}, std::pair{"tls-cut-data", false}}) {
        SCOPED_TRACE(scenario);
        server_ = std::make_unique<FaultFtpServer>(QString::fromLatin1(scenario), certificate);
        pointAt(client_, *server_);
        client_.Timeout = Limit;
        client_.Encryption = FtpEncryption::Required;
        client_.OpenSession();
        QFile::remove(local("down.bin"));
        const auto download = [&] { client_.DownloadFile("//f.bin", local("down.bin")); };
        if (whole) {
            download();
            EXPECT_EQ(readFile(local("down.bin")), everyByte(4096));
            EXPECT_EQ(listing().size(), 2);
        } else {
            EXPECT_THAT(download, ThrowsMessage<FtpError>(HasSubstr("не полностью")));
            if (!client_.IsConnected()) {
                client_.OpenSession();
            }
            EXPECT_THAT([&] { listing(); }, ThrowsMessage<FtpError>(HasSubstr("не полностью")));
        }
        client_.DropConnection();
    }
}

// A server that renegotiates in the middle of a session could show another certificate than
// the one checked; the client takes no part in it.
TEST_F(Fault, ARenegotiationWithAnotherCertificateIsRefused) {
    TlsRun tls;
    server_ = std::make_unique<FaultFtpServer>("tls-renegotiate",
                                               tls.certificates.signedFor("IP:127.0.0.1"),
                                               tls.certificates.selfSigned("IP:127.0.0.1"));
    pointAt(client_, *server_);
    client_.Timeout = Limit;
    client_.Encryption = FtpEncryption::Required;
    client_.OpenSession();
    try {
        listing();
        client_.ChangeFolder("//");
    } catch (const FtpError&) {
        // Refusing may cost the session; that is all it may cost.
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_->output().contains("C 4c495354"); }, 5000));
    client_.DropConnection();
    EXPECT_FALSE(server_->output().contains("RENEGOTIATED")) << server_->output().toStdString();
}

// "Encryption if the server can": a server that refuses it gets the password only where no
// encrypted login has been seen for the site, and only once the user has agreed.
TEST_F(Fault, ARefusalOfTlsSendsThePasswordOnlyWhereNothingSpeaksAgainstIt) {
    const struct {
        const char* what;
        FtpEncryption encryption;
        bool tlsKnown;
        std::optional<bool> answer;  // to the question; nullopt: none may come
        bool logsIn;
    } rows[] = {
        {"a new site, the user agrees", FtpEncryption::IfAvailable, false, true, true},
        {"a new site, the user declines", FtpEncryption::IfAvailable, false, false, false},
        {"TLS was seen for the site", FtpEncryption::IfAvailable, true, {}, false},
        {"encryption switched off", FtpEncryption::Off, false, {}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        start("normal");  // "AUTH TLS" gets a 500
        client_.Encryption = row.encryption;
        client_.TlsKnown = row.tlsKnown;
        bool asked = false;
        client_.AskPlainLogin = [&] {
            asked = true;
            return row.answer.value_or(false);
        };
        if (row.logsIn) {
            client_.OpenSession();
            client_.CloseSession();
        } else {
            // A No stops the command as Cancel does; a refusal unasked is an error.
            if (row.answer) {
                EXPECT_THROW(client_.OpenSession(), Cancelled);
            } else {
                EXPECT_THROW(client_.OpenSession(), FtpError);
            }
            EXPECT_FALSE(client_.IsConnected());
        }
        EXPECT_EQ(asked, row.answer.has_value());
        const QList<QByteArray> said = received(row.logsIn ? 2 : 1);
        EXPECT_EQ(said.contains("PASS secret\r\n"), row.logsIn);
    }
    // The refusal where TLS was seen says what changed and how to go without it on purpose.
    start("normal");
    client_.Encryption = FtpEncryption::IfAvailable;
    client_.TlsKnown = true;
    EXPECT_THAT(
        [&] { client_.OpenSession(); },
        ThrowsMessage<FtpError>(AllOf(HasSubstr("больше не"), HasSubstr("Без шифрования"))));
}

// Downloads that share a bound stop once together they pass it, whichever session moves them.
TEST_F(Fault, DownloadsSharingABoundStopWhenTogetherTheyPassIt) {
    start("normal");  // each RETR sends 1 MiB
    client_.OpenSession();
    DownloadLimit limit;
    limit.shared = std::make_shared<SharedDownloadBound>(3 * 1024 * 1024 / 2);
    client_.DownloadFile("//1.bin", local("1.bin"), limit);
    EXPECT_THAT([&] { client_.DownloadFile("//2.bin", local("2.bin"), limit); },
                ThrowsMessage<FtpError>(HasSubstr("вместе больше 1,5 МБ")));
}

TEST(OffThread, ABlockedCallHoldsOffNeitherThePumpNorTheTimeOut) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    auto finished = std::make_shared<std::atomic<int>>(0);
    const auto blocked = [released, finished] {
        released.wait();
        ++*finished;
    };

    int calls = 0;
    const std::function<void()> pump = [&calls] {
        if (++calls == 5) {
            throw Cancelled();
        }
    };
    Pacer pacer(std::chrono::seconds(30), pump);
    EXPECT_THROW(runOffThread(blocked, pacer), Cancelled);
    EXPECT_EQ(calls, 5);

    const std::function<void()> noPump;
    Pacer quick(milliseconds(100), noPump);
    EXPECT_FALSE(runOffThread(blocked, quick));
    EXPECT_EQ(*finished, 0);

    release.set_value();
    EXPECT_TRUE(QTest::qWaitFor([&] { return *finished == 2; }, 5000));
    Pacer plain(milliseconds(1000), noPump);
    EXPECT_TRUE(runOffThread([] {}, plain));
}

TEST_F(Fault, RefusedConnection) {
    // A port held by a socket that does not listen: connecting to it is refused, and no other
    // test can start a server on it meanwhile.
    LoopbackSocket held;
    client_.Host = "127.0.0.1";
    client_.Port = held.bindAny();
    ASSERT_NE(client_.Port, 0);
    descriptors_ = openDescriptors();
    EXPECT_THAT([&] { client_.OpenSession(); }, ThrowsMessage<FtpError>(HasSubstr("отклонил")));
    expectClosedLeavingNothingOpen();
}

TEST_F(Fault, AServerThatAPassiveCommandAheadBreaksIsNeverSentOneAgain) {
    start("pasv-breaks-stor");
    makeUpload(randomBytes(20000, 5));
    int learned = 0;
    client_.HabitsLearned = [&] { ++learned; };
    client_.OpenSession();
    upload();  // the NOOP waits for the end of the file: one command at a time, it seems
    ASSERT_EQ(client_.Habits.oneCommandAtATime, std::optional<bool>(true));
    EXPECT_THAT([&] { upload(); }, ThrowsMessage<FtpError>(HasSubstr("Transfer aborted.")));
    EXPECT_EQ(client_.Habits.oneCommandAtATime, std::optional<bool>(false));
    EXPECT_EQ(learned, 2);
    // Answers were owed behind the failure: a new session, and no PASV ahead of a file again.
    EXPECT_FALSE(client_.IsConnected());
    client_.OpenSession();
    upload();
    upload();
    client_.CloseSession();
    EXPECT_EQ(server_->storedSizes(), (QList<qint64>{20000, 20000, 20000}));
    EXPECT_EQ(server_->cutSizes().size(), 1);
}

TEST_F(Fault, UploadCutShortIsAnErrorDespite226) {
    // The server resets the data connection part way, then reports 426 and 226.
    start("reset-mid-stor");
    makeUpload(randomBytes(32 * 1024 * 1024, 4));
    client_.OpenSession();
    // The server's own words come first.
    EXPECT_THAT([&] { upload(); },
                ThrowsMessage<FtpError>(
                    AllOf(StartsWith("Connection reset by peer"), HasSubstr("не полностью"))));
    // Its 226 is still on the way: the session is dropped rather than read out of step.
    EXPECT_FALSE(client_.IsConnected());
    client_.OpenSession();
    client_.ChangeFolder("//");
    EXPECT_EQ(client_.LastReply().code, 250);
}

TEST_F(Fault, PumpRunsWhileWaitingAndCanCancel) {
    start("silent");
    int calls = 0;
    client_.Pump = [&] {
        if (++calls == 3) {
            throw Cancelled();
        }
    };
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(client_.OpenSession(), Cancelled);
    EXPECT_LT(milliseconds(timer.elapsed()), Limit);
    EXPECT_EQ(calls, 3);
    expectClosedLeavingNothingOpen();
}

TEST_F(Fault, CancelInTheMiddleOfAnUploadLeavesAUsableClient) {
    start("slow-stor");
    makeUpload(randomBytes(32 * 1024 * 1024, 5));
    client_.OpenSession();
    qint64 sent = 0;
    client_.Progress = [&](qint64 bytes) { sent = bytes; };
    client_.Pump = [&] {
        if (sent > 0) {
            throw Cancelled();
        }
    };
    EXPECT_THROW(upload(), Cancelled);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 32 * 1024 * 1024);
    // The server still owes the end of that transfer, so the session is gone.
    expectClosedLeavingNothingOpen();
    // And the server knows the file as broken off, not as complete.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server_->cutSizes().isEmpty(); }, 10000));
    EXPECT_TRUE(server_->storedSizes().isEmpty());

    client_.Pump = nullptr;
    client_.OpenSession();
    client_.ChangeFolder("//");
    EXPECT_EQ(client_.LastReply().code, 250);
}

TEST_F(Fault, NoSecondOperationFromInsideThePump) {
    start("silent-end");
    makeUpload("small file");
    client_.OpenSession();
    QStringList refusals;
    client_.Pump = [&] {
        if (refusals.isEmpty()) {
            for (auto nested : {+[](FtpClient& c) { c.ChangeFolder("//"); },
                                +[](FtpClient& c) { c.DropConnection(); },
                                +[](FtpClient& c) { c.CloseSession(); }}) {
                try {
                    nested(client_);
                } catch (const FtpError& e) {
                    refusals.append(e.text());
                }
            }
        }
    };
    // The end reply never comes; the upload waits, the pump tries to interfere meanwhile.
    EXPECT_THROW(upload(), FtpError);
    EXPECT_EQ(refusals.size(), 3);
    EXPECT_FALSE(client_.IsConnected());
}

TEST_F(Fault, ServerGoneWhileIdleIsNoLongerConnected) {
    start("drop-after-pasv");
    client_.OpenSession();
    EXPECT_THROW(listing(), FtpError);
    // The server closed the control connection after its PASV reply.
    EXPECT_FALSE(client_.IsConnected());
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
}

}  // namespace
