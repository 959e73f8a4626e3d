#include <gtest/gtest.h>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "pages/Sitemap.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::pages;

TEST(SiteAddress, IsNormalised) {
    const std::pair<QString, QString> cases[] = {
        {"www.site.ru", "http://www.site.ru/"},
        {"http://www.site.ru/", "http://www.site.ru/"},
        {"http://www.site.ru", "http://www.site.ru/"},
        {"https://secure.ru", "https://secure.ru/"},
        {"http://https://secure.ru/", "https://secure.ru/"},  // as older versions stored it
        {"", "http://"},
        {"site.ru/http://x", "site.ru/http://x/"},  // "http://" anywhere counts
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(normaliseAddress(in), out) << in.toStdString();
    }
}

TEST(Sitemap, LinesAreExact) {
    EXPECT_EQ(sitemapLines("http://s.ru/", 2),
              (QStringList{
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                  "<urlset",
                  "      xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\"",
                  "      xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"",
                  "      xsi:schemaLocation=\"http://www.sitemaps.org/schemas/sitemap/0.9",
                  "            http://www.sitemaps.org/schemas/sitemap/0.9/sitemap.xsd\">",
                  "<!-- created with ZOR OD http://zorod.example.org -->",
                  "<url>",
                  "  <loc>http://s.ru/index.php?in=1</loc>",
                  "  <changefreq>always</changefreq>",
                  "</url>",
                  "<url>",
                  "  <loc>http://s.ru/index.php?in=2</loc>",
                  "  <changefreq>always</changefreq>",
                  "</url>",
                  "</urlset>",
              }));
    EXPECT_EQ(sitemapLines("http://", 0).size(), 8);
}

TEST(Sitemap, FileIsWellFormedWithOneUrlPerPage) {
    test::TempRoot root;
    OpenSiteState state = root.openNewSite("s");
    state.pageList = {"1 - a", "2 - b", "3 - c", "..."};
    state.siteAddress = normaliseAddress("сайт.рф/?a=1&b=2");
    SitemapWriter(state);
    const QString path = site::sitemapPath(state.sitePath);
    const QByteArray bytes = test::readFile(path);
    EXPECT_EQ(bytes.count("<url>"), 3);
    EXPECT_TRUE(bytes.contains("<loc>http://" + QString("сайт.рф").toUtf8() +
                               "/?a=1&amp;b=2/index.php?in=3</loc>\r\n"));
    EXPECT_TRUE(bytes.endsWith("</urlset>\r\n"));

    QProcess lint;
    lint.start("xmllint", {"--noout", path});
    ASSERT_TRUE(lint.waitForFinished(30000));
    EXPECT_EQ(lint.exitCode(), 0) << lint.readAllStandardError().constData();
}

TEST(Sitemap, RegeneratesOnlyWhenEnabledAndListed) {
    test::TempRoot root;
    OpenSiteState state = root.openNewSite("s");
    state.pageList = {"1 - a", "..."};
    regenerateSitemap(state);
    EXPECT_FALSE(QFile::exists(site::sitemapPath(state.sitePath)));
    state.sitemapEnabled = true;
    state.pageList.clear();
    regenerateSitemap(state);
    EXPECT_FALSE(QFile::exists(site::sitemapPath(state.sitePath)));
    state.pageList = {"..."};
    regenerateSitemap(state);
    EXPECT_EQ(test::readFile(site::sitemapPath(state.sitePath)).count("<url>"), 0);
}

TEST(SitemapSettings, OnlyExactlyOneSwitchesItOn) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.db"));
    EXPECT_FALSE(loadSitemapSettings(store, "a").enabled);  // nothing stored
    storeSitemapSettings(store, "a", true, "http://a.ru/");
    EXPECT_TRUE(loadSitemapSettings(store, "a").enabled);
    EXPECT_EQ(loadSitemapSettings(store, "a").address, "http://a.ru/");
    storeSitemapSettings(store, "a", false, "http://ignored/");
    EXPECT_EQ(store.readValue("software\\ZOR-OD\\a\\sitemap", "adr"), QString("http://a.ru/"));
    EXPECT_FALSE(loadSitemapSettings(store, "a").enabled);
    EXPECT_TRUE(loadSitemapSettings(store, "a").address.isEmpty());
    store.writeString("software\\ZOR-OD\\a\\sitemap", "create", "yes");
    EXPECT_FALSE(loadSitemapSettings(store, "a").enabled);
}
