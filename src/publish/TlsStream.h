#pragma once

#include <QString>
#include <vector>

#include "publish/FtpEncryption.h"

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;
struct x509_store_ctx_st;

// TLS for the FTP client's sockets, on OpenSSL. Nothing here waits: every step either completes
// or says which way the socket must become ready before it is tried again, so the caller's
// waits (time-outs, pump, Cancel) stay in charge.
namespace zor::publish {

// The client side settings: the system's trusted certificates (SSL_CERT_FILE and SSL_CERT_DIR
// stand in for them when set), TLS 1.2 at least. Throws FtpError when OpenSSL cannot set up.
class TlsContext {
public:
    TlsContext();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;
    ssl_ctx_st* get() const { return ctx_; }

private:
    ssl_ctx_st* ctx_;
};

// One TLS client connection over a connected non-blocking socket, which it does not own.
class TlsStream {
public:
    enum class Status { Done, WantRead, WantWrite, Closed, Failed };

    // `host` is checked against the certificate and sent as the server name; `resume` is the
    // connection whose session this one continues (the data connections of FTP).
    TlsStream(const TlsContext& context, int fd, const QString& host, TlsStream* resume);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    Status handshake();
    bool handshakeDone() const { return handshakeDone_; }
    // Done with `got` > 0, or Closed when the peer ended the stream (close notice or plain end).
    Status read(char* buffer, qsizetype size, qsizetype& got);
    // After read() gave Closed: whether the peer sent its close notice, rather than just ending
    // the TCP stream, which anyone on the way can do.
    bool closeNotified() const { return closeNotified_; }
    // Done with `written` > 0 bytes taken (maybe fewer than `size`).
    Status write(const char* data, qsizetype size, qsizetype& written);
    // Sends the close notice; Done once it went out.
    Status shutdown();

    // After Failed: why, in the words of the interface.
    const QString& failure() const { return failure_; }

    // The peer's certificate with what the system's check found; after the handshake.
    ServerCertificate certificate() const;
    QString fingerprint() const;
    bool resumed() const;

private:
    Status status(int rc, const char* step);
    // The session for another connection to resume. Taken when first asked, not at the end of
    // the handshake: with TLS 1.3 the server's tickets come after it, with its first words.
    ssl_session_st* session();

    // Offers first the key exchange group `other` agreed on with the same server.
    void preferGroupOf(const TlsStream& other);

    ssl_st* ssl_;
    ssl_session_st* session_ = nullptr;
    bool handshakeDone_ = false;
    bool closeNotified_ = false;
    QString host_;
    QString failure_;
    std::vector<int> verifyErrors_;

    // Notes every fault the check finds and lets the handshake go on: whether to go on with
    // such a certificate is the user's question, asked once the handshake is done.
    static int verifyCallback(int ok, x509_store_ctx_st* store);
    friend class TlsContext;
};

}  // namespace zor::publish
