#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "publish/PublishSession.h"

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
    QString name;  // remote sub-path + file name: the cache's value name, "/mf/img/logo.png"
};

// The files the nine passes take, in pass order and each folder's listing order: regular files
// whose name holds a ".", but neither hidden files (a leading ".") other than ".htaccess" nor
// the editor's "index.html" in the root.
QList<SiteFile> uploadCandidates(const QString& sitePath);

// The names of a LIST answer's lines that have no ".", each after a blank: per line, the text
// from the third character after its first ":" (after the minutes of the time of day), or from
// its third character when it has none. The upload only looks for "mf" and "etc" in it.
QString listingFolderNames(const QStringList& lines);

struct UploadResult {
    int considered = 0;  // files digested
    int sent = 0;        // files the server took
};

// "Закачать изменённые файлы": refuses when no site is open; rewrites the index files from the
// open site, checks the account, digests every file, makes sure the folder tree exists on the
// server and sends each file whose digest differs from the recorded one, recording the digest of
// the bytes sent once the server has confirmed the transfer. A file whose name Windows-1251
// cannot hold stops the upload before anything is sent.
UploadResult uploadChangedFiles(PublishJob& job);
// "Закачать все файлы": forgets what was sent, then uploads the changed files, which are all.
UploadResult uploadAllFiles(PublishJob& job);

}  // namespace zor::publish
