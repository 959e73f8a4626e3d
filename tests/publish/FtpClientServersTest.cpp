#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "FtpTestSupport.h"
#include "platform/Errors.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;
using ::testing::AllOf;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

// The same checks against both real servers, each started for the test on a loopback port,
// plain and with TLS required.
class RealServer : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        server_ = startServer(GetParam(), tls_);
        if (isTls(GetParam())) {
            client_.Encryption = FtpEncryption::Required;
            client_.AskTrust = [](const ServerCertificate& c) {
                ADD_FAILURE() << "asked about a trusted certificate: "
                              << c.problems.join(u';').toStdString();
                return CertificateTrust::No;
            };
        }
        ASSERT_TRUE(local_.isValid());
        pointAt(client_, *server_);
        client_.Timeout = std::chrono::seconds(10);
        folder_ = server_->writableFolder();
    }

    // Built the way the publishing commands build them: "/" + folder ("//www" or "//"), and
    // folder + sub-path + name with a slash of its own ("//www/a" or "///a").
    QString remoteFolder() const { return u'/' + folder_; }
    QString remote(const QString& name) const { return u'/' + folder_ + u'/' + name; }
    // Where the server keeps a name of the writable folder.
    QString onServer(const QString& name) const {
        return server_->localPath(folder_ + u'/' + name);
    }
    QString local(const QString& name) const { return local_.filePath(name); }

    std::optional<TlsRun> tls_;
    std::unique_ptr<FtpServer> server_;
    FtpClient client_;
    QString folder_;
    QTemporaryDir local_;
};

ZOROD_INSTANTIATE_FOR_REAL_SERVERS(RealServer);

TEST_P(RealServer, SessionOpensOnceAndCloses) {
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
    EXPECT_EQ(client_.IsEncrypted(), isTls(GetParam()));
    // The last step of logging in was SYST; both servers answer it with 215.
    EXPECT_EQ(client_.LastReply().code, 215);

    EXPECT_THAT([&] { client_.OpenSession(); }, throwsFtpError(0, "Already connected."));
    // The open session is untouched by the refused second one.
    EXPECT_TRUE(client_.IsConnected());
    client_.ChangeFolder(remoteFolder());

    client_.CloseSession();
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_THROW(client_.ChangeFolder(remoteFolder()), FtpError);
    client_.OpenSession();
    EXPECT_TRUE(client_.IsConnected());
    client_.DropConnection();
    EXPECT_FALSE(client_.IsConnected());
}

TEST_P(RealServer, RefusedLoginLeavesTheSessionClosed) {
    const qsizetype descriptors = openDescriptors();
    client_.Username = QStringLiteral("nosuchuser");
    EXPECT_THAT([&] { client_.OpenSession(); }, throwsFtpError(530, lastReplyOf(client_)));
    EXPECT_FALSE(client_.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_P(RealServer, ListsAndChangesFoldersWithDoubledSlashes) {
    QDir().mkpath(onServer("mf/img"));
    QDir().mkpath(onServer("etc"));
    writeFile(onServer("index.php"), "<?php echo 1; ?>");
    writeFile(onServer("my file.png"), "png");
    writeFile(onServer("mf/img/a.jpg"), "jpg");

    client_.OpenSession();
    client_.ChangeFolder(remoteFolder());
    QStringList lines;
    client_.ListFolder(lines);
    ASSERT_EQ(lines.size(), 4) << lines.join(u'\n').toStdString();
    for (const QString& name : QStringList{"mf", "etc", "index.php", "my file.png"}) {
        EXPECT_EQ(
            lines.filter(QRegularExpression(u' ' + QRegularExpression::escape(name) + u'$')).size(),
            1)
            << name.toStdString();
    }

    // Lines are appended to what the caller's list holds.
    client_.ChangeFolder(remote("mf"));
    QStringList appended{QStringLiteral("earlier")};
    client_.ListFolder(appended);
    ASSERT_EQ(appended.size(), 2);
    EXPECT_EQ(appended[0], QStringLiteral("earlier"));
    EXPECT_TRUE(appended[1].endsWith(" img"));

    client_.ChangeFolder(u'/' + remote("etc"));
    QStringList empty;
    client_.ListFolder(empty);
    EXPECT_TRUE(empty.isEmpty());

    EXPECT_THAT([&] { client_.ChangeFolder(remote("nosuch")); },
                throwsFtpError(550, AllOf(Not(IsEmpty()), lastReplyOf(client_))));
    // A refused command leaves the session usable.
    EXPECT_TRUE(client_.IsConnected());
    client_.ChangeFolder(remote("mf/img"));
    QStringList img;
    client_.ListFolder(img);
    ASSERT_EQ(img.size(), 1);
    EXPECT_TRUE(img[0].endsWith(" a.jpg"));
    client_.CloseSession();
}

TEST_P(RealServer, MakesNewFoldersAndRefusesExistingOnes) {
    client_.OpenSession();
    client_.MakeFolder(remote("new"));
    client_.MakeFolder(remote("new/deeper"));
    EXPECT_TRUE(QFileInfo(onServer("new/deeper")).isDir());
    EXPECT_THAT([&] { client_.MakeFolder(remote("new")); },
                throwsFtpError(550, lastReplyOf(client_)));
    client_.MakeFolder(remote("other"));
    EXPECT_TRUE(QFileInfo(onServer("other")).isDir());
}

TEST_P(RealServer, TransfersFilesByteForByte) {
    // Line ends of every kind would change in an ASCII-mode transfer.
    const QList<std::pair<QString, QByteArray>> files{
        {QStringLiteral("empty.txt"), QByteArray()},
        {QStringLiteral("lines.bin"), "a\r\nb\nc\rd\r\n\n" + everyByte(64)},
        {QStringLiteral("big.bin"), randomBytes(50 * 1024 * 1024, 7)},
    };
    client_.OpenSession();
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name.toStdString());
        writeFile(local(name), content);
        // Progress only grows, up to every byte, both ways.
        for (bool up : {true, false}) {
            QList<qint64> progress;
            client_.Progress = [&](qint64 bytes) { progress.append(bytes); };
            const QString back = local(name + ".back");
            up ? client_.UploadFile(local(name), remote(name))
               : client_.DownloadFile(remote(name), back);
            EXPECT_EQ(readFile(up ? onServer(name) : back), content);
            EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
            EXPECT_EQ(progress.isEmpty() ? 0 : progress.last(), content.size());
        }
    }
    client_.Progress = nullptr;

    // An existing local file is never overwritten, and nothing is asked of the server.
    const QString existing = local("lines.bin");
    EXPECT_THAT([&] { client_.DownloadFile(remote("big.bin"), existing); },
                throwsFtpError(0, "Destination file already exists."));
    EXPECT_EQ(readFile(existing), files[1].second);

    // A local file that cannot be read fails before anything is sent; the session stays.
    EXPECT_THROW(client_.UploadFile(local("missing.txt"), remote("missing.txt")), FileError);
    EXPECT_FALSE(QFileInfo::exists(onServer("missing.txt")));
    EXPECT_TRUE(client_.IsConnected());

    // A missing remote file leaves the empty local file it was to be written into.
    const QString missing = local("missing.back");
    EXPECT_THAT([&] { client_.DownloadFile(remote("missing.txt"), missing); },
                throwsFtpError(550, lastReplyOf(client_)));
    EXPECT_TRUE(QFileInfo::exists(missing));
    EXPECT_EQ(QFileInfo(missing).size(), 0);
    EXPECT_TRUE(client_.IsConnected());
    client_.CloseSession();

    if (GetParam() == ServerKind::VsftpdTls) {
        // Every transfer ran over TLS resuming the control connection's session; vsftpd refuses
        // any other (require_ssl_reuse).
        const QByteArray log = static_cast<VsftpdServer&>(*server_).log();
        EXPECT_EQ(log.count(", not reused, "), 1) << log.toStdString();  // the control connection
        EXPECT_GE(log.count(", reused, "), 6);                           // three files up and down
        // Each upload ended with the client's close notice, not a bare end of the stream.
        EXPECT_EQ(log.count("SSL shutdown state is: SSL_RECEIVED_SHUTDOWN"), 3);
    }
}

TEST_P(RealServer, LearnsOnceHowTheServerOrdersItsWorkAndSendsAheadOfIt) {
    // vsftpd reads one command at a time; pyftpdlib reads commands during a transfer too.
    const bool oneAtATime = GetParam() == ServerKind::Vsftpd || GetParam() == ServerKind::VsftpdTls;
    const QList<QByteArray> contents{randomBytes(3000, 1), randomBytes(300 * 1024, 2), QByteArray(),
                                     randomBytes(5000, 3)};
    int learned = 0;
    client_.HabitsLearned = [&] { ++learned; };
    client_.OpenSession();
    int learnedByFirstFile = -1;
    for (int i = 0; i < contents.size(); ++i) {
        const QString name = QStringLiteral("f%1").arg(i);
        writeFile(local(name), contents[i]);
        client_.UploadFile(local(name), remote(name));
        if (i == 0) {
            learnedByFirstFile = learned;
        }
    }
    EXPECT_GE(learnedByFirstFile, 1);
    EXPECT_EQ(learned, learnedByFirstFile) << "learned again after the first file";
    EXPECT_EQ(client_.Habits.oneCommandAtATime, std::optional<bool>(oneAtATime));
    EXPECT_EQ(client_.Habits.host, client_.Host);
    // Commands that are no transfer, after a PASV that went out ahead, keep their place.
    client_.RenameRemote(remote("f0"), remote("renamed"));
    client_.ChangeFolder(remoteFolder());
    QStringList lines;
    client_.ListFolder(lines);
    EXPECT_EQ(lines.size(), contents.size());
    client_.CloseSession();

    // A later session starts from what was learned and finds out nothing more.
    FtpClient later;
    pointAt(later, *server_);
    later.Encryption = client_.Encryption;
    later.Habits = client_.Habits;
    later.HabitsLearned = [&] { ADD_FAILURE() << "learned again"; };
    later.OpenSession();
    for (int i = 0; i < contents.size(); ++i) {
        later.UploadFile(local(QStringLiteral("f%1").arg(i)), remote(QStringLiteral("g%1").arg(i)));
    }
    later.CloseSession();
    for (int i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(readFile(onServer(QStringLiteral("g%1").arg(i))), contents[i]) << i;
        if (i > 0) {
            EXPECT_EQ(readFile(onServer(QStringLiteral("f%1").arg(i))), contents[i]) << i;
        }
    }
    EXPECT_EQ(readFile(onServer(QStringLiteral("renamed"))), contents[0]);
}

TEST_P(RealServer, RenamesAndDeletesFiles) {
    writeFile(onServer("old.txt"), "content");
    client_.OpenSession();
    client_.RenameRemote(remote("old.txt"), remote("new.txt"));
    EXPECT_FALSE(QFileInfo::exists(onServer("old.txt")));
    EXPECT_EQ(readFile(onServer("new.txt")), QByteArray("content"));

    EXPECT_THAT([&] { client_.RenameRemote(remote("old.txt"), remote("x.txt")); },
                throwsFtpError(550, lastReplyOf(client_)));

    client_.DeleteRemoteFile(remote("new.txt"));
    EXPECT_FALSE(QFileInfo::exists(onServer("new.txt")));
    EXPECT_THAT([&] { client_.DeleteRemoteFile(remote("new.txt")); },
                throwsFtpError(550, lastReplyOf(client_)));
    EXPECT_TRUE(client_.IsConnected());
    client_.CloseSession();
}

TEST(Pyftpdlib, UnknownCommandsAnswer500) {
    PyftpdlibServer server({QStringLiteral("SYST"), QStringLiteral("MKD")});
    FtpClient client;
    pointAt(client, server);
    // SYST answered 500 still opens the session.
    client.OpenSession();
    EXPECT_EQ(client.LastReply().code, 500);
    EXPECT_TRUE(client.IsConnected());
    EXPECT_THAT([&] { client.MakeFolder(QStringLiteral("//new")); },
                throwsFtpError(500, R"(Command "MKD" not understood.)"));
    EXPECT_TRUE(client.IsConnected());
}

}  // namespace
