#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace zor::test {

// A free TCP port on 127.0.0.1 (bound once and released).
quint16 freeLoopbackPort();
// Waits (bounded) until something accepts connections on the port.
bool waitForPort(quint16 port, int timeoutMs = 10000);

struct HttpResponse {
    int status = 0;
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};
// A plain HTTP/1.0 GET to 127.0.0.1.
HttpResponse httpGet(quint16 port, const QByteArray& pathAndQuery);

// PHP's built-in web server over a folder, on a loopback port, with every error reported and
// logged to a file of its own. Stopped when destroyed.
class PhpServer {
public:
    explicit PhpServer(const QString& documentRoot);
    ~PhpServer();
    bool started() const { return started_; }
    quint16 port() const { return port_; }
    // What PHP logged: warnings, notices, errors.
    QByteArray errorLog() const;

private:
    QProcess process_;
    QTemporaryDir logDir_;
    quint16 port_ = 0;
    bool started_ = false;
};

// tests/support/http_test_server.py over a folder, on a loopback port: the folder's files, 404
// for the rest, and the misbehaviours the script lists. Stopped when destroyed.
class HttpFileServer {
public:
    explicit HttpFileServer(const QString& root);
    ~HttpFileServer();
    bool started() const { return started_; }
    // "http://127.0.0.1:<port>"
    QString address() const;
    // The paths requested so far, in order.
    QStringList requests() const;

private:
    QProcess process_;
    QTemporaryDir logDir_;
    quint16 port_ = 0;
    bool started_ = false;
};

}  // namespace zor::test
