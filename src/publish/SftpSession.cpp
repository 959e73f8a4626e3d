#include "publish/SftpSession.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <memory>
#include <mutex>

#include "publish/TcpConnection.h"

// The SFTP session's connection: TCP, the SSH handshake, the login and the SFTP channel.
namespace zor::publish {

using namespace sftp;

SftpClient::Session::~Session() {
    if (channel) {
        ssh_channel_free(channel);
    }
    if (ssh) {
        ssh_silent_disconnect(ssh);
        ssh_free(ssh);
    }
}

void SftpClient::Session::pump() {
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

void SftpClient::Session::timedOut() const {
    throw ConnectionTimedOut(
        QStringLiteral("Сервер %1 не ответил за %2 с; соединение прервано.")
            .arg(peer)
            .arg(std::chrono::duration_cast<std::chrono::seconds>(client.Timeout).count()));
}

void SftpClient::Session::lost(const QString& why) const {
    const QString detail = why.isEmpty() && ssh ? QString::fromUtf8(ssh_get_error(ssh)) : why;
    throw ConnectionLost(
        QStringLiteral("Соединение с сервером %1 прервано%2")
            .arg(peer, detail.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + detail));
}

void SftpClient::Session::pollSocket() {
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

int SftpClient::Session::connectTcp(const QString& host, int port) {
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
            const int error = ::getaddrinfo(name.constData(), service.constData(), &hints, &found);
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
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || waitConnected(fd, reason, refused)) {
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

bool SftpClient::Session::waitConnected(int fd, QString& reason, bool& refused) {
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

void SftpClient::Session::open(const QString& host, int port) {
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

void SftpClient::Session::login() {
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

bool SftpClient::Session::siteKey(milliseconds limit) {
    const QByteArray file = QFile::encodeName(client.KeyFile);
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(file.constData(), nullptr, nullptr, nullptr, &key) != SSH_OK) {
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
            if (ssh_pki_import_privkey_file(file.constData(), phrase.constData(), nullptr, nullptr,
                                            &key) != SSH_OK) {
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

bool SftpClient::Session::keyboardInteractive(const QByteArray& password, milliseconds limit) {
    for (int round = 0; round < 5; ++round) {
        const int rc = repeat([&] { return ssh_userauth_kbdint(ssh, nullptr, nullptr); }, limit);
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

void SftpClient::Session::openChannel() {
    channel = ssh_channel_new(ssh);
    if (!channel) {
        lost();
    }
    const milliseconds limit = 2 * client.Timeout;
    if (repeat([&] { return ssh_channel_open_session(channel); }, limit) != SSH_OK) {
        lost();
    }
    if (repeat([&] { return ssh_channel_request_subsystem(channel, "sftp"); }, limit) != SSH_OK) {
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

}  // namespace zor::publish
