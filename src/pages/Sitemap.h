#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "site/OpenSiteState.h"

namespace zor {
class SettingsStore;
}

// "sitemap.xml": the address of every page of the open site under its web address.
namespace zor::pages {

// "http://" in front unless the text holds it or "https://" anywhere; "/" at the end unless it
// ends with one.
QString normaliseAddress(const QString& text);

// The file's lines: the head, one url element per page (every PageList entry but the last),
// and the closing tag.
QStringList sitemapLines(const QString& siteAddress, int pageCount);

// Writes "sitemap.xml" of the open site from SiteAddress and PageList.
void SitemapWriter(const OpenSiteState& state);

// Automatic regeneration (a pick in the page list, the editor's save): only while the sitemap is
// enabled and the page list is not empty.
void regenerateSitemap(const OpenSiteState& state);

// The site's "\sitemap" settings as opening a site reads them.
struct SitemapSettings {
    bool enabled = false;
    QString address;  // the stored "adr", only when enabled and present
};
SitemapSettings loadSitemapSettings(SettingsStore& store, const QString& siteName);
// The stored "adr", whether the switch is on or not: switching it off leaves the address in place.
std::optional<QString> storedSiteAddress(SettingsStore& store, const QString& siteName);
// What the check box stores: "create" = "1" with "adr", or "create" = "0" alone.
void storeSitemapSettings(SettingsStore& store, const QString& siteName, bool create,
                          const QString& siteAddress);

}  // namespace zor::pages
