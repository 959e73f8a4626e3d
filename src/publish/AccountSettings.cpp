#include "publish/AccountSettings.h"

#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/PublishSession.h"
#include "publish/RemoteBrowser.h"
#include "site/SiteOpening.h"

namespace zor::publish {
namespace {

QString shifted(const QString& text, int delta) {
    QByteArray bytes = textfile::toCp1251(text);
    for (char& c : bytes) {
        c = static_cast<char>((static_cast<unsigned char>(c) + delta + 256) % 256);
    }
    return textfile::fromCp1251(bytes);
}

QString ftpKey(const QString& siteName) {
    return siteKeyPath(siteName, QStringLiteral("ftp"));
}

const QString EncryptionName = QStringLiteral("tls");
const QString CertificateName = QStringLiteral("tlscert");
const QString SessionsName = QStringLiteral("sessions");
const QString TlsSeenName = QStringLiteral("tlsseen");
const QString PlainAcceptedName = QStringLiteral("plainok");

}  // namespace

QString scramblePassword(const QString& password) {
    return shifted(password, PasswordShift);
}
QString unscramblePassword(const QString& scrambled) {
    return shifted(scrambled, -PasswordShift);
}

StoredAccount loadFtpAccount(SettingsStore& store, const QString& siteName) {
    SettingsKey key(store, ftpKey(siteName));
    StoredAccount a;
    a.host = key.read(QStringLiteral("host"));
    a.userName = key.read(QStringLiteral("username"));
    a.remoteFolder = key.read(QStringLiteral("kydkach"));
    if (auto pass = key.read(QStringLiteral("pass"))) {
        a.password = unscramblePassword(*pass);
    }
    a.encryption = key.read(EncryptionName);
    a.trustedCertificate = key.read(CertificateName);
    a.sessions = key.read(SessionsName);
    a.tlsSeen = key.read(TlsSeenName);
    a.plainAccepted = key.read(PlainAcceptedName);
    return a;
}

QString encryptionValue(FtpEncryption encryption) {
    switch (encryption) {
        case FtpEncryption::Required:
            return QStringLiteral("require");
        case FtpEncryption::Off:
            return QStringLiteral("off");
        case FtpEncryption::IfAvailable:
            break;
    }
    return QStringLiteral("auto");
}

FtpEncryption encryptionFromValue(const std::optional<QString>& value) {
    if (value == QStringLiteral("require")) {
        return FtpEncryption::Required;
    }
    if (value == QStringLiteral("off")) {
        return FtpEncryption::Off;
    }
    return FtpEncryption::IfAvailable;
}

void storeEncryption(SettingsStore& store, const QString& siteName, FtpEncryption encryption) {
    SettingsKey(store, ftpKey(siteName)).write(EncryptionName, encryptionValue(encryption));
}

int sessionsFromValue(const std::optional<QString>& value) {
    bool ok = false;
    const int n = value ? value->toInt(&ok) : 0;
    return ok && n >= 1 && n <= MaxSessions ? n : DefaultSessions;
}

void storeSessions(SettingsStore& store, const QString& siteName, int sessions) {
    SettingsKey(store, ftpKey(siteName)).write(SessionsName, QString::number(sessions));
}

void storeTrustedCertificate(SettingsStore& store, const QString& siteName,
                             const QString& fingerprint) {
    SettingsKey(store, ftpKey(siteName)).write(CertificateName, fingerprint);
}

void rememberTlsSeen(SettingsStore& store, const QString& siteName, FtpAccount& account) {
    if (!account.tlsSeen && !siteName.isEmpty()) {
        SettingsKey(store, ftpKey(siteName)).write(TlsSeenName, QStringLiteral("1"));
        account.tlsSeen = true;
    }
}

void rememberPlainAccepted(SettingsStore& store, const QString& siteName, FtpAccount& account) {
    if (!account.plainAccepted && !siteName.isEmpty()) {
        SettingsKey(store, ftpKey(siteName)).write(PlainAcceptedName, QStringLiteral("1"));
        account.plainAccepted = true;
    }
}

FtpAccount rememberedAccount(SettingsStore& store, const QString& siteName) {
    const StoredAccount stored = loadFtpAccount(store, siteName);
    FtpAccount a;
    a.host = stored.host.value_or(QString());
    a.userName = stored.userName.value_or(QString());
    a.password = stored.password.value_or(QString());
    a.remoteFolder = withSingleLeadingSlash(stored.remoteFolder.value_or(QStringLiteral("/")));
    a.encryption = encryptionFromValue(stored.encryption);
    a.trustedCertificate = stored.trustedCertificate.value_or(QString());
    a.sessions = sessionsFromValue(stored.sessions);
    a.tlsSeen = stored.tlsSeen == QStringLiteral("1");
    a.plainAccepted = stored.plainAccepted == QStringLiteral("1");
    return a;
}

QStringList loadOpenSite(OpenSiteState& state, SettingsStore& store, const QString& name) {
    QStringList errors = site::loadOpenSite(state, name);
    try {
        state.ftpAccount = rememberedAccount(store, name);
    } catch (const ZorError& e) {
        state.ftpAccount = FtpAccount{};
        state.ftpAccount.remoteFolder = QStringLiteral("/");
        errors.append(e.text());
    }
    return errors;
}

void storeFtpAccount(SettingsStore& store, const QString& siteName, const FtpAccount& account) {
    // Scrambling works on the bytes of Windows-1251: anything else would be stored changed.
    checkFieldText(account.password, QStringLiteral("Пароль"), true);
    SettingsKey key(store, ftpKey(siteName));
    key.write(QStringLiteral("host"), account.host);
    key.write(QStringLiteral("username"), account.userName);
    key.write(QStringLiteral("kydkach"), account.remoteFolder);
    key.write(QStringLiteral("pass"), scramblePassword(account.password));
    key.write(EncryptionName, encryptionValue(account.encryption));
    key.write(SessionsName, QString::number(account.sessions));
}

void forgetFtpAccount(SettingsStore& store, const QString& siteName) {
    SettingsKey key(store, ftpKey(siteName));
    key.write(QStringLiteral("host"), QString());
    key.write(QStringLiteral("username"), QString());
    key.write(QStringLiteral("pass"), QString());
}

}  // namespace zor::publish
