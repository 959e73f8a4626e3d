#include "publish/SiteUpload.h"

#include <dirent.h>
#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/ArchiveUpload.h"
#include "publish/FileChangeCache.h"
#include "publish/FileDigest.h"
#include "publish/FtpClient.h"
#include "publish/SessionPool.h"
#include "publish/SiteCheck.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"

namespace zor::publish {

const QList<UploadPass>& uploadPasses() {
    static const QList<UploadPass> passes{
        {QString(), QStringLiteral("/")},
        {QStringLiteral("mf/"), QStringLiteral("/mf/")},
        {QStringLiteral("mf/img/"), QStringLiteral("/mf/img/")},
        {QStringLiteral("mf/music/"), QStringLiteral("/mf/music/")},
        {QStringLiteral("mf/other/"), QStringLiteral("/mf/other/")},
        {QStringLiteral("mf/pages/"), QStringLiteral("/mf/pages/")},
        {QStringLiteral("etc/"), QStringLiteral("/etc/")},
        {QStringLiteral("etc/desing/"), QStringLiteral("/etc/desing/")},
        {QStringLiteral("etc/blocs/"), QStringLiteral("/etc/blocs/")},
    };
    return passes;
}

const QStringList& mfFolderGroup() {
    static const QStringList group{QStringLiteral("/mf/"), QStringLiteral("/mf/music/"),
                                   QStringLiteral("/mf/img/"), QStringLiteral("/mf/other/"),
                                   QStringLiteral("/mf/pages/")};
    return group;
}

const QStringList& etcFolderGroup() {
    static const QStringList group{QStringLiteral("/etc/"), QStringLiteral("/etc/desing/"),
                                   QStringLiteral("/etc/blocs/")};
    return group;
}

QList<SiteFile> uploadCandidates(const QString& sitePath) {
    const QString preview = QFileInfo(site::previewFilePath(sitePath)).fileName();
    QList<SiteFile> files;
    for (const UploadPass& pass : uploadPasses()) {
        const QString folder = sitePath + u'/' + pass.localFolder;
        const QByteArray nativeFolder = QFile::encodeName(folder);
        // Read straight from the directory: the entry's type usually comes with its name, so
        // ten thousand files cost no stat() each.
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(nativeFolder.constData()),
                                                      &::closedir);
        if (!dir) {
            continue;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            const char* raw = entry->d_name;
            if (!std::strchr(raw, '.')) {
                continue;
            }
            // Hidden files are other programs' business (an editor's swap file, a desktop's
            // folder settings) and must not become public; the web server's access rules for
            // a folder are the site's own.
            if (raw[0] == '.' && std::strcmp(raw, ".htaccess") != 0) {
                continue;
            }
            // Sub-folders are never sent, whatever their name; nor is anything but a file's
            // content (devices, sockets and links to nowhere are not files).
            bool regular = entry->d_type == DT_REG;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                regular = ::stat((nativeFolder + raw).constData(), &st) == 0 && S_ISREG(st.st_mode);
            }
            if (!regular) {
                continue;
            }
            const QString name = QFile::decodeName(raw);
            if (pass.localFolder.isEmpty() && name == preview) {
                continue;
            }
            files.append({folder + name, pass.remoteSubPath + name});
        }
    }
    return files;
}

QString listingFolderNames(const QStringList& lines) {
    QString names;
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');  // from 0; -1 when there is none
        const QString name = line.mid(colon < 0 ? 2 : colon + 3);
        if (!name.contains(u'.') && !name.contains(u'/')) {
            names += u' ' + name;
        }
    }
    return names;
}

namespace {

// Names the files whose names cannot go on the wire as they are.
void checkFileNames(const QList<SiteFile>& files) {
    QStringList refused;
    for (const SiteFile& file : files) {
        if (textfile::firstOutsideCp1251(file.name)) {
            refused.append(file.name);
        }
    }
    if (refused.isEmpty()) {
        return;
    }
    constexpr qsizetype Shown = 10;
    QString list = QStringList(refused.mid(0, Shown)).join(u'\n');
    if (refused.size() > Shown) {
        list += QStringLiteral("\n\u2026 и ещё %1").arg(refused.size() - Shown);
    }
    throw ZorError(QStringLiteral("В именах этих файлов есть знаки, которых нет в кодировке "
                                  "Windows-1251, и на сервере они получили бы другие имена:\n%1\n\n"
                                  "Переименуйте их; ничего не отправлено.")
                       .arg(list));
}

// Every file is read and digested; those that differ from their record are the changed ones.
PendingUpload digestChanged(PublishJob& job, FileChangeCache& cache, bool ignoreRecords) {
    RemoteClient& ftp = job.ftp;
    const QList<SiteFile> files = uploadCandidates(job.state.sitePath);
    PendingUpload pending;
    pending.considered = static_cast<int>(files.size());
    FileDigester digester;
    const auto pump = [&ftp] { letEventsRun(ftp); };
    for (qsizetype i = 0; i < files.size(); ++i) {
        const SiteFile& file = files[i];
        job.report(Stage::Checking, static_cast<int>(i + 1), pending.considered, file.name, -1);
        letEventsRun(ftp);
        if (ignoreRecords || cache.recorded(file.name) != digester.digest(file.localPath, pump)) {
            SiteFile changed = file;
            changed.size = QFileInfo(file.localPath).size();
            pending.bytes += changed.size;
            pending.changed.append(changed);
        }
    }
    return pending;
}

// The index files among `files`: with several sessions they go last, after every other file
// has arrived, so the published index never names a page that is not there yet.
QList<SiteFile> heldBack(const QString& sitePath, const QList<SiteFile>& files) {
    QList<SiteFile> held;
    for (const SiteFile& f : files) {
        if (f.localPath == site::titleIndexPath(sitePath) ||
            f.localPath == site::fileIndexPath(sitePath)) {
            held.append(f);
        }
    }
    return held;
}

// The temporary names large files go to until they are whole, as the site keeps them under its
// "\parts" key while a transfer may leave one behind: an upload cut short by a crash or a
// dropped line leaves them on the server, and the next upload deletes them.
class TemporaryNames {
public:
    TemporaryNames(SettingsStore& settings, const QString& siteName)
        : settings_(settings), key_(siteKeyPath(siteName, QStringLiteral("parts"))) {}

    // Deletes what an earlier upload left behind, but for the files this one sends again: their
    // transfers take the names over.
    void clearLeftovers(RemoteClient& ftp, const QStringList& reused) {
        for (const QString& part : settings_.valueNames(key_)) {
            if (reused.contains(part)) {
                continue;
            }
            try {
                ftp.DeleteRemoteFile(part);
            } catch (const FtpError& e) {
                if (e.replyCode() != 550) {
                    throw;  // the server may have it still: it stays on the list
                }
            }
            settings_.deleteValue(key_, part);
        }
    }
    void begin(const QStringList& parts) {
        for (const QString& part : parts) {
            settings_.writeString(key_, part, QStringLiteral("1"));
        }
    }
    void done(const Transfer& t) {
        if (t.size > TemporaryNameAbove) {
            settings_.deleteValue(key_, t.remotePath + PartSuffix);
        }
    }

private:
    SettingsStore& settings_;
    QString key_;
};

// The changed files but the held-back ones, over the command's session and further ones. Each
// is recorded when its own transfer is confirmed; the first failure is thrown once every
// session has ended. A server that takes fewer sessions than asked is remembered for the site.
void sendOverSessions(PublishJob& job, const FtpAccount& account, FileChangeCache& cache,
                      TemporaryNames& parts, const QList<SiteFile>& changed,
                      const QList<SiteFile>& held, UploadResult& result) {
    QList<SiteFile> files;
    QList<Transfer> transfers;
    for (const SiteFile& f : changed) {
        const auto same = [&f](const SiteFile& h) { return h.localPath == f.localPath; };
        if (std::none_of(held.begin(), held.end(), same)) {
            files.append(f);
            files.last().size = QFileInfo(f.localPath).size();
            transfers.append(
                {f.localPath, account.remoteFolder + f.name, f.name, files.last().size, {}});
        }
    }
    const int sessions = sessionsWanted(account);
    const PoolOutcome outcome = transferOverSessions(
        job.ftp, sessions - 1, u'/' + account.remoteFolder, transfers, TransferDirection::Upload,
        false,
        // Counted among all the files, the held-back ones too.
        [&](Stage stage, int k, int n, const QString& name, qint64 size) {
            job.report(stage, k, stage == Stage::Retrying ? n : static_cast<int>(changed.size()),
                       name, size);
        },
        Stage::Sending,
        [&](qsizetype i, const QString& digest) {
            cache.record(files[i].name, digest);
            parts.done(transfers[i]);
            ++result.sent;
            result.bytes += files[i].size;
            result.files.append(files[i]);
        },
        job.retries);
    result.fewerSessions = rememberSessions(job, outcome, sessions);
    result.retried += outcome.retried;
    if (outcome.failure) {
        std::rethrow_exception(outcome.failure);
    }
}

// Whether this upload takes the archive route for `files`; when the site has it on but was found
// unable to take archives, `why` says so.
bool archiveRouteFor(PublishJob& job, const FtpAccount& account, qsizetype files, QString& why) {
    if (!job.archive || !job.http || !siteAddressSet(job.state.siteAddress) ||
        files < ArchiveFromFiles || !archiveRouteEnabled(job.settings, job.state.siteName)) {
        return false;
    }
    if (const std::optional<QString> reason =
            archiveUnavailable(job.settings, job.state.siteName, account)) {
        why = QStringLiteral("сайт не принимает архивы: %1").arg(*reason);
        return false;
    }
    return true;
}

// What a script and archive of an earlier upload left in the remote folder (the program was
// killed before it could delete them).
void deleteLeftUnpackFiles(RemoteClient& ftp, const FtpAccount& account,
                           const QStringList& listing) {
    for (const QString& name : leftUnpackFiles(listing)) {
        try {
            ftp.DeleteRemoteFile(account.remoteFolder + u'/' + name);
        } catch (const FtpError& e) {
            if (e.replyCode() == 0) {
                throw;
            }
        }
    }
}

UploadResult upload(PublishJob& job, bool ignoreRecords, UploadMode mode) {
    checkSiteOpen(job.state);
    site::writeIndexFiles(job.state);
    checkAccount(job.state.ftpAccount);
    // The command keeps to the site and account it started with.
    const FtpAccount account = job.state.ftpAccount;
    RemoteClient& ftp = job.ftp;

    // Digesting before logging in keeps the session from idling through a long read.
    FileChangeCache cache(job.settings, job.state.siteName);
    const PendingUpload pending = digestChanged(job, cache, ignoreRecords);
    checkFileNames(pending.changed);

    const SessionGuard guard(ftp);
    applyAccount(ftp, account);
    openIfClosed(ftp);
    letEventsRun(ftp);
    ftp.ChangeFolder(u'/' + account.remoteFolder);
    QStringList lines;
    ftp.ListFolder(lines);
    const QString folderNames = listingFolderNames(lines);
    UploadResult result{pending.considered, 0, 0, {}, {}, 0, 0, {}};
    if (mode == UploadMode::Send) {
        deleteLeftUnpackFiles(ftp, account, lines);
    }
    const auto makeGroup = [&](const QStringList& group) {
        for (const QString& folder : group) {
            if (mode == UploadMode::Send) {
                ftp.MakeFolder(account.remoteFolder + folder);
            }
            result.folders.append(account.remoteFolder + folder);
        }
    };
    if (!folderNames.contains(QStringLiteral("mf"))) {
        makeGroup(mfFolderGroup());
    }
    letEventsRun(ftp);
    if (!folderNames.contains(QStringLiteral("etc"))) {
        makeGroup(etcFolderGroup());
    }

    // What the site once sent and has lost since; found while the session is open.
    const auto findRemoved = [&] {
        result.removed =
            stillOnServer(ftp, account.remoteFolder, goneFromSite(job.state.sitePath, cache), cache,
                          job.settings, job.state.siteName, mode == UploadMode::Send);
    };
    const QList<SiteFile> indexFiles = heldBack(job.state.sitePath, pending.changed);
    QList<SiteFile> archived;
    for (const SiteFile& f : pending.changed) {
        if (!indexFiles.contains(f) && archivable(f)) {
            archived.append(f);
        }
    }
    const bool byArchive = archiveRouteFor(job, account, archived.size(), result.fallback);
    if (mode == UploadMode::DryRun) {
        result.sent = static_cast<int>(pending.changed.size());
        result.bytes = pending.bytes;
        result.files = pending.changed;
        if (byArchive) {
            result.route = UploadRoute::Archive;
            result.archived = static_cast<int>(archived.size());
        }
        findRemoved();
        closeIfOpen(ftp);
        return result;
    }
    // What the archive brought is recorded; the rest, the index files last, goes file by file.
    QList<SiteFile> toSend = pending.changed;
    if (byArchive) {
        const ArchiveOutcome brought = sendByArchive(job, *job.http, account, cache, archived);
        result.archived = static_cast<int>(brought.confirmed.size());
        result.route = brought.confirmed.isEmpty() ? UploadRoute::Files : UploadRoute::Archive;
        result.fallback = brought.failure;
        result.sent += result.archived;
        result.bytes += brought.bytes;
        result.files += brought.confirmed;
        QSet<QString> confirmed;
        for (const SiteFile& f : brought.confirmed) {
            confirmed.insert(f.localPath);
        }
        toSend.clear();
        for (const SiteFile& f : pending.changed) {
            if (!confirmed.contains(f.localPath) && !indexFiles.contains(f)) {
                toSend.append(f);
            }
        }
        toSend += indexFiles;
        openIfClosed(ftp);
    }
    // Large files go to temporary names first; what an earlier upload left of them goes.
    TemporaryNames parts(job.settings, job.state.siteName);
    QStringList partNames;
    for (const SiteFile& f : toSend) {
        if (QFileInfo(f.localPath).size() > TemporaryNameAbove) {
            partNames.append(account.remoteFolder + f.name + PartSuffix);
        }
    }
    parts.clearLeftovers(ftp, partNames);
    parts.begin(partNames);
    RetryingTransfer mover(ftp, u'/' + account.remoteFolder, job.retries,
                           [&job](int attempt, int of, const QString& name) {
                               job.report(Stage::Retrying, attempt, of, name, -1);
                           });
    const auto sendOne = [&](SiteFile file, int k, int n) {
        file.size = QFileInfo(file.localPath).size();
        job.report(Stage::Sending, k, n, file.name, file.size);
        letEventsRun(ftp);
        // What is recorded is the digest of the bytes that went out: another program may have
        // changed the file since it was checked, even while it was being sent. Recorded only
        // once the server has confirmed the transfer: a file whose transfer failed stays
        // changed and goes again next time.
        const Transfer t{
            file.localPath, account.remoteFolder + file.name, file.name, file.size, {}};
        const QString sent = mover.upload(t);
        cache.record(file.name, sent);
        parts.done(t);
        result.retried += mover.retried() ? 1 : 0;
        ++result.sent;
        result.bytes += file.size;
        result.files.append(file);
    };
    const int n = static_cast<int>(toSend.size());
    if (sessionsWanted(account) > 1 && n - indexFiles.size() >= 2) {
        sendOverSessions(job, account, cache, parts, toSend, indexFiles, result);
        for (qsizetype k = 0; k < indexFiles.size(); ++k) {
            sendOne(indexFiles[k], n - static_cast<int>(indexFiles.size() - k) + 1, n);
        }
    } else {
        for (qsizetype k = 0; k < toSend.size(); ++k) {
            sendOne(toSend[k], static_cast<int>(k + 1), n);
        }
    }
    findRemoved();
    closeIfOpen(ftp);
    letEventsRun(ftp);
    return result;
}

}  // namespace

PendingUpload pendingUpload(PublishJob& job, bool ignoreRecords) {
    checkSiteOpen(job.state);
    site::writeIndexFiles(job.state);
    FileChangeCache cache(job.settings, job.state.siteName);
    return digestChanged(job, cache, ignoreRecords);
}

UploadResult uploadChangedFiles(PublishJob& job, UploadMode mode) {
    return upload(job, false, mode);
}

UploadResult uploadAllFiles(PublishJob& job, UploadMode mode) {
    checkSiteOpen(job.state);
    if (mode == UploadMode::DryRun) {
        return upload(job, true, mode);
    }
    FileChangeCache::forget(job.settings, job.state.siteName);
    return upload(job, false, mode);
}

}  // namespace zor::publish
