#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

#include "editor/EditorDocument.h"
#include "editor/EditorSave.h"
#include "platform/Errors.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"
#include "support/TempSite.h"
#include "support/TestEditorHost.h"

using namespace zor;
using namespace zor::editor;

namespace {

struct EditorSaveTest : ::testing::Test {
    test::TempRoot root;
    OpenSiteState state;
    test::TestEditorHost host{state};

    void SetUp() override {
        test::openTwoPageSite(root, state);
        test::writeFile(site::previewFilePath(state.sitePath), "preview");
    }
    QString page(int n) const { return site::pageFilePath(state.sitePath, n); }
    QString preview() const { return site::previewFilePath(state.sitePath); }
};

}  // namespace

TEST(EditorDocument, BodyComesBackFromTheDocumentForm) {
    for (const QString& body : {QString(), QString(" "), QString("<b>x</b>\n<BODY>inner")}) {
        const QString doc = bodyDocument(body);
        EXPECT_TRUE(doc.contains("<BODY>"));
        EXPECT_EQ(doc.right(16), "</BODY></HTML>\r\n");
        EXPECT_EQ(extractBody(doc), body);
    }
    EXPECT_EQ(extractBody("<BODY>abc" + QString(16, 'x')), "abc");
    // The opening tag must be written in capitals, and the tail must be there.
    EXPECT_EQ(extractBody("<body>abc</body></html>\r\n"), std::nullopt);
    EXPECT_EQ(extractBody("<BODY>short"), std::nullopt);
}

TEST(EditorDocument, LinesAndFileText) {
    EXPECT_EQ(linesForVisualEditor("a\nb"), "a\r\nb\r\n");
    EXPECT_EQ(linesForVisualEditor("a\n\nb\n"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(linesForVisualEditor(""), "");
    EXPECT_EQ(fileText("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(fileText("a\nb"), "a\r\nb");
}

TEST(EditorMode, FromTheCaption) {
    EXPECT_EQ(modeOfCaption("ZOR OD (?in=3)"), EditorMode::Page);
    EXPECT_EQ(modeOfCaption("ZOR OD Редактирование блоков"), EditorMode::Block);
    EXPECT_EQ(modeOfCaption("ZOR ODРедактирование блоков"), EditorMode::Page);
    EXPECT_EQ(pageCaptionSuffix(12), " (?in=12)");
}

TEST_F(EditorSaveTest, PageTextTitleAndListEntry) {
    host.pageSelection = 1;
    savePage(state, host, "Привет\n<b>мир</b>", "Новое имя");
    EXPECT_EQ(test::readFile(page(2)), test::crlf({"Привет"}) + zor::test::cp1251(u"<b>мир</b>"));
    EXPECT_EQ(state.pageTitles[2], "Новое имя");
    EXPECT_EQ(state.pageList, (QStringList{"1 - Главная", "2 - Новое имя", "..."}));
    EXPECT_FALSE(QFile::exists(preview()));
}

TEST_F(EditorSaveTest, NewPageAndEmptyTitle) {
    state.pageList = {"1 - Главная", "2 - Вторая", "...", "..."};
    host.pageSelection = 2;
    savePage(state, host, " ", "");
    EXPECT_EQ(test::readFile(page(3)), " ");
    EXPECT_EQ(state.pageList, (QStringList{"1 - Главная", "2 - Вторая", "3 - ", "..."}));
}

TEST_F(EditorSaveTest, SitemapFirstCountingTheSavedPage) {
    state.sitemapEnabled = true;
    state.pageList = {"1 - Главная", "2 - Вторая", "...", "..."};
    host.pageSelection = 2;
    savePage(state, host, "x", "Третья");
    const QByteArray map = test::readFile(site::sitemapPath(state.sitePath));
    EXPECT_TRUE(map.contains("http://example.org/index.php?in=3</loc>"));
    EXPECT_FALSE(map.contains("in=4"));
}

TEST_F(EditorSaveTest, FailingSitemapStopsBeforeThePage) {
    state.sitemapEnabled = true;
    host.pageSelection = 0;
    const QByteArray before = test::readFile(page(1));
    QDir().mkpath(site::sitemapPath(state.sitePath));  // a folder where the file should be
    EXPECT_THROW(savePage(state, host, "new text", "Другая"), FileError);
    EXPECT_EQ(test::readFile(page(1)), before);
    EXPECT_EQ(test::readFile(preview()), "preview");
    EXPECT_EQ(state.pageTitles[1], "Главная");
    EXPECT_EQ(state.pageList[0], "1 - Главная");
}

TEST_F(EditorSaveTest, FailingPageWriteKeepsThePreviewAndTheState) {
    host.pageSelection = 1;
    QDir().mkpath(page(2) + "/in-the-way");  // the page file cannot be replaced
    EXPECT_THROW(savePage(state, host, "new text", "Другая"), FileError);
    EXPECT_EQ(test::readFile(preview()), "preview");
    EXPECT_EQ(state.pageTitles[2], "Вторая");
}

TEST_F(EditorSaveTest, NoSelectionWritesNothing) {
    host.pageSelection = -1;
    savePage(state, host, "text", "title");
    EXPECT_FALSE(QFile::exists(page(0)));
    EXPECT_EQ(state.pageList, (QStringList{"1 - Главная", "2 - Вторая", "..."}));
}

TEST_F(EditorSaveTest, RenamedBlockLeavesTheOldFile) {
    test::writeFile(site::blockFilePath(state.sitePath, "menu"), "old menu");
    host.pickBlock({"menu", "..."}, 0);
    saveBlock(state, host, "<a>new</a>", "footer");
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "footer")), "<a>new</a>");
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "menu")), "old menu");
    EXPECT_EQ(host.blockList, (QStringList{"footer", "..."}));
    EXPECT_FALSE(QFile::exists(preview()));
}

// Names that would leave the blocks folder, and names that would break the block list.
TEST_F(EditorSaveTest, BlockNamesThatLeaveTheFolderOrBreakTheListAreRefused) {
    host.pickBlock({"...", "..."}, 0);
    for (const QString& name :
         {QString(), QString("."), QString(".."), QString("../index"), QString("a/b"),
          QString("a\\b"), QString("..."), QString("tab\there"), QString("two\nlines"),
          QString("nul") + QChar(0) + "x", QString("del\x7f"), QString("c1") + QChar(0x85)}) {
        EXPECT_THROW(saveBlock(state, host, "x", name), ZorError) << name.toStdString();
    }
    EXPECT_EQ(host.blockList, (QStringList{"...", "..."}));
    EXPECT_EQ(QDir(site::blocksFolder(state.sitePath)).entryList(QDir::Files), QStringList());
    EXPECT_TRUE(QFile::exists(preview()));
    saveBlock(state, host, "x", "Блок 1");  // anything else is the user's choice
    EXPECT_TRUE(QFile::exists(site::blockFilePath(state.sitePath, "Блок 1")));
}

TEST(VisualEditorSetting, StoredAsOneOrZero) {
    test::TempRoot root;
    SettingsStore store(root.settingsPath());
    EXPECT_EQ(loadVisualEditorSetting(store, "alpha"), std::nullopt);
    EXPECT_TRUE(store.keyExists("software\\ZOR-OD\\alpha\\dhtml"));  // opening creates the key
    storeVisualEditorSetting(store, "alpha", false);
    EXPECT_EQ(store.readValue("software\\ZOR-OD\\alpha\\dhtml", "use"), "0");
    EXPECT_EQ(loadVisualEditorSetting(store, "alpha"), false);
    storeVisualEditorSetting(store, "alpha", true);
    EXPECT_EQ(loadVisualEditorSetting(store, "alpha"), true);
    store.writeString("software\\ZOR-OD\\alpha\\dhtml", "use", "yes");
    EXPECT_EQ(loadVisualEditorSetting(store, "alpha"), false);
}
