#pragma once

#include <QString>
#include <QStringList>

#include "site/OpenSiteState.h"

// The two index files of a site. The title index "etc/head.txt" and the file index
// "etc/file.txt" share one frame: a header line, one line per page in page order, and "#".
// The desktop reads pages by line position; the compiled index.php finds them by the four-digit
// number, so both layouts are fixed to the character.
namespace zor::site {

inline const QString IndexHeader = QStringLiteral("#    path");
inline const QString EndMarker = QStringLiteral("#");

QStringList titleIndexLines(const QString& siteTitle, const TextTable& titles, int pageCount);
QStringList fileIndexLines(int pageCount);

// Both refuse more than MaxPages pages; both replace the file atomically.
void writePageTitleIndex(const QString& sitePath, const QString& siteTitle, const TextTable& titles,
                         int pageCount);
void writePageFileIndex(const QString& sitePath, int pageCount);
// Both index files from the open site's tables, title index first; a file whose content would
// not change is not rewritten. Left alone while the tables do not hold the site's index
// (reading it failed) or when the site's "etc" folder is missing and no index was read from it;
// throws FileError naming the folder when it went away after the index was read.
void writeIndexFiles(const OpenSiteState& state);

// The title of a page line: what follows the first ": ", or the line without its first
// character when it has no ":".
QString titleOfLine(const QString& line);
// The site title of a page line: from its sixth character to two before its first ":".
QString siteTitleOfLine(const QString& line);

// Fills PageTitles, TitleLines, PageList and SiteTitle from the lines of a title index.
void applyPageTitleIndex(const QStringList& lines, OpenSiteState& state);
// Reads the open site's title index into the state. Throws FileError when it cannot; the state
// then holds an empty page list, and pageIndexLoaded tells whether saving may rewrite the index.
void readPageTitleIndex(OpenSiteState& state);

}  // namespace zor::site
