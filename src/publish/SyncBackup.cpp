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

// A backup's name, split into its moment and its number within that second (1 for the first).
struct BackupName {
    QString stamp;
    int number = 1;
};

std::optional<BackupName> parseBackupName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)(?:_(\\d{1,4}))?$"));
    const QRegularExpressionMatch m = pattern.match(name);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    return BackupName{m.captured(1), m.hasCaptured(2) ? m.captured(2).toInt() : 1};
}

}  // namespace

QString makeBackupFolder(const QString& sitePath, const QDateTime& now) {
    const QString folder = site::backupsFolder(sitePath);
    makePath(folder);
    const QString stamp = now.toString(StampFormat);
    for (int number = 1; number < 1000; ++number) {
        const QString path =
            folder + u'/' + (number == 1 ? stamp : QStringLiteral("%1_%2").arg(stamp).arg(number));
        // mkdir, not mkpath: two synchronisations of one second must not share a folder.
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
        BackupName name;
        QString path;
    };
    std::vector<Found> backups;
    const QString madeName = made.isEmpty() ? QString() : QFileInfo(made).fileName();
    for (const QString& entry :
         folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        // The one just made stays whatever the clock said; it may have gone back since the
        // others were made.
        if (entry == madeName) {
            --keep;
            continue;
        }
        if (const auto name = parseBackupName(entry)) {
            backups.push_back({*name, folder.filePath(entry)});
        }
    }
    if (keep < 0 || static_cast<int>(backups.size()) <= keep) {
        return;
    }
    std::sort(backups.begin(), backups.end(), [](const Found& a, const Found& b) {
        return a.name.stamp != b.name.stamp ? a.name.stamp < b.name.stamp
                                            : a.name.number < b.name.number;
    });
    for (size_t i = 0; i + static_cast<size_t>(keep) < backups.size(); ++i) {
        // A copy that cannot go now goes at a later synchronisation; it harms nothing meanwhile.
        QDir(backups[i].path).removeRecursively();
    }
}

}  // namespace zor::publish
