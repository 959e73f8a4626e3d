#include "update/Updates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QUrl>
#include <algorithm>

#include "platform/Errors.h"
#include "platform/Http.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"

namespace zor::update {
namespace {

constexpr int NumberCap = 1000000000;  // a version part beyond this is just "very large"
constexpr qsizetype MaxNameBytes = 255;

// The folder the extensions go into, made when the site has none yet. A symbolic link there
// could point anywhere outside the site, so nothing is written through one.
void prepareFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isSymLink()) {
        throw FileError(QStringLiteral("Папка расширений \u00AB%1\u00BB \u2014 символическая "
                                       "ссылка; расширения в неё не устанавливаются.")
                            .arg(folder));
    }
    if (info.isDir()) {
        return;
    }
    if (!QDir().mkdir(folder)) {
        throw FileError(QStringLiteral("Не удалось создать папку \u00AB%1\u00BB.").arg(folder));
    }
}

}  // namespace

QString UpdateServer() {
    QString server = qEnvironmentVariable("ZOROD_UPDATE_SERVER");
    if (server.isEmpty()) {
        return BuiltInUpdateServer;
    }
    while (server.endsWith(u'/')) {
        server.chop(1);
    }
    return server;
}

int readNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    int value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        // Capped before it grows: a long run of digits must not overflow.
        value = value >= NumberCap / 10 ? NumberCap : value * 10 + (text[i].unicode() - u'0');
    }
    return value;
}

bool isNewerVersion(QStringView line) {
    const qsizetype dot = line.indexOf(u'.');
    // Without a dot the major number is read from nothing, the minor from the whole line.
    const int major = dot < 0 ? 0 : readNumber(line.left(dot));
    const int minor = readNumber(dot < 0 ? line : line.mid(dot + 1));
    return major > ProgramMajor || (major == ProgramMajor && minor > ProgramMinor);
}

QString catalogueName(QStringView line) {
    const qsizetype bar = line.indexOf(u'|');
    return bar < 2 ? QString() : line.left(bar - 1).toString();
}

bool isSafeExtensionName(QStringView name) {
    if (name.isEmpty() || name == u"." || name.contains(u"..") || name.contains(u'/') ||
        name.contains(u'\\') || name.toUtf8().size() > MaxNameBytes) {
        return false;
    }
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return true;
}

UpdateCheck::UpdateCheck(HttpClient& http, QString server, QString sitePath)
    : http_(http), server_(std::move(server)), sitePath_(std::move(sitePath)) {}

QString UpdateCheck::extensionsFolder() const {
    return site::extensionsFolder(sitePath_);
}

std::optional<QStringList> UpdateCheck::fetchList(const QString& path) {
    const QString temp = sitePath_ + QStringLiteral("/update.tmp");
    QFile::remove(temp);
    // Gone again whatever happens: an error page or half a list is no use to anyone later.
    const auto cleanUp = qScopeGuard([&temp] { QFile::remove(temp); });
    if (!http_.DownloadToFile(server_ + path, temp, MaxListBytes)) {
        return std::nullopt;
    }
    return textfile::splitLines(textfile::readText(temp, MaxListBytes));
}

std::optional<SystemCheck> UpdateCheck::checkSystem() {
    const auto lines = fetchList(QStringLiteral("/update/distr.up"));
    if (!lines) {
        return std::nullopt;
    }
    const QString first = lines->value(0);
    return SystemCheck{isNewerVersion(first), first};
}

std::optional<QStringList> UpdateCheck::checkExtensions() {
    auto lines = fetchList(QStringLiteral("/update/ex.up"));
    if (!lines) {
        return std::nullopt;
    }
    // The pattern ignores case as a file dialog's would ("Vote.EX" is an extension file); the
    // names are then compared exactly.
    const QStringList installedFiles =
        QDir(extensionsFolder())
            .entryList({QStringLiteral("*.ex")},
                       QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QSet<QString> installed(installedFiles.begin(), installedFiles.end());
    QStringList offered;
    for (const QString& line : lines->mid(0, MaxCatalogueLines)) {
        const QString name = catalogueName(line);
        if (isSafeExtensionName(name) && !installed.contains(name)) {
            offered.append(line);
        }
    }
    return offered;
}

void UpdateCheck::install(const QStringList& lines, InstallReport& report,
                          const std::function<void(int, int, const QString&)>& beforeItem) {
    const QString folder = extensionsFolder();
    prepareFolder(folder);
    // An install the program did not live to finish left its half file here.
    textfile::removeStaleTemporaries(folder);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = catalogueName(lines[i]);
        if (beforeItem) {
            beforeItem(static_cast<int>(i + 1), static_cast<int>(lines.size()), name);
        }
        if (!isSafeExtensionName(name)) {
            report.failed.append(name.isEmpty() ? lines[i] : name);
            continue;
        }
        // The installed file is replaced only by a whole download.
        const QString address = server_ + QStringLiteral("/update/extentions/") +
                                QString::fromLatin1(QUrl::toPercentEncoding(name));
        if (!http_.DownloadToFile(address, folder + u'/' + name, MaxExtensionBytes)) {
            report.failed.append(name);
            continue;
        }
        report.installed.append(name);
    }
}

}  // namespace zor::update
