#pragma once

#include <QString>
#include <QStringList>

// Where the files of one site live. A site is a folder directly inside the program's folder
// (SitesRoot); every path here is built from its SitePath (no trailing separator).
namespace zor::site {

inline constexpr int MaxPages = 5000;
// Larger files are refused before they are read: a title index of 5000 pages is well under
// 2 MB, a template of 5000 lines rarely near a megabyte.
inline constexpr qint64 MaxIndexBytes = 4 * 1024 * 1024;
inline constexpr qint64 MaxTemplateBytes = 8 * 1024 * 1024;

QString pageFilePath(const QString& sitePath, int pageNumber);        // mf/pages/<n>.tq
QString blockFilePath(const QString& sitePath, const QString& name);  // etc/blocs/<name>.tq
QString titleIndexPath(const QString& sitePath);                      // etc/head.txt
QString fileIndexPath(const QString& sitePath);                       // etc/file.txt
QString themePath(const QString& sitePath);                           // etc/desing/theme.html
QString blocksFolder(const QString& sitePath);                        // etc/blocs
QString pagesFolder(const QString& sitePath);                         // mf/pages
QString extensionsFolder(const QString& sitePath);                    // extentions
QString previewFilePath(const QString& sitePath);                     // index.html
QString frontControllerPath(const QString& sitePath);                 // index.php
QString sitemapPath(const QString& sitePath);                         // sitemap.xml
// Where synchronisation keeps the files it replaces. Its name has no dot, so the upload, which
// takes only names with one, never sends it, and nothing else looks inside.
QString backupsFolder(const QString& sitePath);  // etc/backup

// "0001" .. "5000": a page number as the index files write it.
QString pageNumberText(int pageNumber);

// The names of the site's blocks, as the block list shows them: regular files in the block
// folder whose names end exactly in ".tq", without it, by name.
QStringList listBlocks(const QString& sitePath);

}  // namespace zor::site
