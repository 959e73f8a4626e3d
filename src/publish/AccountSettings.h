#pragma once

#include <QString>
#include <optional>

#include "platform/Keyring.h"
#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

// The FTP account as remembered per site under the "\ftp" key: "host", "username", "kydkach"
// (the remote folder) and "pass" (the password, scrambled); beside them, kept whether or not the
// account is remembered, "tls" (the connection's protection), "tlscert" (the fingerprint of
// a certificate the user trusted for the site), "tlsseen" ("1" once a login over TLS worked),
// "plainok" ("1" once the user let the password go in the clear to a server without TLS),
// "habits" (how the server orders its work), "sessions" (how many at once), "protocol" and
// "sshkey".
//
// Where a keyring is at hand the password is kept there instead of "pass", under the site's
// name, "ftp", the host and port and the user name; "pass" is then absent. Without a keyring,
// and for a site whose password a copy without one remembered, it is "pass" as before.
namespace zor::publish {

// Added to every byte of the password (in the site's 8-bit code page) when it is stored.
inline constexpr unsigned char PasswordShift = 0x2D;

QString scramblePassword(const QString& password);
QString unscramblePassword(const QString& scrambled);

// Sessions a command may use at once: "sessions" under the "\ftp" key, 1 to MaxSessions; no
// value or any other text counts as DefaultSessions.
inline constexpr int DefaultSessions = 3;
inline constexpr int MaxSessions = 4;
int sessionsFromValue(const std::optional<QString>& value);

// The stored values; a value that is absent stays empty here and is not applied.
struct StoredAccount {
    std::optional<QString> host, userName, remoteFolder, password;  // password unscrambled
    std::optional<QString> encryption, trustedCertificate, sessions, tlsSeen, plainAccepted, habits;
    std::optional<QString> protocol, keyFile;
};

// "tls": "auto" (TLS when the server offers it; also any other or no stored text, so a site
// never loses its protection to a stray value), "require" or "off".
QString encryptionValue(FtpEncryption encryption);
FtpEncryption encryptionFromValue(const std::optional<QString>& value);

// "protocol": "sftp", or "ftp" (also any other or no stored text); "sshkey": the site's key file.
QString protocolValue(RemoteProtocol protocol);
RemoteProtocol protocolFromValue(const std::optional<QString>& value);
void storeProtocol(SettingsStore& store, const QString& siteName, RemoteProtocol protocol,
                   const QString& keyFile);

// The keyring entry of a site's password: attributes "site", "protocol" ("ftp" or "sftp"),
// "host" and "port" (from the host field, 21 or 22 unless it names one) and "user"; labelled
// "ZOR OD: <user>@<host>".
KeyringAttributes passwordAttributes(const QString& siteName, const FtpAccount& account);
QString passwordLabel(const FtpAccount& account);
// The keyring entry of the passphrase of a site's SSH key: "site", "protocol" ("sshkey") and
// "key" (the key file). Forgetting the site's account removes it with the password.
KeyringAttributes passphraseAttributes(const QString& siteName, const QString& keyFile);

// The values as the settings hold them.
StoredAccount loadFtpAccount(SettingsStore& store, const QString& siteName);
// The account a site opens with: what is stored, empty where nothing is, and the remote folder
// "/" unless one is stored (any run of leading slashes shortened to one, as the folder field
// does). The password is the keyring's when the settings hold none. One they do hold moves
// into the keyring, and leaves the settings once the keyring has confirmed it. A keyring that
// stays locked or does not answer gives no password, and nothing is written.
FtpAccount rememberedAccount(SettingsStore& store, Keyring& keyring, const QString& siteName);
// Opening a site as the window and the tool do: the site's own steps (site::loadOpenSite), then
// its account as remembered; an account that cannot be read leaves an empty one with the folder
// "/", and its error after the others.
QStringList loadOpenSite(OpenSiteState& state, SettingsStore& store, Keyring& keyring,
                         const QString& name);

// "Запомнить данные": host, user name and remote folder into the settings, the password into
// the keyring, and "pass" removed once the keyring has it. An empty password leaves the keyring
// as it is. Without a keyring, as storeFtpAccount below. Returns whether the password went into
// the keyring. Throws ZorError, after writing the rest, when the keyring is there but did not
// take the password.
bool storeFtpAccount(SettingsStore& store, Keyring& keyring, const QString& siteName,
                     const FtpAccount& account);
// The same without a keyring: all four values (the password scrambled). Refuses, writing
// nothing, a password that Windows-1251 cannot hold.
void storeFtpAccount(SettingsStore& store, const QString& siteName, const FtpAccount& account);
// Forgets host, user name and password: the site's passwords leave the keyring too. The remote
// folder, the protection and the trusted certificate stay. Throws ZorError, after the settings
// are written, when the keyring is there but did not remove them.
void forgetFtpAccount(SettingsStore& store, Keyring& keyring, const QString& siteName);
// The same without a keyring: "host", "username" and "pass" set empty.
void forgetFtpAccount(SettingsStore& store, const QString& siteName);
void storeEncryption(SettingsStore& store, const QString& siteName, FtpEncryption encryption);
void storeSessions(SettingsStore& store, const QString& siteName, int sessions);
void storeTrustedCertificate(SettingsStore& store, const QString& siteName,
                             const QString& fingerprint);
// A login over TLS worked for the site; stored once.
void rememberTlsSeen(SettingsStore& store, const QString& siteName, FtpAccount& account);
void rememberPlainAccepted(SettingsStore& store, const QString& siteName, FtpAccount& account);
// "habits": the host, then "sequential" or "concurrent" once known, and "tlsfirst" when the
// server answers a data command only after the data connection's handshake.
QString habitsValue(const ServerHabits& habits);
ServerHabits habitsFromValue(const std::optional<QString>& value);
// Stores what a session learned of the server, when it is news.
void rememberHabits(SettingsStore& store, const QString& siteName, FtpAccount& account,
                    const ServerHabits& habits);

}  // namespace zor::publish
