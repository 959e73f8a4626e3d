#include "publish/Synchronise.h"

#include <sys/stat.h>
#include <unistd.h>
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

// Generous for a page or the title index of 5000 titles, and far below what fills a disk.
constexpr qint64 MaxPageBytes = 64 * 1024 * 1024;
constexpr qint64 MaxIndexBytes = 4 * 1024 * 1024;

QString reasonOf(int error) {
    return systemErrorText(error);
}

void makeFolder(const QString& path) {
    if (!QDir().mkpath(path)) {
        throw FileError(QStringLiteral("Не удалось создать папку \u00AB%1\u00BB").arg(path));
    }
}

// Puts fetched files in place of the site's ones, all of them or none: every target is checked
// before the first one is touched, the old files stay reachable (hard links, or copies) in the
// scratch folder until all are in place, and a failure part way puts back what was replaced.
class Replacement {
public:
    explicit Replacement(const QString& scratch) : scratch_(scratch) {}

    void add(const QString& fetched, const QString& target) {
        items_.append({fetched, target, QString()});
    }

    void commit() {
        for (const Item& item : items_) {
            check(item);
        }
        for (qsizetype i = 0; i < items_.size(); ++i) {
            keepOld(items_[i], scratch_ + QStringLiteral("/old-%1").arg(i));
        }
        for (qsizetype i = 0; i < items_.size(); ++i) {
            const Item& item = items_[i];
            if (std::rename(native(item.fetched), native(item.target)) != 0) {
                const int error = errno;
                const QString undone = putBack(i);
                throw FileError(QStringLiteral("Не удалось заменить файл \u00AB%1\u00BB: %2.\n%3")
                                    .arg(item.target, reasonOf(error), undone));
            }
        }
    }

private:
    struct Item {
        QString fetched, target;
        QString old;  // the old file's copy; empty when there was none
    };

    static QByteArray native(const QString& path) { return QFile::encodeName(path); }

    static void check(const Item& item) {
        const QString folder = QFileInfo(item.target).absolutePath();
        struct stat st {};
        if (::lstat(native(item.target).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            throw FileError(QStringLiteral("На месте файла \u00AB%1\u00BB лежит папка, и "
                                           "заменить его нельзя. Ничего не изменено.")
                                .arg(item.target));
        }
        if (::access(native(folder).constData(), W_OK | X_OK) != 0) {
            throw FileError(QStringLiteral("В папку \u00AB%1\u00BB нельзя записывать: %2. "
                                           "Ничего не изменено.")
                                .arg(folder, reasonOf(errno)));
        }
    }

    static void keepOld(Item& item, const QString& old) {
        struct stat st {};
        if (::lstat(native(item.target).constData(), &st) != 0) {
            return;  // nothing there yet
        }
        if (::link(native(item.target).constData(), native(old).constData()) != 0 &&
            !QFile::copy(item.target, old)) {
            throw FileError(QStringLiteral("Не удалось сохранить копию файла \u00AB%1\u00BB "
                                           "перед заменой. Ничего не изменено.")
                                .arg(item.target));
        }
        item.old = old;
    }

    // Undoes the replacements before `failed`; says how that went.
    QString putBack(qsizetype failed) const {
        QStringList lost;
        for (qsizetype i = failed - 1; i >= 0; --i) {
            const Item& item = items_[i];
            const bool ok = item.old.isEmpty() ? std::remove(native(item.target).constData()) == 0
                                               : std::rename(native(item.old).constData(),
                                                             native(item.target).constData()) == 0;
            if (!ok) {
                lost.append(item.target);
            }
        }
        if (lost.isEmpty()) {
            return QStringLiteral("Ничего не изменено.");
        }
        return QStringLiteral("Не удалось вернуть прежнее содержимое файлов:\n") + lost.join(u'\n');
    }

    QString scratch_;
    QList<Item> items_;
};

}  // namespace

int synchronise(PublishJob& job) {
    checkSiteOpen(job.state);
    checkAccount(job.state.ftpAccount);
    const FtpAccount account = job.state.ftpAccount;
    const QString sitePath = job.state.sitePath;
    FtpClient& ftp = job.ftp;

    const SessionGuard guard(ftp);
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
    ftp.DownloadFile(remoteRoot + QStringLiteral("/etc/head.txt"), fetchedIndex,
                     {MaxIndexBytes, site::MaxPages + 2});
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
        ftp.DownloadFile(remoteRoot + name, fetched.filePath(QStringLiteral("%1.tq").arg(page)),
                         {MaxPageBytes, -1});
        letEventsRun(ftp);
    }
    closeIfOpen(ftp);

    if (n > 0) {
        makeFolder(site::pagesFolder(sitePath));
        makeFolder(QFileInfo(site::titleIndexPath(sitePath)).absolutePath());
        Replacement replacement(fetched.path());
        for (int page = n; page >= 1; --page) {
            replacement.add(fetched.filePath(QStringLiteral("%1.tq").arg(page)),
                            site::pageFilePath(sitePath, page));
        }
        replacement.add(fetchedIndex, site::titleIndexPath(sitePath));
        replacement.commit();
        job.state.pageList.clear();
        letEventsRun(ftp);
        site::readPageTitleIndex(job.state);
        letEventsRun(ftp);
    }
    return static_cast<int>(job.state.pageList.size());
}

}  // namespace zor::publish
