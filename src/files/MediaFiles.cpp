#include "files/MediaFiles.h"

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "pages/Sitemap.h"
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/TextFile.h"

namespace zor::files {
namespace {

// The category folder, made when missing, and only if it really lies inside the site: a link
// in its place would have the copy land somewhere else.
QString folderInsideSite(const QString& sitePath, const MediaCategory& category) {
    const QString folder = categoryFolder(sitePath, category);
    if (!QFileInfo(sitePath).isDir()) {
        throw FileError(QStringLiteral("Папка сайта \u00AB%1\u00BB не найдена.").arg(sitePath));
    }
    if (!QDir().mkpath(folder)) {
        throw FileError(QStringLiteral("Не удалось создать папку \u00AB%1\u00BB.").arg(folder));
    }
    const QString site = QFileInfo(sitePath).canonicalFilePath();
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (real != site + u'/' + category.folder) {
        throw FileError(
            QStringLiteral(
                "Папка \u00AB%1\u00BB ведёт за пределы сайта; файлы в неё не копируются.")
                .arg(folder));
    }
    return folder;
}

bool sameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

const std::array<MediaCategory, 4>& mediaCategories() {
    // The design folder is spelled "desing" throughout the site layout.
    static const std::array<MediaCategory, 4> table{{
        {QStringLiteral("Картинка"), QStringLiteral("mf/img"), QStringLiteral("mf/img/")},
        {QStringLiteral("Музыка"), QStringLiteral("mf/music"), QStringLiteral("mf/music/")},
        {QStringLiteral("Часть дизайна"), QStringLiteral("etc/desing"),
         QStringLiteral("etc/desing/")},
        {QStringLiteral("Другое"), QStringLiteral("mf/other"), QStringLiteral("mf/other/")},
    }};
    return table;
}

QString categoryFolder(const QString& sitePath, const MediaCategory& category) {
    return sitePath + u'/' + category.folder;
}

bool hasSiteAddress(const QString& addressText) {
    const QString address = pages::normaliseAddress(addressText.trimmed());
    return address != u"http://" && address != u"https://";
}

QString mediaLink(const QString& addressText, const MediaCategory& category, const QString& name) {
    const QString base =
        hasSiteAddress(addressText) ? pages::normaliseAddress(addressText) : QStringLiteral("/");
    return base + category.linkPath + name;
}

QString fileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString lowerLatin(const QString& path) {
    QString lowered = path;
    for (QChar& c : lowered) {
        if (c >= u'A' && c <= u'Z') {
            c = QChar(c.unicode() + (u'a' - u'A'));
        }
    }
    return lowered;
}

void checkSourceFile(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir()) {
        throw FileError(QStringLiteral("\u00AB%1\u00BB \u2014 это папка. В сайт копируются только "
                                       "файлы: выберите или перетащите сам файл.")
                            .arg(path));
    }
    if (!info.exists()) {
        throw FileError(QStringLiteral("Файл \u00AB%1\u00BB не найден.").arg(path));
    }
    if (!info.isFile()) {
        throw FileError(
            QStringLiteral("\u00AB%1\u00BB \u2014 не обычный файл, его нельзя скопировать в сайт.")
                .arg(path));
    }
}

void checkMediaName(const QString& name) {
    if (textfile::firstOutsideCp1251(name)) {
        throw FileError(QStringLiteral("В имени файла \u00AB%1\u00BB есть знаки, которых нет в "
                                       "кодировке сайта (Windows-1251): на сервере файл получил "
                                       "бы другое имя, и ссылка на него не работала бы. "
                                       "Переименуйте файл латинскими или русскими буквами и "
                                       "выберите его снова.")
                            .arg(name));
    }
    if (!name.contains(u'.')) {
        throw FileError(QStringLiteral("У файла \u00AB%1\u00BB нет расширения (точки в имени): "
                                       "такие файлы не загружаются на сервер, и ссылка на него "
                                       "не работала бы. Переименуйте файл, например в "
                                       "\u00AB%1.txt\u00BB, и выберите его снова.")
                            .arg(name));
    }
}

std::optional<QStringList> listMediaFolder(const QString& folder) {
    const QDir dir(folder);
    if (!QFileInfo(folder).isDir()) {
        return std::nullopt;
    }
    return dir.entryList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot,
                         QDir::Name | QDir::IgnoreCase);
}

bool copyIntoSite(const QString& source, const QString& sitePath, const MediaCategory& category,
                  const QString& name, const std::function<bool(qint64, qint64)>& progress) {
    checkMediaName(name);
    checkSourceFile(source);
    const QString target = folderInsideSite(sitePath, category) + u'/' + name;
    // Picked from the very folder it goes to: the file is already where it belongs.
    if (sameFile(source, target)) {
        return true;
    }
    return copyFileAtomically(source, target, progress);
}

void deleteMediaFile(const QString& sitePath, const MediaCategory& category, const QString& name) {
    const QString path = categoryFolder(sitePath, category) + u'/' + name;
    QFile file(path);
    if (!file.remove()) {
        throw FileError(QStringLiteral("Не удалось удалить файл \u00AB%1\u00BB: %2")
                            .arg(path, file.errorString()));
    }
}

}  // namespace zor::files
