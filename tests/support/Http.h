#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include "support/Loopback.h"
#include "support/TempSite.h"

namespace zor::test {

struct HttpResponse {
    int status = 0;
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};
// A plain HTTP/1.0 GET to 127.0.0.1.
HttpResponse httpGet(int port, const QByteArray& pathAndQuery);

// PHP's built-in web server over a folder, with every error reported and logged. With `user`,
// it runs as that user of the system (the tests run as root), the folders on the way to
// `documentRoot` opened to it; with `router`, that script answers
// every request.
class PhpServer : public LoopbackServer {
public:
    explicit PhpServer(const QString& documentRoot, const QString& user = {},
                       const QString& router = {});
    // "http://127.0.0.1:<port>/"
    QString address() const;
    // What PHP logged: warnings, notices, errors.
    QByteArray errorLog() const { return logText("php.log"); }
};

// tests/support/http_test_server.py over a folder: the folder's files, 404 for the rest, and
// the misbehaviours the script lists.
class HttpFileServer : public LoopbackServer {
public:
    explicit HttpFileServer(const QString& root);
    // "http://127.0.0.1:<port>"
    QString address() const;
    // The paths requested so far, in order.
    QStringList requests() const;
};

// A temporary folder that an HttpFileServer serves, and the files put there.
struct ServedFolder {
    QTemporaryDir folder;
    HttpFileServer server{folder.path()};
    void serve(const QString& path, const QByteArray& bytes) const {
        writeFile(folder.path() + path, bytes);
    }
};

// Apache 2.4 with PHP over a folder, reading the folder's ".htaccess" files as a shared host
// does (AllowOverride All), PHP errors shown and logged. Run as root, it serves as www-data, so
// the folder and the one holding it are opened to other users.
class ApacheServer : public LoopbackServer {
public:
    explicit ApacheServer(const QString& documentRoot);
    // What Apache and PHP logged.
    QByteArray errorLog() const { return logText("error.log"); }
};

// PHP's own syntax check ("php -l") of a page text as the server gets it, with short open tags
// off as Debian's PHP has them. Empty when it passes; otherwise what PHP said.
QString phpLintErrors(const QByteArray& source);

}  // namespace zor::test
