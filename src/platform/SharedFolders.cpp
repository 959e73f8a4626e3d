#include "platform/SharedFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSet>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

namespace zor {
namespace {

const QByteArray Scheme = QByteArrayLiteral("zorod-folder");
// Larger files (a film, say) are not something a page preview needs.
constexpr qint64 MaxFileSize = 256 * 1024 * 1024;

QSet<QString>& sharedRoots() {
    static QSet<QString> roots;
    return roots;
}

class FolderHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        if (job->requestMethod() != "GET") {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        // Links resolved: the file itself must lie inside a shared folder.
        const QFileInfo info(job->requestUrl().path());
        const QString real = info.canonicalFilePath();
        if (real.isEmpty() || !info.isFile()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        const bool inside =
            std::any_of(sharedRoots().cbegin(), sharedRoots().cend(),
                        [&](const QString& root) { return real.startsWith(root + u'/'); });
        if (!inside || info.size() > MaxFileSize) {
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
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void serveSharedFolders(QWebEngineProfile* profile) {
    profile->installUrlSchemeHandler(Scheme, new FolderHandler(profile));
}

QUrl sharedFolderUrl(const QString& folder) {
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (!real.isEmpty()) {
        sharedRoots().insert(real);
    }
    QUrl url;
    url.setScheme(QString::fromLatin1(Scheme));
    url.setPath(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) + u'/');
    return url;
}

}  // namespace zor
