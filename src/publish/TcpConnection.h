#pragma once

#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

#include "publish/FtpError.h"
#include "publish/TlsStream.h"

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

// The peer would not take the connection at all.
class ConnectionRefused : public FtpError {
public:
    using FtpError::FtpError;
};

// The TLS handshake failed: the two sides found no protection they share, or the peer broke
// the handshake off.
class TlsHandshakeFailed : public ConnectionLost {
public:
    using ConnectionLost::ConnectionLost;
};

// The limits of one client operation: how long any single wait may last without progress, and
// the pump that lets the window live meanwhile. The pump runs at most every `interval`, both
// while a wait lasts and between chunks of a transfer (tick()). Time spent in the pump (a
// dialog the user keeps open, say) is not the server's and counts towards no limit.
//
// On top of the inactivity limit one further limit may be in force, so that a server dripping
// a byte now and then cannot hold a command for ever: a whole reply, or a whole TLS handshake,
// within twice the time-out, or data moving at least MinRateBytes within every time-out.
class Pacer {
public:
    static constexpr std::chrono::milliseconds interval{20};
    static constexpr qint64 MinRateBytes = 1024;

    enum class Limit { None, Reply, Handshake, Rate };

    Pacer(std::chrono::milliseconds timeout, const std::function<void()>& pump)
        : timeout_(timeout), pump_(pump) {}
    std::chrono::milliseconds timeout() const { return timeout_; }
    bool pumping() const { return static_cast<bool>(pump_); }
    const std::function<void()>& pumpFn() const { return pump_; }
    void run();
    // Runs the pump when its interval has passed, whatever the connection does meanwhile: a
    // peer sending a byte every few milliseconds must not keep it (and Cancel) waiting.
    void tick();

    // Puts a limit in force from now on (Limit::None lifts it).
    void setLimit(Limit limit);
    Limit limit() const { return limit_; }
    // The whole span the limit allows.
    std::chrono::milliseconds limitLength() const;
    // What is left of it; the maximum while no limit is in force.
    std::chrono::milliseconds limitLeft() const;
    // Bytes that moved on a data connection.
    void moved(qint64 bytes);

private:
    using Clock = std::chrono::steady_clock;
    // Now, less the time spent in the pump.
    Clock::time_point serverNow() const { return Clock::now() - pumped_; }

    std::chrono::milliseconds timeout_;
    const std::function<void()>& pump_;
    Clock::time_point lastRun_ = Clock::now();
    Clock::duration pumped_{};
    Limit limit_ = Limit::None;
    Clock::time_point limitStart_{};
    qint64 windowBytes_ = 0;
};

// Puts a limit in force for the length of one step.
class PacerLimit {
public:
    PacerLimit(Pacer& pacer, Pacer::Limit limit) : pacer_(pacer) { pacer_.setLimit(limit); }
    ~PacerLimit() { pacer_.setLimit(Pacer::Limit::None); }
    PacerLimit(const PacerLimit&) = delete;
    PacerLimit& operator=(const PacerLimit&) = delete;

private:
    Pacer& pacer_;
};

// Runs `work` on a thread of its own and waits for it while running the pump, so a system call
// that blocks (a name look-up) neither freezes the window nor holds off Cancel. Returns false
// when the time-out passed first; an exception from the pump ends the wait too. Either way the
// work then finishes on its own and nobody waits for it, so it must own (share) all it touches.
bool runOffThread(std::function<void()> work, Pacer& pacer);

// One TCP connection over a non-blocking POSIX socket, plain or TLS. Failures throw FtpError (or
// one of the two kinds above) with a text for the user that names the server.
class TcpConnection {
public:
    enum class Role { Control, Data };

    explicit TcpConnection(Role role) : role_(role) {}
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Resolves the name and connects to the first of its addresses that answers.
    void connectToHost(const QString& host, int port, Pacer& pacer);
    // Connects to the address `other` is connected to, on another port.
    void connectToPeerOf(const TcpConnection& other, quint16 port, Pacer& pacer);

    bool isOpen() const { return fd_ >= 0; }
    // With TLS, the close notice goes out first if it can without waiting.
    void close();
    // Ends a connection that has said all it had: with TLS, the close notice, then a short wait
    // for the peer's end (at most one time-out and MaxDrainedBytes of whatever it still sends),
    // so that its last words do not turn the close into a reset that could cut off our last
    // bytes. Plain: close(). Whether everything arrived is the end reply's to say.
    void finish(Pacer& pacer);
    static constexpr qsizetype MaxDrainedBytes = 16 * 1024;
    // Closes with a reset rather than an orderly end, so the peer cannot take a transfer cut
    // short for a complete one.
    void abort();

    // Receives what is there, waiting for at least one byte; 0 when the peer closed.
    qsizetype receiveSome(char* buffer, qsizetype size, Pacer& pacer);
    // After receiveSome gave 0: whether the peer ended as it should. Over TLS only its close
    // notice does; an end of the TCP stream without it may be anyone on the way cutting it.
    bool endedCleanly() const;
    void sendAll(QByteArrayView bytes, Pacer& pacer);
    // One attempt that never waits; false when not everything went out.
    bool sendNoWait(QByteArrayView bytes);
    // Receives what has arrived without waiting: -1 when nothing has, 0 when the peer closed.
    qsizetype receiveNow(char* buffer, qsizetype size);
    // Whether the peer has closed or reset the connection (checked without waiting).
    bool peerHasClosed() const;

    // TLS from here on: the handshake at once, or begun and taken a step at a time, each step
    // giving the poll events it waits for (0 when the handshake is done). `resume`: the
    // connection whose TLS session this one continues.
    void startTls(const TlsContext& context, TcpConnection* resume, Pacer& pacer);
    void beginTls(const TlsContext& context, TcpConnection* resume);
    short continueTls();
    TlsStream* tls() const { return tls_.get(); }

    // Waits until `a` is ready for `aEvents` or `b` for `bEvents` (0: not waited for); throws
    // ConnectionTimedOut as `a` would when the limits run out first.
    static void waitEither(TcpConnection& a, short aEvents, TcpConnection& b, short bEvents,
                           Pacer& pacer);

    // The server's name as the user gave it, for messages.
    const QString& peerName() const { return peerName_; }

private:
    // False with the reason in words, and refused_ set when the peer refused.
    bool tryConnect(const void* address, unsigned length, Pacer& pacer, QString& reason);
    bool waitReady(short events, Pacer& pacer);
    // After a TLS step that did not complete: waits as it asks, or throws.
    void awaitTls(TlsStream::Status status, Pacer& pacer);
    [[noreturn]] void throwTimedOut(const Pacer& pacer);
    [[noreturn]] void throwLost(int error);
    [[noreturn]] void throwTlsLost();

    Role role_;
    int fd_ = -1;
    bool refused_ = false;  // the last attempt to connect was refused
    QString peerName_;
    std::unique_ptr<TlsStream> tls_;
};

// The reason for a socket error in the words of the interface.
QString socketErrorText(int error);

}  // namespace zor::publish
