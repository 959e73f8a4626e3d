#include "publish/Synchronise.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/TextFile.h"
#include "publish/FileChangeCache.h"
#include "publish/FileDigest.h"
#include "publish/FtpClient.h"
#include "publish/SessionPool.h"
#include "publish/SyncBackup.h"
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

    // Throws, before anything is touched, when a target cannot be replaced.
    void check() const {
        for (const Item& item : items_) {
            check(item);
        }
    }

    void commit() {
        check();
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

    // After a failed commit: whether every file is as it was.
    bool restored() const { return restored_; }

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
        try {
            keepEntry(item.target, old);
        } catch (const FileError&) {
            throw FileError(QStringLiteral("Не удалось сохранить копию файла \u00AB%1\u00BB "
                                           "перед заменой. Ничего не изменено.")
                                .arg(item.target));
        }
        item.old = old;
    }

    // Undoes the replacements before `failed`; says how that went.
    QString putBack(qsizetype failed) {
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
        restored_ = lost.isEmpty();
        if (restored_) {
            return QStringLiteral("Ничего не изменено.");
        }
        return QStringLiteral("Не удалось вернуть прежнее содержимое файлов:\n") + lost.join(u'\n');
    }

    QString scratch_;
    QList<Item> items_;
    bool restored_ = true;
};

// One local file a synchronisation replaces.
struct Replaced {
    QString fetched;   // the server's copy, in the scratch folder
    QString target;    // the site's file
    QString relative;  // "mf/pages/3.tq"; with a leading "/", its name in the FileChangeCache
    QString label;     // how the question names it
    // The title index as the open site holds it, which may be newer than its file: the titles
    // are saved into it only when the site is saved or uploaded.
    std::optional<QByteArray> held;
    bool changes = false;  // its content is not the server's
    bool unsent = false;   // and not what was last sent from here either
};

QString heldDigest(const QByteArray& bytes) {
    Md5 md5;
    md5.add(bytes.constData(), bytes.size());
    return md5.hexDigest();
}

// Which of the files differ from the server's copies, and which of those hold unsent work.
void compare(QList<Replaced>& files, FileChangeCache& cache, RemoteClient& ftp) {
    FileDigester digester;
    const auto pump = [&ftp] { letEventsRun(ftp); };
    for (Replaced& file : files) {
        std::optional<QString> local;
        if (file.held) {
            local = heldDigest(*file.held);
        } else if (QFileInfo::exists(file.target)) {
            local = digester.digest(file.target, pump);
        }
        if (!local) {
            continue;  // nothing there to lose
        }
        file.changes = *local != digester.digest(file.fetched, pump);
        file.unsent = file.changes && cache.recorded(u'/' + file.relative) != local;
        letEventsRun(ftp);
    }
}

ReplaceQuestion replaceQuestion(const QList<Replaced>& files) {
    ReplaceQuestion question;
    QStringList shown;
    for (const Replaced& file : files) {
        if (file.unsent) {
            question.files.append(file.relative);
            shown.append(file.label);
        }
    }
    constexpr qsizetype Shown = 15;
    QString list = QStringList(shown.mid(0, Shown)).join(u'\n');
    if (shown.size() > Shown) {
        list += QStringLiteral("\n\u2026 и ещё %1").arg(shown.size() - Shown);
    }
    question.text = QStringLiteral(
                        "Эти страницы изменены после последней загрузки и будут "
                        "заменены:\n%1\n\nПродолжить?")
                        .arg(list);
    return question;
}

// Removes a backup that turned out not to be needed, and its parent folder when that is empty.
void dropBackup(const QString& sitePath, const QString& folder) {
    QDir(folder).removeRecursively();
    QDir().rmdir(site::backupsFolder(sitePath));
}

// Keeps every file whose content the replacement changes in a new backup folder, or none.
QString keepChanged(const QString& sitePath, const QList<Replaced>& files) {
    if (std::none_of(files.begin(), files.end(), [](const Replaced& f) { return f.changes; })) {
        return {};
    }
    const QString folder = makeBackupFolder(sitePath, QDateTime::currentDateTime());
    try {
        for (const Replaced& file : files) {
            if (!file.changes) {
                continue;
            }
            const QString kept = folder + u'/' + file.relative;
            if (file.held) {
                keepBytes(*file.held, kept);
            } else {
                keepFile(file.target, kept);
            }
        }
    } catch (const FileError& e) {
        dropBackup(sitePath, folder);
        throw FileError(e.text() + QStringLiteral("\nПрежние версии файлов сохранить не "
                                                  "удалось, поэтому ничего не изменено."));
    }
    return folder;
}

// The fetched pages 1..n and title index in `scratch` replace the site's: after the question,
// and with what changes kept first.
SyncResult replaceLocal(PublishJob& job, const QString& scratch, int n,
                        const ConfirmReplace& confirm) {
    const QString sitePath = job.state.sitePath;
    makeFolder(site::pagesFolder(sitePath));
    makeFolder(QFileInfo(site::titleIndexPath(sitePath)).absolutePath());
    QList<Replaced> files;
    for (int page = 1; page <= n; ++page) {
        const QString file = QStringLiteral("mf/pages/%1.tq").arg(page);
        const QString title =
            page <= job.state.pageCount() ? job.state.pageTitles[page] : QString();
        files.append({scratch + QStringLiteral("/%1.tq").arg(page),
                      site::pageFilePath(sitePath, page), file,
                      title.isEmpty() ? QStringLiteral("страница %1 (%2)").arg(page).arg(file)
                                      : QStringLiteral("%1 - %2 (%3)").arg(page).arg(title, file),
                      std::nullopt});
    }
    std::optional<QByteArray> titles;
    if (job.state.pageIndexLoaded) {
        titles = textfile::toCp1251(textfile::joinLines(site::titleIndexLines(
            job.state.siteTitle, job.state.pageTitles, job.state.pageCount())));
    }
    files.append({scratch + QStringLiteral("/head.txt"), site::titleIndexPath(sitePath),
                  QStringLiteral("etc/head.txt"),
                  QStringLiteral("заголовки страниц (etc/head.txt)"), titles});
    // The pages from the last one down, then the index that counts them.
    Replacement replacement(scratch);
    for (qsizetype i = n - 1; i >= 0; --i) {
        replacement.add(files[i].fetched, files[i].target);
    }
    replacement.add(files.last().fetched, files.last().target);
    replacement.check();

    FileChangeCache cache(job.settings, job.state.siteName);
    compare(files, cache, job.ftp);
    SyncResult result;
    if (std::any_of(files.begin(), files.end(), [](const Replaced& f) { return f.unsent; }) &&
        !confirm(replaceQuestion(files))) {
        result.declined = true;
        result.entries = static_cast<int>(job.state.pageList.size());
        return result;
    }
    result.backupFolder = keepChanged(sitePath, files);
    try {
        replacement.commit();
    } catch (const FileError& e) {
        if (result.backupFolder.isEmpty()) {
            throw;
        }
        if (replacement.restored()) {
            dropBackup(sitePath, result.backupFolder);
            throw;
        }
        throw FileError(e.text() + QStringLiteral("\nПрежние версии этих файлов сохранены в "
                                                  "папке \u00AB%1\u00BB.")
                                       .arg(result.backupFolder));
    }
    // Once the files are in place the list must follow them before anything else runs: a Cancel
    // from here on would leave it empty, and the next save would write that emptiness out.
    pruneBackups(sitePath, result.backupFolder);
    job.state.pageList.clear();
    site::readPageTitleIndex(job.state);
    result.entries = static_cast<int>(job.state.pageList.size());
    return result;
}

}  // namespace

SyncResult synchronise(PublishJob& job, const ConfirmReplace& confirm) {
    checkSiteOpen(job.state);
    checkAccount(job.state.ftpAccount);
    const FtpAccount account = job.state.ftpAccount;
    const QString sitePath = job.state.sitePath;
    RemoteClient& ftp = job.ftp;

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
    const auto all = std::make_shared<SharedDownloadBound>(MaxSyncBytes);
    job.report(Stage::Receiving, 1, 1, QStringLiteral("/etc/head.txt"), -1);
    ftp.DownloadFile(remoteRoot + QStringLiteral("/etc/head.txt"), fetchedIndex,
                     {MaxIndexBytes, site::MaxPages + 2, all});
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
    const int sessions = sessionsWanted(account);
    int fewerSessions = 0;
    int retried = 0;
    if (sessions > 1 && n >= 2) {
        QList<Transfer> transfers;
        for (int page = n; page >= 1; --page) {
            const QString name = QStringLiteral("/mf/pages/%1.tq").arg(page);
            transfers.append({fetched.filePath(QStringLiteral("%1.tq").arg(page)),
                              remoteRoot + name,
                              name,
                              -1,
                              {MaxPageBytes, -1, all}});
        }
        // All or nothing anyway: the first failure stops every session.
        const PoolOutcome outcome = transferOverSessions(
            ftp, sessions - 1, QString(), transfers, TransferDirection::Download, true,
            [&job, n](Stage stage, int k, int of, const QString& name, qint64 size) {
                if (stage == Stage::Retrying) {
                    job.report(stage, k, of, name, size);
                } else {
                    job.report(stage, k + 1, n + 1, name, size);
                }
            },
            Stage::Receiving, [](qsizetype, const QString&) {}, job.retries);
        retried = outcome.retried;
        fewerSessions = rememberSessions(job, outcome, sessions);
        if (outcome.failure) {
            std::rethrow_exception(outcome.failure);
        }
    } else {
        RetryingTransfer mover(ftp, QString(), job.retries,
                               [&job](int attempt, int of, const QString& name) {
                                   job.report(Stage::Retrying, attempt, of, name, -1);
                               });
        for (int page = n; page >= 1; --page) {
            const QString name = QStringLiteral("/mf/pages/%1.tq").arg(page);
            job.report(Stage::Receiving, n - page + 2, n + 1, name, -1);
            mover.download({fetched.filePath(QStringLiteral("%1.tq").arg(page)),
                            remoteRoot + name,
                            name,
                            -1,
                            {MaxPageBytes, -1, all}});
            retried += mover.retried() ? 1 : 0;
            letEventsRun(ftp);
        }
    }
    closeIfOpen(ftp);

    qint64 bytes = 0;
    for (const QFileInfo& f : QDir(fetched.path()).entryInfoList(QDir::Files)) {
        bytes += f.size();
    }
    SyncResult result;
    if (n <= 0) {
        result.entries = static_cast<int>(job.state.pageList.size());
    } else {
        result = replaceLocal(job, fetched.path(), n, confirm);
    }
    result.bytes = bytes;
    result.fewerSessions = fewerSessions;
    result.retried = retried;
    return result;
}

QString syncDoneText(const SyncResult& result) {
    QString text = QStringLiteral("Готово!\nСкачано файлов ") + QString::number(result.entries);
    if (result.fewerSessions > 0) {
        text += u'\n' + fewerSessionsText(result.fewerSessions);
    }
    if (result.retried > 0) {
        text += u'\n' + retriedFilesText(result.retried);
    }
    if (!result.backupFolder.isEmpty()) {
        text += QStringLiteral(
                    "\n\nПрежние версии заменённых файлов сохранены в папке "
                    "\u00AB%1\u00BB.")
                    .arg(QDir::toNativeSeparators(result.backupFolder));
    }
    return text;
}

}  // namespace zor::publish
