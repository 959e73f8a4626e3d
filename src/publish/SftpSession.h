#pragma once

#include <libssh/libssh.h>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>

#include "publish/SftpClient.h"
#include "publish/SftpProtocol.h"
#include "publish/TcpConnection.h"

// The open connection of the SFTP client: SSH, its SFTP channel and the requests on the way.
namespace zor::publish {

namespace sftp {

// How messages name a server: "name", or "name:port" off port 22.
QString hostLabel(const QString& host, int port);

}  // namespace sftp

// The SSH connection and its SFTP channel, driven without blocking: every wait polls the
// socket for at most the pump's interval and runs the pump between.
struct SftpClient::Session {
    using Clock = std::chrono::steady_clock;
    using milliseconds = std::chrono::milliseconds;

    SftpClient& client;
    QString peer;  // for messages
    ssh_session ssh = nullptr;
    ssh_channel channel = nullptr;
    QByteArray out, in;
    std::map<quint32, sftp::Reply> replies;
    std::set<quint32> ignored;  // requests whose replies nobody waits for any more
    quint32 nextId = 1;
    bool posixRename = false;
    bool versioned = false;  // the server's version has arrived
    QString folder = QStringLiteral("/");
    std::optional<QString> passphrase;

    Clock::duration pumped{};
    Clock::time_point lastPump = Clock::now();

    explicit Session(SftpClient& c, QString p) : client(c), peer(std::move(p)) {}
    ~Session();

    Clock::time_point serverNow() const { return Clock::now() - pumped; }
    void pump();
    void tick() {
        if (Clock::now() - lastPump >= Pacer::interval) {
            pump();
        }
    }

    [[noreturn]] void timedOut() const;
    [[noreturn]] void lost(const QString& why = {}) const;

    // Waits for the socket for at most one pump interval.
    void pollSocket();

    // Repeats `step` (a libssh call that may answer SSH_AGAIN) until it answers otherwise,
    // within `limit` of the server's time.
    template <typename Step>
    int repeat(Step step, milliseconds limit) {
        const auto deadline = serverNow() + limit;
        for (;;) {
            const int rc = step();
            if (rc != SSH_AGAIN && rc != SSH_AUTH_AGAIN) {
                return rc;
            }
            if (serverNow() > deadline) {
                timedOut();
            }
            pollSocket();
            tick();
        }
    }

    // --- TCP ---------------------------------------------------------------------------------

    int connectTcp(const QString& host, int port);
    bool waitConnected(int fd, QString& reason, bool& refused);

    // --- SSH ---------------------------------------------------------------------------------

    void open(const QString& host, int port);
    void checkHostKey(const QString& host, int port);

    // The fingerprint `files` know for the server, of a key of `type` if there is one.
    static QString knownFingerprint(const QStringList& files, const QString& host, int port,
                                    const QString& type);

    void accepted(const QString& fingerprint) { client.acceptedFingerprint_ = fingerprint; }
    void remember();
    void login();
    bool siteKey(milliseconds limit);
    bool keyboardInteractive(const QByteArray& password, milliseconds limit);
    void openChannel();

    // --- SFTP packets ------------------------------------------------------------------------

    // Moves what it can either way without waiting; whether anything arrived.
    bool exchange();
    void takeReplies();
    quint32 send(sftp::Packet&& packet, quint32 id);
    quint32 request(quint8 type, const std::function<void(sftp::Packet&)>& fill = {});

    // Waits until one of `ids` has its reply; returns that id.
    template <typename Ids>
    quint32 awaitAny(const Ids& ids) {
        auto idleSince = serverNow();
        for (;;) {
            for (quint32 id : ids) {
                if (replies.count(id)) {
                    return id;
                }
            }
            if (exchange()) {
                idleSince = serverNow();
                continue;
            }
            if (serverNow() - idleSince > client.Timeout) {
                timedOut();
            }
            pollSocket();
            tick();
        }
    }
    sftp::Reply await(quint32 id);

    [[noreturn]] void refuse(const sftp::Reply& r, const QString& what) const;
    void expectOk(const sftp::Reply& r, const QString& what) const;
    QByteArray expectHandle(const sftp::Reply& r, const QString& what) const;
    static quint32 statusOf(const sftp::Reply& r);

    QString resolve(const QString& path) const;

    std::optional<sftp::Attributes> stat(const QString& path, const QString& what);

    void closeHandle(const QByteArray& handle, const QString& what);
    // Without waiting: the reply goes unread.
    void closeHandleLater(const QByteArray& handle);

    // --- The file opened ahead ------------------------------------------------------------

    // The upload expected next, opened while the one before finishes: a look at what the
    // server holds there, then an opening that creates the file if need be but neither cuts
    // nor writes it.
    struct Ahead {
        QString target;
        quint32 statId = 0, openId = 0;
    };
    std::optional<Ahead> ahead;

    void openAhead(const QString& target);

    struct Opened {
        QByteArray handle;           // empty: it did not open
        std::optional<quint64> was;  // the size of the file before; nullopt: unknown
        bool made = false;           // there was no such file: the opening made it
    };
    Opened settle(const Ahead& a);

    // The file opened ahead for `target`, when it can take `size` bytes as it is: it opened,
    // and what it held is known and no longer (a longer one is cut at once by a truncating
    // opening instead). Otherwise it is closed, and the handle is empty.
    Opened takeAhead(const QString& target, qint64 size);

    // Closes the file opened ahead, and removes it when the opening made it; once this
    // returns, the server has done both.
    void dropAhead();

    void forget(std::deque<quint32>& ids);
};

}  // namespace zor::publish
