#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "publish/PublishSession.h"

// Files the site once published and has since lost: deleted in the file manager, or removed
// from the site's folder by hand. They stay on the server until the user lets them go; nothing
// the site did not upload itself is ever deleted.
namespace zor::publish {

class FileChangeCache;
class RemoteClient;

// A file recorded as sent whose local copy is gone, still on the server.
struct RemovedFile {
    QString name;       // as the upload names it: "/mf/img/logo.png"
    bool kept = false;  // the user chose to keep it on the server
};

// The recorded files that are gone from the site's folder and may be deleted from the server:
// in one of the upload's folders (not below them), never an index file. In name order.
QStringList goneFromSite(const QString& sitePath, const FileChangeCache& cache);

// Of `gone`, those the server's listing of their folders still shows, the folders listed over
// the open session `ftp` under `remoteFolder`, which is the current folder again afterwards.
// With `dropStale`, a file the server no longer has loses its record: there is nothing left to
// ask about.
QList<RemovedFile> stillOnServer(RemoteClient& ftp, const QString& remoteFolder,
                                 const QStringList& gone, FileChangeCache& cache,
                                 SettingsStore& settings, const QString& siteName, bool dropStale);

// What a deletion did.
struct DeletionResult {
    QStringList deleted;  // deleted on the server, and their records dropped
    QStringList refused;  // "name: the server's reason"; their records stay
};

// Deletes the files (DELE, one after another, each record dropped once its deletion is
// confirmed) over the open session or a new one. A refused deletion is noted and the next file
// taken; Cancel stops between files. Folders are never removed.
DeletionResult deleteRemovedFiles(PublishJob& job, const QStringList& names);

// Remembers that the user keeps these files on the server, as they are recorded now: the window
// does not ask about them again.
void keepOnServer(SettingsStore& settings, const QString& siteName, const QStringList& names);

// The window's question about `names`: at most 15 of them, then how many more.
QString removedFilesQuestion(const QStringList& names);
// What the window says of deletions the server refused.
QString refusedDeletionsText(const QStringList& refused);

}  // namespace zor::publish
