#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

#include "publish/PublishSession.h"
#include "publish/SiteUpload.h"

namespace zor {
class HttpClient;
class SettingsStore;
struct HttpPage;
}  // namespace zor

// Many small files cost FTP a round trip or more each. The site runs PHP anyway, so the upload
// can send them as one tar with a one-time script beside it, ask the script over HTTP to unpack
// it, and record only what the script says it wrote, byte for byte. Whatever the route cannot
// confirm goes file by file in the same command.
namespace zor::publish {

class FileChangeCache;

// Below this many files (the two index files not counted) the route saves too little to pay.
inline constexpr int ArchiveFromFiles = 20;
inline constexpr qint64 MaxArchivePartBytes = 64 * 1024 * 1024;
// Larger files go by themselves: they gain nothing from the archive and would be held in memory.
inline constexpr qint64 MaxArchivedFileBytes = 16 * 1024 * 1024;
// The ustar name field; a longer name goes by itself.
inline constexpr qsizetype MaxArchivedNameBytes = 99;
// The script refuses once its file is older than this.
inline constexpr std::chrono::seconds UnpackScriptLifetime{600};
// A site found unable to take archives is tried again after this.
inline constexpr std::chrono::hours UnavailableFor{30 * 24};
// The script's answer lists every file it wrote; more than this is no answer of it.
inline constexpr qint64 MaxUnpackAnswerBytes = 16 * 1024 * 1024;
inline constexpr std::chrono::minutes UnpackTimeout{5};
inline const QString UnpackPrefix = QStringLiteral("zorod-unpack-");

// The site's "\archive" setting, "on" = "1" or "0"; on unless switched off.
bool archiveRouteEnabled(SettingsStore& store, const QString& siteName);
// Switching it on also forgets that the site was found unable to take archives.
void storeArchiveRouteEnabled(SettingsStore& store, const QString& siteName, bool enabled);
// Why the site cannot take archives, when that was found for this account (server, user and
// remote folder) in the last UnavailableFor.
std::optional<QString> archiveUnavailable(SettingsStore& store, const QString& siteName,
                                          const FtpAccount& account,
                                          const QDateTime& now = QDateTime::currentDateTimeUtc());
void rememberArchiveUnavailable(SettingsStore& store, const QString& siteName,
                                const FtpAccount& account, const QString& reason,
                                const QDateTime& now = QDateTime::currentDateTimeUtc());

// Whether a file may go into the archive: small enough, and a name the tar holds.
bool archivable(const SiteFile& file);

// A file as it went into an archive: the digest and size of the bytes put there.
struct ArchivedFile {
    SiteFile file;
    QString digest;
    qint64 size = 0;
};
struct ArchivePart {
    QString path;
    QList<ArchivedFile> files;
};
// Writes `files` as ustar archives into `folder`, each at most MaxArchivePartBytes, and returns
// them with what each holds. `between` runs before each file (it may throw Cancelled); a file
// that cannot be read is left out.
QList<ArchivePart> writeArchiveParts(const QList<SiteFile>& files, const QString& folder,
                                     const std::function<void(int k, const SiteFile&)>& between);

// The unpacking script for one run, holding its secret (64 hexadecimal digits).
QByteArray unpackScript(const QByteArray& secret);
// `bytes` random bytes from the system's secure source, as lower-case hexadecimal digits.
QByteArray randomHex(int bytes);

// What the script's answer says.
struct UnpackAnswer {
    QString failure;        // empty when it unpacked everything it took; else why not, for the user
    bool remember = false;  // the failure says the site cannot take archives at all
    // The files it wrote, by name in the archive (Windows-1251), and what each holds now.
    struct Written {
        qint64 size = -1;
        QString md5;
    };
    QHash<QByteArray, Written> written;
};
// Reads the HTTP answer of the script at `address`: no answer, 404, PHP not run, a PHP error,
// an answer that is not the script's are failures; so is a refusal, which the script names.
UnpackAnswer readUnpackAnswer(const HttpPage& page, const QString& address);

// The result of the route: the files confirmed and recorded, and why the rest did not go.
struct ArchiveOutcome {
    QList<SiteFile> confirmed;
    qint64 bytes = 0;
    QString failure;  // empty when every file was confirmed
};

// Sends `files` by the archive route through the command's open session and `http`, records each
// confirmed file in `cache`, and deletes the script and the archive on every path. A failure of
// the route is no error: the outcome names it. Cancelled is thrown once the files are deleted.
ArchiveOutcome sendByArchive(PublishJob& job, HttpClient& http, const FtpAccount& account,
                             FileChangeCache& cache, const QList<SiteFile>& files);

// The names of the listing's lines that are the route's files (a script and its archive that a
// killed program left behind).
QStringList leftUnpackFiles(const QStringList& listing);

// The result line: the route ("одним архивом" or "по файлам"), the files, and why the archive did
// not do when it did not.
QString routeResultText(UploadRoute route, int sent, int archived, const QString& fallback);

}  // namespace zor::publish
