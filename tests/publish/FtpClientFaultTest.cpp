#include <gtest/gtest.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
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
    }

    // The server logs what it received as it comes; wait (bounded) for `count` lines.
    QList<QByteArray> received(qsizetype count) {
        QElapsedTimer timer;
        timer.start();
        while (server_->receivedLines().size() < count && timer.elapsed() < 5000) {
            QThread::msleep(10);
        }
        return server_->receivedLines();
    }

    QString local(const QString& name) const { return local_.filePath(name); }

    std::unique_ptr<FaultFtpServer> server_;
    FtpClient client_;
    QTemporaryDir local_;
};

TEST_F(Fault, WireExchangeOfEveryOperation) {
    start(QStringLiteral("normal"));
    const QByteArray upload = randomBytes(300000, 1);
    writeFile(local(QStringLiteral("up.bin")), upload);

    client_.OpenSession();
    client_.ChangeFolder(QStringLiteral("//Папка"));
    client_.MakeFolder(QStringLiteral("//mf/"));
    client_.DeleteRemoteFile(QStringLiteral("//x.txt"));
    client_.RenameRemote(QStringLiteral("//a.txt"), QStringLiteral("//b.txt"));
    client_.UploadFile(local(QStringLiteral("up.bin")), QStringLiteral("//up.bin"));
    QStringList lines;
    client_.ListFolder(lines);
    client_.DownloadFile(QStringLiteral("///etc/head.txt"), local(QStringLiteral("down.bin")));
    client_.CloseSession();
    EXPECT_FALSE(client_.IsConnected());

    const QList<QByteArray> expected{"USER tester\r\n",
                                     "PASS secret\r\n",
                                     "TYPE I\r\n",
                                     "SYST\r\n",
                                     "CWD //\xCF\xE0\xEF\xEA\xE0\r\n",
                                     "MKD //mf/\r\n",
                                     "DELE //x.txt\r\n",
                                     "RNFR //a.txt\r\n",
                                     "RNTO //b.txt\r\n",
                                     "PASV\r\n",
                                     "STOR //up.bin\r\n",
                                     "PASV\r\n",
                                     "LIST\r\n",
                                     "PASV\r\n",
                                     "RETR ///etc/head.txt\r\n",
                                     "QUIT\r\n"};
    EXPECT_EQ(received(expected.size()), expected);

    EXPECT_EQ(server_->storedSizes(), QList<qint64>{upload.size()});
    EXPECT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.value(1).endsWith(QStringLiteral(" index.php")));
    QByteArray everyByte;
    for (int i = 0; i < 256; ++i) {
        everyByte.append(static_cast<char>(i));
    }
    EXPECT_EQ(readFile(local(QStringLiteral("down.bin"))), everyByte.repeated(4096));
}

TEST_F(Fault, GreetingOverSeveralLinesIsOneReply) {
    start(QStringLiteral("multiline-greeting"));
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
    EXPECT_EQ(received(1).value(0), QByteArray("USER tester\r\n"));
}

TEST_F(Fault, LoginWithoutPassword) {
    start(QStringLiteral("user-230"));
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
    client_.CloseSession();
    EXPECT_EQ(received(4),
              (QList<QByteArray>{"USER tester\r\n", "TYPE I\r\n", "SYST\r\n", "QUIT\r\n"}));
}

TEST_F(Fault, Syst500StillOpens) {
    start(QStringLiteral("syst-500"));
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
    EXPECT_EQ(client_.LastReply().code, 500);
}

TEST_F(Fault, Syst502FailsAndClosesTheSession) {
    start(QStringLiteral("syst-502"));
    const qsizetype descriptors = openDescriptors();
    EXPECT_THAT([&] { client_.OpenSession(); }, throwsFtpError(502, "SYST not implemented."));
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(Fault, PassiveAddressWithoutParenthesesOrOfAnotherMachine) {
    // "pasv-elsewhere" names 127.0.0.2, where nothing listens: only a client that stays with the
    // server it talks to (127.0.0.1) gets the listing.
    for (const char* scenario : {"pasv-bare", "pasv-elsewhere"}) {
        SCOPED_TRACE(scenario);
        start(QString::fromLatin1(scenario));
        client_.OpenSession();
        QStringList lines;
        client_.ListFolder(lines);
        EXPECT_EQ(lines.size(), 2);
        client_.CloseSession();
    }
}

TEST_F(Fault, Aborted426Then226CompletesTheOperation) {
    start(QStringLiteral("abort-426"));
    writeFile(local(QStringLiteral("up.bin")), "small file");
    client_.OpenSession();
    QStringList lines;
    client_.ListFolder(lines);
    EXPECT_EQ(lines.size(), 2);
    client_.DownloadFile(QStringLiteral("//f.bin"), local(QStringLiteral("down.bin")));
    EXPECT_EQ(readFile(local(QStringLiteral("down.bin"))).size(), 1024 * 1024);
    client_.UploadFile(local(QStringLiteral("up.bin")), QStringLiteral("//up.bin"));
    EXPECT_EQ(client_.LastReply().code, 226);
    // Both replies were read: the next command gets its own answer.
    client_.ChangeFolder(QStringLiteral("//"));
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
    writeFile(local(QStringLiteral("up.bin")), randomBytes(32 * 1024 * 1024, 3));
    // Counted while closed: a fault ends the session too.
    const qsizetype descriptors = openDescriptors();
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
            case Breakdown::List: {
                QStringList lines;
                client_.ListFolder(lines);
                break;
            }
            case Breakdown::Upload:
                client_.UploadFile(local(QStringLiteral("up.bin")), QStringLiteral("//up.bin"));
                break;
            case Breakdown::Download:
                client_.DownloadFile(QStringLiteral("//f.bin"), local(QStringLiteral("f.bin")));
                break;
        }
    };
    EXPECT_THAT(step, ThrowsMessage<FtpError>(HasSubstr("127.0.0.1")));
    const auto elapsed = milliseconds(timer.elapsed());
    if (c.timesOut) {
        EXPECT_GE(elapsed, Limit - milliseconds(50));
    }
    EXPECT_LT(elapsed, 3 * Limit);
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
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
        const qsizetype descriptors = openDescriptors();
        client_.OpenSession();
        QFile::remove(local(QStringLiteral("f.bin")));
        EXPECT_THAT(
            [&] {
                if (c.limit.maxBytes < 0 && c.limit.maxLines < 0) {
                    QStringList lines;
                    client_.ListFolder(lines);
                } else {
                    client_.DownloadFile(QStringLiteral("//f.bin"), local(QStringLiteral("f.bin")),
                                         c.limit);
                }
            },
            ThrowsMessage<FtpError>(HasSubstr(c.says)));
        EXPECT_FALSE(client_.IsConnected());
        EXPECT_EQ(openDescriptors(), descriptors);
        if (c.limit.maxBytes > 0) {
            EXPECT_LE(QFileInfo(local(QStringLiteral("f.bin"))).size(), c.limit.maxBytes);
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
    QElapsedTimer timer;
    timer.start();
    while (*finished < 2 && timer.elapsed() < 5000) {
        QThread::msleep(5);
    }
    EXPECT_EQ(*finished, 2);
    Pacer plain(milliseconds(1000), noPump);
    EXPECT_TRUE(runOffThread([] {}, plain));
}

TEST_F(Fault, ServerFoundByName) {
    start(QStringLiteral("normal"));
    client_.Host = QStringLiteral("localhost");
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
    client_.CloseSession();
}

TEST_F(Fault, RefusedConnection) {
    // A port held by a socket that does not listen: connecting to it is refused, and no other
    // test can start a server on it meanwhile.
    LoopbackSocket held;
    client_.Host = QStringLiteral("127.0.0.1");
    client_.Port = held.bindAny();
    ASSERT_NE(client_.Port, 0);
    const qsizetype descriptors = openDescriptors();
    EXPECT_THAT([&] { client_.OpenSession(); }, ThrowsMessage<FtpError>(HasSubstr("отклонил")));
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(Fault, UploadCutShortIsAnErrorDespite226) {
    // The server resets the data connection part way, then reports 426 and 226.
    start(QStringLiteral("reset-mid-stor"));
    writeFile(local(QStringLiteral("up.bin")), randomBytes(32 * 1024 * 1024, 4));
    client_.OpenSession();
    // The server's own words come first.
    EXPECT_THAT(
        [&] { client_.UploadFile(local(QStringLiteral("up.bin")), QStringLiteral("//up.bin")); },
        ThrowsMessage<FtpError>(
            AllOf(StartsWith("Connection reset by peer"), HasSubstr("не полностью"))));
    // Its 226 is still on the way: the session is dropped rather than read out of step.
    EXPECT_FALSE(client_.IsConnected());
    client_.OpenSession();
    client_.ChangeFolder(QStringLiteral("//"));
    EXPECT_EQ(client_.LastReply().code, 250);
}

TEST_F(Fault, PumpRunsWhileWaitingAndCanCancel) {
    start(QStringLiteral("silent"));
    const qsizetype descriptors = openDescriptors();
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
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(Fault, CancelInTheMiddleOfAnUploadLeavesAUsableClient) {
    start(QStringLiteral("slow-stor"));
    writeFile(local(QStringLiteral("up.bin")), randomBytes(32 * 1024 * 1024, 5));
    const qsizetype descriptors = openDescriptors();
    client_.OpenSession();
    qint64 sent = 0;
    client_.Progress = [&](qint64 bytes) { sent = bytes; };
    client_.Pump = [&] {
        if (sent > 0) {
            throw FtpCancelled();
        }
    };
    EXPECT_THROW(client_.UploadFile(local(QStringLiteral("up.bin")), QStringLiteral("//up.bin")),
                 FtpCancelled);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 32 * 1024 * 1024);
    // The server still owes the end of that transfer, so the session is gone.
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
    // And the server knows the file as broken off, not as complete.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server_->cutSizes().isEmpty(); }, 10000));
    EXPECT_TRUE(server_->storedSizes().isEmpty());

    client_.Pump = nullptr;
    client_.OpenSession();
    client_.ChangeFolder(QStringLiteral("//"));
    EXPECT_EQ(client_.LastReply().code, 250);
}

TEST_F(Fault, NoSecondOperationFromInsideThePump) {
    start(QStringLiteral("silent-end"));
    writeFile(local(QStringLiteral("up.bin")), "small file");
    client_.OpenSession();
    QStringList refusals;
    client_.Pump = [&] {
        if (refusals.isEmpty()) {
            for (auto nested : {+[](FtpClient& c) { c.ChangeFolder(QStringLiteral("//")); },
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
    EXPECT_THROW(client_.UploadFile(local(QStringLiteral("up.bin")), QStringLiteral("//up.bin")),
                 FtpError);
    EXPECT_EQ(refusals.size(), 3);
    EXPECT_FALSE(client_.IsConnected());
}

TEST_F(Fault, ServerGoneWhileIdleIsNoLongerConnected) {
    start(QStringLiteral("drop-after-pasv"));
    client_.OpenSession();
    QStringList lines;
    EXPECT_THROW(client_.ListFolder(lines), FtpError);
    // The server closed the control connection after its PASV reply.
    EXPECT_FALSE(client_.IsConnected());
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
}

}  // namespace
