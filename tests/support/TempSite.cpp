#include "support/TempSite.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"

namespace zor::test {

TempRoot::TempRoot() {
    if (!dir_.isValid() || !settingsDir_.isValid()) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
}

QString TempRoot::makeSite(const QString& name) const {
    site::createSite(root(), name);
    return sitePath(name);
}

OpenSiteState TempRoot::openNewSite(const QString& name) const {
    OpenSiteState state;
    state.sitesRoot = root();
    state.siteName = name;
    state.sitePath = makeSite(name);
    site::readPageTitleIndex(state);
    return state;
}

FileSizeLimit::FileSizeLimit(long long limit) {
    struct rlimit r {};
    ::getrlimit(RLIMIT_FSIZE, &r);
    savedCurrent_ = static_cast<long long>(r.rlim_cur);
    // Past the limit the kernel would otherwise end the process with SIGXFSZ.
    savedHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    r.rlim_cur = static_cast<rlim_t>(limit);
    ::setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit() {
    struct rlimit r {};
    ::getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = static_cast<rlim_t>(savedCurrent_);
    ::setrlimit(RLIMIT_FSIZE, &r);
    ::signal(SIGXFSZ, savedHandler_);
}

SmallFileSystem::SmallFileSystem(long long bytes) {
    const QByteArray target = QFile::encodeName(dir_.path());
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    if (::geteuid() != 0) {
        why_ = QStringLiteral("mounting a small file system needs root");
    } else if (::mount("zorod-test", target.constData(), "tmpfs", 0, options.constData()) != 0) {
        why_ = QStringLiteral("mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    } else {
        mounted_ = true;
    }
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_) {
        ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
}

void SmallFileSystem::fill() {
    const QByteArray filler = QFile::encodeName(dir_.path() + QStringLiteral("/filler"));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    // Whole blocks first, then single bytes, until the disk refuses.
    for (size_t piece : {block.size(), size_t{1}}) {
        while (::write(fd, block.data(), piece) == static_cast<ssize_t>(piece)) {
        }
    }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
}

void SmallFileSystem::empty() {
    QFile::remove(dir_.path() + QStringLiteral("/filler"));
}

bool SmallFileSystem::makeReadOnly() {
    return ::mount("zorod-test", QFile::encodeName(dir_.path()).constData(), "tmpfs",
                   MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

void exitAfter(const std::function<void()>& action,
               const std::function<bool(const QString&)>& judge) {
    ::alarm(5);
    try {
        action();
    } catch (const FileError& e) {
        ::_exit(!judge || judge(e.text()) ? FileErrorThrown : WrongFileError);
    }
    ::_exit(NothingThrown);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return f.readAll();
}

QByteArray everyByte(int repeats) {
    QByteArray bytes(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i) {
        bytes[i] = static_cast<char>(i);
    }
    return bytes.repeated(repeats);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
    }
}

QByteArray cp1251(QStringView text) {
    // The C library's converter, so an expectation never comes from the program's own table.
    const iconv_t cd = ::iconv_open("CP1251", "UTF-8");
    QByteArray in = text.toUtf8();
    QByteArray out(in.size(), Qt::Uninitialized);
    char* from = in.data();
    char* to = out.data();
    size_t left = static_cast<size_t>(in.size()), room = left;
    if (cd == reinterpret_cast<iconv_t>(-1) || ::iconv(cd, &from, &left, &to, &room) != 0) {
        ADD_FAILURE() << "not Windows-1251, write its character reference: "
                      << text.toString().toStdString();
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        ::iconv_close(cd);
    }
    out.truncate(to - out.data());
    return out;
}

QByteArray crlf(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) {
        out += cp1251(line) + "\r\n";
    }
    return out;
}

}  // namespace zor::test
