#include <sys/stat.h>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>

#include "AppFixture.h"
#include "design/TemplateCompiler.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"

using namespace zor;
using namespace zor::test;

namespace {

struct DesignPagesTest : AppFixture {
    QString site;
    void SetUp() override { site = root.makeSite("site"); }
    QString sitemapKey() { return "software\\ZOR-OD\\site\\sitemap"; }
};

}  // namespace

TEST_F(DesignPagesTest, SaveWritesTheTemplateAsItStandsAndCompilesIt) {
    const QByteArray original = test::readFile(site::themePath(site));
    start();
    // Saving the template untouched gives back the very same bytes.
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_EQ(test::readFile(site::themePath(site)), original);
    const QByteArray php = test::readFile(site::frontControllerPath(site));
    EXPECT_TRUE(php.contains("<title>\r\n        <?php\r\n"));
    EXPECT_TRUE(php.contains("<div class=\"page\">\r\n        <?php\r\n"));

    child<QPlainTextEdit>("Memo1")->setPlainText("<p>{{bloc=menu}}</p>\nЛиния");
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_EQ(test::readFile(site::themePath(site)),
              zor::test::cp1251(u"<p>{{bloc=menu}}</p>\r\nЛиния"));
    EXPECT_EQ(test::readFile(site::frontControllerPath(site)),
              test::crlf({design::CharsetLine, "<p>", "<?php", "include \"etc/blocs/menu.tq\";",
                          "?>", "</p>", "Линия"}));
}

TEST_F(DesignPagesTest, SaveIntoAVanishedSiteFolderShowsTheError) {
    start();
    QDir(site).removeRecursively();
    dialogs.expectMessage("theme.html");
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
}

TEST_F(DesignPagesTest, ATemplateThatDidNotLoadIsNotSavedOver) {
    // The template's disk is not there: the file cannot be read, and the box stays empty.
    const QString theme = site::themePath(site);
    QFile::remove(theme);
    ASSERT_TRUE(QFile::link(root.root() + "unplugged/theme.html", theme));
    dialogs.expectMessage("theme.html");
    start();
    ASSERT_TRUE(dialogs.satisfied());
    dialogs.expectMessage("Шаблон");
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_TRUE(QFileInfo(theme).isSymLink());
    EXPECT_EQ(QFileInfo(theme).symLinkTarget(), root.root() + "unplugged/theme.html");
    EXPECT_FALSE(QFile::exists(site::frontControllerPath(site)));
}

TEST_F(DesignPagesTest, NoBreakSpacesInTheTemplateAreKept) {
    const QByteArray bytes =
        "<p>a\xa0"
        "b</p>\r\n<title>{{title}}\xa0</title>";
    test::writeFile(site::themePath(site), bytes);
    start();
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_EQ(test::readFile(site::themePath(site)), bytes);
    EXPECT_TRUE(test::readFile(site::frontControllerPath(site))
                    .contains("<p>a\xa0"
                              "b</p>\r\n"));
}

TEST_F(DesignPagesTest, CompilingWritesTheIndexFilesFirst) {
    // A site whose file index went missing: its pages are found again once compiled.
    QFile::remove(site::fileIndexPath(site));
    start();
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_EQ(test::readFile(site::fileIndexPath(site)), "#    path\r\n0001 1.tq\r\n#\r\n");
}

TEST_F(DesignPagesTest, SitemapSwitchStoresItsSettingsAndWritesTheFile) {
    start();
    auto* address = child<QLineEdit>("Edit6");
    auto* box = child<QCheckBox>("CheckBox3");

    // Without an address the switch springs back and nothing happens.
    box->setChecked(true);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(settings->valueExists(sitemapKey(), "create"));
    EXPECT_FALSE(QFile::exists(site::sitemapPath(site)));

    address->setText("www.site.ru");
    EXPECT_EQ(state().siteAddress, "http://www.site.ru/");
    box->setChecked(true);
    EXPECT_EQ(settings->readValue(sitemapKey(), "create"), QString("1"));
    EXPECT_EQ(settings->readValue(sitemapKey(), "adr"), QString("http://www.site.ru/"));
    EXPECT_TRUE(test::readFile(site::sitemapPath(site))
                    .contains("<loc>http://www.site.ru/index.php?in=1</loc>"));
    EXPECT_FALSE(state().sitemapEnabled);  // only opening the site switches regeneration on

    QFile::remove(site::sitemapPath(site));
    address->setText("other.ru");
    box->setChecked(false);
    EXPECT_EQ(settings->readValue(sitemapKey(), "create"), QString("0"));
    EXPECT_EQ(settings->readValue(sitemapKey(), "adr"), QString("http://www.site.ru/"));
    EXPECT_TRUE(QFile::exists(site::sitemapPath(site)));  // written once more
}

TEST_F(DesignPagesTest, OpeningASiteWithTheSitemapOnRegeneratesAtEveryPick) {
    settings->writeString(sitemapKey(), "create", "1");
    settings->writeString(sitemapKey(), "adr", "http://my.ru/");
    textfile::writeLines(site + "/etc/head.txt",
                         {"#    path", "0001 S : a", "0002 S : b", "0003 S : c", "#"});
    start();
    EXPECT_TRUE(state().sitemapEnabled);
    EXPECT_EQ(child<QLineEdit>("Edit6")->text(), "http://my.ru/");
    EXPECT_TRUE(child<QCheckBox>("CheckBox3")->isChecked());

    QFile::remove(site::sitemapPath(site));
    auto* pages = child<QComboBox>("ComboBox1");
    pages->setCurrentIndex(1);
    form().pagesScreen()->ComboBox1Click();
    const QByteArray map = test::readFile(site::sitemapPath(site));
    EXPECT_EQ(map.count("<url>"), 3);
    EXPECT_TRUE(map.contains("<loc>http://my.ru/index.php?in=3</loc>"));
}

TEST_F(DesignPagesTest, StoredSwitchWithoutAddressSpringsBackButStaysEnabled) {
    settings->writeString(sitemapKey(), "create", "1");
    start();
    EXPECT_TRUE(state().sitemapEnabled);
    EXPECT_TRUE(child<QLineEdit>("Edit6")->text().isEmpty());
    EXPECT_FALSE(child<QCheckBox>("CheckBox3")->isChecked());
    EXPECT_FALSE(settings->valueExists(sitemapKey(), "adr"));
    form().pagesScreen()->ComboBox1Click();
    EXPECT_TRUE(
        test::readFile(site::sitemapPath(site)).contains("<loc>http://index.php?in=1</loc>"));
}

TEST_F(DesignPagesTest, AnyStoredValueButOneLeavesTheSitemapOff) {
    settings->writeString(sitemapKey(), "create", "yes");
    settings->writeString(sitemapKey(), "adr", "http://my.ru/");
    start();
    EXPECT_FALSE(state().sitemapEnabled);
    EXPECT_TRUE(child<QLineEdit>("Edit6")->text().isEmpty());
    form().pagesScreen()->ComboBox1Click();
    EXPECT_FALSE(QFile::exists(site::sitemapPath(site)));
}

TEST_F(DesignPagesTest, TheBlockListHoldsOnlyRegularFilesEndingExactlyInTq) {
    const QString blocks = site + "/etc/blocs/";
    for (const char* name : {"menu.tq", "Menu.TQ", "footer.Tq", "notes.tq.bak", ".tq"}) {
        test::writeFile(blocks + name, "x");
    }
    QDir().mkdir(blocks + "folder.tq");
    ASSERT_EQ(::mkfifo(QFile::encodeName(blocks + "pipe.tq").constData(), 0600), 0);
    start();
    auto* list = child<QListWidget>("ListBox2");
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items.append(list->item(i)->text());
    }
    EXPECT_EQ(items, (QStringList{"menu", "..."}));
}

TEST_F(DesignPagesTest, ATemplateTooLargeToBeOneIsRefusedWithAMessage) {
    test::writeFile(site::themePath(site), QByteArray(99, 'x').append("\r\n").repeated(90'000));
    dialogs.expectMessage("слишком большой");
    start();
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_TRUE(child<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
}
