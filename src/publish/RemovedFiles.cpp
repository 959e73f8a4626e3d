#include "publish/RemovedFiles.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>

#include "platform/SettingsStore.h"
#include "publish/FileChangeCache.h"
#include "publish/FtpClient.h"
#include "publish/RemoteBrowser.h"
#include "publish/SiteUpload.h"

namespace zor::publish {
namespace {

QString keptKey(const QString& siteName) {
    return siteKeyPath(siteName, QStringLiteral("kept"));
}

// The upload's folder of a recorded name, when it is one; its files lie right in it.
const UploadPass* passOf(const QString& name) {
    const UploadPass* found = nullptr;
    for (const UploadPass& pass : uploadPasses()) {
        if (name.startsWith(pass.remoteSubPath) &&
            !QStringView(name).sliced(pass.remoteSubPath.size()).contains(u'/') &&
            (!found || pass.remoteSubPath.size() > found->remoteSubPath.size())) {
            found = &pass;
        }
    }
    return found;
}

QString shownList(const QStringList& names) {
    constexpr qsizetype Shown = 15;
    QString list = QStringList(names.mid(0, Shown)).join(u'\n');
    if (names.size() > Shown) {
        list += QStringLiteral("\n\u2026 и ещё %1").arg(names.size() - Shown);
    }
    return list;
}

}  // namespace

QStringList goneFromSite(const QString& sitePath, const FileChangeCache& cache) {
    QStringList gone;
    for (const QString& name : cache.names()) {
        // The index files are the site's own and always there; a name outside the upload's
        // folders is none the upload made.
        if (name == QStringLiteral("/etc/head.txt") || name == QStringLiteral("/etc/file.txt") ||
            !passOf(name) || name.endsWith(u'/')) {
            continue;
        }
        const QFileInfo local(sitePath + name);
        if (!local.exists() && !local.isSymLink()) {
            gone.append(name);
        }
    }
    std::sort(gone.begin(), gone.end());
    return gone;
}

QList<RemovedFile> stillOnServer(RemoteClient& ftp, const QString& remoteFolder,
                                 const QStringList& gone, FileChangeCache& cache,
                                 SettingsStore& settings, const QString& siteName, bool dropStale) {
    QList<RemovedFile> removed;
    if (gone.isEmpty()) {
        return removed;
    }
    SettingsKey kept(settings, keptKey(siteName));
    QString listedFolder;
    QSet<QString> onServer;
    for (const QString& name : gone) {
        const UploadPass* pass = passOf(name);
        if (pass->remoteSubPath != listedFolder) {
            listedFolder = pass->remoteSubPath;
            onServer.clear();
            QStringList lines;
            try {
                ftp.ChangeFolder(u'/' + remoteFolder + listedFolder);
                ftp.ListFolder(lines);
            } catch (const Cancelled&) {
                throw;
            } catch (const FtpError& e) {
                // A folder the server has not got holds none of them.
                if (e.replyCode() == 0) {
                    throw;
                }
            }
            const RemoteEntries entries = sortListing(lines);
            onServer = QSet<QString>(entries.files.begin(), entries.files.end());
        }
        const QString file = name.mid(listedFolder.size());
        if (onServer.contains(file)) {
            // Kept is what the user kept: the same content as when they chose, not a later file
            // of the same name.
            removed.append({name, kept.read(name) == cache.recorded(name)});
        } else if (dropStale) {
            cache.drop(name);
            settings.deleteValue(kept.path(), name);
        }
    }
    ftp.ChangeFolder(u'/' + remoteFolder);
    return removed;
}

DeletionResult deleteRemovedFiles(PublishJob& job, const QStringList& names) {
    DeletionResult result;
    if (names.isEmpty()) {
        return result;
    }
    const FtpAccount account = job.state.ftpAccount;
    RemoteClient& ftp = job.ftp;
    FileChangeCache cache(job.settings, job.state.siteName);
    const QString keptPath = keptKey(job.state.siteName);
    const SessionGuard guard(ftp);
    applyAccount(ftp, account);
    openIfClosed(ftp);
    for (qsizetype k = 0; k < names.size(); ++k) {
        const QString& name = names[k];
        job.report(Stage::Deleting, static_cast<int>(k + 1), static_cast<int>(names.size()), name,
                   -1);
        letEventsRun(ftp);
        try {
            ftp.DeleteRemoteFile(account.remoteFolder + name);
        } catch (const FtpError& e) {
            // Refused: reported, and its record stays, for the file is still there. A lost
            // connection ends the command, since nobody knows what happened to the rest.
            if (e.replyCode() == 0) {
                throw;
            }
            result.refused.append(name + QStringLiteral(": ") + e.text().trimmed());
            continue;
        }
        cache.drop(name);
        job.settings.deleteValue(keptPath, name);
        result.deleted.append(name);
    }
    closeIfOpen(ftp);
    return result;
}

void keepOnServer(SettingsStore& settings, const QString& siteName, const QStringList& names) {
    FileChangeCache cache(settings, siteName);
    SettingsKey kept(settings, keptKey(siteName));
    for (const QString& name : names) {
        kept.write(name, cache.recorded(name).value_or(QString()));
    }
}

QString removedFilesQuestion(const QStringList& names) {
    return QStringLiteral(
               "Эти файлы удалены из папки сайта, но остались на сервере:\n%1\n\n"
               "Удалить их с сервера?")
        .arg(shownList(names));
}

QString refusedDeletionsText(const QStringList& refused) {
    return QStringLiteral("Сервер не удалил эти файлы; они остались на нём:\n%1")
        .arg(shownList(refused));
}

}  // namespace zor::publish
