#include "platform/Startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "Version.h"

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

}  // namespace zor::startup
