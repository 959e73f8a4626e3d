// The compiled index.php served by PHP's own web server and asked over real HTTP.
#include <gtest/gtest.h>
#include <QFile>
#include <QUrl>

#include "design/TemplateCompiler.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"
#include "site/SiteCatalogue.h"
#include "site/SiteWorkspace.h"
#include "support/Http.h"
#include "support/TempSite.h"

using namespace zor;
using zor::test::cp1251;

namespace {

struct FrontControllerTest : ::testing::Test {
    test::TempRoot root;
    OpenSiteState state;
    std::unique_ptr<test::PhpServer> php;

    void SetUp() override {
        state = root.openNewSite("site");
        // Three pages: the welcome page and two more, one of them Cyrillic; and a block.
        state.pageTitles[2] = "Контакты";
        state.pageTitles[3] = "Третья";
        state.pageList = {"1 - Главная", "2 - Контакты", "3 - Третья", "..."};
        site::writePageTitleIndex(state.sitePath, state.siteTitle, state.pageTitles, 3);
        site::writePageFileIndex(state.sitePath, 3);
        textfile::writeLines(site::pageFilePath(state.sitePath, 2), {"<p>Пишите нам: ёЁ №</p>"});
        textfile::writeLines(site::pageFilePath(state.sitePath, 3), {"<p>page three</p>"});
        textfile::writeLines(site::blockFilePath(state.sitePath, "menu"), {"<b>Меню блока</b>"});

        QStringList theme = site::defaultThemeLines();
        theme.insert(6, "<div class=\"footer\">{{bloc=menu}}</div>");
        design::saveAndCompile(state, textfile::joinLines(theme));

        php = std::make_unique<test::PhpServer>(state.sitePath);
        ASSERT_TRUE(php->started()) << "php -S did not start";
    }
    // Nothing PHP complains about, on the page or in its log.
    void TearDown() override { EXPECT_TRUE(php->errorLog().isEmpty()) << php->errorLog().data(); }

    test::HttpResponse get(const QByteArray& query) {
        test::HttpResponse r = test::httpGet(php->port(), "/index.php" + query);
        EXPECT_EQ(r.status, 200) << query.constData();
        EXPECT_FALSE(r.body.contains("Warning")) << query.constData();
        EXPECT_FALSE(r.body.contains("Deprecated")) << query.constData();
        EXPECT_FALSE(r.body.contains("Fatal")) << query.constData();
        return r;
    }
    // The title as a browser shows it: runs of white space (the fragment's own line ends and
    // indents) become one blank.
    static QByteArray title(const QByteArray& body) {
        const qsizetype from = body.indexOf("<title>") + 7;
        return body.mid(from, body.indexOf("</title>") - from).simplified();
    }
};

}  // namespace

TEST_F(FrontControllerTest, ServesTitlesContentAndBlocks) {
    const auto page2 = get("?in=2");
    EXPECT_EQ(title(page2.body), cp1251(u"Новый сайт : Контакты"));
    EXPECT_TRUE(page2.body.contains(cp1251(u"<p>Пишите нам: ёЁ №</p>")));
    EXPECT_TRUE(page2.body.contains(cp1251(u"<b>Меню блока</b>")));
    EXPECT_FALSE(page2.body.contains("<?php"));
    EXPECT_EQ(page2.headers.value("content-type"), "text/html; charset=windows-1251");
    // Right after the header line comes the template's first line: nothing before the doctype.
    EXPECT_TRUE(page2.body.startsWith("<!DOCTYPE html PUBLIC"));

    const auto page3 = get("?in=3");
    EXPECT_EQ(title(page3.body), cp1251(u"Новый сайт : Третья"));
    EXPECT_TRUE(page3.body.contains("<p>page three</p>"));

    // Without "in" the first page is shown; an empty "in" counts as the first page's title.
    const auto first = get("");
    EXPECT_EQ(title(first.body), cp1251(u"Новый сайт : Главная"));
    EXPECT_TRUE(first.body.contains(cp1251(u"Вы успешно установили TQ!")));
    EXPECT_TRUE(first.body.contains(cp1251(u"<b>Меню блока</b>")));

    // "sin" adds the title of a second page.
    const auto withSin = get("?in=1&sin=3");
    EXPECT_EQ(title(withSin.body), cp1251(u"Новый сайт : Главная - Новый сайт : Третья"));
}

TEST_F(FrontControllerTest, AMissingPageFileSaysSo) {
    QFile::remove(site::pageFilePath(state.sitePath, 3));
    const auto r = get("?in=3");
    EXPECT_TRUE(r.body.contains("eror <br>mf/pages/3.tq"));
    EXPECT_EQ(title(r.body), cp1251(u"Новый сайт : Третья"));
}

TEST_F(FrontControllerTest, AnUnknownPageShowsNoTitleNoContentAndNoWarning) {
    const auto r = get("?in=9");
    EXPECT_EQ(title(r.body), "");
    EXPECT_FALSE(r.body.contains("eror"));
}

TEST(NewSite, CompiledAtOnceServesItsFirstPage) {
    test::TempRoot root;
    // Opened as the main window opens it, and compiled before anything saved the site.
    OpenSiteState state = root.openNewSite("fresh");
    design::saveAndCompile(state, textfile::joinLines(site::defaultThemeLines()));
    test::PhpServer php(state.sitePath);
    ASSERT_TRUE(php.started()) << "php -S did not start";
    const test::HttpResponse r = test::httpGet(php.port(), "/index.php?in=1");
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body.contains(cp1251(u"Вы успешно установили TQ!")));

    // The design's header picture comes with the site and is found from the page.
    const qsizetype from = r.body.indexOf("<img src=\"") + 10;
    const QUrl page(QStringLiteral("http://127.0.0.1:%1/index.php?in=1").arg(php.port()));
    const QUrl picture = page.resolved(
        QUrl(QString::fromLatin1(r.body.mid(from, r.body.indexOf('"', from) - from))));
    EXPECT_EQ(picture.authority(), page.authority()) << picture.toString().toStdString();
    const test::HttpResponse shown = test::httpGet(php.port(), picture.path().toLatin1());
    EXPECT_EQ(shown.status, 200);
    EXPECT_EQ(shown.headers.value("content-type"), "image/png");
    EXPECT_TRUE(shown.body.startsWith("\x89PNG\r\n")) << picture.toString().toStdString();
    EXPECT_TRUE(php.errorLog().isEmpty()) << php.errorLog().constData();
}
