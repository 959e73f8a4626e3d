#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "publish/PublishSession.h"

namespace zor::publish {

// The local files a synchronisation is about to replace that hold work the server has not got:
// changed since they were last sent, or never sent, and other than the server's copies.
struct ReplaceQuestion {
    QStringList files;  // site-relative: "mf/pages/3.tq", "etc/head.txt"
    QString text;       // the question as the user reads it
};
// Answers whether to go on; may throw to end the command.
using ConfirmReplace = std::function<bool(const ReplaceQuestion&)>;

struct SyncResult {
    int entries = 0;        // page list entries afterwards
    bool declined = false;  // the user said no: nothing changed
    QString backupFolder;   // where the replaced files were kept; empty when none was replaced
    qint64 bytes = 0;       // fetched from the server: the title index and the pages
    int fewerSessions = 0;  // the number of sessions the server took, when it took fewer
    int retried = 0;        // files fetched only after a retry
};

// All the files of one synchronisation together may bring no more than this.
inline constexpr qint64 MaxSyncBytes = qint64(1) << 30;

// "Синхронизироваться": brings the published title index and the pages it counts back from
// the server into the open site and rebuilds the page list from them. Everything is first
// fetched into a temporary folder (an index past 5002 lines or 4 MiB, a page past 64 MiB, all of
// them past MaxSyncBytes is cut off with an error). Local files that hold unsent work are named to
// `confirm` before anything is replaced; every local file whose content changes is first kept in a
// new backup folder (the last KeptBackups stay). Then local files are replaced all or none, so a
// failure leaves the site wholly as it was. A server index that lists no page changes nothing.
// Refuses when no site is open.
SyncResult synchronise(PublishJob& job, const ConfirmReplace& confirm);

// The message the window shows after a synchronisation that ran to its end.
QString syncDoneText(const SyncResult& result);

}  // namespace zor::publish
