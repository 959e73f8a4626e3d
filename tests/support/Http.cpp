#include "support/Http.h"

#include "support/Loopback.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zor::test {

HttpResponse httpGet(int port, const QByteArray& pathAndQuery) {
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

PhpServer::PhpServer(const QString& documentRoot, const QString& user, const QString& router) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (!user.isEmpty()) {
        const passwd* account = ::getpwnam(user.toLocal8Bit().constData());
        if (!account) {
            return;
        }
        const uid_t uid = account->pw_uid;
        const gid_t gid = account->pw_gid;
        // Its log is written as that user, who must reach the folder inside the temporary
        // folders of the tests, which only root may enter.
        ::chown(QFile::encodeName(dir_.path()).constData(), uid, gid);
        for (QString p = QFileInfo(documentRoot).absoluteFilePath(); p != u"/" && !p.isEmpty();
             p = QFileInfo(p).absolutePath()) {
            QFile::setPermissions(p, QFile::permissions(p) | QFile::ExeOther | QFile::ReadOther);
        }
        process_.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
                ::_exit(127);
            }
        });
    }
    port_ = startOnFreePort(process_, [&](int port) {
        QStringList arguments{
            QStringLiteral("-n"),
            QStringLiteral("-d"),
            QStringLiteral("error_reporting=-1"),
            QStringLiteral("-d"),
            QStringLiteral("display_errors=1"),
            QStringLiteral("-d"),
            QStringLiteral("log_errors=1"),
            QStringLiteral("-d"),
            QStringLiteral("error_log=") + dir_.filePath(QStringLiteral("php.log")),
            QStringLiteral("-S"),
            QStringLiteral("127.0.0.1:%1").arg(port),
            QStringLiteral("-t"),
            documentRoot};
        if (!router.isEmpty()) {
            arguments.append(router);
        }
        process_.start(QStringLiteral("php"), arguments);
    });
}

QString PhpServer::address() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(port_);
}

ApacheServer::ApacheServer(const QString& documentRoot) {
    const QString root = QFileInfo(documentRoot).absoluteFilePath();
    if (::geteuid() == 0) {
        for (const QString& folder : {root, QFileInfo(root).absolutePath(), dir_.path()}) {
            QFile::setPermissions(folder,
                                  QFile::permissions(folder) | QFile::ReadOther | QFile::ExeOther);
        }
    }
    QString conf = QStringLiteral(R"(ServerRoot "%1"
DefaultRuntimeDir "%1"
PidFile "%1/httpd.pid"
ServerName 127.0.0.1
User www-data
Group www-data
ErrorLog "%1/error.log"
LogLevel warn
Listen 127.0.0.1:%3
)")
                       .arg(dir_.path());
    for (const char* module :
         {"mpm_prefork", "authz_core", "authz_host", "access_compat", "dir", "mime"}) {
        conf += QStringLiteral("LoadModule %1_module /usr/lib/apache2/modules/mod_%1.so\n")
                    .arg(QLatin1String(module));
    }
    conf += QStringLiteral(R"(LoadModule php_module /usr/lib/apache2/modules/libphp8.2.so
TypesConfig /etc/mime.types
DocumentRoot "%1"
<Directory "%1">
    AllowOverride All
    Require all granted
</Directory>
DirectoryIndex index.php
AddHandler application/x-httpd-php .php
php_admin_value error_reporting -1
php_admin_flag display_errors on
php_admin_flag log_errors on
)")
                .arg(root);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // Apache stops by signalling its whole process group, which must not hold the test.
    process_.setChildProcessModifier([] { ::setsid(); });
    const QString path = dir_.filePath(QStringLiteral("httpd.conf"));
    port_ = startOnFreePort(process_, [&](int port) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(QString(conf).replace(QStringLiteral("%3"), QString::number(port)).toUtf8());
        }
        file.close();
        process_.start(QStringLiteral("/usr/sbin/apache2"),
                       {QStringLiteral("-f"), path, QStringLiteral("-DFOREGROUND")});
    });
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
    process_.setStandardOutputFile(dir_.filePath(QStringLiteral("requests.log")));
    port_ = startOnFreePort(process_, [&](int port) {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZOROD_TEST_SUPPORT_DIR "/http_test_server.py"), root,
                        QString::number(port)});
    });
}

QString HttpFileServer::address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

QStringList HttpFileServer::requests() const {
    QStringList paths;
    for (const QByteArray& line : logText("requests.log").split('\n')) {
        if (line.startsWith("GET ")) {
            paths.append(QString::fromUtf8(line.mid(4)));
        }
    }
    return paths;
}

}  // namespace zor::test
