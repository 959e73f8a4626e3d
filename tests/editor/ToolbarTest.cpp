#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include "EditorWindowFixture.h"
#include "ToolbarRows.h"
#include "editor/EditorDocument.h"
#include "editor/SourceMarkup.h"
#include "platform/TextFile.h"
#include "support/UserInput.h"

using namespace zor;
using namespace zor::editor;
using zor::test::EditorWindowTest;

namespace {

const QColor Green(0, 128, 0);

struct ToolbarButtons : EditorWindowTest {
    void click(const QString& button) {
        auto* b = form->findChild<QToolButton*>(button);
        ASSERT_NE(b, nullptr) << button.toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    // Selects "two" in "one two three".
    void selectTwo() {
        form->Memo1->setText("one two three");
        form->Memo1->select(4, 7);
    }
};

}  // namespace

TEST_F(ToolbarButtons, ButtonsInOrderWithIconsAndHints) {
    QStringList order;
    for (QToolButton* b : form->findChildren<QToolButton*>(QRegularExpression("^ToolButton"))) {
        order.append(b->objectName());
        EXPECT_FALSE(b->icon().isNull()) << b->objectName().toStdString();
        EXPECT_FALSE(b->toolTip().isEmpty());
        EXPECT_TRUE(b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly);
    }
    EXPECT_EQ(order, (QStringList{"ToolButton14", "ToolButton6", "ToolButton18", "ToolButton3",
                                  "ToolButton13", "ToolButton9", "ToolButton1", "ToolButton12",
                                  "ToolButton22", "ToolButton5", "ToolButton2", "ToolButton15",
                                  "ToolButton11", "ToolButton19", "ToolButton20", "ToolButton8",
                                  "ToolButton16", "ToolButton21"}));
    for (const test::ToolbarRow& row : test::ToolbarRows) {
        const auto* b = form->findChild<QToolButton*>(row.button);
        ASSERT_NE(b, nullptr) << row.button;
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(row.hint)) << row.button;
    }
}

TEST_F(ToolbarButtons, WrapsAndWhetherTheyPush) {
    showPage(1, "");
    for (bool on : {true, false}) {
        form->usedhtml->setChecked(on);
        for (const test::ToolbarRow& row : test::ToolbarRows) {
            if (!row.wraps()) {
                continue;
            }
            SCOPED_TRACE(std::string(row.button) + (on ? " on" : " off"));
            selectTwo();
            const int pushes = visual->sets.size();
            click(row.button);
            const QByteArray expected =
                QByteArray("one ") + row.open + "two" + row.close + " three";
            EXPECT_EQ(memoText(), QString::fromLatin1(expected));
            EXPECT_EQ(form->Memo1->caretPosition(), expected.size() - 6);
            // Line ends on disk are CR LF; what the visual editor gets ends with one.
            const QByteArray onDisk = QByteArray(expected).replace("\n", "\r\n");
            EXPECT_EQ(test::readFile(previewFile()), onDisk);
            const bool pushed = visual->sets.size() > pushes;
            EXPECT_EQ(pushed, on || row.push == Push::Always);
            if (pushed) {
                EXPECT_EQ(visual->sets.last(), QString::fromLatin1(onDisk + "\r\n"));
            }
        }
    }
}

TEST_F(ToolbarButtons, BoldOnNothingAndTableBeforeTheSelection) {
    showPage(1, "ab");
    form->Memo1->setCaretPosition(1);
    click("ToolButton1");
    EXPECT_EQ(memoText(), "a<b></b>b");
    EXPECT_EQ(form->Memo1->caretPosition(), 8);
    selectTwo();
    click("ToolButton21");
    EXPECT_EQ(memoText(), "one <table>\n<tr>\n<td></td>\n</tr>\n</table>two three");
}

TEST_F(ToolbarButtons, ClearLeavesOneBlank) {
    showPage(1, "text");
    form->usedhtml->setChecked(false);
    const int pushes = visual->sets.size();
    click("ToolButton14");
    EXPECT_EQ(memoText(), " ");
    EXPECT_EQ(visual->sets.size(), pushes);
    form->usedhtml->setChecked(true);
    click("ToolButton14");
    EXPECT_EQ(visual->sets.last(), " \r\n");
}

TEST_F(ToolbarButtons, UndoAllReloadsTheSavedPageOrClears) {
    openPage(2, [&] {
        QTest::keyClicks(form->Memo1, "changed ");
        click("ToolButton6");
        EXPECT_EQ(memoText(), "<b>Вторая</b> страница\nline two\n");
        EXPECT_EQ(test::readFile(previewFile()), test::readFile(page(2)));
    });
    // A page not saved yet, and a block, go back to nothing.
    state.pageList = {"1 - Главная", "2 - Вторая", "...", "..."};
    openPage(3, [&] {
        QTest::keyClicks(form->Memo1, "typed");
        click("ToolButton6");
        EXPECT_EQ(memoText(), " ");
    });
    host->pickBlock({"menu", "..."}, 0);
    test::writeFile(site::blockFilePath(state.sitePath, "menu"), "menu text");
    openBlock("menu", true, [&] {
        click("ToolButton6");
        EXPECT_EQ(memoText(), " ");
    });
}

TEST_F(ToolbarButtons, CutOnOnePagePasteOnAnother) {
    form->usedhtml->setChecked(false);
    openPage(2, [&] {
        form->Memo1->select(0, 13);  // "<b>Вторая</b>"
        click("ToolButton8");
        EXPECT_EQ(form->CutBuffer, "<b>Вторая</b>");
        EXPECT_EQ(memoText(), " страница\nline two\n");
    });
    EXPECT_EQ(test::readFile(page(2)), test::crlf({" страница", "line two"}));
    openPage(1, [&] {
        form->Memo1->setText("before after");
        form->Memo1->select(6, 7);
        const int pushes = visual->sets.size();
        click("ToolButton16");
        EXPECT_EQ(memoText(), "before<b>Вторая</b>after");
        EXPECT_GT(visual->sets.size(), pushes);  // Paste pushes even with the editor off
    });
}

TEST_F(ToolbarButtons, PasteColoursOnlyFromItsLastTwoCharacters) {
    showPage(1, "abc<i>");
    form->CutBuffer = "<b>x</b>";
    form->Memo1->setCaretPosition(0);
    click("ToolButton16");
    EXPECT_EQ(memoText(), "<b>x</b>abc<i>");
    for (int i = 0; i < 8; ++i) {
        EXPECT_NE(colourAt(i), Green) << i;  // wholly inside the pasted text
    }
    EXPECT_EQ(colourAt(11), Green);
    EXPECT_EQ(colourAt(13), Green);
    EXPECT_EQ(form->Memo1->selectedText(), "<i>");  // left on the last tag coloured
}

TEST_F(ToolbarButtons, FontColourWrapsTheSelectionAndDoesNotPush) {
    showPage(1, "");
    selectTwo();
    const int pushes = visual->sets.size();
    test::chooseEntry(form->ColorBox1, 9);
    EXPECT_EQ(memoText(), "one <font color=\"#ff0000\">two</font> three");
    EXPECT_EQ(form->lastColourCode, "#ff0000");
    EXPECT_EQ(form->ColorBox1->toolTip(), "Красный");
    EXPECT_EQ(form->Image1->toolTip(), "Красный");
    EXPECT_EQ(visual->sets.size(), pushes);
    EXPECT_EQ(form->ColorBox1->count(), 16);
    EXPECT_EQ(form->ColorBox1->itemText(15), "Белый");
}

TEST_F(ToolbarButtons, ExtensionsListedAtCreationAndInsertedWhole) {
    const QString folder = site::extensionsFolder(state.sitePath);
    test::writeFile(folder + "/guest.ex",
                    test::crlf({"<?php //Комментарии ?>", "<?php echo 'guest'; ?>"}));
    test::writeFile(folder + "/empty.ex", {});
    test::writeFile(folder + "/odd.ex", test::crlf({"<?php //a [b] ?>"}));
    QDir().mkpath(folder + "/sub");  // does not stop the window's creation
    settings->writeString("software\\ZOR-OD\\alpha\\dhtml", "use", "0");
    create();
    EXPECT_FALSE(form->usedhtml->isChecked());  // the steps after the list still ran
    EXPECT_EQ(test::items(form->ComboBox1),
              (QStringList{" [empty.ex]", "/Комментарии  [guest.ex]", "/a [b]  [odd.ex]"}));
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);

    form->usedhtml->setChecked(true);
    openPage(2, [&] {
        const int pushes = visual->sets.size();
        test::chooseEntry(form->ComboBox1, 1);
        EXPECT_EQ(memoText(), "<?php //Комментарии ?>\n<?php echo 'guest'; ?>\n");
        EXPECT_EQ(visual->sets.size(), pushes);
        EXPECT_EQ(test::readFile(previewFile()), test::readFile(folder + "/guest.ex"));
    });
    EXPECT_EQ(test::readFile(page(2)), test::readFile(folder + "/guest.ex"));

    openPage(1, [&] {
        test::chooseEntry(form->ComboBox1, 0);
        EXPECT_EQ(memoText(), " ");
        test::chooseEntry(form->ComboBox1, 2);  // a "[" in the name still finds its own file
        EXPECT_EQ(memoText(), "<?php //a [b] ?>\n");
        // Gone since the list was made: the error is shown and the text stays.
        QFile::remove(folder + "/guest.ex");
        driver.expectMessage("guest.ex");
        test::chooseEntry(form->ComboBox1, 1);
        ASSERT_TRUE(driver.satisfied());
        EXPECT_EQ(memoText(), "<?php //a [b] ?>\n");
    });
}

TEST_F(ToolbarButtons, AnExtensionUndoAllAndClearEachGoBackWithOneCtrlZ) {
    const QString folder = site::extensionsFolder(state.sitePath);
    test::writeFile(folder + "/guest.ex",
                    test::crlf({"<?php //Гостевая ?>", "<?php echo 'guest'; ?>"}));
    test::writeFile(folder + "/zero.ex", {});
    create();
    const QString extension = "<?php //Гостевая ?>\n<?php echo 'guest'; ?>\n";
    openPage(2, [&] {
        const QString opened = memoText();
        QTest::keyClicks(form->Memo1, "typed ");
        const QString typed = memoText();
        form->ComboBox1->setFocus();
        QTest::keyClick(form->ComboBox1, Qt::Key_Down);
        ASSERT_EQ(memoText(), extension);

        form->Memo1->setFocus();
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
            QTest::keyClick(form->Memo1, key, modifiers);
            // The preview follows every step.
            EXPECT_EQ(test::readFile(previewFile()), textfile::toCp1251(fileText(memoText())));
        };
        press(Qt::Key_Z, ctrl);
        EXPECT_EQ(memoText(), typed);
        press(Qt::Key_Y, ctrl);
        EXPECT_EQ(memoText(), extension);
        press(Qt::Key_Z, ctrl);
        press(Qt::Key_Z, ctrl | Qt::ShiftModifier);
        EXPECT_EQ(memoText(), extension);

        click("ToolButton6");  // "Отменить все изменения"
        EXPECT_EQ(memoText(), opened);
        press(Qt::Key_Z, ctrl);
        EXPECT_EQ(memoText(), extension);
        click("ToolButton14");  // clear
        EXPECT_EQ(memoText(), " ");
        press(Qt::Key_Z, ctrl);
        EXPECT_EQ(memoText(), extension);
        // An empty extension leaves the blank, and that too is one step.
        form->ComboBox1->setFocus();
        QTest::keyClick(form->ComboBox1, Qt::Key_Down);
        ASSERT_EQ(memoText(), " ");
        form->Memo1->setFocus();
        press(Qt::Key_Z, ctrl);
        EXPECT_EQ(memoText(), extension);
        press(Qt::Key_Y, ctrl);
        EXPECT_EQ(memoText(), " ");

        // Back past the extension, the typing is undone as before, down to the page as opened
        // and no further.
        press(Qt::Key_Z, ctrl);
        press(Qt::Key_Z, ctrl);
        EXPECT_EQ(memoText(), typed);
        for (int i = 0; i < 10 && memoText() != opened; ++i) {
            press(Qt::Key_Z, ctrl);
        }
        EXPECT_EQ(memoText(), opened);
        EXPECT_FALSE(form->Memo1->document()->isUndoAvailable());
    });
}
