#include "support/TempSite.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/resource.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>

#include "platform/TextFile.h"
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

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return f.readAll();
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
