#pragma once

#include <QString>
#include <optional>

#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

// The FTP account as remembered per site under the "\ftp" key: "host", "username", "kydkach"
// (the remote folder) and "pass" (the password, scrambled); beside them, kept whether or not the
// account is remembered, "tls" (the connection's protection), "tlscert" (the fingerprint of
// a certificate the user trusted for the site), "tlsseen" ("1" once a login over TLS worked),
// "plainok" ("1" once the user let the password go in the clear to a server without TLS) and
// "sessions" (how many at once).
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
    std::optional<QString> encryption, trustedCertificate, sessions, tlsSeen, plainAccepted;
};

// "tls": "auto" (TLS when the server offers it; also any other or no stored text, so a site
// never loses its protection to a stray value), "require" or "off".
QString encryptionValue(FtpEncryption encryption);
FtpEncryption encryptionFromValue(const std::optional<QString>& value);

StoredAccount loadFtpAccount(SettingsStore& store, const QString& siteName);
// The account a site opens with: what is stored, empty where nothing is, and the remote folder
// "/" unless one is stored (any run of leading slashes shortened to one, as the folder field
// does).
FtpAccount rememberedAccount(SettingsStore& store, const QString& siteName);
// Opening a site as the window and the tool do: the site's own steps (site::loadOpenSite), then
// its account as remembered; an account that cannot be read leaves an empty one with the folder
// "/", and its error after the others.
QStringList loadOpenSite(OpenSiteState& state, SettingsStore& store, const QString& name);
// Writes all four values (the password scrambled). Refuses, writing nothing, a password that
// Windows-1251 cannot hold.
void storeFtpAccount(SettingsStore& store, const QString& siteName, const FtpAccount& account);
// Forgets host, user name and password; the remote folder, the protection and the trusted
// certificate stay.
void forgetFtpAccount(SettingsStore& store, const QString& siteName);
void storeEncryption(SettingsStore& store, const QString& siteName, FtpEncryption encryption);
void storeSessions(SettingsStore& store, const QString& siteName, int sessions);
void storeTrustedCertificate(SettingsStore& store, const QString& siteName,
                             const QString& fingerprint);
// A login over TLS worked for the site; stored once.
void rememberTlsSeen(SettingsStore& store, const QString& siteName, FtpAccount& account);
void rememberPlainAccepted(SettingsStore& store, const QString& siteName, FtpAccount& account);

}  // namespace zor::publish
