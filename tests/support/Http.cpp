#include "support/Http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace zor::test {
namespace {

sockaddr_in loopback(quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void stopServer(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QByteArray logText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

quint16 freeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool waitForPort(quint16 port, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(port);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) {
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

HttpResponse httpGet(quint16 port, const QByteArray& pathAndQuery) {
    HttpResponse r;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return r;
    }
    const QByteArray request = "GET " + pathAndQuery + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
    QByteArray raw;
    char buf[8192];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
        raw.append(buf, n);
    }
    ::close(fd);
    const qsizetype split = raw.indexOf("\r\n\r\n");
    if (split < 0) {
        return r;
    }
    const QList<QByteArray> head = raw.left(split).split('\n');
    r.status = head.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray line = head[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) {
            r.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
        }
    }
    r.body = raw.mid(split + 4);
    return r;
}

PhpServer::PhpServer(const QString& documentRoot) {
    port_ = freeLoopbackPort();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        QStringLiteral("php"),
        {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("error_reporting=-1"),
         QStringLiteral("-d"), QStringLiteral("display_errors=1"), QStringLiteral("-d"),
         QStringLiteral("log_errors=1"), QStringLiteral("-d"),
         QStringLiteral("error_log=") + logDir_.filePath(QStringLiteral("php.log")),
         QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port_), QStringLiteral("-t"),
         documentRoot});
    started_ = process_.waitForStarted(10000) && waitForPort(port_);
}

PhpServer::~PhpServer() {
    stopServer(process_);
}

QByteArray PhpServer::errorLog() const {
    return logText(logDir_.filePath(QStringLiteral("php.log")));
}

ApacheServer::ApacheServer(const QString& documentRoot) {
    port_ = freeLoopbackPort();
    const QString modules = QStringLiteral("/usr/lib/apache2/modules/");
    const QString root = QFileInfo(documentRoot).absoluteFilePath();
    if (::geteuid() == 0) {
        for (const QString& folder : {root, QFileInfo(root).absolutePath(), dir_.path()}) {
            QFile::setPermissions(folder,
                                  QFile::permissions(folder) | QFile::ReadOther | QFile::ExeOther);
        }
    }
    QStringList conf{
        QStringLiteral("ServerRoot \"%1\"").arg(dir_.path()),
        QStringLiteral("DefaultRuntimeDir \"%1\"").arg(dir_.path()),
        QStringLiteral("PidFile \"%1/httpd.pid\"").arg(dir_.path()),
        QStringLiteral("Listen 127.0.0.1:%1").arg(port_),
        QStringLiteral("ServerName 127.0.0.1"),
        QStringLiteral("User www-data"),
        QStringLiteral("Group www-data"),
        QStringLiteral("ErrorLog \"%1/error.log\"").arg(dir_.path()),
        QStringLiteral("LogLevel warn"),
    };
    for (const char* module :
         {"mpm_prefork", "authz_core", "authz_host", "access_compat", "dir", "mime"}) {
        conf.append(
            QStringLiteral("LoadModule %1_module %2mod_%1.so").arg(QLatin1String(module), modules));
    }
    conf += {
        QStringLiteral("LoadModule php_module %1libphp8.2.so").arg(modules),
        QStringLiteral("TypesConfig /etc/mime.types"),
        QStringLiteral("DocumentRoot \"%1\"").arg(root),
        QStringLiteral("<Directory \"%1\">").arg(root),
        QStringLiteral("    AllowOverride All"),
        QStringLiteral("    Require all granted"),
        QStringLiteral("</Directory>"),
        QStringLiteral("DirectoryIndex index.php"),
        QStringLiteral("AddHandler application/x-httpd-php .php"),
        QStringLiteral("php_admin_value error_reporting -1"),
        QStringLiteral("php_admin_flag display_errors on"),
        QStringLiteral("php_admin_flag log_errors on"),
    };
    QFile file(dir_.filePath(QStringLiteral("httpd.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(conf.join(u'\n').toUtf8() + '\n') < 0) {
        return;
    }
    file.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // Apache stops by signalling its whole process group, which must not hold the test.
    process_.setChildProcessModifier([] { ::setsid(); });
    process_.start(QStringLiteral("/usr/sbin/apache2"),
                   {QStringLiteral("-f"), file.fileName(), QStringLiteral("-DFOREGROUND")});
    started_ = process_.waitForStarted(10000) && waitForPort(port_);
}

ApacheServer::~ApacheServer() {
    stopServer(process_);
}

QByteArray ApacheServer::errorLog() const {
    return logText(dir_.filePath(QStringLiteral("error.log")));
}

QString phpLintErrors(const QByteArray& source) {
    QProcess php;
    php.setProcessChannelMode(QProcess::MergedChannels);
    php.start(QStringLiteral("php"), {QStringLiteral("-n"), QStringLiteral("-d"),
                                      QStringLiteral("short_open_tag=0"), QStringLiteral("-l")});
    if (!php.waitForStarted(10000)) {
        return QStringLiteral("php did not start");
    }
    php.write(source);
    php.closeWriteChannel();
    if (!php.waitForFinished(10000)) {
        php.kill();
        php.waitForFinished(5000);
        return QStringLiteral("php -l did not finish");
    }
    const QString said = QString::fromUtf8(php.readAll());
    return php.exitStatus() == QProcess::NormalExit && php.exitCode() == 0 ? QString() : said;
}

HttpFileServer::HttpFileServer(const QString& root) {
    // Whatever proxy the machine has must not stand between the tests and their server.
    qputenv("no_proxy", "127.0.0.1");
    port_ = freeLoopbackPort();
    process_.setStandardOutputFile(logDir_.filePath(QStringLiteral("requests.log")));
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(ZOROD_TEST_SUPPORT_DIR "/http_test_server.py"), root,
                    QString::number(port_)});
    started_ = process_.waitForStarted(10000) && waitForPort(port_);
}

HttpFileServer::~HttpFileServer() {
    stopServer(process_);
}

QString HttpFileServer::address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

QStringList HttpFileServer::requests() const {
    QStringList paths;
    for (const QByteArray& line :
         logText(logDir_.filePath(QStringLiteral("requests.log"))).split('\n')) {
        if (line.startsWith("GET ")) {
            paths.append(QString::fromUtf8(line.mid(4)));
        }
    }
    return paths;
}

}  // namespace zor::test
