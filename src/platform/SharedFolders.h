#pragma once

#include <QString>
#include <QUrl>

class QWebEngineProfile;

namespace zor {

// The web views read local files only through addresses of their own: a folder shared here is
// readable below its address, whose root it is (as a site's folder is the web root once
// published), every other file is not, and a link inside the folder that leads out of it is not
// followed. Pages so see their pictures while a page's script cannot read the user's files.

// Registers the address scheme; before the application object exists.
void registerSharedFolderScheme();
// Serves the shared folders to the views of this profile.
void serveSharedFolders(QWebEngineProfile* profile);

// Shares the folder (for the rest of the run) and returns its address, ending in "/".
QUrl sharedFolderUrl(const QString& folder);

}  // namespace zor
