#pragma once

#include <QProcess>
#include <functional>

// TCP on 127.0.0.1 for tests: sockets, free ports, and servers started on one.
namespace zor::test {

// A TCP socket on 127.0.0.1, closed when it goes.
class LoopbackSocket {
public:
    LoopbackSocket();
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    int fd() const { return fd_; }
    // Binds a port the system picks, without listening; 0 when that fails.
    int bindAny();
    // Connects, with `seconds` as the limit of every later receive.
    bool connectTo(int port, int seconds = 2);

private:
    int fd_;
};

// A port nobody listens on right now (bound once and released).
int freeLoopbackPort();
// Whether the process itself holds a socket listening on 127.0.0.1 and the port: what answers
// there is that process, not one that happened to take the port first.
bool listensOn(qint64 pid, int port);
// Starts a server that is told its port: `launch(port)` starts `process` on a free port, and
// it is ready once that process listens there. Another program can take the port between
// the choice and the bind; the server then exits or never listens, and another port is tried.
// Returns the port, or 0 when the server never came up.
int startOnFreePort(QProcess& process, const std::function<void(int port)>& launch,
                    int timeoutMs = 15000);
void stopProcess(QProcess& process);

}  // namespace zor::test
