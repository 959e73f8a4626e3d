#include "publish/SessionPool.h"

#include <algorithm>
#include <memory>

#include "publish/AccountSettings.h"
#include "publish/FtpClient.h"

// How many sessions a site's commands ask for, and what a further FTP session copies from the
// command's own.
namespace zor::publish {

int sessionsWanted(const FtpAccount& account) {
    return std::clamp(account.sessions, 1, MaxSessions);
}

int rememberSessions(PublishJob& job, const PoolOutcome& outcome, int asked) {
    if (!outcome.fewerAccepted || outcome.sessions >= asked) {
        return 0;
    }
    storeSessions(job.settings, job.state.siteName, outcome.sessions);
    job.state.ftpAccount.sessions = outcome.sessions;
    return outcome.sessions;
}

QString fewerSessionsText(int sessions) {
    const int rest10 = sessions % 10;
    const QString word = sessions % 100 >= 11 && sessions % 100 <= 14 ? QStringLiteral("соединений")
                         : rest10 == 1                ? QStringLiteral("соединение")
                         : rest10 >= 2 && rest10 <= 4 ? QStringLiteral("соединения")
                                                      : QStringLiteral("соединений");
    return QStringLiteral(
               "Сервер принял только %1 %2 одновременно; для этого сайта столько их "
               "теперь и будет.")
        .arg(sessions)
        .arg(word);
}

std::unique_ptr<RemoteClient> FtpClient::FurtherSession() const {
    auto further = std::make_unique<FtpClient>();
    copySessionSettings(*this, *further);
    return further;
}

void copySessionSettings(const FtpClient& from, FtpClient& to) {
    to.Host = from.Host;
    to.Port = from.Port;
    to.Username = from.Username;
    to.Password = from.Password;
    to.Timeout = from.Timeout;
    to.SendBeforeStartReply = from.SendBeforeStartReply;
    // A further session is never less protected than the first: with TLS there, TLS or nothing
    // here, so a server (or whoever sits between) cannot talk one session out of it and read the
    // password. Its certificate is taken as the first one's was, without asking again.
    to.Encryption = from.IsEncrypted() ? FtpEncryption::Required : FtpEncryption::Off;
    to.TrustedFingerprint = from.AcceptedFingerprint();
    to.TlsKnown = from.IsEncrypted();
    to.AskTrust = nullptr;
    to.AskPlainLogin = nullptr;
    to.SecuredLogin = nullptr;
    to.Habits = from.Habits;
    to.HabitsLearned = nullptr;
    to.PassiveAhead = from.PassiveAhead;
}

}  // namespace zor::publish
