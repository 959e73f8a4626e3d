#pragma once

#include <QByteArray>
#include <QString>

#include "support/FtpServers.h"

// OpenSSH's sshd for tests, on 127.0.0.1 and a free port with a configuration and host key
// made for the run, serving nothing but its internal SFTP to one local test user (created on
// first use, with a password and with a key). The user's files live in a folder of the run;
// paths on the server are the machine's own, there is no chroot.
namespace zor::test {

class SshServer : public FtpServer {
public:
    struct Options {
        bool sftp = true;  // false: the SFTP subsystem is not offered
        // Logins by keyboard-interactive only (the password asked through PAM), as some hosts
        // have them.
        bool keyboardInteractiveOnly = false;
        // The host key: the same folder gives the same key to another server.
        QString hostKeyFolder{};
    };
    SshServer();
    explicit SshServer(const Options& options);

    // user() and password() log in; writableFolder() is a folder the user owns (an absolute
    // path on the server, which is also its local path: root() is empty).
    static QString testUser();
    static QString testPassword();
    // The user's private key without a passphrase, and one behind `keyPassphrase()`.
    QString keyFile() const { return keyFolder_ + QStringLiteral("/id_ed25519"); }
    QString protectedKeyFile() const { return keyFolder_ + QStringLiteral("/protected_ed25519"); }
    static QString keyPassphrase() { return QStringLiteral("key phrase"); }
    // The host key's public half: "ssh-ed25519 AAAA…" and its fingerprint as `ssh-keygen -l`
    // gives it ("SHA256:…").
    QString hostKeyFile() const { return hostKeyFolder_ + QStringLiteral("/host_ed25519.pub"); }
    QString hostFingerprint() const;
    // A known_hosts line for this server's key, hashed as `ssh-keygen -H` writes it or not.
    QByteArray knownHostsLine(bool hashed) const;

private:
    QString keyFolder_, hostKeyFolder_;
};

// Runs a program, returns its standard output; throws std::runtime_error when it fails.
QByteArray runTool(const QString& program, const QStringList& arguments);

}  // namespace zor::test
