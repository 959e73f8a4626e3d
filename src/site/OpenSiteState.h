#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "site/FtpAccount.h"
#include "site/SiteWorkspace.h"

namespace zor {

// A table of texts numbered from 1 with a fixed capacity. Reaching past the end throws instead of
// writing where nothing belongs.
class TextTable {
public:
    explicit TextTable(int capacity = site::MaxPages) : entries_(static_cast<size_t>(capacity)) {}
    int capacity() const { return static_cast<int>(entries_.size()); }
    QString& operator[](int n);
    const QString& operator[](int n) const;
    void clear();

private:
    std::vector<QString> entries_;
};

// The open site in memory. One instance for the whole run, owned by the main window and passed
// by reference to whatever reads or changes it.
struct OpenSiteState {
    QString sitesRoot;  // the program's folder, with a trailing separator
    QString sitePath;   // folder of the open site, no trailing separator
    QString siteName;   // folder name of the open site; empty until a site is open
    QString siteTitle;  // display name written into every line of the title index

    TextTable pageTitles;     // PageTitles: title of page n at entry n
    TextTable titleLines;     // TitleLines: raw lines of the title index as last read
    TextTable templateLines;  // TemplateLines: template lines during a compilation

    // PageList: entry i (from 0) is page i + 1 as "<n> - <title>"; always ends with "...".
    QStringList pageList;

    // False while the page tables do not hold the open site's index (reading it failed): saving
    // then leaves the index files alone rather than overwrite them with nothing.
    bool pageIndexLoaded = false;
    // True once PageList holds the title index as read. Until then no page may be started: the
    // list's "..." would stand for page 1 whatever pages the site holds.
    bool pageListRead = false;

    FtpAccount ftpAccount;
    QString siteAddress;  // SiteAddress, normalised
    bool sitemapEnabled = false;

    // Number of pages: every PageList entry but the final "...".
    int pageCount() const { return pageList.isEmpty() ? 0 : static_cast<int>(pageList.size()) - 1; }
};

inline const QString NewItemEntry = QStringLiteral("...");
// The title a new page starts with, in the page list and in the editor.
inline const QString NewPageTitle = QStringLiteral("Новая страница");

}  // namespace zor
