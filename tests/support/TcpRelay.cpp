#include "support/TcpRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace zor::test {

TcpRelay::TcpRelay(int targetPort) : target_(targetPort) {
    port_ = listener_.bindAny();
    if (port_ == 0 || ::listen(listener_.fd(), 8) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::runtime_error("relay: cannot listen");
    }
    thread_ = std::thread([this] { run(); });
}

TcpRelay::~TcpRelay() {
    const char stop = 's';
    (void)::write(wake_[1], &stop, 1);
    thread_.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void TcpRelay::stall() {
    stalled_ = true;
    const char wake = 'w';
    (void)::write(wake_[1], &wake, 1);
}

QByteArray TcpRelay::fromClients() const {
    const std::lock_guard lock(mutex_);
    return seen_;
}

void TcpRelay::run() {
    struct Pair {
        int client, server;
    };
    std::vector<Pair> pairs;
    for (;;) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_.fd(), POLLIN, 0}};
        // Stalled, nothing moves any more, yet every connection stays open.
        const bool stalled = stalled_;
        for (const Pair& p : stalled ? std::vector<Pair>() : pairs) {
            fds.push_back({p.client, POLLIN, 0});
            fds.push_back({p.server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            continue;
        }
        if (fds[0].revents) {
            char why = 0;
            if (::read(wake_[0], &why, 1) != 1 || why == 's') {
                break;
            }
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            LoopbackSocket server;
            if (client >= 0 && server.connectTo(target_, 0)) {
                pairs.push_back({client, server.release()});
            } else if (client >= 0) {
                ::close(client);
            }
            continue;
        }
        if (stalled) {
            continue;
        }
        std::vector<Pair> open;
        for (size_t i = 0; i < pairs.size(); ++i) {
            const Pair& p = pairs[i];
            bool closed = false;
            for (const auto& [from, to, recorded] :
                 {std::tuple{p.client, p.server, true}, std::tuple{p.server, p.client, false}}) {
                const pollfd& f = fds[2 + 2 * i + (recorded ? 0 : 1)];
                if (!f.revents) {
                    continue;
                }
                char buffer[16384];
                const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    closed = true;
                    continue;
                }
                if (recorded) {
                    const std::lock_guard lock(mutex_);
                    seen_.append(buffer, n);
                }
                (void)::send(to, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
            }
            if (closed) {
                ::close(p.client);
                ::close(p.server);
            } else {
                open.push_back(p);
            }
        }
        pairs.swap(open);
    }
    for (const Pair& p : pairs) {
        ::close(p.client);
        ::close(p.server);
    }
}

}  // namespace zor::test
