#include "publish/FileDigest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <new>

namespace zor::publish {
namespace {

QString toHex(const unsigned char* bytes, unsigned length) {
    static const char digits[] = "0123456789abcdef";
    QString hex(static_cast<qsizetype>(length) * 2, Qt::Uninitialized);
    QChar* out = hex.data();
    for (unsigned i = 0; i < length; ++i) {
        *out++ = QLatin1Char(digits[bytes[i] >> 4]);
        *out++ = QLatin1Char(digits[bytes[i] & 0xF]);
    }
    return hex;
}

}  // namespace

struct Md5::Context {
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);  // fetched once, not per file
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() {
        EVP_MD_CTX_free(ctx);
        EVP_MD_free(md);
    }
};

Md5::Md5() : context_(std::make_unique<Context>()) {
    if (!context_->md || !context_->ctx) {
        throw std::bad_alloc();
    }
    restart();
}

Md5::~Md5() = default;

void Md5::restart() {
    if (EVP_DigestInit_ex2(context_->ctx, context_->md, nullptr) != 1) {
        throw std::bad_alloc();
    }
}

void Md5::add(const char* data, qsizetype size) {
    EVP_DigestUpdate(context_->ctx, data, static_cast<size_t>(size));
}

QString Md5::hexDigest() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context_->ctx, md, &length);
    restart();
    return toHex(md, length);
}

FileDigester::FileDigester() : buffer_(ReadSize) {}

QString FileDigester::digest(const QString& path, const std::function<void()>& betweenReads) {
    md5_.restart();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        for (;;) {
            const ssize_t n = ::read(fd, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                // What could not be read counts as nothing read at all.
                md5_.restart();
                break;
            }
            if (n == 0) {
                break;
            }
            md5_.add(buffer_.data(), n);
            if (betweenReads) {
                betweenReads();
            }
        }
    }
    return md5_.hexDigest();
}

QString emptyDigest() {
    return QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace zor::publish
