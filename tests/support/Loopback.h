#pragma once

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <utility>

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
    // Connects, with `seconds` as the limit of every later receive (0: none).
    bool connectTo(int port, int seconds = 2);
    // Hands the descriptor over: the caller closes it.
    int release() { return std::exchange(fd_, -1); }

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

// A server process of the tests on a loopback port of its own, with a folder for its
// configuration and logs. Stopped when it goes.
class LoopbackServer {
public:
    virtual ~LoopbackServer() { stopProcess(process_); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    bool started() const { return port_ != 0; }
    int port() const { return port_; }

protected:
    LoopbackServer() = default;
    // A file of the server's folder, as far as it is written: a log, what the server printed.
    QByteArray logText(const char* name) const;
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
};

}  // namespace zor::test
