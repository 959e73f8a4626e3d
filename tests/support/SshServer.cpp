#include "SshServer.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <mutex>
#include <stdexcept>

namespace zor::test {
namespace {

const QString TestUser = QStringLiteral("zorod-sftp");

const QString PasswordAndKeyLogins = QStringLiteral(
    "UsePAM no\n"
    "PasswordAuthentication yes\n"
    "KbdInteractiveAuthentication no\n"
    "PubkeyAuthentication yes\n");
// PAM asks for the password; keys and plain passwords are not taken.
const QString KeyboardInteractiveLogins = QStringLiteral(
    "UsePAM yes\n"
    "PasswordAuthentication no\n"
    "KbdInteractiveAuthentication yes\n"
    "PubkeyAuthentication no\n");

void writeFile(const QString& path, const QByteArray& content, int mode = 0644) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
    f.close();
    ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode));
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    return f.readAll();
}

// The local user the server lets in: made once on this machine, its password set each run
// (chpasswd locks the password file, so runs side by side wait for each other).
void ensureTestUser() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::getpwnam(TestUser.toUtf8().constData()) == nullptr) {
            QProcess add;
            add.start(QStringLiteral("/usr/sbin/useradd"),
                      {QStringLiteral("--no-create-home"), QStringLiteral("--home-dir"),
                       QStringLiteral("/nonexistent"), QStringLiteral("--shell"),
                       QStringLiteral("/usr/sbin/nologin"), TestUser});
            add.waitForFinished(30000);
            // 9: another test made it in the meantime.
            if (add.exitCode() != 0 && add.exitCode() != 9) {
                throw std::runtime_error("useradd: " + add.readAllStandardError().toStdString());
            }
        }
        QProcess chpasswd;
        chpasswd.start(QStringLiteral("/usr/sbin/chpasswd"), QStringList());
        chpasswd.write((TestUser + u':' + SshServer::testPassword() + u'\n').toUtf8());
        chpasswd.closeWriteChannel();
        if (!chpasswd.waitForFinished(30000) || chpasswd.exitCode() != 0) {
            throw std::runtime_error("chpasswd: " + chpasswd.readAllStandardError().toStdString());
        }
    });
}

void makeKey(const QString& file, const QString& passphrase) {
    if (QFile::exists(file)) {
        return;
    }
    runTool(QStringLiteral("ssh-keygen"),
            {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
             QStringLiteral("-N"), passphrase, QStringLiteral("-C"), QStringLiteral("zorod test"),
             QStringLiteral("-f"), file});
}

}  // namespace

QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        throw std::runtime_error((program + u' ' + arguments.join(u' ')).toStdString() + ": " +
                                 p.readAllStandardError().toStdString());
    }
    return p.readAllStandardOutput();
}

QString SshServer::testUser() {
    return TestUser;
}

QString SshServer::testPassword() {
    return QStringLiteral("sftp secret");
}

SshServer::SshServer() : SshServer(Options{}) {}

SshServer::SshServer(const Options& options) {
    if (::geteuid() != 0) {
        throw std::runtime_error("sshd must be started as root to log in a test user");
    }
    ensureTestUser();
    user_ = TestUser;
    password_ = testPassword();
    const passwd* pw = ::getpwnam(TestUser.toUtf8().constData());
    if (!dir_.isValid() || pw == nullptr) {
        throw std::runtime_error("no temporary folder or no test user");
    }
    // The user must reach its folder and read its authorized keys.
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
    root_ = QString();
    writableFolder_ = dir_.filePath(QStringLiteral("www"));
    keyFolder_ = dir_.filePath(QStringLiteral("keys"));
    hostKeyFolder_ = options.hostKeyFolder.isEmpty() ? dir_.filePath(QStringLiteral("host"))
                                                     : options.hostKeyFolder;
    QDir().mkpath(writableFolder_);
    QDir().mkpath(keyFolder_);
    QDir().mkpath(hostKeyFolder_);
    if (::chown(QFile::encodeName(writableFolder_).constData(), pw->pw_uid, pw->pw_gid) != 0) {
        throw std::runtime_error("cannot give the test user its folder");
    }
    // sshd wants its privilege separation folder.
    ::mkdir("/run/sshd", 0755);
    makeKey(hostKeyFolder_ + QStringLiteral("/host_ed25519"), QString());
    makeKey(keyFile(), QString());
    makeKey(protectedKeyFile(), keyPassphrase());
    const QString authorized = dir_.filePath(QStringLiteral("authorized_keys"));
    writeFile(authorized, readFile(keyFile() + QStringLiteral(".pub")) +
                              readFile(protectedKeyFile() + QStringLiteral(".pub")));

    const QString config = dir_.filePath(QStringLiteral("sshd_config"));
    port_ = startOnFreePort(process_, [&](int port) {
        QByteArray text = QStringLiteral(
                              "Port %1\n"
                              "ListenAddress 127.0.0.1\n"
                              "HostKey %2/host_ed25519\n"
                              "PidFile %3/sshd.pid\n"
                              "%6"
                              "AuthorizedKeysFile %4\n"
                              "StrictModes no\n"
                              "AllowUsers %5\n"
                              "MaxStartups 100\n"
                              "MaxSessions 50\n"
                              "MaxAuthTries 20\n"
                              "LoginGraceTime 60\n"
                              "UseDNS no\n"
                              "LogLevel VERBOSE\n")
                              .arg(port)
                              .arg(hostKeyFolder_, dir_.path(), authorized, TestUser,
                                   options.keyboardInteractiveOnly ? KeyboardInteractiveLogins
                                                                   : PasswordAndKeyLogins)
                              .toUtf8();
        if (options.sftp) {
            text += "Subsystem sftp internal-sftp\nForceCommand internal-sftp\n";
        }
        writeFile(config, text);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(dir_.filePath(QStringLiteral("output.log")),
                                       QIODevice::Append);
        process_.start(QStringLiteral("/usr/sbin/sshd"),
                       {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config});
    });
    if (port_ == 0) {
        throw std::runtime_error("sshd did not start: " + output().toStdString());
    }
}

QString SshServer::hostFingerprint() const {
    // "256 SHA256:… comment (ED25519)"
    const QByteArray out = runTool(QStringLiteral("ssh-keygen"),
                                   {QStringLiteral("-l"), QStringLiteral("-f"), hostKeyFile()});
    return QString::fromLatin1(out.split(' ').value(1));
}

QByteArray SshServer::knownHostsLine(bool hashed) const {
    const QByteArray key = readFile(hostKeyFile()).split(' ').mid(0, 2).join(' ');
    const QByteArray line = "[127.0.0.1]:" + QByteArray::number(port_) + ' ' + key + '\n';
    if (!hashed) {
        return line;
    }
    const QString file = dir_.filePath(QStringLiteral("hashed_known_hosts"));
    writeFile(file, line);
    runTool(QStringLiteral("ssh-keygen"),
            {QStringLiteral("-q"), QStringLiteral("-H"), QStringLiteral("-f"), file});
    return readFile(file);
}

}  // namespace zor::test
