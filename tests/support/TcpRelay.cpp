#include "support/TcpRelay.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace zor::test {
namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

}  // namespace

TcpRelay::TcpRelay(int targetPort) : target_(targetPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::runtime_error("relay: cannot listen");
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

TcpRelay::~TcpRelay() {
    const char stop = 's';
    (void)::write(wake_[1], &stop, 1);
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
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
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Pair& p : pairs) {
            fds.push_back({p.client, POLLIN, 0});
            fds.push_back({p.server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            continue;
        }
        if (fds[0].revents) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = loopback(target_);
            if (client >= 0 && server >= 0 &&
                ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
                pairs.push_back({client, server});
            } else {
                ::close(client);
                ::close(server);
            }
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
