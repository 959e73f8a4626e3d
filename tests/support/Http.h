#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "support/Loopback.h"

namespace zor::test {

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

// Apache 2.4 with PHP over a folder, on a loopback port, reading the folder's ".htaccess" files
// as a shared host does (AllowOverride All), PHP errors shown and logged. Run as root, it serves
// as www-data, so the folder and the one holding it are opened to other users. Stopped when
// destroyed.
class ApacheServer {
public:
    explicit ApacheServer(const QString& documentRoot);
    ~ApacheServer();
    bool started() const { return started_; }
    quint16 port() const { return port_; }
    // What Apache and PHP logged.
    QByteArray errorLog() const;

private:
    QProcess process_;
    QTemporaryDir dir_;
    quint16 port_ = 0;
    bool started_ = false;
};

// PHP's own syntax check ("php -l") of a page text as the server gets it, with short open tags
// off as Debian's PHP has them. Empty when it passes; otherwise what PHP said.
QString phpLintErrors(const QByteArray& source);

}  // namespace zor::test
