#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "site/OpenSiteState.h"

// The upload screen's look at the server: listing a remote folder into folders and files,
// moving through folders, and the few file commands. Paths are built from RemoteFolder and the
// clicked names by plain concatenation and sent as they are.
namespace zor::publish {

class RemoteClient;

// The name of the entry one line of a LIST answer describes. A line in the usual Unix format
// ("drwxr-xr-x 2 owner group 4096 Jun 01 12:00 name") gives its name by the fields, blanks kept
// (a link's " -> target" dropped); any other line gives its text from the 55th character on
// without leading blanks, which is empty for a shorter line. No entry of the listed folder can
// have "/" in its name: a line giving one names nothing (paths are built from these names).
std::optional<QString> listingEntryName(const QString& line);

struct RemoteEntries {
    QStringList folders;  // names without "." (an empty name too)
    QStringList files;    // names with ".", but never "." or ".."
};
RemoteEntries sortListing(const QStringList& lines);

// The folder field's text with any run of leading slashes shortened to one.
QString withSingleLeadingSlash(QString text);
// "/mf/img" and "/mf/img/" give "/mf", "/mf" and "/" give "/", a name without "/" stays.
QString folderAbove(const QString& remoteFolder);

// Lists RemoteFolder: the account into the client, a session when none is open, CWD as given,
// LIST, and the session closed. Throws IncompleteAccount first when the account lacks a part.
RemoteEntries listRemoteFolder(RemoteClient& ftp, const FtpAccount& account);

// MKD of the path as given, with the account's host, user name and password (not checked);
// the connection is dropped afterwards.
void makeRemoteFolder(RemoteClient& ftp, const FtpAccount& account, const QString& path);

// Every command here closes its session when it fails.
//
// The file commands use the account the client already holds. Paths: "/" + RemoteFolder + "/"
// + name.
void deleteRemoteFile(RemoteClient& ftp, const QString& remoteFolder, const QString& name);
void renameRemoteFile(RemoteClient& ftp, const QString& remoteFolder, const QString& oldName,
                      const QString& newName);
// Folder text + "/" + name, without the extra leading "/". Opens a session of its own whatever
// is open, and drops the connection afterwards.
void renameRemoteFolder(RemoteClient& ftp, const QString& folderText, const QString& oldName,
                        const QString& newName);

}  // namespace zor::publish
