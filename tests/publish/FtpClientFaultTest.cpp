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
        // Each transfer on a passive connection of its own.
        "PASV\r\n", "STOR //up.bin\r\n", "PASV\r\n", "LIST\r\n", "PASV\r\n",
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

TEST_F(Fault, Aborted426Then226CompletesTheOperation) {
    start("abort-426");
    makeUpload("small file");
    client_.OpenSession();
    EXPECT_EQ(listing().size(), 2);
    client_.DownloadFile("//f.bin", local("down.bin"));
    EXPECT_EQ(readFile(local("down.bin")).size(), 1024 * 1024);
    upload();
    EXPECT_EQ(client_.LastReply().code, 226);
    // Both replies were read: the next command gets its own answer.
    client_.ChangeFolder("//");
    EXPECT_EQ(client_.LastReply().code, 250);
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
            throw FtpCancelled();
        }
    };
    Pacer pacer(std::chrono::seconds(30), pump);
    EXPECT_THROW(runOffThread(blocked, pacer), FtpCancelled);
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
            throw FtpCancelled();
        }
    };
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(client_.OpenSession(), FtpCancelled);
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
            throw FtpCancelled();
        }
    };
    EXPECT_THROW(upload(), FtpCancelled);
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
