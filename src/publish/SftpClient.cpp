#include "publish/SftpClient.h"

#include <fcntl.h>
#include <libssh/libssh.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "platform/SettingsStore.h"
#include "publish/FileDigest.h"
#include "publish/FtpProtocol.h"
#include "publish/LocalFile.h"
#include "publish/ProgressText.h"
#include "publish/SftpProtocol.h"
#include "publish/TcpConnection.h"

namespace zor::publish {

using namespace sftp;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

QString fingerprintOf(ssh_key key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK) {
        return {};
    }
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    const QString fingerprint = QString::fromLatin1(text);
    ssh_string_free_char(text);
    return fingerprint;
}

// How the known-hosts files name a server: "name", or "[name]:port" off port 22.
QByteArray knownHostsName(const QString& host, int port) {
    return port == 22 ? host.toUtf8() : "[" + host.toUtf8() + "]:" + QByteArray::number(port);
}

QString hostLabel(const QString& host, int port) {
    return port == 22 ? host : QStringLiteral("%1:%2").arg(host).arg(port);
}

}  // namespace

ChangedHostKey::ChangedHostKey(ServerHostKey key)
    : FtpError(
          QStringLiteral("Ключ сервера %1 изменился!\nИзвестный ключ: %2\nКлюч сейчас: %3 (%4)\n"
                         "Так выглядит подмена сервера кем-то по пути, поэтому соединение прервано "
                         "до входа. Если ключ на сервере сменили вы или ваш хостинг, удалите "
                         "известный ключ и подключитесь снова.")
              .arg(key.host, key.knownFingerprint, key.fingerprint, key.type)),
      key_(std::move(key)) {}

UntrustedHostKey::UntrustedHostKey(ServerHostKey key)
    : FtpError(QStringLiteral("Ключ сервера %1 неизвестен: %2 %3. Соединение прервано до "
                              "входа.")
                   .arg(key.host, key.type, key.fingerprint)),
      key_(std::move(key)) {}

QString ownKnownHostsFile() {
    return QFileInfo(SettingsStore::defaultPath()).absolutePath() + QStringLiteral("/known_hosts");
}

bool forgetHostKey(const QString& knownHostsFile, const QString& host) {
    HostAndPort address;
    try {
        address = parseHostField(host, 22);
    } catch (const FtpError&) {
        return false;
    }
    const QByteArray name = knownHostsName(address.host, address.port);
    QFile in(knownHostsFile);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray kept;
    bool removed = false;
    for (const QByteArray& line : in.readAll().split('\n')) {
        const QList<QByteArray> hosts = line.split(' ').value(0).split(',');
        if (hosts.contains(name)) {
            removed = true;
        } else if (!line.isEmpty()) {
            kept += line + '\n';
        }
    }
    in.close();
    QSaveFile out(knownHostsFile);
    if (removed &&
        (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit())) {
        throw FileError(
            QStringLiteral("Не удалось записать файл \u00AB%1\u00BB.").arg(knownHostsFile));
    }
    return removed;
}

// The SSH connection and its SFTP channel, driven without blocking: every wait polls the
// socket for at most the pump's interval and runs the pump between.
struct SftpClient::Session {
    SftpClient& client;
    QString peer;  // for messages
    ssh_session ssh = nullptr;
    ssh_channel channel = nullptr;
    QByteArray out, in;
    std::map<quint32, Reply> replies;
    std::set<quint32> ignored;  // requests whose replies nobody waits for any more
    quint32 nextId = 1;
    bool posixRename = false;
    bool versioned = false;  // the server's version has arrived
    QString folder = QStringLiteral("/");
    std::optional<QString> passphrase;

    Clock::duration pumped{};
    Clock::time_point lastPump = Clock::now();

    explicit Session(SftpClient& c, QString p) : client(c), peer(std::move(p)) {}
    ~Session() {
        if (channel) {
            ssh_channel_free(channel);
        }
        if (ssh) {
            ssh_silent_disconnect(ssh);
            ssh_free(ssh);
        }
    }

    Clock::time_point serverNow() const { return Clock::now() - pumped; }
    void pump() {
        const auto start = Clock::now();
        struct Account {
            Session& s;
            Clock::time_point start;
            ~Account() {
                s.lastPump = Clock::now();
                s.pumped += s.lastPump - start;
            }
        } account{*this, start};
        if (client.Pump) {
            client.Pump();
        }
    }
    void tick() {
        if (Clock::now() - lastPump >= Pacer::interval) {
            pump();
        }
    }

    [[noreturn]] void timedOut() const {
        throw ConnectionTimedOut(
            QStringLiteral("Сервер %1 не ответил за %2 с; соединение прервано.")
                .arg(peer)
                .arg(std::chrono::duration_cast<std::chrono::seconds>(client.Timeout).count()));
    }
    [[noreturn]] void lost(const QString& why = {}) const {
        const QString detail = why.isEmpty() && ssh ? QString::fromUtf8(ssh_get_error(ssh)) : why;
        throw ConnectionLost(
            QStringLiteral("Соединение с сервером %1 прервано%2")
                .arg(peer, detail.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + detail));
    }

    // Waits for the socket for at most one pump interval.
    void pollSocket() {
        const int fd = ssh ? ssh_get_fd(ssh) : -1;
        if (fd < 0) {
            return;
        }
        pollfd p{fd, POLLIN, 0};
        if (ssh_get_poll_flags(ssh) & SSH_WRITE_PENDING) {
            p.events |= POLLOUT;
        }
        ::poll(&p, 1, static_cast<int>(Pacer::interval.count()));
    }

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

    int connectTcp(const QString& host, int port) {
        Pacer pacer(client.Timeout, client.Pump);
        struct Lookup {
            std::mutex mutex;
            addrinfo* result = nullptr;
            int error = 0;
            ~Lookup() {
                if (result) {
                    ::freeaddrinfo(result);
                }
            }
        };
        auto lookup = std::make_shared<Lookup>();
        const QByteArray name = host.toUtf8();
        const QByteArray service = QByteArray::number(port);
        const bool answered = runOffThread(
            [lookup, name, service] {
                addrinfo hints{};
                hints.ai_socktype = SOCK_STREAM;
                addrinfo* found = nullptr;
                const int error =
                    ::getaddrinfo(name.constData(), service.constData(), &hints, &found);
                const std::lock_guard lock(lookup->mutex);
                lookup->error = error;
                lookup->result = found;
            },
            pacer);
        const std::lock_guard lock(lookup->mutex);
        if (!answered) {
            timedOut();
        }
        if (lookup->error != 0 || !lookup->result) {
            throw FtpError(QStringLiteral("Не удалось найти сервер \u00AB%1\u00BB: %2.")
                               .arg(host, QString::fromLocal8Bit(::gai_strerror(lookup->error))));
        }
        QString reason;
        bool refused = false;
        for (addrinfo* a = lookup->result; a; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                continue;
            }
            // Requests go out at once instead of waiting for the last segment's acknowledgement.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ||
                waitConnected(fd, reason, refused)) {
                return fd;
            }
            ::close(fd);
        }
        if (refused) {
            throw ConnectionRefused(
                QStringLiteral("Сервер %1 не принял соединение: %2.").arg(peer, reason));
        }
        throw ConnectionLost(
            QStringLiteral("Не удалось соединиться с сервером %1: %2.").arg(peer, reason));
    }

    bool waitConnected(int fd, QString& reason, bool& refused) {
        if (errno != EINPROGRESS) {
            reason = socketErrorText(errno);
            refused = errno == ECONNREFUSED;
            return false;
        }
        const auto deadline = serverNow() + client.Timeout;
        for (;;) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(Pacer::interval.count())) > 0) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error == 0) {
                    return true;
                }
                reason = socketErrorText(error);
                refused = error == ECONNREFUSED;
                return false;
            }
            if (serverNow() > deadline) {
                ::close(fd);
                timedOut();
            }
            try {
                tick();
            } catch (...) {
                ::close(fd);
                throw;
            }
        }
    }

    // --- SSH ---------------------------------------------------------------------------------

    void open(const QString& host, int port) {
        static std::once_flag initialised;
        std::call_once(initialised, [] { ssh_init(); });
        const int fd = connectTcp(host, port);
        ssh = ssh_new();
        if (!ssh) {
            ::close(fd);
            lost(QStringLiteral("нет памяти"));
        }
        int socket = fd;
        const bool no = false;
        const QByteArray sshFolder = QFile::encodeName(client.UserSshFolder);
        const QByteArray userKnown = sshFolder + "/known_hosts";
        ssh_options_set(ssh, SSH_OPTIONS_FD, &socket);
        ssh_options_set(ssh, SSH_OPTIONS_HOST, host.toUtf8().constData());
        ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
        ssh_options_set(ssh, SSH_OPTIONS_USER, client.Username.toUtf8().constData());
        ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &no);
        ssh_options_set(ssh, SSH_OPTIONS_SSH_DIR, sshFolder.constData());
        ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, userKnown.constData());
        ssh_set_blocking(ssh, 0);
        // libssh's own account of the exchange on standard error, for a server that will not
        // talk to us.
        if (qEnvironmentVariableIsSet("ZOROD_SSH_DEBUG")) {
            const int verbosity = SSH_LOG_PROTOCOL;
            ssh_options_set(ssh, SSH_OPTIONS_LOG_VERBOSITY, &verbosity);
        }
        const int rc = repeat([&] { return ssh_connect(ssh); }, 2 * client.Timeout);
        if (rc != SSH_OK) {
            throw ConnectionLost(QStringLiteral("Не удалось установить SSH-соединение с сервером "
                                                "%1: %2")
                                     .arg(peer, QString::fromUtf8(ssh_get_error(ssh))));
        }
        checkHostKey(host, port);
        login();
        openChannel();
    }

    void checkHostKey(const QString& host, int port) {
        ssh_key key = nullptr;
        if (ssh_get_server_publickey(ssh, &key) != SSH_OK) {
            lost(QStringLiteral("сервер не показал свой ключ"));
        }
        ServerHostKey shown;
        shown.host = hostLabel(host, port);
        shown.type = QString::fromLatin1(ssh_key_type_to_char(ssh_key_type(key)));
        shown.fingerprint = fingerprintOf(key);
        ssh_key_free(key);

        const auto known = [&](bool own) {
            const ssh_known_hosts_e state = ssh_session_is_known_server(ssh);
            if (state == SSH_KNOWN_HOSTS_CHANGED) {
                const QStringList files =
                    own ? QStringList{client.KnownHostsFile}
                        : QStringList{client.UserSshFolder + QStringLiteral("/known_hosts"),
                                      QStringLiteral("/etc/ssh/ssh_known_hosts")};
                shown.knownFingerprint = knownFingerprint(files, host, port, shown.type);
                shown.knownInOwnFile = own;
                throw ChangedHostKey(shown);
            }
            return state == SSH_KNOWN_HOSTS_OK;
        };
        if (known(false)) {
            accepted(shown.fingerprint);
            return;
        }
        const QByteArray own = QFile::encodeName(client.KnownHostsFile);
        if (!own.isEmpty()) {
            ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, own.constData());
            ssh_options_set(ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, own.constData());
            if (QFileInfo::exists(client.KnownHostsFile) && known(true)) {
                accepted(shown.fingerprint);
                return;
            }
        }
        if (!client.TrustedFingerprint.isEmpty() &&
            client.TrustedFingerprint == shown.fingerprint) {
            accepted(shown.fingerprint);
            return;
        }
        CertificateTrust answer = CertificateTrust::No;
        if (client.AskHostKey) {
            answer = client.AskHostKey(shown);
            lastPump = Clock::now();
        }
        if (answer == CertificateTrust::No) {
            throw UntrustedHostKey(shown);
        }
        if (answer == CertificateTrust::Always && !own.isEmpty()) {
            remember();
        }
        accepted(shown.fingerprint);
    }

    // The fingerprint `files` know for the server, of a key of `type` if there is one.
    static QString knownFingerprint(const QStringList& files, const QString& host, int port,
                                    const QString& type) {
        const QByteArray name = knownHostsName(host, port);
        QString any;
        for (const QString& path : files) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) {
                continue;
            }
            // Bounded: a known-hosts file is a few lines a server.
            for (const QByteArray& line : f.read(16 * 1024 * 1024).split('\n')) {
                ssh_knownhosts_entry* entry = nullptr;
                if (ssh_known_hosts_parse_line(name.constData(), line.constData(), &entry) ==
                        SSH_OK &&
                    entry && entry->publickey) {
                    const QString fingerprint = fingerprintOf(entry->publickey);
                    const bool sameType =
                        QLatin1String(ssh_key_type_to_char(ssh_key_type(entry->publickey))) == type;
                    SSH_KNOWNHOSTS_ENTRY_FREE(entry);
                    if (sameType) {
                        return fingerprint;
                    }
                    any = any.isEmpty() ? fingerprint : any;
                }
                SSH_KNOWNHOSTS_ENTRY_FREE(entry);
            }
        }
        return any;
    }

    void accepted(const QString& fingerprint) { client.acceptedFingerprint_ = fingerprint; }

    void remember() {
        char* line = nullptr;
        if (ssh_session_export_known_hosts_entry(ssh, &line) != SSH_OK) {
            return;
        }
        QByteArray text(line);
        ssh_string_free_char(line);
        if (!text.endsWith('\n')) {
            text += '\n';
        }
        QDir().mkpath(QFileInfo(client.KnownHostsFile).absolutePath());
        QFile f(client.KnownHostsFile);
        if (!f.open(QIODevice::Append) || f.write(text) != text.size()) {
            throw FileError(
                QStringLiteral("Не удалось записать ключ сервера в файл \u00AB%1\u00BB.")
                    .arg(client.KnownHostsFile));
        }
    }

    void login() {
        const milliseconds limit = 2 * client.Timeout;
        const QByteArray user = client.Username.toUtf8();
        int rc = repeat([&] { return ssh_userauth_none(ssh, nullptr); }, limit);
        if (rc == SSH_AUTH_SUCCESS) {
            return;
        }
        if (rc == SSH_AUTH_ERROR) {
            lost();
        }
        const int methods = ssh_userauth_list(ssh, nullptr);
        if ((methods & SSH_AUTH_METHOD_PUBLICKEY) && !client.KeyFile.isEmpty() && siteKey(limit)) {
            return;
        }
        if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
            rc = repeat([&] { return ssh_userauth_publickey_auto(ssh, nullptr, nullptr); }, limit);
            if (rc == SSH_AUTH_SUCCESS) {
                return;
            }
            if (rc == SSH_AUTH_ERROR) {
                lost();
            }
        }
        const QByteArray password = client.Password.toUtf8();
        if ((methods & SSH_AUTH_METHOD_PASSWORD) && !password.isEmpty()) {
            rc = repeat([&] { return ssh_userauth_password(ssh, nullptr, password.constData()); },
                        limit);
            if (rc == SSH_AUTH_SUCCESS) {
                return;
            }
            if (rc == SSH_AUTH_ERROR) {
                lost();
            }
        }
        if ((methods & SSH_AUTH_METHOD_INTERACTIVE) && !password.isEmpty() &&
            keyboardInteractive(password, limit)) {
            return;
        }
        throw FtpError(QStringLiteral("Сервер %1 не впустил пользователя \u00AB%2\u00BB: неверное "
                                      "имя, пароль или ключ.")
                           .arg(peer, client.Username),
                       530);
    }

    bool siteKey(milliseconds limit) {
        const QByteArray file = QFile::encodeName(client.KeyFile);
        ssh_key key = nullptr;
        if (ssh_pki_import_privkey_file(file.constData(), nullptr, nullptr, nullptr, &key) !=
            SSH_OK) {
            for (int attempt = 0; attempt < 3 && !key; ++attempt) {
                if (!passphrase || attempt > 0) {
                    if (!client.AskPassphrase) {
                        break;
                    }
                    passphrase = client.AskPassphrase(client.KeyFile);
                    lastPump = Clock::now();
                    if (!passphrase) {
                        return false;
                    }
                }
                const QByteArray phrase = passphrase->toUtf8();
                if (ssh_pki_import_privkey_file(file.constData(), phrase.constData(), nullptr,
                                                nullptr, &key) != SSH_OK) {
                    key = nullptr;
                }
            }
            if (!key) {
                throw FtpError(QStringLiteral("Не удалось прочитать ключ SSH \u00AB%1\u00BB: файла "
                                              "нет, он не ключ или фраза-пароль неверна.")
                                   .arg(client.KeyFile));
            }
        }
        const int rc = repeat([&] { return ssh_userauth_publickey(ssh, nullptr, key); }, limit);
        ssh_key_free(key);
        if (rc == SSH_AUTH_ERROR) {
            lost();
        }
        return rc == SSH_AUTH_SUCCESS;
    }

    bool keyboardInteractive(const QByteArray& password, milliseconds limit) {
        for (int round = 0; round < 5; ++round) {
            const int rc =
                repeat([&] { return ssh_userauth_kbdint(ssh, nullptr, nullptr); }, limit);
            if (rc == SSH_AUTH_SUCCESS) {
                return true;
            }
            if (rc != SSH_AUTH_INFO) {
                return false;
            }
            const int prompts = ssh_userauth_kbdint_getnprompts(ssh);
            for (int i = 0; i < prompts; ++i) {
                ssh_userauth_kbdint_setanswer(ssh, static_cast<unsigned>(i), password.constData());
            }
        }
        return false;
    }

    void openChannel() {
        channel = ssh_channel_new(ssh);
        if (!channel) {
            lost();
        }
        const milliseconds limit = 2 * client.Timeout;
        if (repeat([&] { return ssh_channel_open_session(channel); }, limit) != SSH_OK) {
            lost();
        }
        if (repeat([&] { return ssh_channel_request_subsystem(channel, "sftp"); }, limit) !=
            SSH_OK) {
            throw FtpError(QStringLiteral("Сервер %1 не предлагает SFTP: на нём можно войти по "
                                          "SSH, но передавать файлы так нельзя.")
                               .arg(peer));
        }
        out += Packet(FxpInit).u32(3).done();
        const auto deadline = serverNow() + limit;
        while (!versioned) {
            exchange();
            if (serverNow() > deadline) {
                timedOut();
            }
            if (!versioned) {
                pollSocket();
                tick();
            }
        }
    }

    // --- SFTP packets ------------------------------------------------------------------------

    // Moves what it can either way without waiting; whether anything arrived.
    bool exchange() {
        while (!out.isEmpty()) {
            const uint32_t window = ssh_channel_window_size(channel);
            if (window == 0) {
                break;
            }
            const int n =
                ssh_channel_write(channel, out.constData(),
                                  static_cast<uint32_t>(std::min<qsizetype>(out.size(), window)));
            if (n == SSH_ERROR) {
                lost();
            }
            if (n <= 0) {
                break;
            }
            out.remove(0, n);
        }
        if (ssh_get_poll_flags(ssh) & SSH_WRITE_PENDING) {
            ssh_blocking_flush(ssh, 0);
        }
        bool arrived = false;
        char buffer[64 * 1024];
        for (;;) {
            const int n = ssh_channel_read_nonblocking(channel, buffer, sizeof buffer, 0);
            if (n == SSH_EOF || (n == 0 && ssh_channel_is_eof(channel))) {
                lost(QStringLiteral("сервер закрыл канал SFTP"));
            }
            if (n < 0) {
                lost();
            }
            if (n == 0) {
                break;
            }
            in.append(buffer, n);
            arrived = true;
        }
        if (!ssh_is_connected(ssh)) {
            lost();
        }
        takeReplies();
        return arrived;
    }

    void takeReplies() {
        for (;;) {
            if (in.size() < 4) {
                return;
            }
            const quint32 length = Reader(in).u32();
            if (length < 5 || length > MaxPacket) {
                throw BadReply();
            }
            if (static_cast<quint32>(in.size()) < 4 + length) {
                return;
            }
            if (static_cast<quint8>(in[4]) == FxpVersion) {
                // The version, then the extensions the server offers, in name and data pairs.
                Reader r(QByteArrayView(in).sliced(5, length - 1));
                r.u32();
                while (!r.atEnd()) {
                    const QByteArrayView name = r.str();
                    r.str();
                    posixRename = posixRename || name == PosixRename;
                }
                versioned = true;
                in.remove(0, 4 + length);
                continue;
            }
            Reader r(QByteArrayView(in).sliced(5, 4));
            const quint32 id = r.u32();
            // An answer to nothing asked would only fill memory.
            if (id == 0 || id >= nextId) {
                throw BadReply();
            }
            if (!ignored.erase(id)) {
                replies[id] = Reply{static_cast<quint8>(in[4]), in.mid(9, length - 5)};
            }
            in.remove(0, 4 + length);
        }
    }

    quint32 send(Packet&& packet, quint32 id) {
        out += packet.done();
        exchange();
        return id;
    }
    quint32 request(quint8 type, const std::function<void(Packet&)>& fill = {}) {
        const quint32 id = nextId++;
        Packet p(type);
        p.u32(id);
        if (fill) {
            fill(p);
        }
        return send(std::move(p), id);
    }

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
    Reply await(quint32 id) {
        awaitAny(std::initializer_list<quint32>{id});
        Reply r = std::move(replies[id]);
        replies.erase(id);
        return r;
    }

    [[noreturn]] void refuse(const Reply& r, const QString& what) const {
        Reader reader(r.body);
        const quint32 code = reader.u32();
        throw SftpRefusal(QStringLiteral("%1: %2.").arg(what, sftpStatusText(code)),
                          replyCodeOf(code));
    }
    void expectOk(const Reply& r, const QString& what) const {
        if (r.type != FxpStatus) {
            throw BadReply();
        }
        if (Reader(r.body).u32() != FxOk) {
            refuse(r, what);
        }
    }
    QByteArray expectHandle(const Reply& r, const QString& what) const {
        if (r.type == FxpStatus) {
            refuse(r, what);
        }
        if (r.type != FxpHandle) {
            throw BadReply();
        }
        return Reader(r.body).str().toByteArray();
    }
    static quint32 statusOf(const Reply& r) {
        return r.type == FxpStatus ? Reader(r.body).u32() : FxOk;
    }

    QString resolve(const QString& path) const {
        if (path.startsWith(u'/')) {
            return path;
        }
        return path.isEmpty() ? folder : folder + u'/' + path;
    }

    std::optional<Attributes> stat(const QString& path, const QString& what) {
        const Reply r = await(request(FxpStat, [&](Packet& p) { p.str(path.toUtf8()); }));
        if (r.type == FxpStatus) {
            const quint32 code = statusOf(r);
            if (code == FxNoSuchFile || code == FxNoSuchPath) {
                return std::nullopt;
            }
            refuse(r, what);
        }
        if (r.type != FxpAttrs) {
            throw BadReply();
        }
        Reader reader(r.body);
        return reader.attributes();
    }

    void closeHandle(const QByteArray& handle, const QString& what) {
        expectOk(await(request(FxpClose, [&](Packet& p) { p.str(handle); })), what);
    }
    // Without waiting: the reply goes unread.
    void closeHandleLater(const QByteArray& handle) {
        ignored.insert(request(FxpClose, [&](Packet& p) { p.str(handle); }));
    }
    // --- The file opened ahead ------------------------------------------------------------

    // The upload expected next, opened while the one before finishes: a look at what the
    // server holds there, then an opening that creates the file if need be but neither cuts
    // nor writes it.
    struct Ahead {
        QString target;
        quint32 statId = 0, openId = 0;
    };
    std::optional<Ahead> ahead;

    void openAhead(const QString& target) {
        const QByteArray name = target.toUtf8();
        Ahead a{target};
        a.statId = request(FxpStat, [&](Packet& p) { p.str(name); });
        a.openId =
            request(FxpOpen, [&](Packet& p) { p.str(name).u32(OpenWrite | OpenCreate).u32(0); });
        ahead = a;
    }

    struct Opened {
        QByteArray handle;           // empty: it did not open
        std::optional<quint64> was;  // the size of the file before; nullopt: unknown
        bool made = false;           // there was no such file: the opening made it
    };
    Opened settle(const Ahead& a) {
        const Reply stated = await(a.statId);
        const Reply opened = await(a.openId);
        Opened o;
        if (opened.type == FxpHandle) {
            o.handle = Reader(opened.body).str().toByteArray();
        } else if (opened.type != FxpStatus) {
            throw BadReply();
        }
        if (stated.type == FxpAttrs) {
            Reader reader(stated.body);
            const Attributes attributes = reader.attributes();
            if ((attributes.flags & AttrSize) && !attributes.isFolder()) {
                o.was = attributes.size;
            }
        } else if (const quint32 code = statusOf(stated);
                   code == FxNoSuchFile || code == FxNoSuchPath) {
            o.was = 0;
            o.made = true;
        }
        return o;
    }

    // The file opened ahead for `target`, when it can take `size` bytes as it is: it opened,
    // and what it held is known and no longer (a longer one is cut at once by a truncating
    // opening instead). Otherwise it is closed, and the handle is empty.
    Opened takeAhead(const QString& target, qint64 size) {
        if (!ahead || ahead->target != target) {
            dropAhead();
            return {};
        }
        const Ahead a = *std::exchange(ahead, std::nullopt);
        Opened o = settle(a);
        if (!o.handle.isEmpty() && (!o.was || static_cast<qint64>(*o.was) > size)) {
            // The truncating opening that follows takes the file over, in the server's order.
            closeHandleLater(o.handle);
            o.handle.clear();
        }
        return o;
    }

    // Closes the file opened ahead, and removes it when the opening made it; once this
    // returns, the server has done both.
    void dropAhead() {
        if (!ahead) {
            return;
        }
        const Ahead a = *std::exchange(ahead, std::nullopt);
        const Opened o = settle(a);
        if (o.handle.isEmpty()) {
            return;
        }
        const quint32 closeId = request(FxpClose, [&](Packet& p) { p.str(o.handle); });
        const quint32 removeId =
            o.made ? request(FxpRemove, [&](Packet& p) { p.str(a.target.toUtf8()); }) : 0;
        await(closeId);
        if (removeId) {
            await(removeId);
        }
    }

    void forget(std::deque<quint32>& ids) {
        for (quint32 id : ids) {
            if (!replies.erase(id)) {
                ignored.insert(id);
            }
        }
        ids.clear();
    }
};

SftpClient::SftpClient() : UserSshFolder(userSshFolder()) {
    Port = 22;
}

SftpClient::~SftpClient() = default;

QString SftpClient::userSshFolder() {
    return QDir::homePath() + QStringLiteral("/.ssh");
}

namespace {

// Runs an operation of an open session: a refusal leaves it open, anything else (a lost
// connection, a time-out, a cancel) drops it, since what the server still owes is unknown.
template <typename Operation>
auto guarded(std::unique_ptr<SftpClient::Session>& session, Operation&& operation) {
    if (!session) {
        throw FtpError(QStringLiteral("Нет соединения с сервером."));
    }
    try {
        return operation(*session);
    } catch (const SftpRefusal&) {
        throw;
    } catch (...) {
        session.reset();
        throw;
    }
}

}  // namespace

void SftpClient::OpenSession() {
    if (session_) {
        throw FtpError(QStringLiteral("Already connected."));
    }
    const HostAndPort address = parseHostField(Host, Port);
    acceptedFingerprint_.clear();
    auto session = std::make_unique<Session>(*this, hostLabel(address.host, address.port));
    session->passphrase = KeyPassphrase;
    session->open(address.host, address.port);
    KeyPassphrase = session->passphrase;
    // Relative paths start where the server puts the user.
    const Reply r = session->await(
        session->request(FxpRealpath, [](Packet& p) { p.str(QByteArrayLiteral(".")); }));
    if (r.type == FxpName) {
        Reader reader(r.body);
        if (reader.u32() > 0) {
            session->folder = QString::fromUtf8(reader.str());
        }
    }
    session_ = std::move(session);
    login_ = {Host, Username, Password, KeyFile, Port};
    if (SessionOpened) {
        SessionOpened();
    }
}

bool SftpClient::SessionMatchesAccount() const {
    return session_ && login_.host == Host && login_.port == Port && login_.user == Username &&
           login_.password == Password && login_.keyFile == KeyFile;
}

void SftpClient::ChangeFolder(const QString& path) {
    guarded(session_, [&](Session& s) {
        const QString wanted = s.resolve(path);
        const QString what = QStringLiteral("Папка \u00AB%1\u00BB на сервере").arg(path);
        const Reply r = s.await(s.request(FxpRealpath, [&](Packet& p) { p.str(wanted.toUtf8()); }));
        if (r.type == FxpStatus) {
            s.refuse(r, what);
        }
        if (r.type != FxpName) {
            throw BadReply();
        }
        Reader reader(r.body);
        if (reader.u32() == 0) {
            throw BadReply();
        }
        const QString real = QString::fromUtf8(reader.str());
        const std::optional<Attributes> a = s.stat(real, what);
        if (!a) {
            throw SftpRefusal(what + QStringLiteral(": ") + sftpStatusText(FxNoSuchFile) + u'.',
                              550);
        }
        if (!a->isFolder()) {
            throw SftpRefusal(what + QStringLiteral(": ") + sftpStatusText(19) + u'.', 550);
        }
        s.folder = real;
    });
}

void SftpClient::ListFolder(QStringList& lines) {
    guarded(session_, [&](Session& s) {
        const QString what = QStringLiteral("Список папки \u00AB%1\u00BB").arg(s.folder);
        const QByteArray handle = s.expectHandle(
            s.await(s.request(FxpOpendir, [&](Packet& p) { p.str(s.folder.toUtf8()); })), what);
        QStringList listed;
        qint64 bytes = 0;
        for (;;) {
            const Reply r = s.await(s.request(FxpReaddir, [&](Packet& p) { p.str(handle); }));
            if (r.type == FxpStatus && Session::statusOf(r) == FxEof) {
                break;
            }
            if (r.type == FxpStatus) {
                s.closeHandleLater(handle);
                s.refuse(r, what);
            }
            if (r.type != FxpName) {
                throw BadReply();
            }
            bytes += r.body.size();
            Reader reader(r.body);
            for (quint32 n = reader.u32(); n > 0; --n) {
                const QString name = QString::fromUtf8(reader.str());
                reader.str();  // the server's own "ls -l" line, not trusted for its layout
                listed.append(listingLine(name, reader.attributes()));
            }
            if (bytes > MaxListingBytes || listed.size() > MaxListingLines) {
                s.closeHandleLater(handle);
                throw SftpRefusal(QStringLiteral("Сервер %1 прислал слишком длинный список файлов "
                                                 "папки (больше %2 или %3 строк); чтение прервано.")
                                      .arg(s.peer, sizeText(MaxListingBytes))
                                      .arg(MaxListingLines));
            }
        }
        s.closeHandle(handle, what);
        lines.append(listed);
    });
}

void SftpClient::MakeFolder(const QString& path) {
    guarded(session_, [&](Session& s) {
        s.expectOk(s.await(s.request(FxpMkdir,
                                     [&](Packet& p) { p.str(s.resolve(path).toUtf8()).u32(0); })),
                   QStringLiteral("Папка \u00AB%1\u00BB не создана").arg(path));
    });
}

void SftpClient::DeleteRemoteFile(const QString& path) {
    guarded(session_, [&](Session& s) {
        s.expectOk(
            s.await(s.request(FxpRemove, [&](Packet& p) { p.str(s.resolve(path).toUtf8()); })),
            QStringLiteral("Файл \u00AB%1\u00BB не удалён").arg(path));
    });
}

void SftpClient::RenameRemote(const QString& oldPath, const QString& newPath) {
    guarded(session_, [&](Session& s) {
        const QByteArray from = s.resolve(oldPath).toUtf8(), to = s.resolve(newPath).toUtf8();
        // The OpenSSH extension replaces a file of the new name, as a rename on the server's
        // disk does; plain SFTP refuses to.
        const quint32 id =
            s.posixRename
                ? s.request(FxpExtended, [&](Packet& p) { p.str(PosixRename).str(from).str(to); })
                : s.request(FxpRename, [&](Packet& p) { p.str(from).str(to); });
        s.expectOk(s.await(id), QStringLiteral("\u00AB%1\u00BB не переименован в \u00AB%2\u00BB")
                                    .arg(oldPath, newPath));
    });
}

qint64 SftpClient::RemoteSize(const QString& path) {
    return guarded(session_, [&](Session& s) -> qint64 {
        try {
            const std::optional<Attributes> a = s.stat(s.resolve(path), path);
            return a && (a->flags & AttrSize) ? static_cast<qint64>(a->size) : -1;
        } catch (const SftpRefusal&) {
            return -1;
        }
    });
}

void SftpClient::UploadFile(const QString& localPath, const QString& remotePath,
                            QString* sentDigest, qint64 from) {
    // Local failures before anything is asked of the server leave the session as it is.
    LocalFile file = LocalFile::openForReading(localPath);
    guarded(session_, [&](Session& s) {
        const QString target = s.resolve(remotePath);
        const QString what =
            QStringLiteral("Файл \u00AB%1\u00BB не записан на сервер").arg(remotePath);
        // Opened ahead behind the file before, when it was expected; otherwise now, cut to
        // nothing unless it is to be continued.
        Session::Opened opened = from > 0 ? Session::Opened{} : s.takeAhead(target, file.size());
        if (from > 0) {
            s.dropAhead();
        }
        if (opened.handle.isEmpty()) {
            const quint32 flags = OpenWrite | OpenCreate | (from > 0 ? 0u : quint32{OpenTruncate});
            opened = {
                s.expectHandle(
                    s.await(s.request(
                        FxpOpen, [&](Packet& p) { p.str(target.toUtf8()).u32(flags).u32(0); })),
                    what),
                std::nullopt};
        }
        const QByteArray handle = opened.handle;
        Md5 md5;
        QByteArray buffer(ChunkSize, Qt::Uninitialized);
        for (qint64 skipped = 0; skipped < from;) {
            const qsizetype n = file.read(
                buffer.data(), static_cast<qsizetype>(std::min<qint64>(ChunkSize, from - skipped)));
            if (n == 0) {
                s.closeHandleLater(handle);
                throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB стал короче, чем его часть на "
                                              "сервере; передача прервана.")
                                   .arg(localPath));
            }
            md5.add(buffer.constData(), n);
            skipped += n;
            s.tick();
        }
        std::deque<quint32> inFlight;
        std::map<quint32, qsizetype> lengths;
        qint64 offset = from, confirmed = 0;
        bool atEnd = false;
        std::deque<quint32> closing;  // the close, then the look at the size
        auto idleSince = s.serverNow();
        while (!atEnd || !inFlight.empty()) {
            // Requests go out while the channel takes them; its window holds back the rest.
            while (!atEnd && static_cast<int>(inFlight.size()) < std::max(1, WritesInFlight) &&
                   s.out.size() < 4 * ChunkSize) {
                const qsizetype n = file.read(buffer.data(), ChunkSize);
                if (n == 0) {
                    atEnd = true;
                    break;
                }
                md5.add(buffer.constData(), n);
                const quint32 id = s.nextId++;
                Packet p(FxpWrite);
                p.u32(id)
                    .str(handle)
                    .u64(static_cast<quint64>(offset))
                    .str(QByteArrayView(buffer.constData(), n));
                s.out += p.done();
                inFlight.push_back(id);
                lengths[id] = n;
                offset += n;
            }
            // The server takes requests in order: the close and the look at the size go out
            // behind the last write, and a small file costs one round trip after its opening.
            if (atEnd && closing.empty()) {
                // A file opened ahead keeps what it held beyond the new bytes until cut here
                // (only when the local file got shorter while it was read).
                if (opened.was && static_cast<qint64>(*opened.was) > offset) {
                    closing.push_back(s.request(FxpFsetstat, [&](Packet& p) {
                        p.str(handle).u32(AttrSize).u64(static_cast<quint64>(offset));
                    }));
                }
                closing.push_back(s.request(FxpClose, [&](Packet& p) { p.str(handle); }));
                closing.push_back(s.request(FxpStat, [&](Packet& p) { p.str(target.toUtf8()); }));
                // The next file opens behind them, and its writes follow its answer at once.
                const QString next = std::exchange(expected_, QString());
                if (!next.isEmpty() && !s.ahead && s.resolve(next) != target) {
                    s.openAhead(s.resolve(next));
                }
            }
            if (s.exchange()) {
                idleSince = s.serverNow();
            }
            bool any = false;
            while (!inFlight.empty() && s.replies.count(inFlight.front())) {
                const quint32 id = inFlight.front();
                inFlight.pop_front();
                const Reply r = std::move(s.replies[id]);
                s.replies.erase(id);
                if (r.type != FxpStatus || Session::statusOf(r) != FxOk) {
                    s.forget(inFlight);
                    if (closing.empty()) {
                        s.closeHandleLater(handle);
                    }
                    s.forget(closing);
                    if (r.type != FxpStatus) {
                        throw BadReply();
                    }
                    s.refuse(r, what);
                }
                confirmed += lengths[id];
                lengths.erase(id);
                any = true;
            }
            if (any && Progress) {
                Progress(confirmed);
            }
            if (!any && !inFlight.empty()) {
                if (s.serverNow() - idleSince > Timeout) {
                    s.timedOut();
                }
                s.pollSocket();
            }
            s.tick();
        }
        if (closing.size() > 2) {
            const quint32 cutId = closing.front();
            closing.pop_front();
            const Reply cut = s.await(cutId);
            if (cut.type != FxpStatus || Session::statusOf(cut) != FxOk) {
                s.forget(closing);
                s.expectOk(cut, what);
            }
        }
        const quint32 closeId = closing.front(), statId = closing.back();
        const Reply closed = s.await(closeId);
        const Reply stated = s.await(statId);
        s.expectOk(closed, what);
        // Only a file the server holds whole counts as sent.
        std::optional<Attributes> there;
        if (stated.type == FxpAttrs) {
            Reader reader(stated.body);
            there = reader.attributes();
        }
        if (!there || !(there->flags & AttrSize) || static_cast<qint64>(there->size) != offset) {
            throw SftpRefusal(QStringLiteral("Файл \u00AB%1\u00BB на сервере не того размера "
                                             "(%2 байт вместо %3); он не записан как отправленный.")
                                  .arg(remotePath)
                                  .arg(there ? static_cast<qint64>(there->size) : -1)
                                  .arg(offset),
                              550);
        }
        if (sentDigest) {
            *sentDigest = md5.hexDigest();
        }
    });
}

void SftpClient::DownloadFile(const QString& remotePath, const QString& localPath,
                              DownloadLimit limit, qint64 from) {
    if (!session_) {
        throw FtpError(QStringLiteral("Нет соединения с сервером."));
    }
    LocalFile file =
        from > 0 ? LocalFile::openToContinue(localPath, from) : LocalFile::create(localPath);
    guarded(session_, [&](Session& s) {
        const QString what =
            QStringLiteral("Файл \u00AB%1\u00BB не получен с сервера").arg(remotePath);
        const QByteArray handle = s.expectHandle(
            s.await(s.request(
                FxpOpen,
                [&](Packet& p) { p.str(s.resolve(remotePath).toUtf8()).u32(OpenRead).u32(0); })),
            what);
        struct Asked {
            quint32 id;
            qint64 offset;
        };
        std::deque<Asked> asked;
        qint64 next = from, received = from;
        LineCounter counter;
        const auto ask = [&] {
            while (asked.size() < ReadsInFlight) {
                const qint64 offset = next;
                asked.push_back(
                    {s.request(FxpRead,
                               [&](Packet& p) {
                                   p.str(handle).u64(static_cast<quint64>(offset)).u32(ChunkSize);
                               }),
                     offset});
                next += ChunkSize;
            }
        };
        const auto stopReading = [&] {
            std::deque<quint32> ids;
            for (const Asked& a : asked) {
                ids.push_back(a.id);
            }
            s.forget(ids);
            asked.clear();
        };
        ask();
        for (;;) {
            const Reply r = s.await(asked.front().id);
            asked.pop_front();
            if (r.type == FxpStatus) {
                stopReading();
                if (Session::statusOf(r) == FxEof) {
                    break;
                }
                s.closeHandleLater(handle);
                s.refuse(r, what);
            }
            if (r.type != FxpData) {
                throw BadReply();
            }
            Reader reader(r.body);
            const QByteArrayView bytes = reader.str();
            if (bytes.size() > ChunkSize) {
                throw BadReply();  // more than was asked for
            }
            received += bytes.size();
            if (limit.shared && !limit.shared->take(bytes.size())) {
                throw FtpError(QStringLiteral("Файлы на сервере %1 вместе больше %2; скачивание "
                                              "прервано.")
                                   .arg(s.peer, sizeText(limit.shared->maxBytes())));
            }
            if (limit.maxBytes >= 0 && received > limit.maxBytes) {
                throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB на сервере %2 больше %3; "
                                              "скачивание прервано.")
                                   .arg(remotePath, s.peer, sizeText(limit.maxBytes)));
            }
            if (limit.maxLines >= 0) {
                counter.add(bytes);
                if (counter.lines() > limit.maxLines) {
                    throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB на сервере %2 длиннее %3 "
                                                  "строк; скачивание прервано.")
                                       .arg(remotePath, s.peer)
                                       .arg(limit.maxLines));
                }
            }
            file.write(bytes);
            if (Progress) {
                Progress(received);
            }
            if (bytes.size() < ChunkSize || bytes.isEmpty()) {
                // A short answer: the requests after it asked for the wrong places.
                stopReading();
                next = received;
            }
            ask();
            s.tick();
        }
        s.closeHandle(handle, what);
        file.close();
    });
}

void SftpClient::ExpectUpload(const QString& remotePath) {
    expected_ = remotePath;
}

void SftpClient::ForgetExpectedUpload() {
    expected_.clear();
    if (session_ && session_->ahead) {
        try {
            guarded(session_, [](Session& s) { s.dropAhead(); });
        } catch (const Cancelled&) {
            throw;
        } catch (...) {
            session_.reset();  // a failure of this kind leaves nothing to report
        }
    }
}

void SftpClient::CloseSession() {
    ForgetExpectedUpload();
    if (session_ && session_->ssh) {
        ssh_disconnect(session_->ssh);
        ssh_free(session_->ssh);
        session_->ssh = nullptr;
        session_->channel = nullptr;  // freed with its session
    }
    session_.reset();
}

void SftpClient::DropConnection() {
    session_.reset();
}

bool SftpClient::IsConnected() {
    if (!session_) {
        return false;
    }
    Session& s = *session_;
    const int polled = ssh_channel_poll(s.channel, 0);
    if (polled == SSH_ERROR || polled == SSH_EOF || ssh_channel_is_closed(s.channel) ||
        !ssh_is_connected(s.ssh)) {
        session_.reset();
        return false;
    }
    return true;
}

const QString& SftpClient::AcceptedFingerprint() const {
    return acceptedFingerprint_;
}

bool SftpClient::IsEncrypted() const {
    return session_ != nullptr;
}

std::unique_ptr<RemoteClient> SftpClient::FurtherSession() const {
    auto further = std::make_unique<SftpClient>();
    further->Host = Host;
    further->Port = Port;
    further->Username = Username;
    further->Password = Password;
    further->Timeout = Timeout;
    further->UserSshFolder = UserSshFolder;
    further->KnownHostsFile = KnownHostsFile;
    further->KeyFile = KeyFile;
    further->KeyPassphrase = KeyPassphrase;
    further->WritesInFlight = WritesInFlight;
    // The key this session accepted, whether kept or taken once; a changed one is refused.
    further->TrustedFingerprint = acceptedFingerprint_;
    return further;
}

}  // namespace zor::publish
