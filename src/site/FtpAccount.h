#pragma once

#include <QString>
#include <optional>

// The FTP account a site publishes to, as the site keeps it. Publishing works with it; the site
// only holds it, and knows nothing of how a session uses it.
namespace zor {

// How a site's FTP connection is protected (explicit TLS: "AUTH TLS" after the greeting).
enum class FtpEncryption {
    IfAvailable,  // TLS when the server offers it, else the plain exchange, said so in progress
    Required,     // TLS or nothing
    Off,          // the plain exchange only
};

// What carries the site's publishing: FTP (RFC 959, optionally with TLS) or SFTP over SSH.
enum class RemoteProtocol { Ftp, Sftp };

// How a site's server orders its work, learned once per site so that later sessions need not
// find out again, and forgotten when the host changes.
struct ServerHabits {
    QString host;  // the server they were learned of
    // The server answers a data command (150) only after the data connection's TLS handshake.
    bool startAfterHandshake = false;
    // The server reads a further command only once a transfer has ended, as most do; unknown
    // until seen. Such a server takes the next command during a transfer without harm, and a
    // data connection's handshake before its start reply.
    std::optional<bool> oneCommandAtATime;
    bool operator==(const ServerHabits&) const = default;
};

// The FTP account of the open site, following the upload screen's fields.
struct FtpAccount {
    QString host;
    QString userName;
    QString password;      // plain text in memory; scrambled only in the settings store
    QString remoteFolder;  // RemoteFolder
    FtpEncryption encryption = FtpEncryption::IfAvailable;  // FTP only: SSH always encrypts
    RemoteProtocol protocol = RemoteProtocol::Ftp;
    // SFTP: a private key file chosen for the site, tried before the user's agent and ~/.ssh
    // keys; empty when none. Its passphrase is asked for, never kept here.
    QString keyFile{};
    // The SHA-256 fingerprint of a certificate the user trusted for this site, though the
    // system does not vouch for it; empty when none.
    QString trustedCertificate{};
    // A login over TLS has worked for this site: from then on a server that refuses TLS is no
    // longer taken at its word (someone on the way may be after the password).
    bool tlsSeen = false;
    // The user agreed once that this site's server, which has no TLS, gets the password in
    // the clear.
    bool plainAccepted = false;
    // How many sessions an upload or a synchronisation may use at once (1 to 4).
    int sessions = 3;
    ServerHabits habits{};
};

}  // namespace zor
