#include "publish/RemoteBrowser.h"

#include <QRegularExpression>

#include "publish/FtpClient.h"
#include "publish/PublishSession.h"

namespace zor::publish {
namespace {

// Type and permissions, links, owner, group (some servers leave it out), size, month, day,
// time of day or year, then one blank and the name.
const QRegularExpression& unixListingLine() {
    static const QRegularExpression re(
        QStringLiteral("^([-dlbcpsD])[-rwxsStTlL]{9}[.+@]?\\s+\\d+\\s+\\S+(?:\\s+\\S+)?\\s+\\d+\\s+"
                       "[A-Za-z]{3}\\s+\\d{1,2}\\s+(?:\\d{1,2}:\\d{2}|\\d{4})\\s(.*)$"));
    return re;
}

// Where the name starts in a line the Unix format does not describe (from 1, as counted).
constexpr qsizetype NameColumn = 55;

QString nameField(const QString& line) {
    const QRegularExpressionMatch m = unixListingLine().match(line);
    if (m.hasMatch()) {
        QString name = m.captured(2);
        if (m.capturedView(1) == u"l") {
            const qsizetype arrow = name.indexOf(QStringLiteral(" -> "));
            if (arrow >= 0) {
                name.truncate(arrow);
            }
        }
        return name;
    }
    QString name = line.mid(NameColumn - 1);
    qsizetype blanks = 0;
    while (blanks < name.size() && name[blanks] == u' ') {
        ++blanks;
    }
    return name.mid(blanks);
}

}  // namespace

std::optional<QString> listingEntryName(const QString& line) {
    const QString name = nameField(line);
    if (name.contains(u'/')) {
        return std::nullopt;
    }
    return name;
}

RemoteEntries sortListing(const QStringList& lines) {
    RemoteEntries entries;
    for (const QString& line : lines) {
        const std::optional<QString> name = listingEntryName(line);
        if (!name) {
            continue;
        }
        if (!name->contains(u'.')) {
            entries.folders.append(*name);
        } else if (*name != u"." && *name != u"..") {
            entries.files.append(*name);
        }
    }
    return entries;
}

QString withSingleLeadingSlash(QString text) {
    while (text.startsWith(QStringLiteral("//"))) {
        text.remove(0, 1);
    }
    return text;
}

QString folderAbove(const QString& remoteFolder) {
    QString folder = remoteFolder;
    if (folder.endsWith(u'/')) {
        folder.chop(1);
    }
    const qsizetype slash = folder.lastIndexOf(u'/');
    if (slash >= 0) {
        folder.truncate(slash);
    }
    return folder.isEmpty() ? QStringLiteral("/") : folder;
}

RemoteEntries listRemoteFolder(RemoteClient& ftp, const FtpAccount& account) {
    checkAccount(account);
    const SessionGuard guard(ftp);
    applyAccount(ftp, account);
    openIfClosed(ftp);
    letEventsRun(ftp);
    ftp.ChangeFolder(account.remoteFolder);
    QStringList lines;
    ftp.ListFolder(lines);
    RemoteEntries entries = sortListing(lines);
    letEventsRun(ftp);
    closeIfOpen(ftp);
    return entries;
}

void makeRemoteFolder(RemoteClient& ftp, const FtpAccount& account, const QString& path) {
    const SessionGuard guard(ftp);
    applyAccount(ftp, account);
    openIfClosed(ftp);
    letEventsRun(ftp);
    ftp.MakeFolder(path);
    dropIfOpen(ftp);
}

void deleteRemoteFile(RemoteClient& ftp, const QString& remoteFolder, const QString& name) {
    const SessionGuard guard(ftp);
    openIfClosed(ftp);
    ftp.DeleteRemoteFile(u'/' + remoteFolder + u'/' + name);
    closeIfOpen(ftp);
}

void renameRemoteFile(RemoteClient& ftp, const QString& remoteFolder, const QString& oldName,
                      const QString& newName) {
    const SessionGuard guard(ftp);
    openIfClosed(ftp);
    const QString folder = u'/' + remoteFolder + u'/';
    ftp.RenameRemote(folder + oldName, folder + newName);
    closeIfOpen(ftp);
}

void renameRemoteFolder(RemoteClient& ftp, const QString& folderText, const QString& oldName,
                        const QString& newName) {
    // No command leaves a session open, so "Already connected." cannot come from here.
    const SessionGuard guard(ftp);
    ftp.OpenSession();
    ftp.RenameRemote(folderText + u'/' + oldName, folderText + u'/' + newName);
    ftp.DropConnection();
}

}  // namespace zor::publish
