#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <cerrno>
#include <utility>

#include "platform/Errors.h"
#include "publish/FtpError.h"

// The local side of the FTP client's transfers.
namespace zor::publish {

// A local file of a transfer, opened with POSIX calls so every failure has its reason.
class LocalFile {
public:
    // For sending: shared with other programs, which may go on reading and writing it.
    static LocalFile openForReading(const QString& path) {
        LocalFile f(path, ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        if (f.fd_ < 0) {
            f.fail(QStringLiteral("Не удалось открыть файл"), errno);
        }
        struct stat st {};
        if (::fstat(f.fd_, &st) != 0) {
            f.fail(QStringLiteral("Не удалось открыть файл"), errno);
        }
        // Checked here, before anything goes to the server, rather than found out mid-transfer.
        if (!S_ISREG(st.st_mode)) {
            throw FileError(
                QStringLiteral("\u00AB%1\u00BB \u2014 не файл, его нельзя передать на сервер.")
                    .arg(path));
        }
        f.size_ = st.st_size;
        return f;
    }

    // For receiving: a new file, never one that exists.
    static LocalFile create(const QString& path) {
        LocalFile f(path, ::open(QFile::encodeName(path).constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (f.fd_ < 0 && errno == EEXIST) {
            throw FtpError(QStringLiteral("Destination file already exists."));
        }
        if (f.fd_ < 0) {
            f.fail(QStringLiteral("Не удалось создать файл"), errno);
        }
        return f;
    }

    LocalFile(LocalFile&& other) noexcept
        : path_(other.path_), fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}
    LocalFile& operator=(LocalFile&&) = delete;
    ~LocalFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    // An existing file to continue, cut to `length` bytes first; writes go on from there.
    static LocalFile openToContinue(const QString& path, qint64 length) {
        LocalFile f(path, ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC));
        if (f.fd_ < 0 || ::ftruncate(f.fd_, length) != 0 || ::lseek(f.fd_, length, SEEK_SET) < 0) {
            f.fail(QStringLiteral("Не удалось дописать файл"), errno);
        }
        return f;
    }

    // Its size when it was opened for reading.
    qint64 size() const { return size_; }

    qsizetype read(char* buffer, qsizetype size) {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(size));
            if (n >= 0) {
                return n;
            }
            if (errno != EINTR) {
                fail(QStringLiteral("Не удалось прочитать файл"), errno);
            }
        }
    }

    void write(QByteArrayView bytes) {
        const char* p = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                fail(QStringLiteral("Не удалось записать файл"), errno);
            }
            p += n;
            left -= n;
        }
    }

    // Closes and reports what the system could only tell at closing.
    void close() {
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) {
            fail(QStringLiteral("Не удалось записать файл"), errno);
        }
    }

private:
    LocalFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}

    [[noreturn]] void fail(const QString& what, int error) const {
        throw FileError(
            QStringLiteral("%1 \u00AB%2\u00BB: %3").arg(what, path_, systemErrorText(error)));
    }

    QString path_;
    int fd_;
    qint64 size_ = 0;
};

// Counts lines the way the site's text files are split (CR LF, LF or CR ends a line; a last line
// without an end counts too) over bytes that arrive in pieces.
class LineCounter {
public:
    void add(QByteArrayView bytes) {
        for (char c : bytes) {
            if (c == '\n') {
                ends_ += afterCr_ ? 0 : 1;
                afterCr_ = false;
            } else {
                ends_ += c == '\r' ? 1 : 0;
                afterCr_ = c == '\r';
            }
        }
        if (!bytes.isEmpty()) {
            open_ = bytes.back() != '\n' && bytes.back() != '\r';
        }
    }
    qint64 lines() const { return ends_ + (open_ ? 1 : 0); }

private:
    qint64 ends_ = 0;
    bool afterCr_ = false;
    bool open_ = false;
};

}  // namespace zor::publish
