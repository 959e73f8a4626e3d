#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <vector>

#include "platform/Errors.h"

namespace zor {
namespace {

const QString WriteFailed = QStringLiteral("Не удалось записать файл");

}  // namespace

void ignoreFileSizeSignal() {
    static const bool done = [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            ::signal(SIGXFSZ, SIG_IGN);
        }
        return true;
    }();
    (void)done;
}

// Written by hand rather than with QSaveFile: QSaveFile reports success when the disk fills up
// part way (a short write followed by an error), which would replace a good file with a cut
// one. Here every byte is accounted for before the rename.
AtomicFile::AtomicFile(const QString& path) : path_(path), target_(QFile::encodeName(path)) {
    // Past the file-size limit the write must fail with its error, not end the program.
    ignoreFileSizeSignal();
    const qsizetype slash = target_.lastIndexOf('/');
    temp_ = target_.left(slash + 1) + TemporaryFilePrefix + "XXXXXX";
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        throw FileError(fileErrorText(WriteFailed, path_, systemErrorText(errno)));
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
    throw FileError(fileErrorText(WriteFailed, path_, systemErrorText(err)));
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
        throw FileError(fileErrorText(readFailed, source, systemErrorText(errno)));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{in};
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        throw FileError(fileErrorText(readFailed, source, systemErrorText(errno)));
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
            throw FileError(fileErrorText(readFailed, source, systemErrorText(errno)));
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
