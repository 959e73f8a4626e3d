#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

// Media files of a site: the four category folders, the links under which their files are
// reached once the site is published, and copying files in and deleting them.
namespace zor::files {

struct MediaCategory {
    QString caption;   // as the window shows it
    QString folder;    // inside the site folder, no separators around it
    QString linkPath;  // appended to SiteAddress, ends with "/"
};

// In the order of the window's radio buttons; the last one, "Другое", is the default.
const std::array<MediaCategory, 4>& mediaCategories();
inline constexpr int OtherCategory = 3;

QString categoryFolder(const QString& sitePath, const MediaCategory& category);

// Whether the address field's text names the site: empty, or the scheme alone, is none yet.
bool hasSiteAddress(const QString& addressText);
// SiteAddress (the address field's text, normalised) + link path + the name as it is on disk;
// without an address, the link from the site's root ("/mf/img/picture.png"), which works once
// the site is published at the web root.
QString mediaLink(const QString& addressText, const MediaCategory& category, const QString& name);

// The text after the last separator.
QString fileNameOf(const QString& path);

// A dropped path as the window shows and stores it: only the Latin capitals A-Z become small.
QString lowerLatin(const QString& path);

// Throws FileError unless path names a regular file (a link to one counts): a folder, a device
// or a missing file is refused with a message saying which.
void checkSourceFile(const QString& path);

// Throws FileError when a file of this name cannot be published under its link: a character
// the site's code page cannot hold (the server would get another name), or no dot in it (the
// upload sends only names with one).
void checkMediaName(const QString& name);

// The names of the regular files in folder, sorted, without hidden files, folders or links;
// nullopt when the folder is missing.
std::optional<QStringList> listMediaFolder(const QString& folder);

// Copies source into the category folder of the site under name, creating the folder when
// missing and replacing a file of that name only once the copy is complete. A source that is
// the target itself is left alone. Returns false when progress (see copyFileAtomically) stopped
// it. Throws FileError with the user's text; the old file then stays as it was.
bool copyIntoSite(const QString& source, const QString& sitePath, const MediaCategory& category,
                  const QString& name,
                  const std::function<bool(qint64 done, qint64 total)>& progress = {});

// Deletes the named file of the category folder; throws FileError when it cannot.
void deleteMediaFile(const QString& sitePath, const MediaCategory& category, const QString& name);

}  // namespace zor::files
