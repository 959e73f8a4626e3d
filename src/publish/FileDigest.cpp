#include "publish/FileDigest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <new>

namespace zor::publish {
namespace {

// Few enough system calls that they cost nothing beside the hashing; small enough to stay in
// the processor's cache.
constexpr size_t ReadSize = 1024 * 1024;

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

struct FileDigester::Context {
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);  // fetched once, not per file
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() {
        EVP_MD_CTX_free(ctx);
        EVP_MD_free(md);
    }
};

FileDigester::FileDigester() : context_(std::make_unique<Context>()), buffer_(ReadSize) {
    if (!context_->md || !context_->ctx) {
        throw std::bad_alloc();
    }
}

FileDigester::~FileDigester() = default;

QString FileDigester::digest(const QString& path) {
    EVP_MD_CTX* ctx = context_->ctx;
    if (EVP_DigestInit_ex2(ctx, context_->md, nullptr) != 1) {
        throw std::bad_alloc();
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        for (;;) {
            const ssize_t n = ::read(fd, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                // What could not be read counts as nothing read at all.
                EVP_DigestInit_ex2(ctx, context_->md, nullptr);
                break;
            }
            if (n == 0) {
                break;
            }
            EVP_DigestUpdate(ctx, buffer_.data(), static_cast<size_t>(n));
        }
        ::close(fd);
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(ctx, md, &length);
    return toHex(md, length);
}

QString emptyDigest() {
    return QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace zor::publish
