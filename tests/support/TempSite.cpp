#include "support/TempSite.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
