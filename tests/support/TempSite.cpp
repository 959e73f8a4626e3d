#include "support/TempSite.h"

#include <gtest/gtest.h>
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

QByteArray crlf(const QStringList& lines) {
    return textfile::toCp1251(textfile::joinLines(lines));
}

}  // namespace zor::test
