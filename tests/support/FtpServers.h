#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

#include "support/Loopback.h"

// FTP servers for tests and benchmarks, started on 127.0.0.1 and a free port with their own
// configuration in a temporary folder, and stopped by their process id when the object goes.
// A server that cannot start throws std::runtime_error with its output.
namespace zor::test {

class FtpServer : public LoopbackServer {
public:
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString user() const { return user_; }
    QString password() const { return password_; }
    // The local folder that is "/" on the server.
    QString root() const { return root_; }
    // A remote folder the user may create and change files in ("/" or a folder below it).
    QString writableFolder() const { return writableFolder_; }
    // The local path behind a remote one; leading slashes, however many, mean the root.
    QString localPath(const QString& remotePath) const;
    // Everything the server printed so far.
    QByteArray output() const { return logText("output.log"); }

protected:
    FtpServer();
    // Starts the program with its output going to a file in the temporary folder.
    void start(const QString& program, const QStringList& arguments);
    // Waits for the "PORT <n>" line the scripted servers print once they listen.
    void readAnnouncedPort();
    [[noreturn]] void fail(const QString& what) const;

    QString user_, password_, root_, writableFolder_ = QStringLiteral("/");
};

// A certificate and its key for a TLS server.
struct ServerTls {
    QString certificate, key;
};

// Certificates for the TLS servers of tests, made with `openssl req` in a temporary folder: a
// certificate authority of the run, server certificates it signs, self-signed ones.
class TestCertificates {
public:
    TestCertificates();
    // `names` as subjectAltName wants them: "IP:127.0.0.1,DNS:localhost".
    ServerTls signedFor(const QString& names);
    ServerTls selfSigned(const QString& names);
    // Signed, with `commonName` as its subject's CN and no subjectAltName at all.
    ServerTls signedWithoutAltNames(const QString& commonName);
    QString authorityFile() const { return dir_.filePath(QStringLiteral("ca.pem")); }
    // "AB:CD:…", as the client shows it.
    static QString fingerprint(const QString& certificateFile);

private:
    ServerTls make(const QString& names, bool signedByAuthority, const QString& commonName = {});
    QTemporaryDir dir_;
    int made_ = 0;
};

// The system's trusted certificates are these while it lives (through SSL_CERT_FILE and
// SSL_CERT_DIR), so a test can install an authority for its run without touching the machine.
class TrustedAuthorities {
public:
    explicit TrustedAuthorities(const QString& file);
    ~TrustedAuthorities();
    TrustedAuthorities(const TrustedAuthorities&) = delete;
    TrustedAuthorities& operator=(const TrustedAuthorities&) = delete;

private:
    QTemporaryDir emptyDir_;
    QByteArray oldFile_, oldDir_;
    bool hadFile_, hadDir_;
};

// Passive ports for a server behind a relay that cannot read its replies: the server announces
// `address` and takes its data connections on ports low to high.
struct PassivePorts {
    QString address;
    int low = 0, high = 0;
};

// vsftpd 3 with anonymous login (USER, 331, PASS with the password() and no other: vsftpd
// answers any other with its own "Login incorrect."). It refuses to let the anonymous user write
// into its root, so the root is read-only and "/www" is writable. With `maxRate`, no transfer
// moves more than that many bytes a second.
//
// With `tls`, explicit TLS is required for the login and every data connection, and each data
// connection must resume the control connection's TLS session; the protocol and the TLS
// diagnostics go to log().
class VsftpdServer : public FtpServer {
public:
    // `maxPerAddress`: sessions it takes at once from one address (0: no limit); beyond them it
    // answers "421 There are too many connections from your internet address." and hangs up.
    //
    // `passive`: the address it announces in its PASV replies and its range of passive ports.
    explicit VsftpdServer(qint64 maxRate = 0, const std::optional<ServerTls>& tls = {},
                          int maxPerAddress = 0, const std::optional<PassivePorts>& passive = {});
    QByteArray log() const { return logText("vsftpd.log"); }
};

// pyftpdlib with one user whose root is writable. Commands in `without` are unknown to it
// (answered 500).
//
// With `tls`, its TLS handler, which requires TLS for the login and the data connections.
//
// `options` go to tests/support/pyftpdlib_server.py as they are: a bad link on demand
// ("--drop-data-every", "3", …) and "--log", which makes commands() tell what came.
class PyftpdlibServer : public FtpServer {
public:
    explicit PyftpdlibServer(const QStringList& without = {},
                             const std::optional<ServerTls>& tls = {},
                             const QStringList& options = {});
    // With "--log": every command line received so far, without its line end.
    QStringList commands() const;
};

// The scripted server of tests/support/ftp_fault_server.py, running one scenario; with `tls`,
// it answers "AUTH TLS" with that certificate (and a "tls-renegotiate" server switches to
// `other` in the middle of the session).
class FaultFtpServer : public FtpServer {
public:
    explicit FaultFtpServer(const QString& scenario, const std::optional<ServerTls>& tls = {},
                            const std::optional<ServerTls>& other = {});
    // Every command line received so far, exactly as it came (line end included).
    QList<QByteArray> receivedLines() const;
    // The byte counts of completed uploads, and of those the client broke off.
    QList<qint64> storedSizes() const { return sizes("STORED"); }
    QList<qint64> cutSizes() const { return sizes("CUT"); }

private:
    QList<qint64> sizes(const QByteArray& tag) const;
};

}  // namespace zor::test
