#include "site/SiteCatalogue.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"

namespace zor::site {
namespace {

void makeFolder(const QString& path) {
    if (QFileInfo::exists(path)) {
        throw FileError(QStringLiteral("Папка \u00AB%1\u00BB уже существует.").arg(path));
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0) {
        throw FileError(QStringLiteral("Не удалось создать папку \u00AB%1\u00BB: %2.")
                            .arg(path, systemErrorText(errno)));
    }
}

// A link as it is written, not where it leads: a relative link keeps pointing into the copy.
QByteArray linkText(const QString& path) {
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(),
                                 static_cast<size_t>(target.size()));
    if (n < 0 || n == target.size()) {
        return {};
    }
    target.truncate(n);
    return target;
}

QByteArray headerPictureBytes() {
    QFile picture(QStringLiteral(":/zorod/site/head.png"));
    if (!picture.open(QIODevice::ReadOnly)) {
        qFatal("missing resource %s", qPrintable(picture.fileName()));
    }
    return picture.readAll();
}

}  // namespace

QStringList defaultThemeLines() {
    return {
        QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                       "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\"> "
                       "<html><head><title>{{title}}</title>"),
        QStringLiteral("<style type=\"text/css\"><!--div.menu {color:#555555; font-weight: bolder; "
                       "background-color: #f5f5f5; padding: 1px 1px 2px 1px; border-top: 1px solid "
                       "blue; border-bottom: 1px solid gray; }"),
        QStringLiteral("div.menu a:link, div.menu a:visited, div.menu a:hover {color: #557799;} "
                       "div.menu a:hover {color: #8899ee; text-decoration: underline   } a:link, "
                       "div.menu a:visited, div.menu a:hover {color: #557799;}"),
        QStringLiteral("a:hover {color: #8899ee; text-decoration: underline   } -->"),
        QStringLiteral("</style> </head> <body> <table width=100% border=0><tr><td><a href=\"/\">"
                       "<img src=\"") +
            HeaderPicture + QStringLiteral("\" border=\"0\" /></a></td> </tr></table>"),
        QStringLiteral(
            "<div class=\"menu\"><strong><a href=\"/\">&#1043;&#1083;&#1072;&#1074;&#1085;"
            "&#1072;&#1103;</a> <a href=\"") +
            ProductSite +
            QStringLiteral("\">&#1053;&#1072; &#1089;&#1072;&#1081;&#1090; ZOR OD</a></strong>"),
        QStringLiteral("<a href=\"") + ProductSite +
            QStringLiteral("/index.php?in=8\">&#1044;&#1086;&#1082;&#1091;&#1084;&#1077;&#1085;"
                           "&#1090;&#1072;&#1094;&#1080;&#1103;</a></div><table style=\"border: "
                           "0px; width: 100%;\"><tr><td><div class=\"page\">{{content}}</div></td>"
                           "</tr></table></body></html>"),
    };
}

QStringList welcomePageLines() {
    return {
        QStringLiteral("<font size=\"5\" color=\"#800000\">Вы успешно установили TQ!</font><br />"
                       "<br />Мы будем благодарны, если Вы разместите у себя текст \"<a href=\"") +
            ProductSite + QStringLiteral("\">Работает на TQ</a>\" и ссылку на <a href=\"") +
            ProductSite + QStringLiteral("\">") + ProductSite + QStringLiteral("</a><br />"),
        QStringLiteral("<font size=\"4\"><i><center>Успехов в работе!</center></i></font>"),
    };
}

QStringList listSites(const QString& sitesRoot) {
    QStringList sites;
    const QStringList names =
        QDir(sitesRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (!name.contains(u'.')) {
            sites.append(name);
        }
    }
    return sites;
}

void checkSiteName(const QString& name) {
    if (name == u"." || name == u".." || name.contains(u'/') || name.contains(u'\\')) {
        throw ZorError(QStringLiteral("Имя сайта \u00AB%1\u00BB не подходит: оно не может быть "
                                      "\u00AB.\u00BB или \u00AB..\u00BB и не может содержать "
                                      "\u00AB/\u00BB или \u00AB\\\u00BB.")
                           .arg(name));
    }
}

void createSite(const QString& sitesRoot, const QString& name) {
    checkSiteName(name);
    const QString root = QDir(sitesRoot).filePath(name);
    if (QFileInfo::exists(root)) {
        throw FileError(QStringLiteral("Сайт \u00AB%1\u00BB уже существует.").arg(name));
    }
    makeFolder(root);
    for (const char* sub :
         {"etc", "etc/desing", "etc/blocs", "mf", "mf/img", "mf/other", "mf/music", "mf/pages"}) {
        makeFolder(root + u'/' + QLatin1String(sub));
    }
    textfile::writeLines(
        titleIndexPath(root),
        {QStringLiteral("# path"), QStringLiteral("0001 Новый сайт : Главная"), EndMarker});
    // Both index files, so that the site serves its page even compiled before its first save.
    writePageFileIndex(root, 1);
    textfile::writeLines(themePath(root), defaultThemeLines());
    textfile::writeBytes(root + u'/' + HeaderPicture, headerPictureBytes());
    textfile::writeLines(pageFilePath(root, 1), welcomePageLines());
}

void renameSite(const QString& sitesRoot, const QString& oldName, const QString& newName) {
    checkSiteName(newName);
    QDir root(sitesRoot);
    if (newName == oldName) {
        return;
    }
    // rename() would silently replace an empty folder of that name: refuse any existing entry.
    if (QFileInfo::exists(root.filePath(newName))) {
        throw FileError(QStringLiteral("Не удалось переименовать сайт: \u00AB%1\u00BB уже "
                                       "существует.")
                            .arg(newName));
    }
    if (!root.rename(oldName, newName)) {
        throw FileError(
            QStringLiteral("Не удалось переименовать сайт \u00AB%1\u00BB в \u00AB%2\u00BB.")
                .arg(oldName, newName));
    }
}

void CopyFolderTree(const QString& source, const QString& target) {
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        throw FileError(QStringLiteral("Папка \u00AB%1\u00BB уже существует, копия не сделана.")
                            .arg(QFileInfo(target).fileName()));
    }
    if (!QFileInfo(source).isDir()) {
        throw FileError(QStringLiteral("Папка \u00AB%1\u00BB не найдена.").arg(source));
    }
    try {
        makeFolder(target);
        QDirIterator it(source,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        const QDir from(source);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            const QString dest = target + u'/' + from.relativeFilePath(path);
            if (info.isSymLink()) {
                // Copied as the link it is, never followed out of the site.
                const QByteArray link = linkText(path);
                if (link.isEmpty() ||
                    ::symlink(link.constData(), QFile::encodeName(dest).constData()) != 0) {
                    throw FileError(
                        QStringLiteral("Не удалось скопировать ссылку \u00AB%1\u00BB.").arg(path));
                }
            } else if (info.isDir()) {
                makeFolder(dest);
            } else if (info.isFile()) {
                if (!QFile::copy(path, dest)) {
                    throw FileError(
                        QStringLiteral("Не удалось скопировать файл \u00AB%1\u00BB.").arg(path));
                }
            }
            // Pipes, sockets and devices are no part of a site: reading one could block.
        }
    } catch (...) {
        DeleteFolderTree(target, [](const QString&) {});
        throw;
    }
}

void DeleteFolderTree(const QString& folder, const std::function<void(const QString&)>& report) {
    // A site folder that is a link goes as a link: what it leads to is no part of SitesRoot.
    if (QFileInfo(folder).isSymLink()) {
        if (!QFile::remove(folder)) {
            report(QStringLiteral("Could NOT delete ") + folder);
        }
        return;
    }
    // Deleting needs write access to the folder; read-only attributes never stop a delete.
    QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ReadOwner |
                                      QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString path = folder + u'/' + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            DeleteFolderTree(path, report);
        } else if (!QFile::remove(path)) {
            report(QStringLiteral("Could NOT delete ") + path);
        }
    }
    QDir().rmdir(folder);
}

void removeStaleSaves(const QString& sitePath) {
    for (const QString& folder :
         {sitePath, QFileInfo(titleIndexPath(sitePath)).path(),
          QFileInfo(themePath(sitePath)).path(), blocksFolder(sitePath), pagesFolder(sitePath)}) {
        textfile::removeStaleTemporaries(folder);
    }
}

}  // namespace zor::site
