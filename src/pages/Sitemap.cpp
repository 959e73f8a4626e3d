#include "pages/Sitemap.h"

#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "site/SiteCatalogue.h"
#include "site/SiteWorkspace.h"

namespace zor::pages {

QString normaliseAddress(const QString& text) {
    const QString plain = QStringLiteral("http://");
    const QString secure = QStringLiteral("https://");
    QString a = text;
    // A secure address keeps its own scheme; one stored by older versions with "http://" put in
    // front of it is repaired.
    if (a.startsWith(plain + secure)) {
        a.remove(0, plain.size());
    }
    if (!a.contains(plain) && !a.contains(secure)) {
        a.prepend(plain);
    }
    if (!a.endsWith(u'/')) {
        a.append(u'/');
    }
    return a;
}

QStringList sitemapLines(const QString& siteAddress, int pageCount) {
    QStringList lines{
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
        QStringLiteral("<urlset"),
        QStringLiteral("      xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\""),
        QStringLiteral("      xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""),
        QStringLiteral("      xsi:schemaLocation=\"http://www.sitemaps.org/schemas/sitemap/0.9"),
        QStringLiteral("            http://www.sitemaps.org/schemas/sitemap/0.9/sitemap.xsd\">"),
        QStringLiteral("<!-- created with ZOR OD ") + site::ProductSite + QStringLiteral(" -->"),
    };
    // The address is text inside an element: "&" and "<" must not break the document.
    const QString address = siteAddress.toHtmlEscaped();
    for (int n = 1; n <= pageCount; ++n) {
        lines.append(QStringLiteral("<url>"));
        lines.append(QStringLiteral("  <loc>") + address + QStringLiteral("index.php?in=") +
                     QString::number(n) + QStringLiteral("</loc>"));
        lines.append(QStringLiteral("  <changefreq>always</changefreq>"));
        lines.append(QStringLiteral("</url>"));
    }
    lines.append(QStringLiteral("</urlset>"));
    return lines;
}

void SitemapWriter(const OpenSiteState& state) {
    // The file declares UTF-8, so it is written in UTF-8 (the same bytes as the site's code
    // page for the ASCII it is made of; a Cyrillic address stays well-formed).
    textfile::writeBytes(
        site::sitemapPath(state.sitePath),
        textfile::joinLines(sitemapLines(state.siteAddress, state.pageCount())).toUtf8());
}

void regenerateSitemap(const OpenSiteState& state) {
    if (state.sitemapEnabled && !state.pageList.isEmpty()) {
        SitemapWriter(state);
    }
}

SitemapSettings loadSitemapSettings(SettingsStore& store, const QString& siteName) {
    SettingsKey key(store, siteKeyPath(siteName, QStringLiteral("sitemap")));
    SitemapSettings s;
    if (auto create = key.read(QStringLiteral("create"))) {
        s.enabled = *create == u"1";
    }
    if (s.enabled) {
        s.address = key.read(QStringLiteral("adr")).value_or(QString());
    }
    return s;
}

std::optional<QString> storedSiteAddress(SettingsStore& store, const QString& siteName) {
    return SettingsKey(store, siteKeyPath(siteName, QStringLiteral("sitemap")))
        .read(QStringLiteral("adr"));
}

void storeSitemapSettings(SettingsStore& store, const QString& siteName, bool create,
                          const QString& siteAddress) {
    SettingsKey key(store, siteKeyPath(siteName, QStringLiteral("sitemap")));
    if (create) {
        key.write(QStringLiteral("create"), QStringLiteral("1"));
        key.write(QStringLiteral("adr"), siteAddress);
    } else {
        key.write(QStringLiteral("create"), QStringLiteral("0"));
    }
}

}  // namespace zor::pages
