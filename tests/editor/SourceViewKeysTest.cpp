#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "EditorWindowFixture.h"
#include "platform/TextFile.h"

using namespace zor;
using zor::test::EditorWindowTest;

namespace {

const QColor Green(0, 128, 0);
const QColor Navy(0, 0, 128);

struct SourceViewKeys : EditorWindowTest {
    RichTextMemo* memo() const { return form->Memo1; }
};

}  // namespace

// The tag typed is green up to its end, and what follows navy. The key that types ">" also
// types ".": releasing it ends the tag colour too.
TEST_F(SourceViewKeys, TypedTagIsGreenAndWhatFollowsNavyAsAfterThePeriodKey) {
    for (const auto& [keys, green] : {std::pair{"<b>x", 3}, std::pair{"<.x", 2}}) {
        SCOPED_TRACE(keys);
        showPage(1, "");
        ASSERT_EQ(memoText(), " ");  // an emptied source view holds one blank
        QTest::keyClicks(memo(), keys);
        EXPECT_EQ(memoText(), QString(keys) + " ");
        for (int i = 0; i <= green; ++i) {
            EXPECT_EQ(colourAt(i), i < green ? Green : Navy) << i;
        }
    }
}

TEST_F(SourceViewKeys, EnterAppendsABreakTagToTheWholeLine) {
    showPage(1, "abc\nnext");
    memo()->setCaretPosition(3);
    QTest::keyClick(memo(), Qt::Key_Return);
    EXPECT_EQ(memoText(), "abc<br />\n\nnext");
    EXPECT_EQ(memo()->caretPosition(), 10);  // on the new empty line

    showPage(1, "abcdef");
    memo()->setCaretPosition(3);
    QTest::keyClick(memo(), Qt::Key_Return);
    EXPECT_EQ(memoText(), "abcdef<br />\n");
    EXPECT_EQ(memo()->caretPosition(), 13);
    QTest::keyClicks(memo(), "z");
    EXPECT_EQ(memoText(), "abcdef<br />\nz");
}

TEST_F(SourceViewKeys, BackspaceOverTheWholeTextLeavesOneBlank) {
    showPage(1, "ab");
    memo()->setCaretPosition(2);
    QTest::keyClick(memo(), Qt::Key_Backspace);
    QTest::keyClick(memo(), Qt::Key_Backspace);
    EXPECT_EQ(memoText(), " ");
    EXPECT_EQ(test::readFile(previewFile()), " ");
    // The blank is no step of its own: undo brings back what the keys took away.
    QTest::keyClick(memo(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memoText(), "a");
    QTest::keyClick(memo(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memoText(), "ab");
}

TEST_F(SourceViewKeys, CtrlVColoursThePastedTagsAndPutsTheCaretAfterThem) {
    showPage(1, "12");
    memo()->setCaretPosition(1);
    QApplication::clipboard()->setText("x<i>y</i>z");
    QTest::keyClick(memo(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(memoText(), "1x<i>y</i>z2");
    EXPECT_EQ(memo()->caretPosition(), 11);
    EXPECT_FALSE(memo()->textCursor().hasSelection());
    EXPECT_EQ(form->SavedCaret, 0);
    for (int i : {2, 3, 4, 6, 7, 8, 9}) {
        EXPECT_EQ(colourAt(i), Green) << i;
    }
    for (int i : {0, 1, 5, 10, 11}) {
        EXPECT_EQ(colourAt(i), Navy) << i;
    }
    EXPECT_EQ(test::readFile(previewFile()), "1x<i>y</i>z2");
}

TEST_F(SourceViewKeys, APasteAndTheColouringOfItsTagsAreOneUndoStep) {
    showPage(1, "12");
    memo()->setCaretPosition(1);
    QApplication::clipboard()->setText("x<i>y</i>z");
    QTest::keyClick(memo(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(colourAt(2), Green);
    QTest::keyClick(memo(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memoText(), "12");
    EXPECT_EQ(test::readFile(previewFile()), "12");
    QTest::keyClick(memo(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(memoText(), "1x<i>y</i>z2");
    EXPECT_EQ(colourAt(2), Green);
    EXPECT_EQ(colourAt(5), Navy);
}

TEST_F(SourceViewKeys, ShiftInsertPastesLikeCtrlV) {
    showPage(1, "ab");
    memo()->setCaretPosition(2);
    QApplication::clipboard()->setText("<p>\r\nq");
    QTest::keyClick(memo(), Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(memoText(), "ab<p>\nq");
    EXPECT_EQ(memo()->caretPosition(), 7);  // the CR LF is one line break
    EXPECT_EQ(colourAt(2), Green);
    EXPECT_EQ(colourAt(4), Green);
    EXPECT_EQ(colourAt(6), Navy);
}

TEST_F(SourceViewKeys, CtrlVWithNothingOnTheClipboardColoursNothing) {
    showPage(1, "<b>ab");
    memo()->setCaretPosition(4);
    QApplication::clipboard()->clear();
    QTest::keyClick(memo(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(memoText(), "<b>ab");
    EXPECT_EQ(form->SavedCaret, 4);
    EXPECT_EQ(colourAt(0), Navy);
}

TEST_F(SourceViewKeys, ArrowKeysLeaveTheViewsHoldingTheText) {
    showPage(1, "abc");
    QTest::keyClick(memo(), Qt::Key_Left);
    EXPECT_EQ(memoText(), "abc");
    EXPECT_EQ(test::readFile(previewFile()), "abc");
    EXPECT_EQ(visual->body, "abc\r\n");
    // Once the visual editor holds its own edit, a key here sends it the source again.
    visual->userTypes("<b>abc</b>");
    ASSERT_EQ(memoText(), "<b>abc</b>");
    const int pushes = visual->sets.size();
    QTest::keyClick(memo(), Qt::Key_Right);
    EXPECT_EQ(visual->sets.size(), pushes + 1);
    EXPECT_EQ(visual->body, "<b>abc</b>\r\n");
    EXPECT_FALSE(visual->isEdited());
}

TEST_F(SourceViewKeys, EveryKeyLeavesPreviewAndVisualEditorWithTheText) {
    showPage(1, "");
    test::type(memo(), "Привет, <i>мир</i>");
    EXPECT_EQ(memoText(), "Привет, <i>мир</i> ");
    EXPECT_EQ(test::readFile(previewFile()), zor::test::cp1251(u"Привет, <i>мир</i> "));
    EXPECT_EQ(visual->sets.last(), "Привет, <i>мир</i> \r\n");
}
