#include "publish/TcpConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QLocale>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <memory>

namespace zor::publish {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

QString seconds(milliseconds ms) {
    return QLocale(QLocale::Russian).toString(static_cast<double>(ms.count()) / 1000.0, 'g', 3);
}

}  // namespace

QString socketErrorText(int error) {
    switch (error) {
        case ECONNREFUSED:
            return QStringLiteral("сервер отклонил соединение");
        case ECONNRESET:
        case EPIPE:
            return QStringLiteral("сервер сбросил соединение");
        case ECONNABORTED:
            return QStringLiteral("соединение прервано");
        case ETIMEDOUT:
            return QStringLiteral("сервер не отвечает");
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return QStringLiteral("сервер недоступен");
        case ENETUNREACH:
        case ENETDOWN:
            return QStringLiteral("сеть недоступна");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

void Pacer::run() {
    if (pump_) {
        pump_();
    }
    lastRun_ = steady_clock::now();
}

void Pacer::tick() {
    if (pump_ && steady_clock::now() - lastRun_ >= interval) {
        run();
    }
}

void TcpConnection::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpConnection::abort() {
    if (fd_ >= 0) {
        const linger reset{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close();
    }
}

void TcpConnection::connectToHost(const QString& host, int port, Pacer& pacer) {
    close();
    peerName_ = host;
    if (port < 1 || port > 65535) {
        throw FtpError(QStringLiteral("Неверный номер порта сервера FTP: %1.").arg(port));
    }
    // Internationalised domain names are looked up in their ASCII form.
    QByteArray name = QUrl::toAce(host);
    if (name.isEmpty()) {
        name = host.toUtf8();
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc =
        ::getaddrinfo(name.constData(), QByteArray::number(port).constData(), &hints, &found);
    if (rc != 0) {
        const QString reason = rc == EAI_NONAME || rc == EAI_NODATA
                                   ? QStringLiteral("такого имени нет")
                                   : QString::fromLocal8Bit(::gai_strerror(rc));
        throw FtpError(
            QStringLiteral("Не удалось найти сервер \u00AB%1\u00BB: %2.").arg(host, reason));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, &::freeaddrinfo);

    QString reason;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (tryConnect(a->ai_addr, a->ai_addrlen, pacer, reason)) {
            return;
        }
    }
    throw FtpError(QStringLiteral("Не удалось подключиться к серверу %1 (порт %2): %3.")
                       .arg(host)
                       .arg(port)
                       .arg(reason));
}

void TcpConnection::connectToPeerOf(const TcpConnection& other, quint16 port, Pacer& pacer) {
    close();
    peerName_ = other.peerName_;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(other.fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throwLost(errno);
    }
    if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
    }
    QString reason;
    if (!tryConnect(&address, length, pacer, reason)) {
        throw FtpError(
            QStringLiteral(
                "Не удалось открыть соединение для передачи данных с сервером %1 (порт %2): %3.")
                .arg(peerName_)
                .arg(port)
                .arg(reason));
    }
}

bool TcpConnection::tryConnect(const void* address, unsigned length, Pacer& pacer,
                               QString& reason) {
    const auto* sa = static_cast<const sockaddr*>(address);
    fd_ = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        reason = socketErrorText(errno);
        return false;
    }
    // Commands and short files go out at once instead of waiting for the previous segment's
    // acknowledgement.
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    int error = 0;
    if (::connect(fd_, sa, length) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            if (!waitReady(POLLOUT, pacer)) {
                reason = QStringLiteral("сервер не принял соединение за %1 с")
                             .arg(seconds(pacer.timeout()));
                close();
                return false;
            }
            socklen_t size = sizeof error;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                error = errno;
            }
        }
    }
    if (error != 0) {
        reason = socketErrorText(error);
        close();
        return false;
    }
    return true;
}

bool TcpConnection::waitReady(short events, Pacer& pacer) {
    milliseconds left = pacer.timeout();
    for (;;) {
        const milliseconds slice = pacer.pumping() ? std::min(left, Pacer::interval) : left;
        pollfd p{fd_, events, 0};
        const auto start = steady_clock::now();
        const int rc =
            ::poll(&p, 1, static_cast<int>(std::max<milliseconds::rep>(slice.count(), 0)));
        // Errors and hang-ups count as ready: the call that follows reports them.
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            return true;
        }
        // Time spent in the pump (a dialog the user keeps open, say) is not the server's fault.
        left -= std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
        if (left <= milliseconds::zero()) {
            return false;
        }
        pacer.run();
    }
}

qsizetype TcpConnection::receiveSome(char* buffer, qsizetype size, Pacer& pacer) {
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, static_cast<size_t>(size), 0);
        if (n >= 0) {
            return n;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            throwLost(errno);
        }
        if (!waitReady(POLLIN, pacer)) {
            throwTimedOut(pacer);
        }
    }
}

void TcpConnection::sendAll(QByteArrayView bytes, Pacer& pacer) {
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(fd_, p, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            throwLost(errno);
        }
        if (!waitReady(POLLOUT, pacer)) {
            throwTimedOut(pacer);
        }
    }
}

bool TcpConnection::sendNoWait(QByteArrayView bytes) {
    if (fd_ < 0) {
        return false;
    }
    const ssize_t n =
        ::send(fd_, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == bytes.size();
}

bool TcpConnection::peerHasClosed() const {
    if (fd_ < 0) {
        return true;
    }
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void TcpConnection::throwTimedOut(const Pacer& pacer) {
    throw ConnectionTimedOut(
        (role_ == Role::Control
             ? QStringLiteral("Сервер %1 не ответил за %2 с.")
             : QStringLiteral("Сервер %1 не передаёт и не принимает данные уже %2 с; передача "
                              "прервана."))
            .arg(peerName_, seconds(pacer.timeout())));
}

void TcpConnection::throwLost(int error) {
    throw ConnectionLost(
        (role_ == Role::Control
             ? QStringLiteral("Соединение с сервером %1 разорвано: %2.")
             : QStringLiteral("Соединение для передачи данных с сервером %1 разорвано: %2."))
            .arg(peerName_, socketErrorText(error)));
}

}  // namespace zor::publish
