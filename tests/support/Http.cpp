#include "support/Http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QFile>
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

// Politely first, then for sure.
void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
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
    stop(process_);
}

QByteArray PhpServer::errorLog() const {
    QFile f(logDir_.filePath(QStringLiteral("php.log")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
    stop(process_);
}

QString HttpFileServer::address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

QStringList HttpFileServer::requests() const {
    QFile f(logDir_.filePath(QStringLiteral("requests.log")));
    QStringList paths;
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith("GET ")) {
                paths.append(QString::fromUtf8(line.mid(4)));
            }
        }
    }
    return paths;
}

}  // namespace zor::test
