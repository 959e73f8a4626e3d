#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "publish/FtpEncryption.h"
#include "publish/RemoteClient.h"

// Publishing over SSH: the SFTP client, on libssh for the SSH transport and its own SFTP
// (version 3) requests over the channel, so that many of them can be on the way at once.
namespace zor::publish {

// What the user is shown of an SSH server's host key before trusting it.
struct ServerHostKey {
    QString host;         // as the user named it, with ":port" unless 22
    QString type;         // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa"…
    QString fingerprint;  // as `ssh-keygen -l` prints it: "SHA256:…"
    // The key known for this server, when the server now shows another one; empty otherwise.
    QString knownFingerprint;
    // Where the known key is kept: the program's own file (which the user may clear) or the
    // user's ~/.ssh/known_hosts (which the program never writes).
    bool knownInOwnFile = false;
};

// Asked about a key that neither ~/.ssh/known_hosts nor the program's own file knows, before
// anything else goes to the server. "Always" keeps it in the program's own file.
using HostKeyQuestion = std::function<CertificateTrust(const ServerHostKey&)>;

// The server's host key is not the one known for it: refused, with both fingerprints named.
class ChangedHostKey : public FtpError {
public:
    explicit ChangedHostKey(ServerHostKey key);
    const ServerHostKey& key() const { return key_; }

private:
    ServerHostKey key_;
};

// An unknown host key nobody trusted: the connection ended before the password went out.
class UntrustedHostKey : public FtpError {
public:
    explicit UntrustedHostKey(ServerHostKey key);
    const ServerHostKey& key() const { return key_; }

private:
    ServerHostKey key_;
};

// The program's own known-hosts file, beside its settings.
QString ownKnownHostsFile();

// Removes what the program's own known-hosts file keeps for `host` ("name" or "name:port");
// whether there was anything.
bool forgetHostKey(const QString& knownHostsFile, const QString& host);

class SftpClient : public RemoteClient {
public:
    SftpClient();
    ~SftpClient() override;

    // The user's SSH folder (~/.ssh): its known_hosts is trusted, its keys are tried.
    QString UserSshFolder;
    // The program's own known-hosts file: keys trusted "always" go there. Empty: none kept.
    QString KnownHostsFile;
    HostKeyQuestion AskHostKey;
    // A private key file of the site, tried first; its passphrase is asked for when it has one
    // (nullopt: the user gave none, and the key is skipped).
    QString KeyFile;
    std::function<std::optional<QString>(const QString& keyFile)> AskPassphrase;
    // The passphrase given for KeyFile, kept for the sessions of this run only.
    std::optional<QString> KeyPassphrase;
    // Keyboard-interactive prompts are answered with Password.

    // Write requests of one file on the way at once, each of ChunkSize bytes.
    int WritesInFlight = 128;
    static constexpr qint64 ChunkSize = 32 * 1024;

    void OpenSession() override;
    bool SessionMatchesAccount() const override;
    void ChangeFolder(const QString& path) override;
    void ListFolder(QStringList& lines) override;
    void MakeFolder(const QString& path) override;
    void DeleteRemoteFile(const QString& path) override;
    void RenameRemote(const QString& oldPath, const QString& newPath) override;
    void UploadFile(const QString& localPath, const QString& remotePath,
                    QString* sentDigest = nullptr, qint64 from = 0) override;
    void DownloadFile(const QString& remotePath, const QString& localPath, DownloadLimit limit = {},
                      qint64 from = 0) override;
    // The expected file is opened behind the close of the one before, without truncating it:
    // what it held is cut only as the new bytes replace it.
    void ExpectUpload(const QString& remotePath) override;
    void ForgetExpectedUpload() override;
    bool PreparesUploads() const override { return true; }
    qint64 RemoteSize(const QString& path) override;
    bool CanResume() override { return true; }
    void CloseSession() override;
    void DropConnection() override;
    bool IsConnected() override;
    const QString& AcceptedFingerprint() const override;
    bool IsEncrypted() const override;
    std::unique_ptr<RemoteClient> FurtherSession() const override;

    // The default for UserSshFolder: ~/.ssh.
    static QString userSshFolder();

    struct Session;  // the open connection

private:
    std::unique_ptr<Session> session_;
    QString expected_;  // as ExpectUpload was given it, until opened
    QString acceptedFingerprint_;
    struct Login {
        QString host, user, password, keyFile;
        int port = 0;
    } login_;
};

// The Russian text of an SFTP status code, as the user reads it.
QString sftpStatusText(quint32 code);

}  // namespace zor::publish
