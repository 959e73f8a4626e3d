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
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

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
        const auto start = Clock::now();
        // Counted even when the pump throws: the limits must not see it as the server's time.
        struct Account {
            Pacer& p;
            Clock::time_point start;
            ~Account() {
                p.lastRun_ = Clock::now();
                p.pumped_ += p.lastRun_ - start;
            }
        } account{*this, start};
        pump_();
    } else {
        lastRun_ = Clock::now();
    }
}

void Pacer::tick() {
    if (pump_ && Clock::now() - lastRun_ >= interval) {
        run();
    }
}

void Pacer::setLimit(Limit limit) {
    limit_ = limit;
    limitStart_ = serverNow();
    windowBytes_ = 0;
}

milliseconds Pacer::limitLength() const {
    return limit_ == Limit::Rate ? timeout_ : 2 * timeout_;
}

milliseconds Pacer::limitLeft() const {
    if (limit_ == Limit::None) {
        return milliseconds::max();
    }
    return std::chrono::duration_cast<milliseconds>(limitStart_ + limitLength() - serverNow());
}

void Pacer::moved(qint64 bytes) {
    if (limit_ != Limit::Rate) {
        return;
    }
    windowBytes_ += bytes;
    if (windowBytes_ >= MinRateBytes) {
        limitStart_ = serverNow();
        windowBytes_ = 0;
    }
}

bool runOffThread(std::function<void()> work, Pacer& pacer) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work)] {
        try {
            work();
        } catch (...) {
            // Nobody may be left to hear of it; the caller finds its results missing.
        }
        const std::lock_guard lock(shared->mutex);
        shared->done = true;
        shared->finished.notify_all();
    }).detach();

    milliseconds left = pacer.timeout();
    for (;;) {
        const milliseconds slice = pacer.pumping() ? std::min(left, Pacer::interval) : left;
        const auto start = steady_clock::now();
        {
            std::unique_lock lock(shared->mutex);
            if (shared->finished.wait_for(lock, slice, [&] { return shared->done; })) {
                return true;
            }
        }
        left -= std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
        if (left <= milliseconds::zero()) {
            return false;
        }
        pacer.run();
    }
}

TcpConnection::~TcpConnection() {
    close();
}

void TcpConnection::close() {
    if (tls_ && fd_ >= 0 && tls_->handshakeDone()) {
        tls_->shutdown();
    }
    tls_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpConnection::finish(Pacer& pacer) {
    if (tls_) {
        try {
            for (;;) {
                const TlsStream::Status s = tls_->shutdown();
                if (s == TlsStream::Status::Done) {
                    break;
                }
                awaitTls(s, pacer);
            }
            // A peer that keeps sending instead of ending gets no more than one time-out in all
            // (the data moving counts as no progress here) and MaxDrainedBytes.
            Pacer drain(pacer.timeout() / 2, pacer.pumpFn());
            const PacerLimit once(drain, Pacer::Limit::Reply);
            char rest[4096];
            qsizetype drained = 0;
            while (drained <= MaxDrainedBytes) {
                const qsizetype n = receiveSome(rest, sizeof rest, drain);
                if (n == 0) {
                    break;
                }
                drained += n;
            }
        } catch (const ConnectionLost&) {
            // Everything went out before; whether it all arrived is the end reply's to say.
        } catch (const ConnectionTimedOut&) {
            // Likewise: the peer did not end in time, and the end reply says what it got.
        }
    }
    close();
}

void TcpConnection::abort() {
    tls_.reset();  // without a close notice: the peer must not take the transfer for complete
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
    // The look-up can take many seconds (a slow or absent name server) and cannot be
    // interrupted, so it runs beside the pump rather than in its way.
    struct Lookup {
        QByteArray name, service;
        addrinfo* found = nullptr;
        int rc = EAI_SYSTEM;
        ~Lookup() {
            if (found) {
                ::freeaddrinfo(found);
            }
        }
    };
    auto lookup = std::make_shared<Lookup>();
    lookup->name = name;
    lookup->service = QByteArray::number(port);
    const bool answered = runOffThread(
        [lookup] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            lookup->rc = ::getaddrinfo(lookup->name.constData(), lookup->service.constData(),
                                       &hints, &lookup->found);
        },
        pacer);
    if (!answered) {
        throw ConnectionTimedOut(
            QStringLiteral("Не удалось найти сервер \u00AB%1\u00BB: нет ответа за %2 с.")
                .arg(host, seconds(pacer.timeout())));
    }
    const int rc = lookup->rc;
    if (rc != 0) {
        const QString reason = rc == EAI_NONAME || rc == EAI_NODATA
                                   ? QStringLiteral("такого имени нет")
                                   : QString::fromLocal8Bit(::gai_strerror(rc));
        throw FtpError(
            QStringLiteral("Не удалось найти сервер \u00AB%1\u00BB: %2.").arg(host, reason));
    }
    const addrinfo* found = lookup->found;

    QString reason;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (tryConnect(a->ai_addr, a->ai_addrlen, pacer, reason)) {
            return;
        }
    }
    const QString text = QStringLiteral("Не удалось подключиться к серверу %1 (порт %2): %3.")
                             .arg(host)
                             .arg(port)
                             .arg(reason);
    if (refused_) {
        throw ConnectionRefused(text);
    }
    throw FtpError(text);
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
    refused_ = false;
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
    refused_ = error == ECONNREFUSED;
    if (error != 0) {
        reason = socketErrorText(error);
        close();
        return false;
    }
    return true;
}

namespace {

// Polls until one of `fds` is ready, within the pacer's limits and running its pump; false when
// the limits ran out first.
bool pollReady(pollfd* fds, nfds_t count, Pacer& pacer) {
    milliseconds idle = pacer.timeout();
    for (;;) {
        const milliseconds left = std::min(idle, pacer.limitLeft());
        if (left <= milliseconds::zero()) {
            return false;
        }
        const milliseconds slice = pacer.pumping() ? std::min(left, Pacer::interval) : left;
        const auto start = steady_clock::now();
        const int rc = ::poll(fds, count, static_cast<int>(slice.count()));
        // Errors and hang-ups count as ready: the call that follows reports them.
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            pacer.tick();
            return true;
        }
        idle -= std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
        if (idle <= milliseconds::zero()) {
            return false;
        }
        pacer.run();
    }
}

}  // namespace

bool TcpConnection::waitReady(short events, Pacer& pacer) {
    pollfd p{fd_, events, 0};
    return pollReady(&p, 1, pacer);
}

void TcpConnection::waitEither(TcpConnection& a, short aEvents, TcpConnection& b, short bEvents,
                               Pacer& pacer) {
    // A negative descriptor is skipped by poll.
    pollfd p[2] = {{aEvents ? a.fd_ : -1, aEvents, 0}, {bEvents ? b.fd_ : -1, bEvents, 0}};
    if (!pollReady(p, 2, pacer)) {
        a.throwTimedOut(pacer);
    }
}

void TcpConnection::awaitTls(TlsStream::Status status, Pacer& pacer) {
    if (status == TlsStream::Status::WantRead || status == TlsStream::Status::WantWrite) {
        if (!waitReady(status == TlsStream::Status::WantRead ? POLLIN : POLLOUT, pacer)) {
            throwTimedOut(pacer);
        }
        return;
    }
    if (status == TlsStream::Status::Closed) {
        throwLost(EPIPE);
    }
    throwTlsLost();
}

void TcpConnection::beginTls(const TlsContext& context, TcpConnection* resume) {
    tls_ =
        std::make_unique<TlsStream>(context, fd_, peerName_, resume ? resume->tls_.get() : nullptr);
}

short TcpConnection::continueTls() {
    switch (tls_->handshake()) {
        case TlsStream::Status::Done:
            return 0;
        case TlsStream::Status::WantRead:
            return POLLIN;
        case TlsStream::Status::WantWrite:
            return POLLOUT;
        default:
            throw TlsHandshakeFailed(
                (role_ == Role::Control
                     ? QStringLiteral("Не удалось установить защищённое соединение с сервером "
                                      "%1: %2.")
                     : QStringLiteral("Не удалось установить защищённое соединение для передачи "
                                      "данных с сервером %1: %2."))
                    .arg(peerName_, tls_->failure()));
    }
}

void TcpConnection::startTls(const TlsContext& context, TcpConnection* resume, Pacer& pacer) {
    // A peer that sends its handshake a byte now and then keeps every single wait short; the
    // whole of it must still end in time.
    const PacerLimit whole(pacer, Pacer::Limit::Handshake);
    beginTls(context, resume);
    while (const short events = continueTls()) {
        if (!waitReady(events, pacer)) {
            throwTimedOut(pacer);
        }
    }
}

qsizetype TcpConnection::receiveSome(char* buffer, qsizetype size, Pacer& pacer) {
    for (;;) {
        pacer.tick();
        // Data that keeps arriving in dribs is no excuse once the limit has run out.
        if (pacer.limitLeft() <= milliseconds::zero()) {
            throwTimedOut(pacer);
        }
        if (tls_) {
            qsizetype got = 0;
            const TlsStream::Status s = tls_->read(buffer, size, got);
            if (s == TlsStream::Status::Done || s == TlsStream::Status::Closed) {
                if (role_ == Role::Data) {
                    pacer.moved(got);
                }
                return got;
            }
            awaitTls(s, pacer);
            continue;
        }
        const ssize_t n = ::recv(fd_, buffer, static_cast<size_t>(size), 0);
        if (n >= 0) {
            if (role_ == Role::Data) {
                pacer.moved(n);
            }
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

qsizetype TcpConnection::receiveNow(char* buffer, qsizetype size) {
    if (tls_) {
        qsizetype got = 0;
        switch (tls_->read(buffer, size, got)) {
            case TlsStream::Status::Done:
            case TlsStream::Status::Closed:
                return got;
            case TlsStream::Status::WantRead:
            case TlsStream::Status::WantWrite:
                return -1;
            case TlsStream::Status::Failed:
                throwTlsLost();
        }
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, static_cast<size_t>(size), 0);
        if (n >= 0) {
            return n;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return -1;
        }
        if (errno != EINTR) {
            throwLost(errno);
        }
    }
}

void TcpConnection::sendAll(QByteArrayView bytes, Pacer& pacer) {
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        pacer.tick();
        if (pacer.limitLeft() <= milliseconds::zero()) {
            throwTimedOut(pacer);
        }
        if (tls_) {
            qsizetype written = 0;
            const TlsStream::Status s = tls_->write(p, left, written);
            if (s == TlsStream::Status::Done) {
                if (role_ == Role::Data) {
                    pacer.moved(written);
                }
                p += written;
                left -= written;
            } else {
                awaitTls(s, pacer);
            }
            continue;
        }
        const ssize_t n = ::send(fd_, p, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (n > 0) {
            if (role_ == Role::Data) {
                pacer.moved(n);
            }
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
    if (tls_) {
        qsizetype written = 0;
        return tls_->write(bytes.data(), bytes.size(), written) == TlsStream::Status::Done &&
               written == bytes.size();
    }
    const ssize_t n =
        ::send(fd_, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == bytes.size();
}

bool TcpConnection::endedCleanly() const {
    return !tls_ || tls_->closeNotified();
}

bool TcpConnection::peerHasClosed() const {
    if (fd_ < 0) {
        return true;
    }
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void TcpConnection::throwTimedOut(const Pacer& pacer) {
    if (pacer.limitLeft() <= milliseconds::zero()) {
        if (pacer.limit() == Pacer::Limit::Reply) {
            throw ConnectionTimedOut(QStringLiteral("Сервер %1 не прислал ответ целиком за %2 с.")
                                         .arg(peerName_, seconds(pacer.limitLength())));
        }
        if (pacer.limit() == Pacer::Limit::Handshake) {
            throw ConnectionTimedOut(
                QStringLiteral("Сервер %1 не установил защищённое соединение за %2 с; соединение "
                               "прервано.")
                    .arg(peerName_, seconds(pacer.limitLength())));
        }
        throw ConnectionTimedOut(QStringLiteral("Сервер %1 передаёт данные слишком медленно "
                                                "(меньше 1 КБ за %2 с); передача прервана.")
                                     .arg(peerName_, seconds(pacer.limitLength())));
    }
    throw ConnectionTimedOut(
        (role_ == Role::Control
             ? QStringLiteral("Сервер %1 не ответил за %2 с.")
             : QStringLiteral("Сервер %1 не передаёт и не принимает данные уже %2 с; передача "
                              "прервана."))
            .arg(peerName_, seconds(pacer.timeout())));
}

void TcpConnection::throwTlsLost() {
    throw ConnectionLost(
        (role_ == Role::Control
             ? QStringLiteral("Защищённое соединение с сервером %1 разорвано: %2.")
             : QStringLiteral("Защищённое соединение для передачи данных с сервером %1 "
                              "разорвано: %2."))
            .arg(peerName_, tls_->failure()));
}

void TcpConnection::throwLost(int error) {
    throw ConnectionLost(
        (role_ == Role::Control
             ? QStringLiteral("Соединение с сервером %1 разорвано: %2.")
             : QStringLiteral("Соединение для передачи данных с сервером %1 разорвано: %2."))
            .arg(peerName_, socketErrorText(error)));
}

}  // namespace zor::publish
