#include "platform/Startup.h"

#include <sys/stat.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cerrno>

#include "Version.h"
#include "platform/Errors.h"

namespace zor::startup {

void setProgramNames() {
    QCoreApplication::setApplicationName(QStringLiteral("zorod"));
    QCoreApplication::setOrganizationName(QStringLiteral("ZOR-OD"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(version::Text));
}

void installRussianToolkitTexts() {
    auto* qtRussian = new QTranslator(QCoreApplication::instance());
    if (qtRussian->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtRussian);
    }
}

QString programDataFolder(const QString& executableFolder, bool systemWide) {
    const QFileInfo beside(executableFolder);
    if (!systemWide && beside.isDir() && beside.isWritable()) {
        return QDir::cleanPath(beside.absoluteFilePath());
    }
    const QString named = qEnvironmentVariable(HomeVariable);
    const QString folder =
        QDir::cleanPath(named.isEmpty() ? QDir::home().filePath(QLatin1String(HomeFolderName))
                                        : QDir::current().absoluteFilePath(named));
    const QFileInfo info(folder);
    if (info.isDir()) {
        return folder;
    }
    // ZOROD_HOME may name a folder whose parents are new too.
    QDir().mkpath(info.absolutePath());
    int failed = ENOTDIR;  // a file of that name
    if (!info.exists()) {
        failed = ::mkdir(QFile::encodeName(folder).constData(), 0777) == 0 ? 0 : errno;
    }
    if (failed != 0) {
        throw FileError(fileErrorText(
            QStringLiteral("Не удалось создать папку программы"), QDir::toNativeSeparators(folder),
            failed == ENOTDIR ? QStringLiteral("это файл, а не папка") : systemErrorText(failed)));
    }
    return folder;
}

QString programDataFolder() {
#ifdef ZOROD_SYSTEM_INSTALL
    const bool systemWide = true;
#else
    const bool systemWide = false;
#endif
    return programDataFolder(QCoreApplication::applicationDirPath(), systemWide);
}

}  // namespace zor::startup
