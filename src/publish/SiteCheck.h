#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <functional>

#include "publish/PublishSession.h"
#include "publish/SiteUpload.h"

namespace zor {
class HttpClient;
class SettingsStore;
struct HttpPage;
}  // namespace zor

// After an upload, the published site is asked for its pages over HTTP as a visitor would ask:
// an upload every server accepted can still leave a site that does not work (a remote folder
// that is not the web root, a host without PHP, a page PHP cannot run).
namespace zor::publish {

// Each page gets this long to answer, connection included.
inline constexpr std::chrono::seconds SiteCheckTimeout{10};
// The start of a page is enough to judge it.
inline constexpr qint64 MaxCheckedPageBytes = 2 * 1024 * 1024;

// Whether the site has an address to check: the open site's address always holds the scheme,
// so the scheme alone means none was given.
bool siteAddressSet(const QString& siteAddress);
// Page 1, then up to two more pages whose files were among those sent, in page order.
QList<int> pagesToCheck(const QList<SiteFile>& sent, int pageCount);

// The site's "\check" setting, "after" = "1" or "0"; on unless switched off.
bool siteCheckEnabled(SettingsStore& store, const QString& siteName);
void storeSiteCheckEnabled(SettingsStore& store, const QString& siteName, bool enabled);

// Whether the site's template prints the page title inside its <title>: only then does the
// title tell that the right page came. True when the template cannot be read.
bool templateShowsTitle(const QString& sitePath);

// A <meta> declaring the charset comes within the page's first kilobytes.
inline constexpr qsizetype MetaSearchBytes = 4096;
// What is quoted of a page to the user (a title, PHP's error line) is cut at this length.
inline constexpr qsizetype MaxQuotedLength = 300;

// The charset an answer declares: its Content-Type header, else a <meta> within the page's first
// MetaSearchBytes; the site's own Windows-1251 when neither says. Lower case.
QString declaredCharset(const QByteArray& contentType, const QByteArray& body);
// The body as text in that charset, always valid UTF-16; an unknown charset reads as
// Windows-1251.
QString decodePage(const QByteArray& body, const QString& charset);
// The text of the page's <title>, its numeric character references decoded and its blanks run
// together; empty when there is none.
QString pageTitleText(const QString& html);
// The first line that PHP printed for an error ("Fatal error", "Parse error", "Warning:" at a
// line start, tags taken away, at most MaxQuotedLength characters); empty when there is none.
QString phpErrorLine(const QString& html);

// One page as the check asks for it.
struct CheckedPage {
    int number = 1;
    QString address;  // the full address asked for
    QString title;    // its title in the open site
};

// Why a page fails, in two parts the user reads: the likely cause and what was seen.
struct PageFailure {
    QString cause;
    QString seen;
};
// Empty cause when the page passes: status 200, its title (when required) in the <title>, and
// no PHP error text in it. `siteBase` is the address index.php should be found under.
PageFailure judgePage(const HttpPage& answer, const CheckedPage& page, const QString& siteBase,
                      bool titleRequired);

struct SiteCheckResult {
    bool passed = false;
    bool cancelled = false;
    int pagesAsked = 0;
    QString text;  // what the user reads
};

// Asks `http` for the pages of the open site one after another, each within SiteCheckTimeout,
// and stops at the first that fails. The client's pump runs while a page is awaited and may
// throw Cancelled to stop the check, which then ends cancelled. Neither the upload's outcome nor
// its records are touched.
SiteCheckResult checkPublishedSite(HttpClient& http, const OpenSiteState& state,
                                   const QList<int>& pages, const ProgressFn& progress = {});

}  // namespace zor::publish
