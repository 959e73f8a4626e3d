#include "publish/TlsStream.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

#include "publish/FtpError.h"
#include "publish/TcpConnection.h"

namespace zor::publish {
namespace {

// Where each connection finds its stream from inside OpenSSL's certificate check.
int streamIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

QString lastOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return {};
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    // "error:0A000086:SSL routines::certificate verify failed": the words after the last colon.
    const QString whole = QString::fromLatin1(text);
    return whole.section(u':', -1).trimmed();
}

QString nameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QString text = QString::fromUtf8(data, static_cast<qsizetype>(size));
    BIO_free(bio);
    return text;
}

QDateTime timeOf(const ASN1_TIME* time) {
    std::tm t{};
    if (!time || ASN1_TIME_to_tm(time, &t) != 1) {
        return {};
    }
    return QDateTime(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                     QTime(t.tm_hour, t.tm_min, t.tm_sec), Qt::UTC);
}

QString text(const ASN1_STRING* s) {
    return QString::fromUtf8(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                             ASN1_STRING_length(s));
}

// The DNS names and addresses of the certificate's alternative names. Its common name is not
// one of them: the host is checked against these alone, as every current client does.
QStringList namesOf(X509* cert) {
    QStringList names;
    auto* alternatives =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME* n = sk_GENERAL_NAME_value(alternatives, i);
        if (n->type == GEN_DNS) {
            names.append(text(n->d.dNSName));
        } else if (n->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* ip = n->d.iPAddress;
            if (ASN1_STRING_length(ip) == 4) {
                const unsigned char* b = ASN1_STRING_get0_data(ip);
                names.append(QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]));
            } else if (ASN1_STRING_length(ip) == 16) {
                char v6[INET6_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET6, ASN1_STRING_get0_data(ip), v6, sizeof v6);
                names.append(QString::fromLatin1(v6));
            }
        }
    }
    GENERAL_NAMES_free(alternatives);
    return names;
}

QString problemText(int error, const ServerCertificate& c) {
    switch (error) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return QStringLiteral(
                "сертификат подписан самим сервером, а не удостоверяющим "
                "центром");
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return QStringLiteral(
                "сертификат выдан удостоверяющим центром, которого нет среди "
                "доверенных в системе");
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return QStringLiteral("срок действия сертификата истёк");
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return QStringLiteral("срок действия сертификата ещё не начался");
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            if (c.names.isEmpty()) {
                return QStringLiteral(
                           "в сертификате не перечислены имена, для которых он выдан "
                           "(subjectAltName), поэтому он не подтверждает, что выдан "
                           "для \u00AB%1\u00BB; имя в поле владельца (CN) для этого "
                           "не годится")
                    .arg(c.host);
            }
            return QStringLiteral("сертификат выдан не для \u00AB%1\u00BB, а для: %2")
                .arg(c.host, c.names.join(QStringLiteral(", ")));
        case X509_V_ERR_CERT_REVOKED:
            return QStringLiteral("сертификат отозван");
        default:
            return QStringLiteral("сертификат не прошёл проверку (%1)")
                .arg(QString::fromLatin1(X509_verify_cert_error_string(error)));
    }
}

// A socket BIO that never raises SIGPIPE: OpenSSL's own writes with write(2), which kills the
// program when the server has gone.
int bioWrite(BIO* bio, const char* data, int size) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(n);
}

int bioRead(BIO* bio, char* data, int size) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(fd, data, static_cast<size_t>(size), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(n);
}

long bioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO* socketBio(int fd) {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zorod socket");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    BIO* bio = BIO_new(method);
    if (bio) {
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    }
    return bio;
}

}  // namespace

TlsContext::TlsContext() : ctx_(SSL_CTX_new(TLS_client_method())) {
    if (!ctx_) {
        throw FtpError(QStringLiteral("Не удалось подготовить защищённое соединение: %1.")
                           .arg(lastOpenSslError()));
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // A renegotiation could bring another certificate than the one checked and accepted, in
    // the middle of a session; FTP needs none.
    SSL_CTX_set_options(ctx_, SSL_OP_NO_RENEGOTIATION);
    // The system's trusted certificates; a missing store only means nothing is vouched for.
    SSL_CTX_set_default_verify_paths(ctx_);
    ERR_clear_error();
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, &TlsStream::verifyCallback);
    // Sessions are kept by the connections that resume them, not in a cache.
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

TlsStream::TlsStream(const TlsContext& context, int fd, const QString& host, TlsStream* resume)
    : ssl_(SSL_new(context.get())), host_(host) {
    if (!ssl_) {
        throw FtpError(QStringLiteral("Не удалось подготовить защищённое соединение: %1.")
                           .arg(lastOpenSslError()));
    }
    BIO* bio = socketBio(fd);
    if (!bio) {
        SSL_free(ssl_);
        throw FtpError(QStringLiteral("Не удалось подготовить защищённое соединение: %1.")
                           .arg(lastOpenSslError()));
    }
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_ex_data(ssl_, streamIndex(), this);
    unsigned char binary[16];
    const QByteArray latin = host.toLatin1();
    if (::inet_pton(AF_INET, latin.constData(), binary) == 1 ||
        ::inet_pton(AF_INET6, latin.constData(), binary) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.toLatin1().constData());
    } else {
        const QByteArray name = QUrl::toAce(host).isEmpty() ? host.toUtf8() : QUrl::toAce(host);
        // SSL_set_tlsext_host_name without the macro's C cast.
        SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(name.constData()));
        SSL_set1_host(ssl_, name.constData());
        // The names a certificate is issued for are its subjectAltName; a CN alone proves none.
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    }
    if (resume) {
        if (ssl_session_st* s = resume->session()) {
            SSL_set_session(ssl_, s);
        }
        preferGroupOf(*resume);
    }
}

void TlsStream::preferGroupOf(const TlsStream& other) {
    // The key share goes out for the first group offered. A server that takes another one
    // answers with a request to try again, a round trip more on every data connection; the
    // group it chose for the control connection it takes again.
    const int chosen = SSL_get_negotiated_group(other.ssl_);
    if (chosen <= 0 || (chosen & TLSEXT_nid_unknown) != 0) {
        return;
    }
    std::vector<int> groups{chosen};
    for (const int group :
         {NID_X25519, NID_X9_62_prime256v1, NID_X448, NID_secp521r1, NID_secp384r1}) {
        if (group != chosen) {
            groups.push_back(group);
        }
    }
    if (SSL_set1_groups(ssl_, groups.data(), static_cast<int>(groups.size())) != 1) {
        ERR_clear_error();  // the defaults stay: slower by a round trip, no less safe
    }
}

TlsStream::~TlsStream() {
    SSL_SESSION_free(session_);
    SSL_free(ssl_);
}

int TlsStream::verifyCallback(int ok, x509_store_ctx_st* store) {
    if (!ok) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* self = static_cast<TlsStream*>(SSL_get_ex_data(ssl, streamIndex()));
        const int error = X509_STORE_CTX_get_error(store);
        if (self && std::find(self->verifyErrors_.begin(), self->verifyErrors_.end(), error) ==
                        self->verifyErrors_.end()) {
            self->verifyErrors_.push_back(error);
        }
    }
    return 1;
}

TlsStream::Status TlsStream::status(int rc, const char* step) {
    const int error = SSL_get_error(ssl_, rc);
    const int savedErrno = errno;
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return Status::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Status::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            ERR_clear_error();
            closeNotified_ = true;
            return Status::Closed;
        case SSL_ERROR_SYSCALL: {
            const QString queued = lastOpenSslError();
            if (!queued.isEmpty()) {
                failure_ = queued;
            } else if (savedErrno != 0) {
                failure_ = socketErrorText(savedErrno);
            } else if (handshakeDone_) {
                // The peer ended the TCP stream without the TLS close notice.
                return Status::Closed;
            } else {
                failure_ = QStringLiteral("сервер закрыл соединение");
            }
            return Status::Failed;
        }
        default: {
            const QString queued = lastOpenSslError();
            // OpenSSL 3 calls an end without the close notice an error; the transfer's end
            // reply on the control connection is what says whether it was complete.
            if (handshakeDone_ && queued.contains(QLatin1String("unexpected eof"))) {
                return Status::Closed;
            }
            failure_ = queued.isEmpty() ? QString::fromLatin1(step) : queued;
            return Status::Failed;
        }
    }
}

TlsStream::Status TlsStream::handshake() {
    if (handshakeDone_) {
        return Status::Done;
    }
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(ssl_);
    if (rc == 1) {
        handshakeDone_ = true;
        return Status::Done;
    }
    return status(rc, "handshake");
}

TlsStream::Status TlsStream::read(char* buffer, qsizetype size, qsizetype& got) {
    ERR_clear_error();
    errno = 0;
    size_t n = 0;
    if (SSL_read_ex(ssl_, buffer, static_cast<size_t>(size), &n) == 1) {
        got = static_cast<qsizetype>(n);
        return Status::Done;
    }
    got = 0;
    return status(0, "read");
}

TlsStream::Status TlsStream::write(const char* data, qsizetype size, qsizetype& written) {
    ERR_clear_error();
    errno = 0;
    size_t n = 0;
    if (SSL_write_ex(ssl_, data, static_cast<size_t>(size), &n) == 1) {
        written = static_cast<qsizetype>(n);
        return Status::Done;
    }
    written = 0;
    return status(0, "write");
}

TlsStream::Status TlsStream::shutdown() {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_shutdown(ssl_);
    // 0: our notice went out, the peer's is still to come, which the caller reads for itself.
    if (rc >= 0) {
        return Status::Done;
    }
    return status(rc, "shutdown");
}

ssl_session_st* TlsStream::session() {
    if (!session_ || !SSL_SESSION_is_resumable(session_)) {
        SSL_SESSION_free(session_);
        session_ = SSL_get1_session(ssl_);
    }
    return session_;
}

bool TlsStream::resumed() const {
    return SSL_session_reused(ssl_) == 1;
}

QString TlsStream::fingerprint() const {
    X509* cert = SSL_get0_peer_certificate(ssl_);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    return QString::fromLatin1(
               QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length))
                   .toHex(':'))
        .toUpper();
}

ServerCertificate TlsStream::certificate() const {
    ServerCertificate c;
    c.host = host_;
    X509* cert = SSL_get0_peer_certificate(ssl_);
    if (!cert) {
        c.problems.append(QStringLiteral("сервер не предъявил сертификат"));
        return c;
    }
    c.subject = nameText(X509_get_subject_name(cert));
    c.issuer = nameText(X509_get_issuer_name(cert));
    c.names = namesOf(cert);
    c.validFrom = timeOf(X509_get0_notBefore(cert));
    c.validUntil = timeOf(X509_get0_notAfter(cert));
    c.fingerprint = fingerprint();
    for (int error : verifyErrors_) {
        const QString problem = problemText(error, c);
        if (!c.problems.contains(problem)) {
            c.problems.append(problem);
        }
    }
    // The check records its verdict even where the callback heard of no fault.
    const long verdict = SSL_get_verify_result(ssl_);
    if (verdict != X509_V_OK && c.problems.isEmpty()) {
        c.problems.append(problemText(static_cast<int>(verdict), c));
    }
    return c;
}

QString certificateDetails(const ServerCertificate& c) {
    const auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm 'UTC'"))
                           : QStringLiteral("?");
    };
    QStringList lines;
    for (const QString& problem : c.problems) {
        lines.append(QStringLiteral("\u2022 ") + problem);
    }
    lines.append(QStringLiteral("Кому выдан: %1").arg(c.subject));
    lines.append(QStringLiteral("Кем выдан: %1").arg(c.issuer));
    lines.append(
        QStringLiteral("Действителен: с %1 по %2").arg(when(c.validFrom), when(c.validUntil)));
    lines.append(QStringLiteral("Отпечаток SHA-256: %1").arg(c.fingerprint));
    return lines.join(u'\n');
}

UntrustedCertificate::UntrustedCertificate(ServerCertificate certificate)
    : FtpError(QStringLiteral("Сертификат сервера %1 не принят; соединение прервано, пароль не "
                              "отправлен.\n%2")
                   .arg(certificate.host, certificateDetails(certificate))),
      certificate_(std::move(certificate)) {}

}  // namespace zor::publish
