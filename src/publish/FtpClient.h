#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>

#include "publish/FtpEncryption.h"
#include "publish/FtpError.h"
#include "publish/FtpProtocol.h"
#include "publish/RemoteClient.h"
#include "publish/TcpConnection.h"

namespace zor::publish {

class Md5;

// The publishing commands' FTP client: one control connection, passive data connections, binary
// transfers, optionally all of it over TLS ("AUTH TLS", then every data connection resuming the
// control connection's TLS session). Every operation blocks the calling (UI) thread until done;
// while it waits or moves data it runs Pump, so the window stays alive and the user can cancel.
//
// Failures throw FtpError (local files: FileError). After a refused command the session stays
// open and usable. After anything that leaves a reply owed by the server (a time-out, a broken
// connection, an exception from Pump or Progress) the control connection is dropped, since the
// next command would read a stale answer: IsConnected() is then false and the next command logs
// in again.
class FtpClient : public RemoteClient {
public:
    FtpClient();
    ~FtpClient() override;

    // Runs when OpenSession has logged in over TLS, before SessionOpened.
    std::function<void()> SecuredLogin;

    // A small file on a plain data connection goes out as soon as the connection is made,
    // without waiting for the server's start reply, which is read afterwards: the same
    // commands and replies in the same order, one round trip fewer per file. Off: the first
    // byte waits for the start reply.
    bool SendBeforeStartReply = true;
    static constexpr qint64 MaxSentBeforeStartReply = 64 * 1024;

    // How the server orders its work, as far as known: taken as given, and filled in by what
    // a session sees (Habits.host is then Host). HabitsLearned runs when something new was
    // seen, so the caller can keep it for the site.
    ServerHabits Habits;
    std::function<void()> HabitsLearned;
    // With a server that reads one command at a time, the PASV for the next file goes out
    // while a file's end reply is still on its way, a round trip fewer per file.
    bool PassiveAhead = true;
    // Takes in what another session to the same server learned of it.
    void AdoptHabits(const ServerHabits& seen);
    // How long the first transfer of a server whose ways are unknown waits to see whether a
    // command sent during a transfer is answered at once.
    static constexpr std::chrono::milliseconds HabitProbeWait{1000};

    FtpEncryption Encryption = FtpEncryption::Off;
    // The server has spoken TLS with this site before (a login over TLS, a certificate the user
    // trusted): with IfAvailable, a refusal of "AUTH TLS" is then no reason to go on without it
    // but a sign that someone on the way is trying to read the password, and fails as with
    // Required.
    bool TlsKnown = false;
    // With IfAvailable, asked when the server refuses TLS, before the user name goes out; false
    // ends the login there. Without it the login goes on in the clear.
    std::function<bool()> AskPlainLogin;
    // TrustedFingerprint: a certificate the system's trusted certificates do not vouch for (or
    // that names another host) is taken without a question when its SHA-256 fingerprint is it.
    // Asked about any other such certificate, before anything more goes to the server; "Always"
    // also makes it TrustedFingerprint. Without it such a certificate is refused.
    CertificateQuestion AskTrust;

    // Connects, reads the greeting, secures the connection as Encryption says ("AUTH TLS" and
    // the certificate check), logs in (PASS only when USER was answered 331), with TLS then
    // "PBSZ 0" and "PROT P", then TYPE I and SYST. "Already connected." when a session is open.
    // A failure leaves it closed.
    void OpenSession() override;
    // Whether the open session logged in with the Host, Port, Username and Password set now.
    bool SessionMatchesAccount() const override;
    void ChangeFolder(const QString& path) override;
    // Appends the lines of the LIST answer for the current folder; an answer of more than
    // MaxListingBytes or MaxListingLines is cut off with an error.
    void ListFolder(QStringList& lines) override;
    void MakeFolder(const QString& path) override;
    void DeleteRemoteFile(const QString& path) override;
    void RenameRemote(const QString& oldPath, const QString& newPath) override;
    // Sends the local file's bytes unchanged. A data connection that breaks before every byte
    // went out is an error, whatever the server replies, and so is any end reply but 226 or 250.
    // With `sentDigest`, the MD5 of exactly the bytes that went out is written there (the file
    // may change while it is read).
    //
    // With `from` > 0 the transfer continues a file the server already holds that many bytes of
    // ("REST from", then STOR): the bytes before it are read but not sent, and the digest still
    // covers the whole file.
    void UploadFile(const QString& localPath, const QString& remotePath,
                    QString* sentDigest = nullptr, qint64 from = 0) override;
    // Writes the remote file into a new local file, created (empty) before the transfer; fails
    // with "Destination file already exists." when the local file exists. Over TLS a data
    // connection that ends without the close notice counts only when SIZE gives what arrived.
    //
    // With `from` > 0 the local file exists, is cut to `from` bytes and the transfer continues it
    // ("REST from", then RETR).
    void DownloadFile(const QString& remotePath, const QString& localPath, DownloadLimit limit = {},
                      qint64 from = 0) override;
    // The size of a remote file as SIZE gives it; -1 when the server has no such file or does
    // not tell.
    qint64 RemoteSize(const QString& path) override;
    // Whether the server continues a transfer where it broke off (REST STREAM): FEAT says so, or
    // a "REST 0" is taken. Asked once a session.
    bool CanResume() override;
    // Sends QUIT without waiting for its answer and closes.
    void CloseSession() override;
    // Closes without a word to the server.
    void DropConnection() override;
    // Whether the control connection is open; a connection the server has closed in the
    // meantime is closed here and counts as not open.
    bool IsConnected() override;
    // The fingerprint of the certificate the open session accepted; empty without TLS.
    const QString& AcceptedFingerprint() const override { return acceptedFingerprint_; }
    // Whether the open session runs over TLS.
    bool IsEncrypted() const override { return control_.isOpen() && control_.tls(); }
    // Whether the open session is plain because the server refused "AUTH TLS".
    bool TlsRefused() const override { return control_.isOpen() && tlsRefused_; }

    // A client set up as a further session of this one (defined beside the session pool).
    std::unique_ptr<RemoteClient> FurtherSession() const override;

    // The last reply the server sent.
    const FtpReply& LastReply() const { return lastReply_; }

private:
    template <typename Operation>
    void run(Operation&& operation);
    void send(const QByteArray& line, Pacer& pacer);
    std::optional<FtpReply> bufferedReply();
    FtpReply readReply(Pacer& pacer);
    FtpReply expect(FtpReply reply, std::initializer_list<int> accepted) const;
    FtpReply command(const QString& text, std::initializer_list<int> accepted, Pacer& pacer);
    bool secureControl(Pacer& pacer);
    void checkCertificate();
    quint16 enterPassive(Pacer& pacer);
    quint16 passivePort(const FtpReply& reply) const;
    void openData(quint16 port, Pacer& pacer);
    FtpReply startReply(std::initializer_list<int> accepted, Pacer& pacer);
    // A reply that has arrived, without waiting for one.
    std::optional<FtpReply> replyArrived();
    // A reply, if one comes within `wait`.
    std::optional<FtpReply> replyWithin(std::chrono::milliseconds wait);
    static constexpr std::chrono::milliseconds MaxStartWait{2000};
    // A listing or a download; false when the data connection ended without its TLS close
    // notice.
    bool receiveData(const QByteArray& line, qint64 from, Pacer& pacer,
                     const std::function<void(QByteArrayView)>& sink, const QString& failure);
    QString cutListingText() const;
    // Reads the transfer's end reply: only 226 and 250 confirm it. Any other is thrown, led by
    // `failure`, in the server's words.
    void finishTransfer(Pacer& pacer, const QString& failure);
    void closeControl();

    TcpConnection control_{TcpConnection::Role::Control};
    TcpConnection data_{TcpConnection::Role::Data};
    QByteArray received_;  // control connection bytes not yet taken as a reply
    FtpReply lastReply_;
    std::unique_ptr<TlsContext> tls_;  // made when first needed
    QString acceptedFingerprint_;      // of the open session's certificate
    bool tlsRefused_ = false;
    std::optional<bool> canResume_;  // of the open session, once asked
    // Sends the data connection's handshake without waiting for the start reply.
    bool handshakeAtOnce() const;
    void learn(const std::function<void(ServerHabits&)>& change);
    // Reads the answer to a PASV sent ahead, when there is one: its port, or nothing.
    std::optional<quint16> passiveSentAhead(Pacer& pacer);
    // Sends a NOOP during a transfer and sees whether the answer comes before the transfer ends.
    void probeHabits(Pacer& pacer);
    bool passiveAhead_ = false;  // a PASV went out whose answer is still to be read
    std::chrono::steady_clock::time_point passiveAheadAt_{};  // when it went
    static constexpr std::chrono::seconds MaxPassiveAheadAge{10};
    bool noopOwed_ = false;  // a NOOP of the habit probe awaits its answer
    struct Login {
        QString host, user, password;
        int port = 0;
        FtpEncryption encryption = FtpEncryption::Off;
    } login_;                 // what the open session logged in with
    bool replyOwed_ = false;  // a command or a preliminary reply still awaits the final reply
    bool busy_ = false;       // an operation runs (and the pump may be trying to start another)
    std::unique_ptr<Md5> sentMd5_;  // made once: setting up a digest costs more than a small file
};

}  // namespace zor::publish
