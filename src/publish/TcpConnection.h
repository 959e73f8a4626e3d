#pragma once

#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <functional>

#include "publish/FtpError.h"

// The FTP client's sockets: blocking calls on the caller's thread, each wait bounded by an
// inactivity limit and interleaved with the caller's pump.
namespace zor::publish {

// A wait ran out without the peer moving a byte.
class ConnectionTimedOut : public FtpError {
public:
    using FtpError::FtpError;
};

// The peer reset or closed the connection under us.
class ConnectionLost : public FtpError {
public:
    using FtpError::FtpError;
};

// The limits of one client operation: how long any single wait may last without progress, and
// the pump that lets the window live meanwhile. The pump runs at most every `interval`, both
// while a wait lasts and between chunks of a transfer (tick()).
class Pacer {
public:
    static constexpr std::chrono::milliseconds interval{20};

    Pacer(std::chrono::milliseconds timeout, const std::function<void()>& pump)
        : timeout_(timeout), pump_(pump) {}
    std::chrono::milliseconds timeout() const { return timeout_; }
    bool pumping() const { return static_cast<bool>(pump_); }
    void run();
    void tick();

private:
    std::chrono::milliseconds timeout_;
    const std::function<void()>& pump_;
    std::chrono::steady_clock::time_point lastRun_ = std::chrono::steady_clock::now();
};

// One TCP connection over a non-blocking POSIX socket. Failures throw FtpError (or one of the
// two kinds above) with a text for the user that names the server.
class TcpConnection {
public:
    enum class Role { Control, Data };

    explicit TcpConnection(Role role) : role_(role) {}
    ~TcpConnection() { close(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Resolves the name and connects to the first of its addresses that answers.
    void connectToHost(const QString& host, int port, Pacer& pacer);
    // Connects to the address `other` is connected to, on another port.
    void connectToPeerOf(const TcpConnection& other, quint16 port, Pacer& pacer);

    bool isOpen() const { return fd_ >= 0; }
    void close();
    // Closes with a reset rather than an orderly end, so the peer cannot take a transfer cut
    // short for a complete one.
    void abort();

    // Receives what is there, waiting for at least one byte; 0 when the peer closed.
    qsizetype receiveSome(char* buffer, qsizetype size, Pacer& pacer);
    void sendAll(QByteArrayView bytes, Pacer& pacer);
    // One attempt that never waits; false when not everything went out.
    bool sendNoWait(QByteArrayView bytes);
    // Whether the peer has closed or reset the connection (checked without waiting).
    bool peerHasClosed() const;

    // The server's name as the user gave it, for messages.
    const QString& peerName() const { return peerName_; }

private:
    bool tryConnect(const void* address, unsigned length, Pacer& pacer, QString& reason);
    bool waitReady(short events, Pacer& pacer);
    [[noreturn]] void throwTimedOut(const Pacer& pacer);
    [[noreturn]] void throwLost(int error);

    Role role_;
    int fd_ = -1;
    QString peerName_;
};

// The reason for a socket error in the words of the interface.
QString socketErrorText(int error);

}  // namespace zor::publish
