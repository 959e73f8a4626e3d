#pragma once

#include <QByteArray>
#include <atomic>
#include <mutex>
#include <thread>

#include "support/Loopback.h"

namespace zor::test {

// Listens on 127.0.0.1 and a free port and passes every connection on to `targetPort` there,
// keeping a copy of what clients send: the test reads the stream as anyone on the wire could.
class TcpRelay {
public:
    explicit TcpRelay(int targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return port_; }
    // From now on moves nothing either way, keeping the connections open: a server gone silent.
    void stall();
    // Every byte clients have sent so far, all connections in turn.
    QByteArray fromClients() const;

private:
    void run();

    LoopbackSocket listener_;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    int target_;
    std::atomic<bool> stalled_{false};
    mutable std::mutex mutex_;
    QByteArray seen_;
    std::thread thread_;
};

}  // namespace zor::test
