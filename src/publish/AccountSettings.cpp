#include "publish/AccountSettings.h"

#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/FtpError.h"
#include "publish/FtpProtocol.h"
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
const QString HabitsName = QStringLiteral("habits");
const QString PasswordName = QStringLiteral("pass");
const QString ProtocolName = QStringLiteral("protocol");
const QString KeyFileName = QStringLiteral("sshkey");

// Why the keyring did not do as asked, to follow "…: ".
QString keyringTrouble(const KeyringResult& r) {
    switch (r.status) {
        case KeyringStatus::Locked:
            return QStringLiteral("связка ключей осталась заблокированной");
        case KeyringStatus::TimedOut:
            return QStringLiteral("связка ключей не ответила вовремя");
        case KeyringStatus::Failed:
            return r.error.isEmpty() ? QStringLiteral("ошибка связки ключей")
                                     : QStringLiteral("ошибка связки ключей (%1)").arg(r.error);
        case KeyringStatus::Done:
        case KeyringStatus::Absent:
            break;
    }
    return QString();
}

void writeAccountWithoutPassword(SettingsKey& key, const FtpAccount& account) {
    key.write(QStringLiteral("host"), account.host);
    key.write(QStringLiteral("username"), account.userName);
    key.write(QStringLiteral("kydkach"), account.remoteFolder);
    key.write(EncryptionName, encryptionValue(account.encryption));
    key.write(SessionsName, QString::number(account.sessions));
    key.write(ProtocolName, protocolValue(account.protocol));
    key.write(KeyFileName, account.keyFile);
}

// The host field's name and port; with a port no server has, the field as it is.
HostAndPort hostOf(const FtpAccount& account) {
    try {
        return parseHostField(serverAddress(account), defaultPort(account.protocol));
    } catch (const FtpError&) {
        return {account.host.trimmed(), defaultPort(account.protocol)};
    }
}

}  // namespace

KeyringAttributes passwordAttributes(const QString& siteName, const FtpAccount& account) {
    const HostAndPort address = hostOf(account);
    return {{QStringLiteral("site"), siteName},
            {QStringLiteral("protocol"), protocolValue(account.protocol)},
            {QStringLiteral("host"), address.host},
            {QStringLiteral("port"), QString::number(address.port)},
            {QStringLiteral("user"), account.userName}};
}

KeyringAttributes passphraseAttributes(const QString& siteName, const QString& keyFile) {
    return {{QStringLiteral("site"), siteName},
            {QStringLiteral("protocol"), QStringLiteral("sshkey")},
            {QStringLiteral("key"), keyFile}};
}

QString passwordLabel(const FtpAccount& account) {
    return QStringLiteral("ZOR OD: %1@%2").arg(account.userName, hostOf(account).host);
}

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
    if (auto pass = key.read(PasswordName)) {
        a.password = unscramblePassword(*pass);
    }
    a.encryption = key.read(EncryptionName);
    a.trustedCertificate = key.read(CertificateName);
    a.sessions = key.read(SessionsName);
    a.tlsSeen = key.read(TlsSeenName);
    a.plainAccepted = key.read(PlainAcceptedName);
    a.protocol = key.read(ProtocolName);
    a.keyFile = key.read(KeyFileName);
    a.habits = key.read(HabitsName);
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

QString protocolValue(RemoteProtocol protocol) {
    return protocol == RemoteProtocol::Sftp ? QStringLiteral("sftp") : QStringLiteral("ftp");
}

RemoteProtocol protocolFromValue(const std::optional<QString>& value) {
    return value == QStringLiteral("sftp") ? RemoteProtocol::Sftp : RemoteProtocol::Ftp;
}

void storeProtocol(SettingsStore& store, const QString& siteName, RemoteProtocol protocol,
                   const QString& keyFile) {
    SettingsKey key(store, ftpKey(siteName));
    key.write(ProtocolName, protocolValue(protocol));
    key.write(KeyFileName, keyFile);
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

QString habitsValue(const ServerHabits& habits) {
    QStringList words{habits.host};
    if (habits.oneCommandAtATime) {
        words.append(*habits.oneCommandAtATime ? QStringLiteral("sequential")
                                               : QStringLiteral("concurrent"));
    }
    if (habits.startAfterHandshake) {
        words.append(QStringLiteral("tlsfirst"));
    }
    return words.join(u' ');
}

ServerHabits habitsFromValue(const std::optional<QString>& value) {
    ServerHabits h;
    const QStringList words = value.value_or(QString()).split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        return h;
    }
    h.host = words.front();
    for (const QString& w : words.mid(1)) {
        if (w == u"sequential" || w == u"concurrent") {
            h.oneCommandAtATime = w == u"sequential";
        } else if (w == u"tlsfirst") {
            h.startAfterHandshake = true;
        }
    }
    return h;
}

void rememberHabits(SettingsStore& store, const QString& siteName, FtpAccount& account,
                    const ServerHabits& habits) {
    if (account.habits == habits || siteName.isEmpty() || habits.host.isEmpty()) {
        return;
    }
    SettingsKey(store, ftpKey(siteName)).write(HabitsName, habitsValue(habits));
    account.habits = habits;
}

FtpAccount rememberedAccount(SettingsStore& store, Keyring& keyring, const QString& siteName) {
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
    a.protocol = protocolFromValue(stored.protocol);
    a.keyFile = stored.keyFile.value_or(QString());
    a.habits = habitsFromValue(stored.habits);
    if (a.host.isEmpty() || a.userName.isEmpty()) {
        return a;  // no account remembered, nor a password for one
    }
    if (!a.password.isEmpty()) {
        // Remembered where no keyring was: the keyring takes it over. Should it fail, the
        // settings keep the password and the next opening tries again.
        if (keyring.store(passwordAttributes(siteName, a), passwordLabel(a), a.password).ok()) {
            SettingsKey(store, ftpKey(siteName)).erase(PasswordName);
        }
        return a;
    }
    const KeyringResult found = keyring.load(passwordAttributes(siteName, a));
    if (found.ok() && found.secret) {
        a.password = *found.secret;
    }
    return a;
}

QStringList loadOpenSite(OpenSiteState& state, SettingsStore& store, Keyring& keyring,
                         const QString& name) {
    QStringList errors = site::loadOpenSite(state, name);
    try {
        state.ftpAccount = rememberedAccount(store, keyring, name);
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
    key.write(PasswordName, scramblePassword(account.password));
    key.write(EncryptionName, encryptionValue(account.encryption));
    key.write(SessionsName, QString::number(account.sessions));
    key.write(ProtocolName, protocolValue(account.protocol));
    key.write(KeyFileName, account.keyFile);
}

bool storeFtpAccount(SettingsStore& store, Keyring& keyring, const QString& siteName,
                     const FtpAccount& account) {
    if (!keyring.present()) {
        storeFtpAccount(store, siteName, account);
        return false;
    }
    SettingsKey key(store, ftpKey(siteName));
    FtpAccount before;
    before.host = key.read(QStringLiteral("host")).value_or(QString());
    before.userName = key.read(QStringLiteral("username")).value_or(QString());
    if (account.password.isEmpty()) {
        writeAccountWithoutPassword(key, account);
        return false;
    }
    const KeyringAttributes attributes = passwordAttributes(siteName, account);
    const KeyringResult stored =
        keyring.store(attributes, passwordLabel(account), account.password);
    if (stored.status == KeyringStatus::Absent) {
        storeFtpAccount(store, siteName, account);  // gone since it was asked
        return false;
    }
    writeAccountWithoutPassword(key, account);
    if (!stored.ok()) {
        throw ZorError(QStringLiteral("Пароль не сохранён: %1. Хост, имя пользователя и папка "
                                      "сохранены.")
                           .arg(keyringTrouble(stored)));
    }
    key.erase(PasswordName);
    // The entry of the account the site had before is no longer anybody's.
    const KeyringAttributes old = passwordAttributes(siteName, before);
    if (!before.host.isEmpty() && !before.userName.isEmpty() && old != attributes) {
        keyring.remove(old);
    }
    return true;
}

void forgetFtpAccount(SettingsStore& store, const QString& siteName) {
    SettingsKey key(store, ftpKey(siteName));
    key.write(QStringLiteral("host"), QString());
    key.write(QStringLiteral("username"), QString());
    key.write(PasswordName, QString());
}

void forgetFtpAccount(SettingsStore& store, Keyring& keyring, const QString& siteName) {
    if (!keyring.present()) {
        forgetFtpAccount(store, siteName);
        return;
    }
    SettingsKey key(store, ftpKey(siteName));
    FtpAccount before;
    before.host = key.read(QStringLiteral("host")).value_or(QString());
    before.userName = key.read(QStringLiteral("username")).value_or(QString());
    key.write(QStringLiteral("host"), QString());
    key.write(QStringLiteral("username"), QString());
    key.erase(PasswordName);
    const KeyringResult removed = keyring.remove({{QStringLiteral("site"), siteName}});
    if (!removed.ok() && removed.status != KeyringStatus::Absent) {
        throw ZorError(QStringLiteral("Пароль сайта \u00AB%1\u00BB не удалён из связки ключей: %2. "
                                      "Удалите запись \u00AB%3\u00BB в программе для паролей "
                                      "и ключей.")
                           .arg(siteName, keyringTrouble(removed), passwordLabel(before)));
    }
}

}  // namespace zor::publish
