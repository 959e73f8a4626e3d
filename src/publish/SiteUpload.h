#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "publish/PublishSession.h"
#include "publish/RemovedFiles.h"

// Publishing a site: its files go to RemoteFolder on the server, each only when its MD5 differs
// from the one recorded when it last reached the server.
namespace zor::publish {

// One of the nine folders an upload walks, without descending: the local folder relative to the
// site and the sub-path it has on the server (and in the cache's value names).
struct UploadPass {
    QString localFolder;
    QString remoteSubPath;
};
const QList<UploadPass>& uploadPasses();

// The folders an upload creates on the server, after RemoteFolder, when their group is missing.
const QStringList& mfFolderGroup();
const QStringList& etcFolderGroup();

// A file of the site as an upload considers it.
struct SiteFile {
    QString localPath;
    QString name;      // remote sub-path + file name: the cache's value name, "/mf/img/logo.png"
    qint64 size = -1;  // bytes, once known

    // The same file of the site, whatever its size was found to be.
    bool operator==(const SiteFile& other) const { return localPath == other.localPath; }
};

// The files the nine passes take, in pass order and each folder's listing order: regular files
// whose name holds a ".", but neither hidden files (a leading ".") other than ".htaccess" nor
// the editor's "index.html" in the root.
QList<SiteFile> uploadCandidates(const QString& sitePath);

// The names of a LIST answer's lines that have no ".", each after a blank: per line, the text
// from the third character after its first ":" (after the minutes of the time of day), or from
// its third character when it has none. The upload only looks for "mf" and "etc" in it. A name
// holding "/" is no entry of the listed folder and is left out.
QString listingFolderNames(const QStringList& lines);

// What the upload would send now: the number of files it digests and those whose digest
// differs from the one recorded (all of them with `ignoreRecords`), with their sizes.
struct PendingUpload {
    int considered = 0;
    QList<SiteFile> changed;
    qint64 bytes = 0;
};
// The upload's first steps, without the server: refuses when no site is open, rewrites the index
// files from the open site (the upload sends them as written), then digests every file.
// Records nothing.
PendingUpload pendingUpload(PublishJob& job, bool ignoreRecords = false);

// A dry run logs in, changes into RemoteFolder and lists it as an upload does, then stops: it
// creates, sends and records nothing, and its result tells what the upload would have done.
enum class UploadMode { Send, DryRun };

// How the upload sent its files: each by itself over FTP, or most in one archive that the site's
// PHP unpacked (the rest by themselves).
enum class UploadRoute { Files, Archive };

struct UploadResult {
    int considered = 0;     // files digested
    int sent = 0;           // files the server took
    qint64 bytes = 0;       // their bytes
    QList<SiteFile> files;  // the files sent (dry run: those that would be)
    QStringList folders;    // the remote folders made (dry run: those that would be)
    int fewerSessions = 0;  // the number of sessions the server took, when it took fewer
    int retried = 0;        // files sent only after a retry
    // Files the site once sent and no longer has, still on the server; the upload deletes
    // none of them (deleteRemovedFiles does, when asked).
    QList<RemovedFile> removed;
    UploadRoute route = UploadRoute::Files;  // dry run: the route it would take
    int archived = 0;                        // files the archive brought, confirmed by the server
    // Why the archive route was not taken or did not bring every file; empty when it was not
    // meant to be taken (too few files, switched off) or brought everything.
    QString fallback{};
};

// "Закачать изменённые файлы": refuses when no site is open; rewrites the index files from the
// open site, checks the account, digests every file, makes sure the folder tree exists on the
// server and sends each file whose digest differs from the recorded one, recording the digest of
// the bytes sent once the server has confirmed the transfer. A file whose name Windows-1251
// cannot hold stops the upload before anything is sent.
UploadResult uploadChangedFiles(PublishJob& job, UploadMode mode = UploadMode::Send);
// "Закачать все файлы": forgets what was sent, then uploads the changed files, which are all. A
// dry run forgets nothing and takes every file as changed.
UploadResult uploadAllFiles(PublishJob& job, UploadMode mode = UploadMode::Send);

}  // namespace zor::publish
