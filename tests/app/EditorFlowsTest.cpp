#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <optional>

#include "AppFixture.h"
#include "app/DesignScreen.h"
#include "editor/TForm2.h"
#include "platform/RichTextMemo.h"
#include "platform/TextFile.h"
#include "site/SiteWorkspace.h"
#include "support/WheelEvents.h"

using namespace zor;
using namespace zor::test;

namespace {

// A site with three pages and a block, the main window started over it.
struct EditorFlows : AppFixture {
    QString site;

    void SetUp() override {
        site = root.makeSite("site");
        textfile::writeLines(
            site::titleIndexPath(site),
            {"#    path", "0001 Сайт : Главная", "0002 Сайт : Вторая", "0003 Сайт : Третья", "#"});
        textfile::writeText(site::pageFilePath(site, 2), "<b>two</b>\r\n");
        textfile::writeText(site::pageFilePath(site, 3), "three");
        textfile::writeText(site::blockFilePath(site, "menu"), "<a href=\"?in=1\">Меню</a>");
        start();
    }

    editor::TForm2& editor() { return app->form2(); }
    QComboBox* pageList() { return child<QComboBox>("ComboBox1"); }
    QListWidget* blockList() { return child<QListWidget>("ListBox2"); }
    // pick opens the editor; inside runs while it is shown. Whether it was shown.
    bool withEditor(const std::function<void()>& pick, const std::function<void()>& inside) {
        return whileShown(editor(), pick, inside);
    }
    // From the pages screen's drop-down, and the design screen's block list.
    void pickPage(int index) {
        clickLabel("Image100");
        chooseEntry(pageList(), index);
    }
    void pickBlock(int row) {
        clickLabel("Image99");
        clickEntry(blockList(), row);
    }
    // The editor opened from the page list's entry `index`, or the block list's `row`.
    bool withPage(int index, const std::function<void()>& inside) {
        return withEditor([&] { pickPage(index); }, inside);
    }
    bool withBlock(int row, const std::function<void()>& inside) {
        return withEditor([&] { pickBlock(row); }, inside);
    }
    QString sourceText() { return editor().Memo1->text(); }
};

}  // namespace

TEST_F(EditorFlows, TypedInTheRealVisualEditorSavedAndThereWhenReopened) {
    app.reset();
    start(true);
    auto visualBody = [&] {
        std::optional<QString> body;
        web->view()->page()->runJavaScript("document.body.innerHTML",
                                           QWebEngineScript::ApplicationWorld,
                                           [&](const QVariant& v) { body = v.toString(); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return body.has_value(); }, 10000));
        return body.value_or(QString());
    };
    ASSERT_TRUE(withPage(1, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !web->isBusy(); }, 20000));
        EXPECT_EQ(visualBody(), "<b>two</b>\n ");
        QWidget* body = web->view()->focusProxy();
        ASSERT_NE(body, nullptr);
        QTest::mouseClick(body, Qt::LeftButton, {}, QPoint(6, 6));
        QTest::keyClicks(body, "Ok");
        ASSERT_TRUE(QTest::qWaitFor([&] { return sourceText().contains("Ok"); }, 10000))
            << sourceText().toStdString();
    }));
    EXPECT_EQ(test::readFile(site::pageFilePath(site, 2)), "<b>Oktwo</b>\r\n ");
    ASSERT_TRUE(withPage(1, [&] {
        EXPECT_EQ(sourceText(), "<b>Oktwo</b>\n ");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !web->isBusy(); }, 20000));
        EXPECT_TRUE(visualBody().startsWith("<b>Oktwo</b>\n"));
    }));
}

TEST_F(EditorFlows, EditorIsCreatedAfterTheMainWindowForTheFirstSite) {
    EXPECT_EQ(editor().windowTitle(), "ZOR OD");
    EXPECT_FALSE(editor().isVisible());
    EXPECT_EQ(editor().parentWidget(), &form());
    // Its creation already wrote the first site's preview file and opened its setting.
    EXPECT_TRUE(QFile::exists(site::previewFilePath(site)));
    EXPECT_TRUE(settings->keyExists("software\\ZOR-OD\\site\\dhtml"));
}

TEST_F(EditorFlows, ExistingPageEditedAndSaved) {
    settings->writeString("software\\ZOR-OD\\site\\sitemap", "create", "1");
    app.reset();
    start();
    child<QLineEdit>("Edit6")->setText("my.ru");
    ASSERT_TRUE(withPage(1, [&] {
        // The sitemap was written first, then the page opened.
        EXPECT_TRUE(QFile::exists(site::sitemapPath(site)));
        EXPECT_EQ(editor().windowTitle(), "ZOR OD (?in=2)");
        EXPECT_EQ(editor().Edit1->text(), "Вторая");
        EXPECT_EQ(sourceText(), "<b>two</b>\n");
        EXPECT_EQ(editor().Edit2->text(), "http://my.ru/index.php?in=2");
        editor().Memo1->setText("<i>changed</i>");
        editor().Edit1->setText("Другая");
    }));
    EXPECT_EQ(test::readFile(site::pageFilePath(site, 2)), "<i>changed</i>");
    EXPECT_EQ(state().pageTitles[2], "Другая");
    EXPECT_EQ(state().pageList[1], "2 - Другая");
    EXPECT_EQ(items(pageList()), (QStringList{"1 - Главная", "2 - Другая", "3 - Третья", "..."}));
    EXPECT_EQ(editor().windowTitle(), "ZOR OD");
    EXPECT_FALSE(QFile::exists(site::previewFilePath(site)));
    // The title reaches the index at the next save of the site.
    form().SaveOpenSite();
    EXPECT_TRUE(test::readFile(site::titleIndexPath(site))
                    .contains(zor::test::cp1251(u"0002 Сайт : Другая\r\n")));
}

TEST_F(EditorFlows, NewPageFromTheLastEntry) {
    ASSERT_TRUE(withPage(3, [&] {
        EXPECT_EQ(items(pageList()),
                  (QStringList{"1 - Главная", "2 - Вторая", "3 - Третья", "...", "..."}));
        EXPECT_EQ(pageList()->currentIndex(), 3);
        EXPECT_EQ(editor().windowTitle(), "ZOR OD (?in=4)");
        EXPECT_EQ(editor().Edit1->text(), "Новая страница");
        EXPECT_EQ(sourceText(), " ");
        EXPECT_FALSE(QFile::exists(site::pageFilePath(site, 4)));
    }));
    EXPECT_EQ(items(pageList()), (QStringList{"1 - Главная", "2 - Вторая", "3 - Третья",
                                              "4 - Новая страница", "..."}));
    EXPECT_EQ(state().pageList, items(pageList()));
    EXPECT_EQ(state().pageTitles[4], "Новая страница");
    EXPECT_EQ(test::readFile(site::pageFilePath(site, 4)), " ");
    form().SaveOpenSite();
    EXPECT_TRUE(test::readFile(site::fileIndexPath(site)).contains("0004 4.tq\r\n#\r\n"));
}

TEST_F(EditorFlows, MissingPageFileAndEmptiedTitle) {
    QFile::remove(site::pageFilePath(site, 1));
    ASSERT_TRUE(withPage(0, [&] {
        EXPECT_EQ(sourceText(), " ");
        EXPECT_EQ(editor().Edit1->text(), "Главная");
        editor().Edit1->clear();
    }));
    EXPECT_EQ(test::readFile(site::pageFilePath(site, 1)), " ");
    EXPECT_EQ(items(pageList())[0], "1 - ");
    EXPECT_EQ(state().pageTitles[1], "");
}

TEST_F(EditorFlows, UnreadablePageShowsTheErrorAndNoEditor) {
    QFile::remove(site::pageFilePath(site, 3));
    QDir().mkpath(site::pageFilePath(site, 3));
    dialogs.expectMessage("3.tq");
    EXPECT_FALSE(withPage(2, [] {}));
    EXPECT_EQ(editor().windowTitle(), "ZOR OD");
}

TEST_F(EditorFlows, NoPageBeyondTheLimit) {
    QStringList list;
    for (int n = 1; n <= site::MaxPages; ++n) {
        list.append(QString::number(n) + " - p");
    }
    list.append("...");
    state().pageList = list;
    form().pagesScreen()->showPageList();
    dialogs.expectMessage("5000");
    EXPECT_FALSE(withPage(site::MaxPages, [] {}));
    EXPECT_EQ(pageList()->count(), site::MaxPages + 1);
    EXPECT_EQ(state().pageList.size(), site::MaxPages + 1);
}

TEST_F(EditorFlows, ExistingBlockRenamed) {
    ASSERT_EQ(items(blockList()), (QStringList{"menu", "..."}));
    ASSERT_TRUE(withBlock(0, [&] {
        EXPECT_EQ(editor().windowTitle(), "ZOR OD Редактирование блоков");
        EXPECT_EQ(editor().Edit1->text(), "menu");
        EXPECT_EQ(sourceText(), "<a href=\"?in=1\">Меню</a>");
        editor().Edit1->setText("topmenu");
    }));
    EXPECT_EQ(items(blockList()), (QStringList{"topmenu", "..."}));
    EXPECT_EQ(test::readFile(site::blockFilePath(site, "topmenu")),
              test::readFile(site::blockFilePath(site, "menu")));
    EXPECT_EQ(editor().windowTitle(), "ZOR OD");
    // The page list is not touched by a block.
    EXPECT_EQ(items(pageList()), (QStringList{"1 - Главная", "2 - Вторая", "3 - Третья", "..."}));
}

TEST_F(EditorFlows, NewBlockFromTheLastEntry) {
    ASSERT_TRUE(withBlock(1, [&] {
        EXPECT_EQ(items(blockList()), (QStringList{"menu", "...", "..."}));
        EXPECT_EQ(blockList()->currentRow(), 1);
        EXPECT_EQ(editor().Edit1->text(), "NewBloc");
        EXPECT_EQ(sourceText(), " ");
        editor().Memo1->setText("<p>footer</p>");
    }));
    EXPECT_EQ(items(blockList()), (QStringList{"menu", "NewBloc", "..."}));
    EXPECT_EQ(test::readFile(site::blockFilePath(site, "NewBloc")), "<p>footer</p>");
}

TEST_F(EditorFlows, VanishedBlockShowsTheErrorAndNoEditor) {
    QFile::remove(site::blockFilePath(site, "menu"));
    dialogs.expectMessage("menu.tq");
    EXPECT_FALSE(withBlock(0, [] {}));
    EXPECT_EQ(editor().windowTitle(), "ZOR OD");
    // The next page opened is a page, not a block.
    ASSERT_TRUE(withPage(2, [&] { EXPECT_EQ(editor().windowTitle(), "ZOR OD (?in=3)"); }));
    EXPECT_FALSE(QFile::exists(site::blockFilePath(site, "menu")));
}

TEST_F(EditorFlows, PastedLineBreaksNeverReachTheIndex) {
    auto paste = [](QLineEdit* field, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    };
    auto* siteTitle = child<QLineEdit>("Edit31");
    paste(siteTitle, "Мой\r\nсайт");
    EXPECT_EQ(siteTitle->text(), "Мой сайт");
    auto* address = child<QLineEdit>("Edit6");
    paste(address, "www.my.ru\n\tx");
    EXPECT_EQ(address->text(), "www.my.ru  x");
    EXPECT_EQ(state().siteAddress, "http://www.my.ru  x/");
    ASSERT_TRUE(withPage(1, [&] {
        paste(editor().Edit1, "Новое\r\nимя\u2028");
        EXPECT_EQ(editor().Edit1->text(), "Новое имя ");
    }));

    // Reopened, the site has its three pages with their titles.
    ASSERT_TRUE(form().close());
    app.reset();
    start();
    EXPECT_EQ(items(pageList()),
              (QStringList{"1 - Главная", "2 - Новое имя ", "3 - Третья", "..."}));
    EXPECT_EQ(child<QLineEdit>("Edit31")->text(), "Мой сайт");
}

TEST_F(EditorFlows, ANewPageNeverOverwritesAPageFileOnDisk) {
    textfile::writeText(site::pageFilePath(site, 4), "four");
    dialogs.expectMessage("4.tq");
    EXPECT_FALSE(withPage(3, [] {}));
    EXPECT_TRUE(dialogs.satisfied());
    EXPECT_EQ(items(pageList()), (QStringList{"1 - Главная", "2 - Вторая", "3 - Третья", "..."}));
    EXPECT_EQ(test::readFile(site::pageFilePath(site, 4)), "four");
}

TEST_F(EditorFlows, ReturnOnABlockOpensIt) {
    form().show();
    blockList()->setFocus();
    blockList()->setCurrentRow(0);
    ASSERT_TRUE(withEditor([&] { QTest::keyClick(blockList(), Qt::Key_Return); },
                           [&] { EXPECT_EQ(editor().Edit1->text(), "menu"); }));
    EXPECT_EQ(items(blockList()), (QStringList{"menu", "..."}));
}

TEST_F(EditorFlows, AWheelNotchOverThePageListOpensNothing) {
    form().show();
    const bool shown = withEditor([&] { test::turnWheel(pageList(), -1); }, [] {});
    EXPECT_FALSE(shown);
    EXPECT_EQ(pageList()->currentIndex(), -1);
    EXPECT_EQ(items(pageList()), (QStringList{"1 - Главная", "2 - Вторая", "3 - Третья", "..."}));
    // Nor onto the new-page entry.
    pageList()->setCurrentIndex(2);
    EXPECT_FALSE(withEditor([&] { test::turnWheel(pageList(), -1); }, [] {}));
    EXPECT_EQ(items(pageList()), (QStringList{"1 - Главная", "2 - Вторая", "3 - Третья", "..."}));
    EXPECT_EQ(state().pageCount(), 3);
}
