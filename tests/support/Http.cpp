#include "support/Http.h"

#include "support/Loopback.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zor::test {
namespace {

QByteArray logText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

HttpResponse httpGet(quint16 port, const QByteArray& pathAndQuery) {
    HttpResponse r;
    LoopbackSocket socket;
    if (!socket.connectTo(port, 10)) {
        return r;
    }
    const int fd = socket.fd();
    const QByteArray request = "GET " + pathAndQuery + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
    QByteArray raw;
    char buf[8192];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
        raw.append(buf, n);
    }
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
    process_.setProcessChannelMode(QProcess::MergedChannels);
    port_ = startOnFreePort(process_, [&](int port) {
        process_.start(
            QStringLiteral("php"),
            {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("error_reporting=-1"),
             QStringLiteral("-d"), QStringLiteral("display_errors=1"), QStringLiteral("-d"),
             QStringLiteral("log_errors=1"), QStringLiteral("-d"),
             QStringLiteral("error_log=") + logDir_.filePath(QStringLiteral("php.log")),
             QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-t"),
             documentRoot});
    });
    started_ = port_ != 0;
}

PhpServer::~PhpServer() {
    stopProcess(process_);
}

QByteArray PhpServer::errorLog() const {
    return logText(logDir_.filePath(QStringLiteral("php.log")));
}

ApacheServer::ApacheServer(const QString& documentRoot) {
    const QString modules = QStringLiteral("/usr/lib/apache2/modules/");
    const QString root = QFileInfo(documentRoot).absoluteFilePath();
    if (::geteuid() == 0) {
        for (const QString& folder : {root, QFileInfo(root).absolutePath(), dir_.path()}) {
            QFile::setPermissions(folder,
                                  QFile::permissions(folder) | QFile::ReadOther | QFile::ExeOther);
        }
    }
    const QStringList head{
        QStringLiteral("ServerRoot \"%1\"").arg(dir_.path()),
        QStringLiteral("DefaultRuntimeDir \"%1\"").arg(dir_.path()),
        QStringLiteral("PidFile \"%1/httpd.pid\"").arg(dir_.path()),
        QStringLiteral("ServerName 127.0.0.1"),
        QStringLiteral("User www-data"),
        QStringLiteral("Group www-data"),
        QStringLiteral("ErrorLog \"%1/error.log\"").arg(dir_.path()),
        QStringLiteral("LogLevel warn"),
    };
    QStringList conf;
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
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // Apache stops by signalling its whole process group, which must not hold the test.
    process_.setChildProcessModifier([] { ::setsid(); });
    const QString path = dir_.filePath(QStringLiteral("httpd.conf"));
    port_ = startOnFreePort(process_, [&](int port) {
        QFile file(path);
        const QStringList all =
            head + QStringList{QStringLiteral("Listen 127.0.0.1:%1").arg(port)} + conf;
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(all.join(u'\n').toUtf8() + '\n');
        }
        file.close();
        process_.start(QStringLiteral("/usr/sbin/apache2"),
                       {QStringLiteral("-f"), path, QStringLiteral("-DFOREGROUND")});
    });
    started_ = port_ != 0;
}

ApacheServer::~ApacheServer() {
    stopProcess(process_);
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
    process_.setStandardOutputFile(logDir_.filePath(QStringLiteral("requests.log")));
    port_ = startOnFreePort(process_, [&](int port) {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZOROD_TEST_SUPPORT_DIR "/http_test_server.py"), root,
                        QString::number(port)});
    });
    started_ = port_ != 0;
}

HttpFileServer::~HttpFileServer() {
    stopProcess(process_);
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
