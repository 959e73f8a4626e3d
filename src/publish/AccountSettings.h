#pragma once

#include <QString>
#include <optional>

#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

// The FTP account as remembered per site under the "\ftp" key: "host", "username", "kydkach"
// (the remote folder) and "pass" (the password, scrambled).
namespace zor::publish {

// Added to every byte of the password (in the site's 8-bit code page) when it is stored.
inline constexpr unsigned char PasswordShift = 0x2D;

QString scramblePassword(const QString& password);
QString unscramblePassword(const QString& scrambled);

// The stored values; a value that is absent stays empty here and is not applied.
struct StoredAccount {
    std::optional<QString> host, userName, remoteFolder, password;  // password unscrambled
};

StoredAccount loadFtpAccount(SettingsStore& store, const QString& siteName);
// Writes all four values (the password scrambled). Refuses, writing nothing, a password that
// Windows-1251 cannot hold.
void storeFtpAccount(SettingsStore& store, const QString& siteName, const FtpAccount& account);
// Forgets host, user name and password; the remote folder stays.
void forgetFtpAccount(SettingsStore& store, const QString& siteName);

}  // namespace zor::publish
