#pragma once

#include <QString>
#include <chrono>
#include <functional>

#include "platform/Errors.h"

// Moving a file over a link that drops now and then: a transfer that fails for a reason that
// passes (a connection lost or timed out, a server busy for a moment) is tried again over a
// session logged in again, a broken large file continued where it stopped, and nothing is taken
// for done that the server did not confirm whole.
namespace zor::publish {

class RemoteClient;
struct Transfer;

inline constexpr int DefaultRetries = 3;
// Files above this go to a temporary name beside their own and are renamed into place once
// whole, so that visitors never get half of one; smaller ones go in one write.
inline constexpr qint64 TemporaryNameAbove = 64 * 1024;
// A broken transfer of at least this much continues where it stopped, where the server can.
inline constexpr qint64 ResumeFrom = 1024 * 1024;
inline const QString PartSuffix = QStringLiteral(".zorod-part");

// Whether a failure may pass when tried again: the connection was lost, reset or timed out, or
// the server answered 421, 425, 426, 450 or 451. A refusal (530, 550, 553, 452, 552, a
// certificate nobody trusts) and any local failure are not.
bool transient(const ZorError& error);

// The wait before retry number `attempt` (from 1): 1 s, 2 s, 4 s, then 4 s again.
std::chrono::milliseconds retryWait(int attempt);

// What a command's closing message says of the files it had to try again.
QString retriedFilesText(int files);

// One session's transfers with retries. Built on an open session; a retry logs in again as it
// did (the same account and protection, its certificate taken as accepted) and changes into
// `folder` unless it is empty.
class RetryingTransfer {
public:
    // Runs before each wait: retry `attempt` of `of`, for the file `name`.
    using RetryFn = std::function<void(int attempt, int of, const QString& name)>;

    RetryingTransfer(RemoteClient& ftp, QString folder, int retries, RetryFn onRetry);

    // Sends the file, over a temporary name when it is large; returns the digest of the bytes
    // that make the file on the server. Throws the last failure, naming the tries it took.
    QString upload(const Transfer& t);
    // Tells the session which upload follows the next one (none: nullptr), so that it can get
    // it ready meanwhile.
    void expect(const Transfer* next);
    // What the session got ready for an upload that will not follow is undone.
    void forgetExpected();
    // Fetches the file into t.localPath, which must not exist yet.
    void download(const Transfer& t);

    // Whether the last file needed a retry.
    bool retried() const { return retried_; }

private:
    void reopen();
    // Called with the failure of try `attempt` (from 0); returns when the next try may start,
    // or rethrows.
    void afterFailure(int attempt, const QString& name);
    void rename(const QString& from, const QString& to);

    RemoteClient& ftp_;
    QString folder_;
    int retries_;
    RetryFn onRetry_;
    bool encrypted_ = false;
    QString fingerprint_;
    bool retried_ = false;
};

}  // namespace zor::publish
