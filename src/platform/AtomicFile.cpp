#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Errors.h"

namespace zor {
namespace {

QString reasonText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString fileErrorText(const QString& what, const QString& path, const QString& reason) {
    return QStringLiteral("%1 \u00AB%2\u00BB: %3").arg(what, path, reason);
}

const QString WriteFailed = QStringLiteral("Не удалось записать файл");

}  // namespace

// Written by hand rather than with QSaveFile: QSaveFile reports success when the disk fills up
// part way (a short write followed by an error), which would replace a good file with a cut
// one. Here every byte is accounted for before the rename.
AtomicFile::AtomicFile(const QString& path) : path_(path), target_(QFile::encodeName(path)) {
    // The temporary name has no dot, so one left behind by a crash is never taken for a site
    // file by the upload (which sends only names with a dot) nor for a site (a file).
    const qsizetype slash = target_.lastIndexOf('/');
    temp_ = target_.left(slash + 1) + "zorod-saving-XXXXXX";
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        throw FileError(fileErrorText(WriteFailed, path_, reasonText(errno)));
    }
    // Keep the old file's permissions; a new file gets the usual ones.
    struct stat old {};
    mode_t mode;
    if (::stat(target_.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd_, mode) != 0) {
        fail(errno);
    }
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.constData());
    }
}

void AtomicFile::fail(int err) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(temp_.constData());
    throw FileError(fileErrorText(WriteFailed, path_, reasonText(err)));
}

void AtomicFile::write(const char* data, qsizetype size) {
    while (size > 0) {
        ssize_t n = ::write(fd_, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        data += n;
        size -= n;
    }
}

void AtomicFile::commit(Durability durability) {
    if (durability == Durability::Durable && ::fsync(fd_) != 0) {
        fail(errno);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(errno);
    }
    if (::rename(temp_.constData(), target_.constData()) != 0) {
        fail(errno);
    }
}

bool copyFileAtomically(const QString& source, const QString& target,
                        const std::function<bool(qint64, qint64)>& progress) {
    const QString readFailed = QStringLiteral("Не удалось прочитать файл");
    // Opened without blocking, so a named pipe or a device is refused instead of waited on.
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) {
        throw FileError(fileErrorText(readFailed, source, reasonText(errno)));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{in};
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        throw FileError(fileErrorText(readFailed, source, reasonText(errno)));
    }
    if (!S_ISREG(st.st_mode)) {
        throw FileError(QStringLiteral("\u00AB%1\u00BB \u2014 не обычный файл.").arg(source));
    }
    const qint64 total = st.st_size;
    AtomicFile out(target);
    std::vector<char> block(1 << 20);
    qint64 done = 0;
    for (;;) {
        const ssize_t n = ::read(in, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(fileErrorText(readFailed, source, reasonText(errno)));
        }
        if (n == 0) {
            break;
        }
        out.write(block.data(), n);
        done += n;
        if (progress && !progress(done, total)) {
            return false;
        }
    }
    out.commit();
    return true;
}

}  // namespace zor
