#include "publish/Synchronise.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/TextFile.h"
#include "publish/FtpClient.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"

namespace zor::publish {
namespace {

// Puts a fetched file in place of the site's one in a single step.
void replaceFile(const QString& fetched, const QString& target) {
    if (std::rename(QFile::encodeName(fetched).constData(),
                    QFile::encodeName(target).constData()) != 0) {
        throw FileError(QStringLiteral("Не удалось заменить файл \u00AB%1\u00BB: %2")
                            .arg(target, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

void makeFolder(const QString& path) {
    if (!QDir().mkpath(path)) {
        throw FileError(QStringLiteral("Не удалось создать папку \u00AB%1\u00BB").arg(path));
    }
}

}  // namespace

int synchronise(PublishJob& job) {
    checkAccount(job.state.ftpAccount);
    const FtpAccount account = job.state.ftpAccount;
    const QString sitePath = job.state.sitePath;
    FtpClient& ftp = job.ftp;

    applyAccount(ftp, account);
    openIfClosed(ftp);
    letEventsRun(ftp);

    // Inside the site, so the fetched files reach their places by renaming. A folder is never
    // uploaded, so a leftover one cannot reach the server either.
    QTemporaryDir fetched(sitePath + QStringLiteral("/.sync-XXXXXX"));
    if (!fetched.isValid()) {
        throw FileError(QStringLiteral("Не удалось создать временную папку в \u00AB%1\u00BB: %2")
                            .arg(sitePath, fetched.errorString()));
    }
    const QString remoteRoot = u'/' + account.remoteFolder;
    const QString fetchedIndex = fetched.filePath(QStringLiteral("head.txt"));
    job.report(Stage::Receiving, 1, 1, QStringLiteral("/etc/head.txt"), -1);
    ftp.DownloadFile(remoteRoot + QStringLiteral("/etc/head.txt"), fetchedIndex);
    letEventsRun(ftp);

    // The pages are the lines between the header and the end marker.
    const qsizetype lines = textfile::readLines(fetchedIndex).size();
    const qsizetype pages = lines - 2;
    if (pages > site::MaxPages) {
        throw FileError(QStringLiteral("В указателе страниц на сервере %1 строк страниц, а сайт "
                                       "может иметь не больше %2 страниц. Ничего не изменено.")
                            .arg(pages)
                            .arg(site::MaxPages));
    }
    const int n = static_cast<int>(pages);
    for (int page = n; page >= 1; --page) {
        const QString name = QStringLiteral("/mf/pages/%1.tq").arg(page);
        job.report(Stage::Receiving, n - page + 2, n + 1, name, -1);
        ftp.DownloadFile(remoteRoot + name, fetched.filePath(QStringLiteral("%1.tq").arg(page)));
        letEventsRun(ftp);
    }
    closeIfOpen(ftp);

    if (n > 0) {
        makeFolder(site::pagesFolder(sitePath));
        makeFolder(QFileInfo(site::titleIndexPath(sitePath)).absolutePath());
        for (int page = n; page >= 1; --page) {
            replaceFile(fetched.filePath(QStringLiteral("%1.tq").arg(page)),
                        site::pageFilePath(sitePath, page));
        }
        replaceFile(fetchedIndex, site::titleIndexPath(sitePath));
        job.state.pageList.clear();
        letEventsRun(ftp);
        site::readPageTitleIndex(job.state);
        letEventsRun(ftp);
    }
    return static_cast<int>(job.state.pageList.size());
}

}  // namespace zor::publish
