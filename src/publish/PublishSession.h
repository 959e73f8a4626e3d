#pragma once

#include <QString>
#include <functional>

#include "platform/Errors.h"
#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

// What every publishing command shares: the account check, the steps of its short FTP session,
// and how it tells the window what it is doing.
namespace zor::publish {

class FtpClient;

// Host, user name or password is empty: the command stops before talking to the server.
class IncompleteAccount : public ZorError {
public:
    IncompleteAccount() : ZorError(QStringLiteral("Введите данные")) {}
};

bool accountComplete(const FtpAccount& account);
// Throws IncompleteAccount unless host, user name and password are all given.
void checkAccount(const FtpAccount& account);
// Host, user name and password into the client (the port stays as it is).
void applyAccount(FtpClient& ftp, const FtpAccount& account);
void openIfClosed(FtpClient& ftp);
void closeIfOpen(FtpClient& ftp);
void dropIfOpen(FtpClient& ftp);
// Lets pending window messages run (through the client's pump, which may throw FtpCancelled).
void letEventsRun(FtpClient& ftp);

enum class Stage {
    Checking,   // digesting the site's files
    Sending,    // uploading changed files
    Receiving,  // downloading the published pages
};

// Item k (from 1) of n of a stage: its name and its size in bytes (-1 when not known yet).
using ProgressFn = std::function<void(Stage stage, int k, int n, const QString& name, qint64 size)>;

// The open site and the services a command on it works with.
struct PublishJob {
    OpenSiteState& state;
    SettingsStore& settings;
    FtpClient& ftp;
    ProgressFn progress;  // may be empty

    void report(Stage stage, int k, int n, const QString& name, qint64 size) const {
        if (progress) {
            progress(stage, k, n, name, size);
        }
    }
};

}  // namespace zor::publish
