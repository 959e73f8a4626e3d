#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "publish/FtpError.h"

// What every publishing command asks of a connection to the server, whichever protocol carries
// it (FTP, with or without TLS, or SFTP over SSH).
namespace zor::publish {

// A bound several downloads share, whichever sessions move them: the bytes they may bring
// together.
class SharedDownloadBound {
public:
    explicit SharedDownloadBound(qint64 maxBytes) : max_(maxBytes) {}
    // Counts bytes that arrived; false once all downloads together have passed the bound.
    bool take(qint64 bytes) { return (taken_ += bytes) <= max_; }
    qint64 maxBytes() const { return max_; }

private:
    const qint64 max_;
    std::atomic<qint64> taken_{0};
};

// Bounds on what one download may bring; a server that sends more is cut off with an FtpError
// before memory or the disk fill up. Negative: no bound.
struct DownloadLimit {
    qint64 maxBytes = -1;
    qint64 maxLines = -1;  // lines as the site's text files count them (CR LF, LF or CR)
    std::shared_ptr<SharedDownloadBound> shared = nullptr;  // with other downloads, when set
};

// Every operation blocks the calling (UI) thread until done; while it waits or moves data it
// runs Pump, so the window stays alive and the user can cancel. Failures throw FtpError (local
// files: FileError). After a refused command the session stays open; after anything that
// leaves the connection in doubt (a time-out, a broken connection, an exception from Pump or
// Progress) it is dropped, IsConnected() is then false and the next command logs in again.
class RemoteClient {
public:
    virtual ~RemoteClient() = default;
    RemoteClient(const RemoteClient&) = delete;
    RemoteClient& operator=(const RemoteClient&) = delete;

    // A name or address, or "name:port" (then Port is not used).
    QString Host;
    int Port = 21;
    QString Username;
    QString Password;

    // No single wait may last longer than this without the server moving a byte; a transfer
    // must move at least 1 KiB in this time. Time spent inside Pump does not count.
    std::chrono::milliseconds Timeout{std::chrono::seconds(30)};

    // Runs at most every 20 ms while the client waits and between chunks of a transfer. It may
    // process window events; it may throw (Cancelled when the user pressed Cancel) to abort
    // the operation, which drops the session. It must not throw from inside event processing:
    // set a flag there and throw after processing returns.
    std::function<void()> Pump;

    // Bytes moved so far by the running UploadFile or DownloadFile, after every chunk.
    std::function<void(qint64 bytes)> Progress;

    // Runs when OpenSession has logged in.
    std::function<void()> SessionOpened;

    // The server's identity (an FTP server's certificate, an SSH server's host key) is taken
    // without a question when its SHA-256 fingerprint is this one.
    QString TrustedFingerprint;

    // Connects, checks who answers, logs in. "Already connected." when a session is open. A
    // failure leaves it closed.
    virtual void OpenSession() = 0;
    // Whether the open session logged in with the Host, Port, Username and Password set now.
    virtual bool SessionMatchesAccount() const = 0;
    virtual void ChangeFolder(const QString& path) = 0;
    // Appends one line per entry of the current folder, in the Unix "ls -l" form; bounded in
    // lines and bytes.
    virtual void ListFolder(QStringList& lines) = 0;
    virtual void MakeFolder(const QString& path) = 0;
    virtual void DeleteRemoteFile(const QString& path) = 0;
    virtual void RenameRemote(const QString& oldPath, const QString& newPath) = 0;
    // Sends the local file's bytes unchanged; only a transfer the server confirmed whole
    // returns. With `sentDigest`, the MD5 of exactly the bytes that make the file there. With
    // `from` > 0 it continues a file the server holds that many bytes of.
    virtual void UploadFile(const QString& localPath, const QString& remotePath,
                            QString* sentDigest = nullptr, qint64 from = 0) = 0;
    // Writes the remote file into a new local file; "Destination file already exists." when
    // it exists. With `from` > 0 the local file exists, is cut to `from` bytes and continued.
    virtual void DownloadFile(const QString& remotePath, const QString& localPath,
                              DownloadLimit limit = {}, qint64 from = 0) = 0;
    // The file the upload after the running (or next) one will send, `remotePath` as UploadFile
    // will be given it; empty: none. A client may open it while the one before finishes, so
    // that it costs no round trip of its own. Until that upload nothing the server holds
    // changes, but that a file that was not there may appear, empty.
    virtual void ExpectUpload(const QString& remotePath) { (void)remotePath; }
    // Whether ExpectUpload gets anything ready.
    virtual bool PreparesUploads() const { return false; }
    // Closes what ExpectUpload got ready and no upload took: a file that appeared for it is
    // removed before this returns, so that another session may then send it. Failures drop the
    // session and are not reported.
    virtual void ForgetExpectedUpload() {}
    // The size of a remote file; -1 when the server has no such file or does not tell.
    virtual qint64 RemoteSize(const QString& path) = 0;
    // Whether the server continues a transfer where it broke off.
    virtual bool CanResume() = 0;
    // Ends the session politely.
    virtual void CloseSession() = 0;
    // Closes without a word to the server.
    virtual void DropConnection() = 0;
    virtual bool IsConnected() = 0;
    // The fingerprint of the identity the open session accepted.
    virtual const QString& AcceptedFingerprint() const = 0;
    // Whether the open session is protected (FTP over TLS; SSH always is).
    virtual bool IsEncrypted() const = 0;
    // Whether the open session is plain because the server refused to protect it.
    virtual bool TlsRefused() const { return false; }

    // A new client of the same kind, set up to open a further session like this open one: the
    // same server and account, never less protected, its identity taken as this one's was,
    // with nobody asked anything.
    virtual std::unique_ptr<RemoteClient> FurtherSession() const = 0;

    static constexpr qint64 MaxListingBytes = 64 * 1024 * 1024;
    static constexpr qint64 MaxListingLines = 200000;

protected:
    RemoteClient() = default;
};

}  // namespace zor::publish
