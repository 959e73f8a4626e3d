#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "Version.h"

// Asking the update server for a newer distribution and for the extensions a site lacks, and
// installing the chosen ones into the site's "extentions" folder.
namespace zor {
class HttpClient;
}

namespace zor::update {

// The update server's base address (scheme and host). ZOROD_UPDATE_SERVER, when set, replaces
// the built-in one, for a local mirror and for tests of the whole program.
inline const QString BuiltInUpdateServer = QStringLiteral("https://zorod.example.org");
QString UpdateServer();

// The program's own version, the one its caption shows.
inline constexpr int ProgramMajor = version::Major;
inline constexpr int ProgramMinor = version::Minor;

// Bounds for what the server may send: lists and notices are small text files.
inline constexpr qint64 MaxListBytes = 1 << 20;
inline constexpr qint64 MaxExtensionBytes = 16 << 20;
// Catalogue lines beyond this many are ignored.
inline constexpr int MaxCatalogueLines = 5000;

// Blanks skipped, then the decimal digits up to the first non-digit; 0 when no digit comes.
int readNumber(QStringView text);
// Whether a notice line (major "." minor) names a newer version than the program's own.
bool isNewerVersion(QStringView line);

// A catalogue line is name, one more character, "|" and a description: the name is everything
// before the two characters that end at the first "|"; empty when there is no "|".
QString catalogueName(QStringView line);
// Whether a catalogue name can only mean a file directly inside the extension folder.
bool isSafeExtensionName(QStringView name);

struct SystemCheck {
    bool newer = false;
    QString firstLine;  // the notice's first line, as the server sent it
};

// Everything here works in one site's folder and downloads through http from server; a failed
// download gives nullopt (and leaves no "update.tmp" behind). Local file errors throw.
class UpdateCheck {
public:
    UpdateCheck(HttpClient& http, QString server, QString sitePath);

    std::optional<SystemCheck> checkSystem();
    // The catalogue lines whose extension the site has not installed, in catalogue order.
    std::optional<QStringList> checkExtensions();

    struct InstallReport {
        QStringList installed;
        QStringList failed;  // names that could not be downloaded or are no plain file names
    };
    // Installs the extensions of the given catalogue lines, one after the other, noting each in
    // report as it goes. beforeItem(k, n, name) runs before item k of n. An extension replaces
    // the installed one only once it has arrived whole. Stops at the first local file error
    // (which throws) and at a cancel from the downloader's pump; report then holds what was
    // done until then.
    void install(const QStringList& lines, InstallReport& report,
                 const std::function<void(int, int, const QString&)>& beforeItem = {});

private:
    // "update.tmp" fetched and read; nullopt when the download failed.
    std::optional<QStringList> fetchList(const QString& path);
    QString extensionsFolder() const;

    HttpClient& http_;
    QString server_;
    QString sitePath_;
};

}  // namespace zor::update
