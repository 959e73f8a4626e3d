#include "site/SiteWorkspace.h"

#include <QDir>

namespace zor::site {

QString pageFilePath(const QString& sitePath, int pageNumber) {
    return sitePath + QStringLiteral("/mf/pages/") + QString::number(pageNumber) +
           QStringLiteral(".tq");
}

QString blockFilePath(const QString& sitePath, const QString& name) {
    return sitePath + QStringLiteral("/etc/blocs/") + name + QStringLiteral(".tq");
}

QString titleIndexPath(const QString& sitePath) {
    return sitePath + QStringLiteral("/etc/head.txt");
}
QString fileIndexPath(const QString& sitePath) {
    return sitePath + QStringLiteral("/etc/file.txt");
}
QString themePath(const QString& sitePath) {
    return sitePath + QStringLiteral("/etc/desing/theme.html");
}
QString blocksFolder(const QString& sitePath) {
    return sitePath + QStringLiteral("/etc/blocs");
}
QString pagesFolder(const QString& sitePath) {
    return sitePath + QStringLiteral("/mf/pages");
}
QString extensionsFolder(const QString& sitePath) {
    return sitePath + QStringLiteral("/extentions");
}
QString previewFilePath(const QString& sitePath) {
    return sitePath + QStringLiteral("/index.html");
}
QString frontControllerPath(const QString& sitePath) {
    return sitePath + QStringLiteral("/index.php");
}
QString backupsFolder(const QString& sitePath) {
    return sitePath + QStringLiteral("/etc/backup");
}
QString sitemapPath(const QString& sitePath) {
    return sitePath + QStringLiteral("/sitemap.xml");
}

QString pageNumberText(int pageNumber) {
    return QStringLiteral("%1").arg(pageNumber, 4, 10, QLatin1Char('0'));
}

QStringList listBlocks(const QString& sitePath) {
    // Case counts: "Menu.TQ" is no block file, and saving block "Menu" would make a second one.
    const QStringList files =
        QDir(blocksFolder(sitePath))
            .entryList({QStringLiteral("*.tq")}, QDir::Files | QDir::Hidden | QDir::CaseSensitive,
                       QDir::Name);
    QStringList names;
    for (const QString& file : files) {
        if (file.size() > 3) {
            names.append(file.chopped(3));
        }
    }
    return names;
}

}  // namespace zor::site
