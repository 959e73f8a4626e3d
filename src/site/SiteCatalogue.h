#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// The file-system side of the site catalogue: listing, creating, renaming, copying and deleting
// site folders inside SitesRoot.
namespace zor::site {

// Addresses of the product's own web site, used in the default design and welcome page.
inline const QString ProductSite = QStringLiteral("http://zorod.example.org");
// The default design's header picture, shipped with every new site. Relative to index.php, so
// it shows wherever the site is published, at the web root or in a folder of it.
inline const QString HeaderPicture = QStringLiteral("etc/desing/head.png");

QStringList defaultThemeLines();
QStringList welcomePageLines();

// Site folders in sitesRoot: folders whose name holds no ".", hidden ones excluded, by name.
QStringList listSites(const QString& sitesRoot);

// Throws ZorError for a name that would not be a folder directly inside SitesRoot.
void checkSiteName(const QString& name);

// Creates the skeleton of a new site with its two index files, default design (with its header
// picture) and welcome page.
// Throws at the first folder or file that cannot be made; what was made stays.
void createSite(const QString& sitesRoot, const QString& name);

// Renames the folder; throws (and changes nothing) when the new name is taken or invalid.
void renameSite(const QString& sitesRoot, const QString& oldName, const QString& newName);

// Copies a folder with everything in it: links as links (never followed), no pipes, sockets
// or devices. Refuses when the target exists; a copy that fails midway is removed again, so no
// half copy is left.
void CopyFolderTree(const QString& source, const QString& target);

// Deletes a folder with everything in it; a folder that is a symbolic link loses the link
// only. A file that cannot be deleted is reported through report("Could NOT delete " + path)
// and the deletion goes on with the next entry.
void DeleteFolderTree(const QString& folder, const std::function<void(const QString&)>& report);

// Removes what saves left behind in the site's folders when the program was killed during one.
void removeStaleSaves(const QString& sitePath);

}  // namespace zor::site
