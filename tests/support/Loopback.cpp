#include "support/Loopback.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSet>

namespace zor::test {
namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Inodes of the sockets listening on 127.0.0.1 and the port, from the kernel's own table.
QSet<QByteArray> listeningInodes(int port) {
    QSet<QByteArray> inodes;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return inodes;
    }
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // sl local_address rem_address st ... inode: state 0A is LISTEN.
        if (f.size() > 9 && f[1] == local && f[3] == "0A") {
            inodes.insert(f[9]);
        }
    }
    return inodes;
}

}  // namespace

LoopbackSocket::LoopbackSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}

LoopbackSocket::~LoopbackSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int LoopbackSocket::bindAny() {
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

bool LoopbackSocket::connectTo(int port, int seconds) {
    const timeval limit{seconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const sockaddr_in a = loopback(port);
    return ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

int freeLoopbackPort() {
    return LoopbackSocket().bindAny();
}

bool listensOn(qint64 pid, int port) {
    const QSet<QByteArray> inodes = listeningInodes(port);
    if (inodes.isEmpty()) {
        return false;
    }
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd/";
    for (const QString& fd :
         QDir(QString::fromLatin1(fds)).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const ssize_t n = ::readlink((fds + fd.toLatin1()).constData(), target, sizeof target - 1);
        const QByteArray link(target, n > 0 ? n : 0);
        if (link.startsWith("socket:[") && inodes.contains(link.mid(8).chopped(1))) {
            return true;
        }
    }
    return false;
}

int startOnFreePort(QProcess& process, const std::function<void(int)>& launch, int timeoutMs) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = freeLoopbackPort();
        launch(port);
        if (!process.waitForStarted(10000)) {
            return 0;
        }
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (listensOn(process.processId(), port)) {
                return port;
            }
            // Also the bounded pause between looks; true once the server gave up.
            if (process.state() == QProcess::NotRunning || process.waitForFinished(20)) {
                break;
            }
        }
        stopProcess(process);
    }
    return 0;
}

QByteArray LoopbackServer::logText(const char* name) const {
    QFile f(dir_.filePath(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void stopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

}  // namespace zor::test
