#pragma once

#include <QList>
#include <QString>
#include <exception>
#include <functional>

#include "publish/FtpClient.h"
#include "publish/PublishSession.h"
#include "publish/RemoteClient.h"

// Files moved over several FTP sessions at once: a distant server costs round trips per file,
// and sessions side by side pay them side by side.
namespace zor::publish {

// One file a command moves.
struct Transfer {
    QString localPath;
    QString remotePath;
    QString name;         // as the progress names it
    qint64 size = -1;     // bytes, when known
    DownloadLimit limit;  // a download's bounds
};

enum class TransferDirection { Upload, Download };

struct PoolOutcome {
    int sessions = 1;  // sessions that took part, the command's own included
    // Fewer sessions than asked for could be opened: the server turned one away (too many
    // connections, a refused or closed connection), so asking for as many again is pointless.
    bool fewerAccepted = false;
    int confirmed = 0;           // transfers the server confirmed
    int retried = 0;             // confirmed transfers that needed a retry
    std::exception_ptr failure;  // the first transfer that failed; empty when none did
};

// Sends or fetches `transfers` over the command's own session `first` (logged in, on the
// calling thread, with its pump) and up to `extra` further sessions, each on a worker thread
// with its own client logged in like the first (the same server, account and protection; a
// certificate only as the first session's was accepted, never asked about again) and changed
// into `folder` unless it is empty. Each transfer goes to exactly one session, in the order
// given.
//
// `confirmed` runs on the calling thread for each transfer the server confirmed (for an upload,
// with the MD5 of the bytes sent), as the confirmations arrive; nothing else is recorded. A
// session whose transfer fails takes no more; the others carry on (or, with
// `stopAtFirstFailure`, are stopped), and the first failure is in the outcome. An exception
// from the first session's pump (a Cancel) or from `confirmed` stops every session and is
// thrown once they have all ended, after what they had confirmed by then was passed on.
//
// Progress goes to `report` (item k of n started, named, with its own size) and to the first
// client's Progress (the bytes the last transfer announced has moved, whichever session moves
// it), so that what is shown reads as for one session.
//
// A transfer that fails for a passing reason is tried again up to `retries` times over its
// session logged in again (RetryingTransfer); each retry is reported as Stage::Retrying.
PoolOutcome transferOverSessions(
    RemoteClient& first, int extra, const QString& folder, const QList<Transfer>& transfers,
    TransferDirection direction, bool stopAtFirstFailure, const ProgressFn& report, Stage stage,
    const std::function<void(qsizetype index, const QString& digest)>& confirmed, int retries);

// How many sessions a command on the open site asks for (its account's, within bounds).
int sessionsWanted(const FtpAccount& account);
// After a run that found the server taking fewer sessions than `asked`: the site asks for no
// more than it took from now on. Returns that number, or 0 when nothing changed.
int rememberSessions(PublishJob& job, const PoolOutcome& outcome, int asked);
// What the command's closing message says of a lowered number of sessions.
QString fewerSessionsText(int sessions);

// The session settings an extra session copies from the command's own, open one.
void copySessionSettings(const FtpClient& from, FtpClient& to);

}  // namespace zor::publish
