#include "publish/PublishSession.h"

#include "publish/FtpClient.h"

namespace zor::publish {

bool accountComplete(const FtpAccount& account) {
    return !account.host.isEmpty() && !account.userName.isEmpty() && !account.password.isEmpty();
}

void checkAccount(const FtpAccount& account) {
    if (!accountComplete(account)) {
        throw IncompleteAccount();
    }
}

void applyAccount(FtpClient& ftp, const FtpAccount& account) {
    ftp.Host = account.host;
    ftp.Username = account.userName;
    ftp.Password = account.password;
}

void openIfClosed(FtpClient& ftp) {
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

}  // namespace zor::publish
