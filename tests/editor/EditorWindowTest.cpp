#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

#include "EditorWindowFixture.h"
#include "platform/TextFile.h"
#include "support/WheelEvents.h"

using namespace zor;
using namespace zor::editor;
using zor::test::EditorWindowTest;

namespace {
const QString DhtmlKey = QStringLiteral("software\\ZOR-OD\\alpha\\dhtml");
}

TEST_F(EditorWindowTest, CreatedHiddenWithItsControlsAndDefaults) {
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "ZOR OD");
    EXPECT_EQ(form->size(), QSize(667, 535));
    EXPECT_EQ(form->Edit1->text(), "Новая страница");
    EXPECT_EQ(form->ColorBox1->toolTip(), "Чёрный");
    EXPECT_EQ(form->ComboBox1->placeholderText(), "Выберите расширение");
    EXPECT_EQ(form->Label1->text(), "Адрес этой страницы");
    EXPECT_EQ(form->usedhtml->text(), "Использовать редактор");
    EXPECT_TRUE(form->usedhtml->isChecked());
    EXPECT_EQ(form->PageControl1->tabText(0), "Редактор");
    EXPECT_EQ(form->PageControl1->tabText(1), "IE");
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_EQ(form->DefaultTextColour, QColor(0, 0, 128));
    for (const char* name : {"Edit1", "Image1", "ColorBox1", "Memo1", "PageControl1", "TabSheet1",
                             "TabSheet2", "DHTMLEdit1", "WebBrowser1", "ComboBox1", "Label1",
                             "Edit2", "usedhtml", "ToolButton14", "ToolButton21"}) {
        EXPECT_NE(form->findChild<QWidget*>(name), nullptr) << name;
    }
    // The preview file of the first site is written at once, and shown.
    EXPECT_EQ(test::readFile(previewFile()), "");
    EXPECT_EQ(preview->paths, QStringList{previewFile()});
    // The setting's key exists from now on, without a value.
    EXPECT_TRUE(settings->keyExists(DhtmlKey));
    EXPECT_FALSE(settings->valueExists(DhtmlKey, "use"));
}

TEST_F(EditorWindowTest, SettingReadAtCreation) {
    for (auto [stored, expected] : {std::pair{"1", true}, {"0", false}, {"yes", false}}) {
        settings->writeString(DhtmlKey, "use", stored);
        create();
        EXPECT_EQ(form->usedhtml->isChecked(), expected) << stored;
        EXPECT_EQ(form->PageControl1->currentWidget(),
                  expected ? form->TabSheet1 : form->TabSheet2);
        EXPECT_EQ(form->PageControl1->isTabVisible(0), expected);
    }
}

TEST_F(EditorWindowTest, NoSiteOpenTouchesNoFile) {
    state.siteName.clear();
    state.sitePath = root.root();
    create();
    EXPECT_FALSE(QFile::exists(root.root() + "index.html"));
    EXPECT_TRUE(preview->paths.isEmpty());
}

TEST_F(EditorWindowTest, OpenEditCloseSavesPageTitleAndList) {
    openPage(2, [&] {
        EXPECT_EQ(form->windowTitle(), "ZOR OD (?in=2)");
        EXPECT_EQ(form->mode(), EditorMode::Page);
        EXPECT_EQ(form->Edit1->text(), "Вторая");
        EXPECT_EQ(memoText(), "<b>Вторая</b> страница\nline two\n");
        EXPECT_EQ(form->Edit2->text(), "http://example.org/index.php?in=2");
        // The visual editor got the lines with a blank after them; the preview file the text.
        EXPECT_EQ(visual->body, "<b>Вторая</b> страница\r\nline two\r\n ");
        EXPECT_EQ(test::readFile(previewFile()), test::readFile(page(2)));
        EXPECT_EQ(preview->paths.last(), previewFile());

        form->Memo1->setCaretPosition(form->Memo1->length());
        QTest::keyClicks(form->Memo1, "end");
        form->Edit1->setText("Изменённая");
        EXPECT_EQ(test::readFile(previewFile()),
                  test::crlf({"<b>Вторая</b> страница", "line two"}) + "end");
    });
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "ZOR OD");
    EXPECT_EQ(test::readFile(page(2)), test::crlf({"<b>Вторая</b> страница", "line two"}) + "end");
    EXPECT_FALSE(QFile::exists(previewFile()));
    EXPECT_EQ(state.pageTitles[2], "Изменённая");
    EXPECT_EQ(state.pageList, (QStringList{"1 - Главная", "2 - Изменённая", "..."}));
    EXPECT_EQ(settings->readValue(DhtmlKey, "use"), "1");
}

TEST_F(EditorWindowTest, UntouchedPageIsWrittenBackByteForByte) {
    // Windows-1251 text with a no-break space (0xA0), a tab and no final line end.
    const QByteArray bytes = "\xcf\xf0\xe8\xe2\xe5\xf2\xa0\xec\xe8\xf0\r\n\tx &amp; y\r\n<p>end";
    test::writeFile(page(1), bytes);
    openPage(1, [] {});
    EXPECT_EQ(test::readFile(page(1)), bytes);
}

TEST_F(EditorWindowTest, MissingPageFileOpensEmptyAndIsCreated) {
    QFile::remove(page(2));
    openPage(2, [&] {
        EXPECT_EQ(memoText(), " ");
        EXPECT_EQ(form->Edit1->text(), "Вторая");
    });
    EXPECT_EQ(test::readFile(page(2)), " ");
}

TEST_F(EditorWindowTest, EmptiedTitleAndClearedText) {
    openPage(2, [&] {
        form->Edit1->clear();
        form->Memo1->selectAll();
        QTest::keyClick(form->Memo1, Qt::Key_Delete);
        EXPECT_EQ(memoText(), " ");
    });
    EXPECT_EQ(test::readFile(page(2)), " ");
    EXPECT_EQ(state.pageList[1], "2 - ");
    EXPECT_EQ(state.pageTitles[2], "");
}

TEST_F(EditorWindowTest, UnreadablePageIsNotShownAndLeavesNoMode) {
    QFile::remove(page(2));
    QDir().mkpath(page(2));  // a folder where the page should be
    host->pageSelection = 1;
    EXPECT_ANY_THROW(form->openPage(2, "Вторая", true));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "ZOR OD");
}

TEST_F(EditorWindowTest, FailedSaveKeepsTheWindowOpenAndLosesNothing) {
    state.sitemapEnabled = true;
    QDir().mkpath(site::sitemapPath(state.sitePath));  // "sitemap.xml" cannot be written
    const QByteArray before = test::readFile(page(2));
    openPage(2, [&] {
        QTest::keyClicks(form->Memo1, "new ");
        driver.expectMessage("sitemap.xml");
        form->close();
        ASSERT_TRUE(driver.satisfied());
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(form->windowTitle(), "ZOR OD (?in=2)");
        EXPECT_EQ(test::readFile(page(2)), before);
        EXPECT_TRUE(test::readFile(previewFile()).startsWith("new "));
        QDir(site::sitemapPath(state.sitePath)).removeRecursively();
    });
    EXPECT_TRUE(test::readFile(page(2)).startsWith("new <b>"));
    EXPECT_TRUE(QFile::exists(site::sitemapPath(state.sitePath)));
}

TEST_F(EditorWindowTest, BlockSavedUnderItsNewName) {
    test::writeFile(site::blockFilePath(state.sitePath, "menu"),
                    zor::test::cp1251(u"<a href=\"/\">Меню</a>"));
    host->pickBlock({"menu", "..."}, 0);
    host->pageSelection = -1;
    openBlock("menu", true, [&] {
        EXPECT_EQ(form->windowTitle(), "ZOR OD Редактирование блоков");
        EXPECT_EQ(form->mode(), EditorMode::Block);
        EXPECT_EQ(memoText(), "<a href=\"/\">Меню</a>");
        EXPECT_EQ(form->Edit2->text(), "http://example.org/index.php?in=0");
        form->Edit1->setText("footer");
    });
    EXPECT_EQ(form->windowTitle(), "ZOR OD");
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "footer")),
              test::readFile(site::blockFilePath(state.sitePath, "menu")));
    EXPECT_EQ(host->blockList, (QStringList{"footer", "..."}));
    EXPECT_EQ(state.pageList, (QStringList{"1 - Главная", "2 - Вторая", "..."}));
}

TEST_F(EditorWindowTest, BadBlockNameIsRefusedUntilFixed) {
    host->pickBlock({"...", "..."}, 0);
    openBlock("NewBloc", false, [&] {
        form->Edit1->setText("../index");
        driver.expectMessage("../index");
        form->close();
        ASSERT_TRUE(driver.satisfied());
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(form->mode(), EditorMode::Block);
        form->Edit1->setText("NewBloc");
    });
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "NewBloc")), " ");
    EXPECT_FALSE(QFile::exists(state.sitePath + "/etc/index.tq"));
    EXPECT_EQ(host->blockList, (QStringList{"NewBloc", "..."}));
}

TEST_F(EditorWindowTest, WithoutTheVisualEditorThePreviewTabShows) {
    form->usedhtml->setChecked(false);
    openPage(2, [&] {
        EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet2);
        EXPECT_FALSE(form->PageControl1->isTabVisible(0));
        EXPECT_FALSE(form->PageControl1->isTabEnabled(0));
        QTest::keyClicks(form->Memo1, "abc");
        EXPECT_TRUE(visual->sets.isEmpty());
    });
    EXPECT_EQ(settings->readValue(DhtmlKey, "use"), "0");
    // Switched on again, the editor tab comes back and is active; no text is moved.
    form->usedhtml->setChecked(true);
    EXPECT_TRUE(form->PageControl1->isTabVisible(0));
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_TRUE(visual->sets.isEmpty());
}

TEST_F(EditorWindowTest, AddressFieldIsSelectedByAClick) {
    openPage(1, [&] {
        QTest::mouseClick(form->Edit2, Qt::LeftButton);
        EXPECT_EQ(form->Edit2->selectedText(), "http://example.org/index.php?in=1");
        form->Edit2->deselect();
        QTest::mouseClick(form->Label1, Qt::LeftButton);
        EXPECT_EQ(form->Edit2->selectedText(), form->Edit2->text());
    });
}

TEST_F(EditorWindowTest, EscapeDoesNotCloseTheWindow) {
    openPage(1, [&] {
        QTest::keyClick(form.get(), Qt::Key_Escape);
        EXPECT_TRUE(form->isVisible());
    });
}

TEST_F(EditorWindowTest, VisualEditsComeBackLoadsDoNot) {
    openPage(2, [&] {
        // A key that changes nothing, right after the load, copies nothing back.
        visual->userPressesKey();
        EXPECT_EQ(memoText(), "<b>Вторая</b> страница\nline two\n");
        visual->userTypes("<b>Вторая</b> правка<br>\nline two\n&nbsp;");
        EXPECT_EQ(memoText(), "<b>Вторая</b> правка<br>\nline two\n&nbsp;");
        EXPECT_EQ(test::readFile(previewFile()),
                  test::crlf({"<b>Вторая</b> правка<br>", "line two"}) + "&nbsp;");
    });
    EXPECT_EQ(test::readFile(page(2)),
              test::crlf({"<b>Вторая</b> правка<br>", "line two"}) + "&nbsp;");
}

TEST_F(EditorWindowTest, PhpComesBackFromTheVisualEditor) {
    const QString code = "<?php if ($a > 1) { echo '<b>'; } ?>";
    test::writeFile(page(2), zor::test::cp1251(QString("<p>" + code + "</p>")));
    openPage(2, [&] {
        EXPECT_FALSE(visual->body.contains("<?"));
        QString edited = visual->body;
        edited.replace("<p>", "<p>typed ");
        visual->userTypes(edited);
        EXPECT_EQ(memoText(), "<p>typed " + code + "</p>\n ");
    });
}

TEST_F(EditorWindowTest, AnOldVisualDocumentNeverOverwritesTheSource) {
    openPage(2, [&] {
        const QString oldBody = visual->body;
        // The colour command does not push: the visual editor still shows the old text.
        form->Memo1->selectAll();
        form->ColorBox1Select(9);
        const QString source = memoText();
        ASSERT_TRUE(source.startsWith("<font color=\"#ff0000\">"));
        EXPECT_EQ(visual->body, oldBody);
        visual->userTypes(oldBody + "x");
        EXPECT_EQ(memoText(), source);
        EXPECT_EQ(visual->body,
                  "<font color=\"#ff0000\"><b>Вторая</b> страница\r\nline "
                  "two\r\n</font>\r\n");
        // Entering the visual editor brings it up to date too.
        form->Memo1->selectAll();
        form->ColorBox1Select(0);
        const int before = visual->sets.size();
        emit visual->focusEntered();
        EXPECT_EQ(visual->sets.size(), before + 1);
        emit visual->focusEntered();
        EXPECT_EQ(visual->sets.size(), before + 1);
    });
}

TEST_F(EditorWindowTest, PushesWaitForTheVisualEditorOneAtATime) {
    visual->holdPushes = true;
    showPage(1, "start");
    visual->finishPush();
    const int before = visual->sets.size();
    QTest::keyClicks(form->Memo1, "abcdef");
    // One push went out at the first key; the rest wait as one.
    EXPECT_EQ(visual->sets.size(), before + 1);
    visual->finishPush();
    EXPECT_EQ(visual->sets.size(), before + 2);
    visual->finishPush();
    EXPECT_EQ(visual->sets.size(), before + 2);
    EXPECT_EQ(visual->sets.last(), "abcdefstart\r\n");
}

TEST_F(EditorWindowTest, AVisualEditThatLosesCodeIsNotCopiedBack) {
    test::writeFile(page(2), zor::test::cp1251(u"<p>a <?php echo 1; ?> b</p>"));
    openPage(2, [&] {
        const QString source = memoText();
        const QString shown = visual->body;
        // The placeholder deleted in the visual editor: the source keeps the code, the visual
        // editor gets it back, and the user is told once.
        driver.expectMessage("PHP");
        QString edited = shown;
        edited.replace(QRegularExpression("<span.*</span>"), "");
        visual->userTypes(edited);
        ASSERT_TRUE(waitUntil([&] { return driver.satisfied(); }, 5000));
        EXPECT_EQ(memoText(), source);
        EXPECT_EQ(visual->body, shown);
        visual->userTypes(edited + "x");
        EXPECT_EQ(memoText(), source);
        // Edits that keep the code still come back.
        visual->userTypes("Z" + shown);
        EXPECT_EQ(memoText(), "Z" + source + "\n ");
    });
    EXPECT_EQ(test::readFile(page(2)), zor::test::cp1251(u"Z<p>a <?php echo 1; ?> b</p>\r\n "));
}

TEST_F(EditorWindowTest, AWheelNotchOverAClosedListPicksNothing) {
    test::writeFile(site::extensionsFolder(state.sitePath) + "/guest.ex",
                    test::crlf({"<?php //Гостевая ?>", "<?php echo 'guest'; ?>"}));
    create();
    openPage(2, [&] {
        const QString before = memoText();
        for (QComboBox* list : {form->ComboBox1, form->ColorBox1}) {
            const int index = list->currentIndex();
            test::turnWheel(list, -1);
            EXPECT_EQ(list->currentIndex(), index) << list->objectName().toStdString();
        }
        EXPECT_EQ(memoText(), before);
        // A key while the list has the focus is a choice.
        form->ColorBox1->setFocus();
        QTest::keyClick(form->ColorBox1, Qt::Key_Down);
        EXPECT_TRUE(memoText().startsWith("<font color=\"#800000\"></font>"))
            << memoText().toStdString();
    });
}

TEST_F(EditorWindowTest, ANewBlockAsksBeforeReplacingAnother) {
    test::writeFile(site::blockFilePath(state.sitePath, "NewBloc"), "earlier block");
    host->pickBlock({"NewBloc", "...", "..."}, 1);
    openBlock("NewBloc", false, [&] {
        form->Memo1->setText("<p>second</p>");
        driver.expectQuestion("Блок «NewBloc» уже есть. Заменить его?", QMessageBox::No);
        form->close();
        ASSERT_TRUE(driver.satisfied());
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(form->mode(), EditorMode::Block);
        EXPECT_EQ(memoText(), "<p>second</p>");
        form->Edit1->setText("second");
    });
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "NewBloc")), "earlier block");
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "second")), "<p>second</p>");
    EXPECT_EQ(host->blockList, (QStringList{"NewBloc", "second", "..."}));
}

TEST_F(EditorWindowTest, ARenamedBlockAsksBeforeReplacingAnother) {
    test::writeFile(site::blockFilePath(state.sitePath, "footer"), "footer text");
    test::writeFile(site::blockFilePath(state.sitePath, "menu"), "menu text");
    host->pickBlock({"footer", "menu", "..."}, 0);
    // Saved under its own name, an opened block is not asked about.
    openBlock("footer", true, [] {});
    openBlock("footer", true, [&] {
        form->Edit1->setText("menu");
        driver.expectQuestion("Блок «menu» уже есть. Заменить его?", QMessageBox::Yes);
    });
    EXPECT_TRUE(driver.satisfied());
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "menu")), "footer text");
    EXPECT_EQ(test::readFile(site::blockFilePath(state.sitePath, "footer")), "footer text");
    EXPECT_EQ(host->blockList, (QStringList{"menu", "menu", "..."}));
}
