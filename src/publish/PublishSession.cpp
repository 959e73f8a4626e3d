#include "publish/PublishSession.h"

#include <exception>

#include "platform/TextFile.h"
#include "publish/FtpClient.h"
#include "publish/SftpClient.h"

namespace zor::publish {

void checkSiteOpen(const OpenSiteState& state) {
    if (state.siteName.isEmpty()) {
        throw NoSiteOpen();
    }
}

RemoteProtocol protocolOf(const FtpAccount& account) {
    const QString host = account.host.trimmed();
    if (host.startsWith(QStringLiteral("sftp://"), Qt::CaseInsensitive)) {
        return RemoteProtocol::Sftp;
    }
    if (host.startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive)) {
        return RemoteProtocol::Ftp;
    }
    return account.protocol;
}

QString serverAddress(const FtpAccount& account) {
    QString host = account.host.trimmed();
    const qsizetype scheme = host.indexOf(QStringLiteral("://"));
    if (scheme >= 0) {
        host.remove(0, scheme + 3);
    }
    while (host.endsWith(u'/')) {
        host.chop(1);
    }
    return host;
}

int defaultPort(RemoteProtocol protocol) {
    return protocol == RemoteProtocol::Sftp ? 22 : 21;
}

bool accountComplete(const FtpAccount& account) {
    return !account.host.isEmpty() && !account.userName.isEmpty() &&
           (!account.password.isEmpty() || protocolOf(account) == RemoteProtocol::Sftp);
}

void checkAccount(const FtpAccount& account) {
    if (!accountComplete(account)) {
        throw IncompleteAccount();
    }
    checkFieldText(account.host, QStringLiteral("Хост"));
    checkFieldText(account.userName, QStringLiteral("Имя пользователя"));
    checkFieldText(account.password, QStringLiteral("Пароль"), true);
    checkFieldText(account.remoteFolder, QStringLiteral("Куда закачивать"));
}

void checkFieldText(const QString& value, const QString& fieldCaption, bool secret) {
    const auto outside = textfile::firstOutsideCp1251(value);
    if (!outside) {
        return;
    }
    const QString which =
        secret ? QStringLiteral("знак") : QStringLiteral("знак \u00AB%1\u00BB").arg(*outside);
    throw ZorError(QStringLiteral("В поле \u00AB%1\u00BB есть %2, которого нет в кодировке "
                                  "Windows-1251: сервер получил бы не то, что введено. Уберите "
                                  "или замените его.")
                       .arg(fieldCaption, which));
}

void applyAccount(RemoteClient& client, const FtpAccount& account) {
    client.Host = serverAddress(account);
    client.Username = account.userName;
    client.Password = account.password;
    client.TrustedFingerprint = account.trustedCertificate;
    if (auto* ftp = dynamic_cast<FtpClient*>(&client)) {
        ftp->Encryption = account.encryption;
        // A certificate trusted for the site, or a login over TLS seen before, proves the server
        // speaks TLS: a refusal of it now is not taken at its word.
        ftp->TlsKnown = account.tlsSeen || !account.trustedCertificate.isEmpty();
        // What was learned of another host says nothing of this one.
        ftp->Habits = account.habits.host == account.host ? account.habits : ServerHabits{};
    }
    if (auto* sftp = dynamic_cast<SftpClient*>(&client)) {
        if (sftp->KeyFile != account.keyFile) {
            sftp->KeyPassphrase.reset();
        }
        sftp->KeyFile = account.keyFile;
    }
}

void openIfClosed(RemoteClient& ftp) {
    if (ftp.IsConnected() && !ftp.SessionMatchesAccount()) {
        ftp.CloseSession();
    }
    if (!ftp.IsConnected()) {
        ftp.OpenSession();
    }
}

void closeIfOpen(RemoteClient& ftp) {
    if (ftp.IsConnected()) {
        ftp.CloseSession();
    }
}

void dropIfOpen(RemoteClient& ftp) {
    if (ftp.IsConnected()) {
        ftp.DropConnection();
    }
}

void letEventsRun(RemoteClient& ftp) {
    if (ftp.Pump) {
        ftp.Pump();
    }
}

SessionGuard::SessionGuard(RemoteClient& ftp)
    : ftp_(ftp), exceptions_(std::uncaught_exceptions()) {}

SessionGuard::~SessionGuard() {
    if (std::uncaught_exceptions() <= exceptions_) {
        return;
    }
    try {
        closeIfOpen(ftp_);
    } catch (...) {
        // Closing only refuses while an operation runs, which cannot be the case here.
    }
}

}  // namespace zor::publish
