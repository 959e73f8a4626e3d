#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

#include "FtpTestSupport.h"
#include "platform/Errors.h"
#include "publish/RemoteBrowser.h"
#include "publish/SftpClient.h"
#include "publish/TcpConnection.h"
#include "support/SshServer.h"
#include "support/TcpRelay.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

// One sshd for the suite; each test has its own client, ~/.ssh and known-hosts file.
class Sftp : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<SshServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    Sftp() {
        QDir().mkpath(sshFolder());
        client.Host = server().host();
        client.Port = server().port();
        client.Username = server().user();
        client.Password = server().password();
        client.Timeout = std::chrono::seconds(10);
        client.UserSshFolder = sshFolder();
        client.KnownHostsFile = ownKnownHosts();
    }
    static SshServer& server() { return *server_; }
    QString sshFolder() const { return home.filePath(".ssh"); }
    QString ownKnownHosts() const { return home.filePath("zorod/known_hosts"); }
    void trustServer() { client.TrustedFingerprint = server().hostFingerprint(); }
    QString remote(const QString& name) const { return server().writableFolder() + u'/' + name; }

    static inline std::unique_ptr<SshServer> server_;
    QTemporaryDir home;
    SftpClient client;
};

QString md5(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

TEST_F(Sftp, MovesFilesListsRenamesAndRefusesInRussianKeepingTheSession) {
    trustServer();
    client.OpenSession();
    client.ChangeFolder(server().writableFolder());
    // More than the writes that are on the way at once, and not a whole number of them.
    const QByteArray big = randomBytes(3 * 1024 * 1024 + 123, 7);
    writeFile(home.filePath("big.bin"), big);
    qint64 lastProgress = 0;
    client.Progress = [&](qint64 bytes) { lastProgress = bytes; };
    QString digest;
    client.UploadFile(home.filePath("big.bin"), "big.bin", &digest);
    EXPECT_EQ(digest, md5(big));
    EXPECT_EQ(lastProgress, big.size());
    EXPECT_EQ(readFile(remote("big.bin")), big);
    EXPECT_EQ(client.RemoteSize("big.bin"), big.size());

    writeFile(home.filePath("страница.html"), "<p>текст</p>");
    client.UploadFile(home.filePath("страница.html"), "страница.html");
    EXPECT_TRUE(QFileInfo::exists(remote("страница.html")));  // the name went as UTF-8
    client.MakeFolder("mf");
    QStringList lines;
    client.ListFolder(lines);
    const RemoteEntries entries = sortListing(lines);
    EXPECT_EQ(entries.folders, QStringList{"mf"});
    EXPECT_THAT(entries.files, ::testing::UnorderedElementsAre("big.bin", "страница.html"));

    // Onto a name that exists, as a rename on a disk does.
    client.RenameRemote("big.bin", "страница.html");
    EXPECT_EQ(readFile(remote("страница.html")), big);
    client.DownloadFile("страница.html", home.filePath("back.bin"));
    EXPECT_EQ(readFile(home.filePath("back.bin")), big);
    EXPECT_THAT([&] { client.DownloadFile("страница.html", home.filePath("back.bin")); },
                ::testing::ThrowsMessage<FtpError>(HasSubstr("Destination file already exists.")));

    EXPECT_THAT([&] { client.DeleteRemoteFile("missing.txt"); },
                throwsFtpError(550, HasSubstr("нет такого файла или папки")));
    EXPECT_THAT([&] { client.ChangeFolder("/nowhere/zorod"); },
                throwsFtpError(550, HasSubstr("нет такого файла или папки")));
    EXPECT_THAT([&] { client.UploadFile(home.filePath("back.bin"), "/zorod-forbidden.bin"); },
                throwsFtpError(550, HasSubstr("доступ запрещён")));
    EXPECT_TRUE(client.IsConnected());  // refusals leave the session as it was
    // A download bounded in bytes stops there.
    EXPECT_THAT([&] { client.DownloadFile("страница.html", home.filePath("cut.bin"), {1000}); },
                ::testing::ThrowsMessage<FtpError>(HasSubstr("больше")));
    client.CloseSession();
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(Sftp, HostKeysAreCheckedAsOpenSshUsersExpect) {
    // Another key, for a server whose key has changed since it became known.
    const QString other = home.filePath("other");
    runTool("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", other});
    const QByteArray otherKey = readFile(other + ".pub").split(' ').mid(0, 2).join(' ');
    const QByteArray otherLine =
        "[127.0.0.1]:" + QByteArray::number(server().port()) + ' ' + otherKey + '\n';
    const QString otherFingerprint =
        QString::fromLatin1(runTool("ssh-keygen", {"-l", "-f", other + ".pub"}).split(' ')[1]);

    enum Known { Nothing, UserPlain, UserHashed, UserChanged, OwnChanged };
    const struct {
        const char* name;
        Known known;
        CertificateTrust answer;
        bool opens, asked, storedInOwnFile, changed;
    } cases[] = {
        {"known", UserPlain, CertificateTrust::No, true, false, false, false},
        {"known hashed", UserHashed, CertificateTrust::No, true, false, false, false},
        {"unknown always", Nothing, CertificateTrust::Always, true, true, true, false},
        {"unknown once", Nothing, CertificateTrust::Once, true, true, false, false},
        {"unknown no", Nothing, CertificateTrust::No, false, true, false, false},
        {"changed", UserChanged, CertificateTrust::Always, false, false, false, true},
        {"changed, own file", OwnChanged, CertificateTrust::Always, false, false, false, true},
    };
    const QString fingerprint = server().hostFingerprint();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(sshFolder() + "/known_hosts");
        QFile::remove(ownKnownHosts());
        QDir().mkpath(QFileInfo(ownKnownHosts()).path());
        if (c.known == UserPlain || c.known == UserHashed) {
            writeFile(sshFolder() + "/known_hosts", server().knownHostsLine(c.known == UserHashed));
        } else if (c.known == UserChanged) {
            writeFile(sshFolder() + "/known_hosts", otherLine);
        } else if (c.known == OwnChanged) {
            writeFile(ownKnownHosts(), otherLine);
        }
        SftpClient s;
        s.Host = client.Host;
        s.Port = client.Port;
        s.Username = client.Username;
        s.Password = client.Password;
        s.UserSshFolder = client.UserSshFolder;
        s.KnownHostsFile = client.KnownHostsFile;
        // Whatever is trusted for a changed key, it stays refused.
        s.TrustedFingerprint = c.changed ? fingerprint : QString();
        QList<ServerHostKey> asked;
        s.AskHostKey = [&](const ServerHostKey& key) {
            asked.append(key);
            return c.answer;
        };
        try {
            s.OpenSession();
            EXPECT_TRUE(c.opens);
            EXPECT_EQ(s.AcceptedFingerprint(), fingerprint);
        } catch (const ChangedHostKey& e) {
            EXPECT_TRUE(c.changed);
            EXPECT_EQ(e.key().knownFingerprint, otherFingerprint);
            EXPECT_EQ(e.key().fingerprint, fingerprint);
            EXPECT_EQ(e.key().knownInOwnFile, c.known == OwnChanged);
            EXPECT_THAT(e.text().toStdString(), AllOf(HasSubstr(fingerprint.toStdString()),
                                                      HasSubstr(otherFingerprint.toStdString())));
        } catch (const UntrustedHostKey& e) {
            EXPECT_FALSE(c.opens);
            EXPECT_THAT(e.text().toStdString(), HasSubstr(fingerprint.toStdString()));
        }
        EXPECT_EQ(asked.size(), c.asked ? 1 : 0);
        if (!asked.isEmpty()) {
            EXPECT_EQ(asked[0].fingerprint, fingerprint);
            EXPECT_EQ(asked[0].type, "ssh-ed25519");
            EXPECT_EQ(asked[0].host, QStringLiteral("127.0.0.1:%1").arg(server().port()));
        }
        EXPECT_EQ(QFile(ownKnownHosts()).exists() && c.known != OwnChanged, c.storedInOwnFile);
        s.DropConnection();
        if (c.storedInOwnFile) {
            // Kept: the next session asks nothing.
            asked.clear();
            s.OpenSession();
            EXPECT_TRUE(asked.isEmpty());
            s.DropConnection();
        }
        if (c.known == OwnChanged) {
            // Cleared on purpose, the new key is asked about like any unknown one.
            EXPECT_TRUE(forgetHostKey(ownKnownHosts(), s.Host + ':' + QString::number(s.Port)));
            s.TrustedFingerprint.clear();
            s.OpenSession();
            EXPECT_EQ(asked.size(), 1);
            s.DropConnection();
        }
    }
}

TEST_F(Sftp, LogsInByPasswordKeysAndAPassphraseAskedOnce) {
    trustServer();
    const QString protectedKey = server().protectedKeyFile();
    const struct {
        const char* name;
        QString password, keyFile;
        bool userKey;         // the key is the user's ~/.ssh/id_ed25519
        bool givePassphrase;  // the question is answered
        bool opens;
        int asked;
        bool agent = false;  // the key is held by the user's ssh-agent only
    } cases[] = {
        {"password", server().password(), {}, false, false, true, 0},
        {"site key", {}, server().keyFile(), false, false, true, 0},
        {"protected key", {}, protectedKey, false, true, true, 1},
        {"protected key, no answer", "wrong", protectedKey, false, false, false, 1},
        {"user's key", {}, {}, true, false, true, 0},
        {"wrong password", "wrong", {}, false, false, false, 0},
        {"agent", {}, {}, false, false, true, 0, true},
    };
    // The user's agent, on a socket of the test, holding the key.
    const QString agentSocket = home.filePath("agent.sock");
    QProcess agent;
    agent.start("ssh-agent", {"-D", "-a", agentSocket});
    ASSERT_TRUE(agent.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(agentSocket); }, 10000));
    QProcess add;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SSH_AUTH_SOCK", agentSocket);
    add.setProcessEnvironment(environment);
    add.start("ssh-add", {server().keyFile()});
    ASSERT_TRUE(add.waitForFinished(10000) && add.exitCode() == 0)
        << add.readAllStandardError().toStdString();
    const QByteArray socketBefore = qgetenv("SSH_AUTH_SOCK");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.agent) {
            qputenv("SSH_AUTH_SOCK", agentSocket.toLocal8Bit());
        } else {
            qunsetenv("SSH_AUTH_SOCK");
        }
        QFile::remove(sshFolder() + "/id_ed25519");
        QFile::remove(sshFolder() + "/id_ed25519.pub");
        if (c.userKey) {
            QFile::copy(server().keyFile(), sshFolder() + "/id_ed25519");
            QFile::copy(server().keyFile() + ".pub", sshFolder() + "/id_ed25519.pub");
        }
        client.Password = c.password;
        client.KeyFile = c.keyFile;
        client.KeyPassphrase.reset();
        int asked = 0;
        client.AskPassphrase = [&](const QString& file) -> std::optional<QString> {
            EXPECT_EQ(file, c.keyFile);
            ++asked;
            return c.givePassphrase ? std::optional(SshServer::keyPassphrase()) : std::nullopt;
        };
        if (c.opens) {
            client.OpenSession();
            EXPECT_TRUE(client.IsConnected());
            // A further session logs in alike, asking nothing again.
            std::unique_ptr<RemoteClient> further = client.FurtherSession();
            further->OpenSession();
            further->CloseSession();
            client.CloseSession();
        } else {
            EXPECT_THAT([&] { client.OpenSession(); },
                        throwsFtpError(530, HasSubstr("не впустил пользователя")));
            EXPECT_FALSE(client.IsConnected());
        }
        EXPECT_EQ(asked, c.asked);
    }
    if (socketBefore.isEmpty()) {
        qunsetenv("SSH_AUTH_SOCK");
    } else {
        qputenv("SSH_AUTH_SOCK", socketBefore);
    }
    agent.terminate();
    agent.waitForFinished(5000);
}

// The upload after a file is opened while that file finishes, without cutting what the server
// holds: taken, the server then holds exactly the new bytes; given up, what it held.
TEST_F(Sftp, AFileOpenedAheadEndsAsSentOrAsItWas) {
    const QByteArray mib = randomBytes(1024 * 1024, 5);
    struct Row {
        const char* name;
        std::optional<QByteArray> there;  // on the server before
        QByteArray sent;
        bool taken;             // the expected upload follows, or the expectation is given up
        qint64 shortenTo = -1;  // the local file is cut to this while it is read
    };
    const Row rows[] = {
        {"new", std::nullopt, "new bytes", true},
        {"shorter there", QByteArray("old"), "new and longer bytes", true},
        {"longer there", QByteArray(10000, 'o'), "short", true},
        {"as long there", QByteArray("bytes 1"), "bytes 2", true},
        {"empty sent", QByteArray("old"), "", true},
        {"cut while read", mib, mib + mib, true, 200 * 1024},
        {"new, given up", std::nullopt, "unused", false},
        {"there, given up", QByteArray("kept as it was"), "unused", false},
    };
    trustServer();
    client.OpenSession();
    client.ChangeFolder(server().writableFolder());
    writeFile(home.filePath("a.txt"), "the file before");
    int run = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString b = QStringLiteral("b%1.bin").arg(++run);
        if (row.there) {
            writeFile(remote(b), *row.there);
            QFile::setPermissions(remote(b), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ReadOther | QFile::WriteOther);
        }
        writeFile(home.filePath(b), row.sent);
        client.ExpectUpload(b);
        client.UploadFile(home.filePath("a.txt"), "a.txt");
        // The server has opened b behind a's close (a look at its size comes after, in order),
        // and nothing of it has changed.
        EXPECT_EQ(client.RemoteSize(b), row.there ? row.there->size() : 0);
        EXPECT_EQ(readFile(remote(b)), row.there.value_or(QByteArray()));
        if (!row.taken) {
            client.ForgetExpectedUpload();
            EXPECT_EQ(QFileInfo::exists(remote(b)), row.there.has_value());
            if (row.there) {
                EXPECT_EQ(readFile(remote(b)), *row.there);
            }
            continue;
        }
        client.WritesInFlight = row.shortenTo >= 0 ? 2 : 128;
        client.Progress = [&](qint64) {
            if (row.shortenTo >= 0) {
                QFile(home.filePath(b)).resize(row.shortenTo);
            }
        };
        QString digest;
        client.UploadFile(home.filePath(b), b, &digest);
        client.Progress = nullptr;
        const QByteArray now = readFile(home.filePath(b));
        EXPECT_EQ(readFile(remote(b)), now);
        EXPECT_EQ(digest, md5(now));
    }
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(Sftp, CancelMidTransferDropsTheSessionAtOnce) {
    trustServer();
    writeFile(home.filePath("huge.bin"), randomBytes(64 * 1024 * 1024, 3));
    client.OpenSession();
    bool cancel = false;
    client.Progress = [&](qint64 bytes) { cancel = cancel || bytes > 1024 * 1024; };
    client.Pump = [&] {
        if (cancel) {
            throw Cancelled();
        }
    };
    EXPECT_THROW(client.UploadFile(home.filePath("huge.bin"), remote("huge.bin")), Cancelled);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_LT(QFileInfo(remote("huge.bin")).size(), 64 * 1024 * 1024);
}

TEST_F(Sftp, AServerThatGoesSilentIsCutOffByTheTimeOutOrACancel) {
    // Silent from the start: the connection is taken and nothing ever comes.
    LoopbackSocket silent;
    const int port = silent.bindAny();
    ASSERT_EQ(::listen(silent.fd(), 4), 0);
    client.Port = port;
    client.Timeout = std::chrono::milliseconds(500);
    EXPECT_THROW(client.OpenSession(), ConnectionTimedOut);
    int pumped = 0;
    client.Timeout = std::chrono::seconds(30);
    client.Pump = [&] {
        if (++pumped == 10) {
            throw Cancelled();
        }
    };
    EXPECT_THROW(client.OpenSession(), Cancelled);

    // Silent in the middle of a transfer.
    TcpRelay relay(server().port());
    client.Port = relay.port();
    client.Pump = nullptr;
    client.Timeout = std::chrono::seconds(1);
    trustServer();
    writeFile(home.filePath("big.bin"), randomBytes(16 * 1024 * 1024, 5));
    client.OpenSession();
    client.Progress = [&](qint64 bytes) {
        if (bytes > 0) {
            relay.stall();
        }
    };
    EXPECT_THROW(client.UploadFile(home.filePath("big.bin"), remote("stalled.bin")),
                 ConnectionTimedOut);
    EXPECT_FALSE(client.IsConnected());
}

// A host that takes the password only as the answer to its own question.
TEST(SftpServer, KeyboardInteractiveLogsInWithThePassword) {
    SshServer::Options options;
    options.keyboardInteractiveOnly = true;
    SshServer server(options);
    QTemporaryDir home;
    for (const bool right : {true, false}) {
        SCOPED_TRACE(right ? "right password" : "wrong password");
        SftpClient client;
        client.Host = server.host();
        client.Port = server.port();
        client.Username = server.user();
        client.Password = right ? server.password() : QStringLiteral("wrong");
        client.UserSshFolder = home.filePath(".ssh");
        client.TrustedFingerprint = server.hostFingerprint();
        if (right) {
            client.OpenSession();
            QStringList lines;
            client.ListFolder(lines);
            EXPECT_TRUE(client.IsConnected());
        } else {
            EXPECT_THAT([&] { client.OpenSession(); },
                        throwsFtpError(530, HasSubstr("не впустил пользователя")));
        }
    }
}

TEST(SftpServer, WithoutTheSubsystemTheServerSaysSoInRussian) {
    SshServer::Options options;
    options.sftp = false;
    SshServer server(options);
    QTemporaryDir home;
    SftpClient client;
    client.Host = server.host();
    client.Port = server.port();
    client.Username = server.user();
    client.Password = server.password();
    client.UserSshFolder = home.filePath(".ssh");
    client.TrustedFingerprint = server.hostFingerprint();
    EXPECT_THAT([&] { client.OpenSession(); },
                ::testing::ThrowsMessage<FtpError>(HasSubstr("не предлагает SFTP")));
    EXPECT_FALSE(client.IsConnected());
}

}  // namespace
