#include <gtest/gtest.h>
#include <QByteArray>
#include <QTemporaryDir>
#include <optional>

#include "FtpTestSupport.h"
#include "support/TcpRelay.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::publish;
using namespace zor::test;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

// A certificate the system does not vouch for is put to the user, and only their yes lets the
// login go on.
TEST(FtpTls, CertificatesAreCheckedAskedAndRemembered) {
    TlsRun tls;
    TestCertificates& certificates = tls.certificates;
    const ServerTls selfSigned = certificates.selfSigned(QStringLiteral("DNS:hosting.example"));
    const QString selfPrint = TestCertificates::fingerprint(selfSigned.certificate);
    const QString otherPrint = TestCertificates::fingerprint(
        certificates.selfSigned(QStringLiteral("DNS:hosting.example")).certificate);
    const ServerTls signedHere = certificates.signedFor("IP:127.0.0.1");
    const ServerTls signedElsewhere = certificates.signedFor("DNS:other.example");
    const QString elsewhere = "не для \u00AB127.0.0.1\u00BB, а для: other.example";
    // Names only in the subject's CN count for nothing, as in every current client.
    const QString noNames = "не перечислены имена";
    struct Row {
        const char* what;
        ServerTls tls;
        QString remembered;
        std::optional<CertificateTrust> answer;  // nullopt: no question may come
        QString problem;                         // in the question
        bool opens;
        const char* host = "127.0.0.1";
    } rows[] = {
        {"trusted by the run's authority", signedHere, {}, {}, {}, true},
        {"self-signed, once", selfSigned, {}, CertificateTrust::Once, "подписан самим", true},
        {"self-signed, trusted always", selfSigned, {}, CertificateTrust::Always, {}, true},
        {"self-signed, remembered", selfSigned, selfPrint, {}, {}, true},
        {"self-signed, refused", selfSigned, {}, CertificateTrust::No, {}, false},
        {"changed since remembered", selfSigned, otherPrint, CertificateTrust::Once, {}, true},
        {"issued for another name", signedElsewhere, {}, CertificateTrust::Once, elsewhere, true},
        {"its name in CN only",
         certificates.signedWithoutAltNames("localhost"),
         {},
         CertificateTrust::No,
         noNames,
         false,
         "localhost"},
        {"its address in CN only",
         certificates.signedWithoutAltNames("127.0.0.1"),
         {},
         CertificateTrust::Once,
         noNames,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        VsftpdServer server(0, row.tls);
        FtpClient client;
        pointAt(client, server);
        client.Host = QString::fromLatin1(row.host);
        client.Encryption = FtpEncryption::Required;
        client.TrustedFingerprint = row.remembered;
        std::optional<ServerCertificate> asked;
        client.AskTrust = [&](const ServerCertificate& c) {
            asked = c;
            return row.answer.value_or(CertificateTrust::No);
        };
        if (row.opens) {
            client.OpenSession();
            EXPECT_TRUE(client.IsEncrypted());
        } else {
            EXPECT_THROW(client.OpenSession(), UntrustedCertificate);
            EXPECT_FALSE(client.IsConnected());
            // Nothing after the handshake: neither the user name nor the password.
            EXPECT_FALSE(server.log().contains("USER")) << server.log().toStdString();
        }
        ASSERT_EQ(asked.has_value(), row.answer.has_value());
        if (asked) {
            EXPECT_EQ(asked->fingerprint, TestCertificates::fingerprint(row.tls.certificate));
            EXPECT_EQ(asked->previousFingerprint, row.remembered);
            EXPECT_TRUE(asked->problems.join(u'\n').contains(row.problem))
                << asked->problems.join(u'\n').toStdString();
        }
        const bool always = row.answer == CertificateTrust::Always;
        EXPECT_EQ(client.TrustedFingerprint, always ? selfPrint : row.remembered);
    }
}

// What goes over the control connection, read as anyone on the wire could read it.
TEST(FtpTls, ThePasswordNeverCrossesInClear) {
    TlsRun tls;
    PyftpdlibServer secure(QStringList(), tls.certificates.signedFor("IP:127.0.0.1"));
    PyftpdlibServer plain;
    struct Row {
        const char* what;
        const FtpServer& server;
        FtpEncryption encryption;
        bool encrypted;  // and so the password unseen
    } rows[] = {
        {"TLS if the server can, and it can", secure, FtpEncryption::IfAvailable, true},
        {"TLS if the server can, and it cannot", plain, FtpEncryption::IfAvailable, false},
        {"without encryption", plain, FtpEncryption::Off, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TcpRelay relay(row.server.port());
        FtpClient client;
        pointAt(client, row.server);
        client.Port = relay.port();
        client.Encryption = row.encryption;
        client.OpenSession();
        QStringList lines;
        client.ListFolder(lines);
        EXPECT_EQ(client.IsEncrypted(), row.encrypted);
        EXPECT_EQ(client.TlsRefused(), !row.encrypted && row.encryption != FtpEncryption::Off);
        client.CloseSession();
        const QByteArray wire = relay.fromClients();
        EXPECT_EQ(wire.contains(row.server.password().toUtf8()), !row.encrypted);
        EXPECT_EQ(wire.startsWith("AUTH TLS\r\n"), row.encryption != FtpEncryption::Off);
        EXPECT_EQ(wire.contains("LIST"), !row.encrypted);
    }

    // Only TLS, from a server without it: nothing more than the question goes out.
    TcpRelay relay(plain.port());
    FtpClient client;
    pointAt(client, plain);
    client.Port = relay.port();
    client.Encryption = FtpEncryption::Required;
    EXPECT_THAT([&] { client.OpenSession(); },
                ThrowsMessage<FtpError>(HasSubstr("не поддерживает защищённое соединение")));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(relay.fromClients(), QByteArray("AUTH TLS\r\n"));
}

// Cancel reaches a TLS transfer too, and nothing is left open.
TEST(FtpTls, CancelDuringAnEncryptedUploadDropsTheSession) {
    TlsRun tls;
    VsftpdServer server(64 * 1024, tls.certificates.signedFor("IP:127.0.0.1"));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("big.bin"));
    writeFile(file, randomBytes(4 * 1024 * 1024, 3));
    const qsizetype descriptors = openDescriptors();
    FtpClient client;
    pointAt(client, server);
    client.Encryption = FtpEncryption::Required;
    qint64 moved = 0;
    client.Progress = [&](qint64 bytes) { moved = bytes; };
    client.Pump = [&] {
        if (moved > 100 * 1024) {
            throw Cancelled();
        }
    };
    client.OpenSession();
    EXPECT_THROW(client.UploadFile(file, QStringLiteral("/www/big.bin")), Cancelled);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(openDescriptors(), descriptors);
}

}  // namespace
