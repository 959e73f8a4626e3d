#include "publish/SyncBackup.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"

namespace zor::publish {
namespace {

const QString StampFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");

void makePath(const QString& folder) {
    if (!QDir().mkpath(folder)) {
        throw FileError(QStringLiteral("Не удалось создать папку \u00AB%1\u00BB").arg(folder));
    }
}

// Where a backup stands among the others: the numbered ones by their numbers, after all those
// named by their time alone, which go by the time and the number within its second.
struct BackupRank {
    qint64 number = 0;  // 0: named by its time alone
    QString stamp;
    int within = 1;
    bool operator<(const BackupRank& other) const {
        return std::tie(number, stamp, within) < std::tie(other.number, other.stamp, other.within);
    }
};

std::optional<BackupRank> parseBackupName(const QString& name) {
    // Twelve digits are far more synchronisations than a site sees, and far from an overflow.
    static const QRegularExpression numbered(
        QStringLiteral("^(\\d{1,12})_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d$"));
    static const QRegularExpression timed(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)(?:_(\\d{1,4}))?$"));
    if (const QRegularExpressionMatch m = numbered.match(name); m.hasMatch()) {
        const qint64 number = m.captured(1).toLongLong();
        return number > 0 ? std::optional(BackupRank{number, {}, 1}) : std::nullopt;
    }
    if (const QRegularExpressionMatch m = timed.match(name); m.hasMatch()) {
        return BackupRank{0, m.captured(1), m.hasCaptured(2) ? m.captured(2).toInt() : 1};
    }
    return std::nullopt;
}

QStringList folderNames(const QDir& folder) {
    return folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
}

}  // namespace

QString makeBackupFolder(const QString& sitePath, const QDateTime& now) {
    const QString folder = site::backupsFolder(sitePath);
    makePath(folder);
    qint64 highest = 0;
    for (const QString& name : folderNames(QDir(folder))) {
        if (const auto rank = parseBackupName(name)) {
            highest = std::max(highest, rank->number);
        }
    }
    const QString stamp = now.toString(StampFormat);
    for (qint64 number = highest + 1; number <= highest + 1000; ++number) {
        const QString path =
            folder + QStringLiteral("/%1_%2").arg(number, 4, 10, QChar(u'0')).arg(stamp);
        // mkdir, not mkpath: two synchronisations at once must not share a folder.
        if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) {
            return path;
        }
        if (errno != EEXIST) {
            throw FileError(fileErrorText(QStringLiteral("Не удалось создать папку"), path,
                                          systemErrorText(errno)));
        }
    }
    throw FileError(
        QStringLiteral("Не удалось создать папку для копий в \u00AB%1\u00BB.").arg(folder));
}

void keepEntry(const QString& path, const QString& kept) {
    makePath(QFileInfo(kept).absolutePath());
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()) == 0) {
        return;
    }
    copyFileAtomically(path, kept);
}

void keepFile(const QString& path, const QString& kept) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        makePath(QFileInfo(kept).absolutePath());
        copyFileAtomically(path, kept);
        return;
    }
    keepEntry(path, kept);
}

void keepBytes(const QByteArray& bytes, const QString& kept) {
    makePath(QFileInfo(kept).absolutePath());
    textfile::writeBytes(kept, bytes);
}

void pruneBackups(const QString& sitePath, const QString& made, int keep) {
    QDir folder(site::backupsFolder(sitePath));
    struct Found {
        BackupRank rank;
        QString path;
    };
    std::vector<Found> backups;
    const QString madeName = made.isEmpty() ? QString() : QFileInfo(made).fileName();
    for (const QString& entry : folderNames(folder)) {
        // The one just made stays whatever the others are named.
        if (entry == madeName) {
            --keep;
            continue;
        }
        if (const auto rank = parseBackupName(entry)) {
            backups.push_back({*rank, folder.filePath(entry)});
        }
    }
    if (keep < 0 || static_cast<int>(backups.size()) <= keep) {
        return;
    }
    std::sort(backups.begin(), backups.end(),
              [](const Found& a, const Found& b) { return a.rank < b.rank; });
    for (size_t i = 0; i + static_cast<size_t>(keep) < backups.size(); ++i) {
        // A copy that cannot go now goes at a later synchronisation; it harms nothing meanwhile.
        QDir(backups[i].path).removeRecursively();
    }
}

}  // namespace zor::publish
