#include "platform/Startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#ifndef ZOROD_VERSION
#error "ZOROD_VERSION must name the project's version"
#endif

namespace zor::startup {

void setProgramNames() {
    QCoreApplication::setApplicationName(QStringLiteral("zorod"));
    QCoreApplication::setOrganizationName(QStringLiteral("ZOR-OD"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZOROD_VERSION));
}

void installRussianToolkitTexts() {
    auto* qtRussian = new QTranslator(QCoreApplication::instance());
    if (qtRussian->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtRussian);
    }
}

}  // namespace zor::startup
