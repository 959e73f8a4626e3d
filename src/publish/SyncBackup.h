#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What synchronisation replaces is kept first: one folder per synchronisation under the site's
// "etc/backup", named by its number in the order they were made and its date and time
// ("0012_2026-12-09_22-15-30"), holding each replaced file at its place relative to the site
// ("mf/pages/3.tq").
namespace zor::publish {

inline constexpr int KeptBackups = 10;

// Makes the folder of a backup taken at `now` and returns its path. Its number follows the
// highest of the backups there, so it is the newest whatever the clock says; `now` only makes
// the name readable.
QString makeBackupFolder(const QString& sitePath, const QDateTime& now);

// Keeps the bytes of the file at `path` as `kept`, creating the folders on the way: a hard link
// where the file system allows (whatever is renamed over `path` later leaves the kept bytes
// alone), a copy otherwise. A symbolic link is kept as a copy of the file it leads to: the link
// itself would lead nowhere from the backup, and a hard link to its file would change with it.
void keepFile(const QString& path, const QString& kept);
// Keeps the entry at `path` itself as `kept` (a symbolic link stays that link), for putting it
// back with a rename.
void keepEntry(const QString& path, const QString& kept);
void keepBytes(const QByteArray& bytes, const QString& kept);

// Removes all but the newest `keep` backups of the site, counting `made` (the one just made, or
// empty) among them and never removing it. Numbered backups go by their numbers; folders named
// by the time alone ("2026-12-09_22-15-30", "…_2"), as earlier versions made them, count as older
// than every numbered one and go by their names. Folders not named like a backup, and files, are
// left alone: they are the user's.
void pruneBackups(const QString& sitePath, const QString& made, int keep = KeptBackups);

}  // namespace zor::publish
