#pragma once

#include <QString>
#include <functional>

#include "platform/Errors.h"
#include "publish/Retry.h"
#include "site/OpenSiteState.h"

namespace zor {
class HttpClient;
class SettingsStore;
}  // namespace zor

// What every publishing command shares: the account check, the steps of its short FTP session,
// and how it tells the window what it is doing.
namespace zor::publish {

class RemoteClient;

// Host, user name or password is empty: the command stops before talking to the server.
class IncompleteAccount : public CommandRefused {
public:
    IncompleteAccount() : CommandRefused(QStringLiteral("Введите данные")) {}
};

// No site is open: there is nothing to publish, and the program's own folder is no site.
class NoSiteOpen : public CommandRefused {
public:
    NoSiteOpen()
        : CommandRefused(QStringLiteral("Сайт не открыт. Выберите сайт в списке вверху окна "
                                        "или создайте новый.")) {}
};

void checkSiteOpen(const OpenSiteState& state);

// The protocol the account publishes with: "sftp://" before the host chooses SFTP, "ftp://"
// FTP; otherwise the site's choice.
RemoteProtocol protocolOf(const FtpAccount& account);
// The host field without such a prefix (and without a trailing "/").
QString serverAddress(const FtpAccount& account);
int defaultPort(RemoteProtocol protocol);

// Host and user name given, and the password too over FTP (SSH may log in by a key instead).
bool accountComplete(const FtpAccount& account);
// Throws IncompleteAccount unless host, user name and password are all given, then ZorError
// naming the field that holds a character Windows-1251 cannot hold (the server would be sent
// another name or password than the one typed).
void checkAccount(const FtpAccount& account);
// ZorError naming the field when `value` holds a character outside Windows-1251. The password's
// characters are not repeated in the message.
void checkFieldText(const QString& value, const QString& fieldCaption, bool secret = false);
// Host, user name, password and, by the client's kind, the protection, the trusted certificate
// and whether the server is known to speak TLS, or the site's SSH key, into the client (the port
// stays as it is; a "host:port" in the host field stands in for it).
void applyAccount(RemoteClient& ftp, const FtpAccount& account);
// Opens a session unless one is open that logged in with the client's account; one that logged
// in with another account (the user has since changed the fields) is closed first.
void openIfClosed(RemoteClient& ftp);
void closeIfOpen(RemoteClient& ftp);
void dropIfOpen(RemoteClient& ftp);
// Lets pending window messages run (through the client's pump, which may throw Cancelled).
void letEventsRun(RemoteClient& ftp);

// Held by each command that talks to the server: when the command ends with an error (or a
// cancel), its session is closed, so the next command cannot find it open and carry on under
// this command's server and account.
class SessionGuard {
public:
    explicit SessionGuard(RemoteClient& ftp);
    ~SessionGuard();
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;

private:
    RemoteClient& ftp_;
    int exceptions_;
};

enum class Stage {
    Checking,        // digesting the site's files
    Sending,         // uploading changed files
    Receiving,       // downloading the published pages
    Verifying,       // asking the published site for its pages
    Deleting,        // deleting from the server files the site no longer has
    Retrying,        // waiting to try a file again: k is the retry, n how many there may be
    Packing,         // putting files into the archive
    SendingArchive,  // sending the archive and its script: k is the part, n how many
    Unpacking,       // the server's PHP unpacking a part
    Confirming,      // comparing what the server wrote with what went into the archive
};

// Item k (from 1) of n of a stage: its name and its size in bytes (-1 when not known yet).
using ProgressFn = std::function<void(Stage stage, int k, int n, const QString& name, qint64 size)>;

// The open site and the services a command on it works with.
struct PublishJob {
    OpenSiteState& state;
    SettingsStore& settings;
    RemoteClient& ftp;
    ProgressFn progress;           // may be empty
    int retries = DefaultRetries;  // of a file whose transfer failed for a passing reason
    // Asks the published site to unpack an upload's archive; none: every file by itself.
    HttpClient* http = nullptr;
    bool archive = true;  // the archive route may be taken, when the site has it on

    void report(Stage stage, int k, int n, const QString& name, qint64 size) const {
        if (progress) {
            progress(stage, k, n, name, size);
        }
    }
};

}  // namespace zor::publish
