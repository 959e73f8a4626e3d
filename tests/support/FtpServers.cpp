#include "FtpServers.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <chrono>
#include <stdexcept>
#include <tuple>

#ifndef ZOROD_TEST_SUPPORT_DIR
#error "ZOROD_TEST_SUPPORT_DIR must name tests/support"
#endif

namespace zor::test {
namespace {

const QString Python = QStringLiteral("/usr/bin/python3");
constexpr auto StartLimit = std::chrono::seconds(15);

QString supportFile(const char* name) {
    return QStringLiteral(ZOROD_TEST_SUPPORT_DIR "/") + QLatin1String(name);
}

// Whether the server greets on the port with the banner only it was given.
bool greets(int port, const QByteArray& banner) {
    LoopbackSocket socket;
    char reply[256] = {};
    const qsizetype n =
        socket.connectTo(port) ? ::recv(socket.fd(), reply, sizeof reply - 1, 0) : 0;
    return QByteArrayView(reply, std::max<qsizetype>(n, 0)).startsWith("220 " + banner);
}

// Arguments written as one line, "-keyout %1 -days 2": "%1" and on stand for `values`, which
// may hold blanks.
QStringList words(const char* line, const QStringList& values = {}) {
    QStringList arguments = QString::fromLatin1(line).split(u' ', Qt::SkipEmptyParts);
    for (QString& a : arguments) {
        a = a.startsWith(u'%') ? values.value(a.mid(1).toInt() - 1) : a;
    }
    return arguments;
}

// Runs openssl with `arguments` and returns its standard output; throws when it fails.
QByteArray runOpenssl(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        throw std::runtime_error(("openssl " + arguments.join(u' ').toStdString() + ": " +
                                  p.readAllStandardError().toStdString()));
    }
    return p.readAllStandardOutput();
}

template <typename Condition>
bool waitUntil(Condition condition, QProcess& process) {
    const auto deadline = std::chrono::steady_clock::now() + StartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        // Also the pause between looks.
        if (process.state() == QProcess::NotRunning || process.waitForFinished(10)) {
            return false;
        }
    }
    return false;
}

}  // namespace

FtpServer::FtpServer() {
    if (!dir_.isValid()) {
        fail(QStringLiteral("no temporary folder"));
    }
}

QString FtpServer::localPath(const QString& remotePath) const {
    QString relative = remotePath;
    while (relative.startsWith(u'/')) {
        relative.remove(0, 1);
    }
    return root_ + u'/' + relative;
}

void FtpServer::start(const QString& program, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(dir_.filePath(QStringLiteral("output.log")), QIODevice::Append);
    process_.start(program, arguments);
    if (!process_.waitForStarted()) {
        fail(QStringLiteral("cannot start %1").arg(program));
    }
}

void FtpServer::readAnnouncedPort() {
    const bool announced = waitUntil(
        [this] {
            QList<QByteArray> lines = output().split('\n');
            lines.removeLast();  // only a whole line names the port; a line being written waits
            for (const QByteArray& line : lines) {
                bool ok = false;
                const int port = line.startsWith("PORT ") ? line.mid(5).trimmed().toInt(&ok) : 0;
                if (ok && port > 0 && port < 65536) {
                    port_ = port;
                    return true;
                }
            }
            return false;
        },
        process_);
    if (!announced) {
        fail(QStringLiteral("no port announced"));
    }
}

void FtpServer::fail(const QString& what) const {
    throw std::runtime_error(
        QStringLiteral("FTP server: %1\n%2").arg(what, QString::fromUtf8(output())).toStdString());
}

TestCertificates::TestCertificates() {
    if (!dir_.isValid()) {
        throw std::runtime_error("no temporary folder for certificates");
    }
    runOpenssl(
        words("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
              " -keyout %1 -out %2 -subj %3 -addext basicConstraints=critical,CA:TRUE"
              " -addext keyUsage=critical,keyCertSign,cRLSign",
              {dir_.filePath("ca.key"), authorityFile(),
               QStringLiteral("/O=ZOR OD tests/CN=ZOR OD test authority")}));
}

ServerTls TestCertificates::signedFor(const QString& names) {
    return make(names, true);
}

ServerTls TestCertificates::selfSigned(const QString& names) {
    return make(names, false);
}

ServerTls TestCertificates::signedWithoutAltNames(const QString& commonName) {
    return make(QString(), true, commonName);
}

ServerTls TestCertificates::make(const QString& names, bool signedByAuthority,
                                 const QString& commonName) {
    const QString base = dir_.filePath(QStringLiteral("server%1").arg(++made_));
    ServerTls made{base + QStringLiteral(".pem"), base + QStringLiteral(".key")};
    const QString subject =
        QStringLiteral("/O=ZOR OD tests/CN=") +
        (names.isEmpty() ? commonName : names.section(u',', 0, 0).section(u':', 1));
    const QStringList key =
        words("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout %1 -subj %2",
              {made.key, subject});
    if (!signedByAuthority) {
        runOpenssl(words("req -x509 -days 2 -out %1 -addext %2",
                         {made.certificate, "subjectAltName=" + names}) +
                   key);
        return made;
    }
    const QString request = base + QStringLiteral(".csr");
    const QString extensions = base + QStringLiteral(".ext");
    QFile ext(extensions);
    const QString extension = names.isEmpty() ? QStringLiteral("basicConstraints=CA:FALSE")
                                              : QStringLiteral("subjectAltName=") + names;
    if (!ext.open(QIODevice::WriteOnly) || ext.write((extension + u'\n').toUtf8()) <= 0) {
        throw std::runtime_error("cannot write the certificate's extensions");
    }
    ext.close();
    runOpenssl(words("req -out %1", {request}) + key);
    runOpenssl(
        words("x509 -req -CAcreateserial -days 2 -in %1 -CA %2 -CAkey %3 -out %4 -extfile %5",
              {request, authorityFile(), dir_.filePath("ca.key"), made.certificate, extensions}));
    return made;
}

QString TestCertificates::fingerprint(const QString& certificateFile) {
    // "sha256 Fingerprint=AB:CD:…"
    const QByteArray out =
        runOpenssl(words("x509 -noout -fingerprint -sha256 -in %1", {certificateFile}));
    return QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed()).toUpper();
}

TrustedAuthorities::TrustedAuthorities(const QString& file)
    : oldFile_(qgetenv("SSL_CERT_FILE")),
      oldDir_(qgetenv("SSL_CERT_DIR")),
      hadFile_(qEnvironmentVariableIsSet("SSL_CERT_FILE")),
      hadDir_(qEnvironmentVariableIsSet("SSL_CERT_DIR")) {
    qputenv("SSL_CERT_FILE", QFile::encodeName(file));
    qputenv("SSL_CERT_DIR", QFile::encodeName(emptyDir_.path()));
}

TrustedAuthorities::~TrustedAuthorities() {
    for (const auto& [name, old, had] : {std::tuple{"SSL_CERT_FILE", oldFile_, hadFile_},
                                         std::tuple{"SSL_CERT_DIR", oldDir_, hadDir_}}) {
        if (had) {
            qputenv(name, old);
        } else {
            qunsetenv(name);
        }
    }
}

VsftpdServer::VsftpdServer(qint64 maxRate, const std::optional<ServerTls>& tls, int maxPerAddress,
                           const std::optional<PassivePorts>& passive) {
    if (::geteuid() != 0) {
        fail(QStringLiteral("vsftpd must be started as root to lock anonymous users in its root"));
    }
    user_ = QStringLiteral("anonymous");
    password_ = QStringLiteral("zorod@example.org");
    root_ = dir_.filePath(QStringLiteral("root"));
    writableFolder_ = QStringLiteral("/www");
    const QString empty = dir_.filePath(QStringLiteral("empty"));
    QDir().mkpath(root_ + writableFolder_);
    QDir().mkpath(empty);
    // The anonymous user runs as "ftp": it must be able to enter the root and write into /www,
    // and must not be able to write into the root itself, or vsftpd refuses the login.
    ::chmod(QFile::encodeName(root_).constData(), 0755);
    ::chmod(QFile::encodeName(root_ + writableFolder_).constData(), 0777);
    ::chmod(QFile::encodeName(empty).constData(), 0755);
    const QString passwords = dir_.filePath(QStringLiteral("passwords"));
    QFile list(passwords);
    if (!list.open(QIODevice::WriteOnly) || list.write(password_.toUtf8() + '\n') <= 0) {
        fail(QStringLiteral("cannot write %1").arg(passwords));
    }
    list.close();

    // The port is picked before vsftpd binds it, so another process can take it in between:
    // then vsftpd exits and another port is tried. Its banner names this server, so a 220 from
    // whoever else took the port does not pass for it. Passive ports are left to the system,
    // which keeps servers of tests running side by side out of each other's way.
    const QByteArray banner =
        "zorod test vsftpd " + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
        const int port = freeLoopbackPort();
        const QString config = dir_.filePath(QStringLiteral("vsftpd.conf"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            fail(QStringLiteral("cannot write %1").arg(config));
        }
        f.write(QStringLiteral("listen=YES\n"
                               "listen_ipv6=NO\n"
                               "listen_address=127.0.0.1\n"
                               "listen_port=%1\n"
                               "background=NO\n"
                               "anonymous_enable=YES\n"
                               "no_anon_password=NO\n"
                               "local_enable=NO\n"
                               "write_enable=YES\n"
                               "anon_upload_enable=YES\n"
                               "anon_mkdir_write_enable=YES\n"
                               "anon_other_write_enable=YES\n"
                               "anon_world_readable_only=NO\n"
                               "anon_umask=022\n"
                               "anon_root=%2\n"
                               "secure_chroot_dir=%3\n"
                               // Neither works inside every container; neither matters here.
                               "seccomp_sandbox=NO\n"
                               "isolate=NO\n"
                               "isolate_network=NO\n"
                               "connect_from_port_20=NO\n"
                               "xferlog_enable=NO\n"
                               "dirmessage_enable=NO\n"
                               "use_localtime=NO\n"
                               "secure_email_list_enable=YES\n"
                               "email_password_file=%4\n"
                               "anon_max_rate=%5\n"
                               "max_per_ip=%7\n"
                               "ftpd_banner=%6\n")
                    .arg(port)
                    .arg(root_, empty, passwords)
                    .arg(maxRate)
                    .arg(QString::fromLatin1(banner))
                    .arg(maxPerAddress)
                    .toUtf8());
        if (passive) {
            f.write(QStringLiteral("pasv_address=%1\npasv_min_port=%2\npasv_max_port=%3\n")
                        .arg(passive->address)
                        .arg(passive->low)
                        .arg(passive->high)
                        .toUtf8());
        }
        if (tls) {
            f.write(
                QStringLiteral("ssl_enable=YES\n"
                               "allow_anon_ssl=YES\n"
                               "force_anon_logins_ssl=YES\n"
                               "force_anon_data_ssl=YES\n"
                               "force_local_logins_ssl=YES\n"
                               "force_local_data_ssl=YES\n"
                               "require_ssl_reuse=YES\n"
                               "ssl_ciphers=HIGH\n"
                               "rsa_cert_file=%1\n"
                               "rsa_private_key_file=%2\n"
                               "debug_ssl=YES\n"
                               "log_ftp_protocol=YES\n"
                               "xferlog_enable=YES\n"
                               "xferlog_std_format=NO\n"
                               "vsftpd_log_file=%3\n")
                    .arg(tls->certificate, tls->key, dir_.filePath(QStringLiteral("vsftpd.log")))
                    .toUtf8());
        }
        f.close();
        start(QStringLiteral("/usr/sbin/vsftpd"), {config});
        if (waitUntil([&] { return greets(port, banner); }, process_)) {
            port_ = port;
        } else {
            stopProcess(process_);
        }
    }
    if (port_ == 0) {
        fail(QStringLiteral("vsftpd did not start"));
    }
}

PyftpdlibServer::PyftpdlibServer(const QStringList& without, const std::optional<ServerTls>& tls,
                                 const QStringList& options) {
    user_ = QStringLiteral("zorod");
    password_ = QStringLiteral("secret word");
    root_ = dir_.filePath(QStringLiteral("root"));
    QDir().mkpath(root_);
    QStringList arguments{supportFile("pyftpdlib_server.py"),
                          QStringLiteral("--root"),
                          root_,
                          QStringLiteral("--user"),
                          user_,
                          QStringLiteral("--password"),
                          password_};
    for (const QString& command : without) {
        arguments << QStringLiteral("--without") << command;
    }
    if (tls) {
        arguments << QStringLiteral("--certfile") << tls->certificate << QStringLiteral("--keyfile")
                  << tls->key;
    }
    start(Python, arguments + options);
    readAnnouncedPort();
}

FaultFtpServer::FaultFtpServer(const QString& scenario, const std::optional<ServerTls>& tls,
                               const std::optional<ServerTls>& other) {
    user_ = QStringLiteral("tester");
    password_ = QStringLiteral("secret");
    QStringList arguments{supportFile("ftp_fault_server.py"), scenario};
    for (const auto& t : {tls, other}) {
        if (t) {
            arguments << t->certificate << t->key;
        }
    }
    start(Python, arguments);
    readAnnouncedPort();
}

QStringList PyftpdlibServer::commands() const {
    QStringList lines;
    for (const QByteArray& line : output().split('\n')) {
        if (line.startsWith("C ")) {
            lines.append(QString::fromUtf8(line.mid(2)));
        }
    }
    return lines;
}

QList<QByteArray> FaultFtpServer::receivedLines() const {
    QList<QByteArray> lines;
    for (const QByteArray& line : output().split('\n')) {
        if (line.startsWith("C ")) {
            lines.append(QByteArray::fromHex(line.mid(2)));
        }
    }
    return lines;
}

QList<qint64> FaultFtpServer::sizes(const QByteArray& tag) const {
    QList<qint64> sizes;
    for (const QByteArray& line : output().split('\n')) {
        if (line.startsWith(tag + ' ')) {
            sizes.append(line.mid(tag.size() + 1).trimmed().toLongLong());
        }
    }
    return sizes;
}

}  // namespace zor::test
