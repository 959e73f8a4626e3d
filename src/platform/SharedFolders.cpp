#include "platform/SharedFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMimeDatabase>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

namespace zor {
namespace {

const QByteArray Scheme = QByteArrayLiteral("zorod-folder");
// Larger files (a film, say) are not something a page preview needs.
constexpr qint64 MaxFileSize = 256 * 1024 * 1024;

// Each shared folder is the root of an address of its own, "zorod-folder://f1/": a page's
// links from the root ("/mf/img/picture.png") find their files as they will on the web server,
// and no address reaches above the folder.
QList<QString>& sharedRoots() {
    static QList<QString> roots;  // the folder of "f1" first
    return roots;
}

QString hostOf(qsizetype index) {
    return QStringLiteral("f%1").arg(index + 1);
}

// The folder an address is served from; empty for an address of no shared folder.
QString rootOf(const QUrl& url) {
    const QString host = url.host();
    for (qsizetype i = 0; i < sharedRoots().size(); ++i) {
        if (host == hostOf(i)) {
            return sharedRoots()[i];
        }
    }
    return {};
}

class FolderHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        if (job->requestMethod() != "GET") {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        const QString root = QFileInfo(rootOf(job->requestUrl())).canonicalFilePath();
        if (root.isEmpty()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        // Links resolved: the file itself must lie inside the folder.
        const QFileInfo info(root + QDir::cleanPath(u'/' + job->requestUrl().path()));
        const QString real = info.canonicalFilePath();
        if (real.isEmpty() || !info.isFile()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        if (!real.startsWith(root + u'/') || info.size() > MaxFileSize) {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        auto* file = new QFile(real);
        if (!file->open(QIODevice::ReadOnly)) {
            delete file;
            job->fail(QWebEngineUrlRequestJob::RequestFailed);
            return;
        }
        connect(job, &QObject::destroyed, file, &QObject::deleteLater);
        job->reply(QMimeDatabase().mimeTypeForFile(real).name().toUtf8(), file);
    }
};

}  // namespace

void registerSharedFolderScheme() {
    QWebEngineUrlScheme scheme(Scheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void serveSharedFolders(QWebEngineProfile* profile) {
    profile->installUrlSchemeHandler(Scheme, new FolderHandler(profile));
}

QUrl sharedFolderUrl(const QString& folder) {
    // Kept as given and resolved at each request: a link or the folder itself may change.
    const QString root = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    qsizetype index = sharedRoots().indexOf(root);
    if (index < 0) {
        index = sharedRoots().size();
        sharedRoots().append(root);
    }
    QUrl url;
    url.setScheme(QString::fromLatin1(Scheme));
    url.setHost(hostOf(index));
    url.setPath(QStringLiteral("/"));
    return url;
}

}  // namespace zor
