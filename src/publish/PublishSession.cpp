#include "publish/PublishSession.h"

#include <exception>

#include "platform/TextFile.h"
#include "publish/FtpClient.h"

namespace zor::publish {

void checkSiteOpen(const OpenSiteState& state) {
    if (state.siteName.isEmpty()) {
        throw NoSiteOpen();
    }
}

bool accountComplete(const FtpAccount& account) {
    return !account.host.isEmpty() && !account.userName.isEmpty() && !account.password.isEmpty();
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

void applyAccount(FtpClient& ftp, const FtpAccount& account) {
    ftp.Host = account.host;
    ftp.Username = account.userName;
    ftp.Password = account.password;
    ftp.Encryption = account.encryption;
    ftp.TrustedFingerprint = account.trustedCertificate;
    // A certificate trusted for the site, or a login over TLS seen before, proves the server
    // speaks TLS: a refusal of it now is not taken at its word.
    ftp.TlsKnown = account.tlsSeen || !account.trustedCertificate.isEmpty();
    // What was learned of another host says nothing of this one.
    ftp.Habits = account.habits.host == account.host ? account.habits : ServerHabits{};
}

void openIfClosed(FtpClient& ftp) {
    if (ftp.IsConnected() && !ftp.SessionMatchesAccount()) {
        ftp.CloseSession();
    }
    if (!ftp.IsConnected()) {
        ftp.OpenSession();
    }
}

void closeIfOpen(FtpClient& ftp) {
    if (ftp.IsConnected()) {
        ftp.CloseSession();
    }
}

void dropIfOpen(FtpClient& ftp) {
    if (ftp.IsConnected()) {
        ftp.DropConnection();
    }
}

void letEventsRun(FtpClient& ftp) {
    if (ftp.Pump) {
        ftp.Pump();
    }
}

SessionGuard::SessionGuard(FtpClient& ftp) : ftp_(ftp), exceptions_(std::uncaught_exceptions()) {}

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
