#include <gtest/gtest.h>
#include <QColor>

#include "ToolbarRows.h"
#include "editor/EditorKeys.h"
#include "editor/SourceMarkup.h"

using namespace zor::editor;
using namespace zor::test;

namespace {

std::vector<Span> spans(const QString& text, int first, int last) {
    return tagSpans(text, first, last);
}

}  // namespace

TEST(ColourTagsSpans, CompleteTagsOnly) {
    EXPECT_EQ(spans("<b>", 1, 3), (std::vector<Span>{{1, 3}}));
    EXPECT_EQ(spans("a<b>c</b>d", 1, 10), (std::vector<Span>{{2, 4}, {6, 9}}));
    // A tag that starts before first, or ends after last, is not coloured.
    EXPECT_TRUE(spans("<b>x", 2, 4).empty());
    EXPECT_TRUE(spans("<b>x", 1, 2).empty());
    // Each span starts at the last "<" before its ">".
    EXPECT_EQ(spans("<<b>", 1, 4), (std::vector<Span>{{2, 4}}));
    EXPECT_EQ(spans("<a<b>", 1, 5), (std::vector<Span>{{3, 5}}));
}

TEST(ColourTagsSpans, StrayClosingBracketsColourNothing) {
    EXPECT_TRUE(spans("a > b", 1, 5).empty());
    EXPECT_EQ(spans("<a>b>", 1, 5), (std::vector<Span>{{1, 3}}));
    // A ">" before any "<" is remembered, but only a later ">" closes the tag.
    EXPECT_EQ(spans("a>b<c>", 1, 6), (std::vector<Span>{{4, 6}}));
    EXPECT_EQ(spans("><>", 1, 3), (std::vector<Span>{{2, 3}}));
}

TEST(ColourTagsSpans, PositionsOutsideTheTextAreSkipped) {
    EXPECT_EQ(spans("<i>", -5, 100), (std::vector<Span>{{1, 3}}));
    EXPECT_TRUE(spans("", 0, 10).empty());
    EXPECT_TRUE(spans("<i>", 4, 2).empty());
}

TEST(Toolbar, EveryWrapOnASelectionAndOnNothing) {
    const QString text = "one two three";
    for (const ToolbarRow& row : ToolbarRows) {
        if (!row.wraps()) {
            continue;
        }
        SCOPED_TRACE(row.button);
        const struct {
            QString open, close;
        } c{QString::fromUtf8(row.open), QString::fromUtf8(row.close)};
        // "two" selected: replaced by the markup around it, caret after the closing markup.
        TextChange change = wrapSelection(text, 4, 3, c.open, c.close);
        EXPECT_EQ(applyChange(text, change), "one " + c.open + "two" + c.close + " three");
        EXPECT_EQ(change.caret, 4 + c.open.size() + 3 + c.close.size());
        // Nothing selected: the markup goes in at the caret, and the caret after it.
        change = wrapSelection(text, 3, 0, c.open, c.close);
        EXPECT_EQ(applyChange(text, change), "one" + c.open + c.close + " two three");
        EXPECT_EQ(change.caret, 3 + c.open.size() + c.close.size());
    }
}

TEST(Toolbar, WrapExamples) {
    auto wrap = [](const QString& text, int start, int length, const QString& button) {
        const ToolbarCommand& c = toolbarCommand(button);
        return applyChange(text, wrapSelection(text, start, length, c.open, c.close));
    };
    EXPECT_EQ(wrap("ab", 1, 0, "ToolButton1"), "a<b></b>b");
    EXPECT_EQ(wrap("x word y", 2, 4, "ToolButton12"), "x <i>word</i> y");
    EXPECT_EQ(wrap("pic.png", 0, 7, "ToolButton11"), "<img src=\"pic.png\">");
    EXPECT_EQ(wrap("keep", 0, 4, "ToolButton21"), "<table>\n<tr>\n<td></td>\n</tr>\n</table>keep");
    // A selection reaching past the end is cut to the text.
    EXPECT_EQ(wrap("ab", 1, 9, "ToolButton3"), "a<center>b</center>");
}

TEST(FontColour, SixteenColoursWithCodesAndNames) {
    // The codes are the red, green and blue bytes of the sixteen standard colours, in the
    // drop-down's order; checked against the toolkit's own colour names.
    const char* standard[] = {"black", "maroon",  "green",  "olive", "navy", "purple",
                              "teal",  "gray",    "silver", "red",   "lime", "yellow",
                              "blue",  "fuchsia", "aqua",   "white"};
    ASSERT_EQ(standardColours().size(), std::size(standard));
    QStringList names;
    for (size_t i = 0; i < std::size(standard); ++i) {
        EXPECT_EQ(standardColours()[i].code, QColor(QLatin1String(standard[i])).name())
            << standard[i];
        names.append(standardColours()[i].name);
    }
    EXPECT_EQ(names.first(), "Чёрный");
    EXPECT_EQ(names[9], "Красный");
    EXPECT_EQ(names.last(), "Белый");
    EXPECT_EQ(names.removeDuplicates(), 0);
    EXPECT_EQ(fontOpenTag("#ff0000") + "x" + FontCloseTag, "<font color=\"#ff0000\">x</font>");
}

TEST(EditorKeys, ToolkitKeysMapToTheHandlersCodes) {
    EXPECT_EQ(virtualKeyCode(Qt::Key_Backspace), VkBackspace);
    EXPECT_EQ(virtualKeyCode(Qt::Key_Delete), VkDelete);
    EXPECT_EQ(virtualKeyCode(Qt::Key_Insert), VkInsert);
    EXPECT_EQ(virtualKeyCode(Qt::Key_V), VkV);
    EXPECT_EQ(virtualKeyCode(Qt::Key_Period), VkPeriod);
    EXPECT_EQ(virtualKeyCode(Qt::Key_Greater), VkPeriod);
    // Keys whose toolkit code happens to be a handler code are kept apart from it.
    EXPECT_NE(virtualKeyCode(Qt::Key_Minus), 45);
    EXPECT_NE(virtualKeyCode(Qt::Key_Period), 46);
}

TEST(EditorKeys, EditKeys) {
    EXPECT_TRUE(isEditKey(VkBackspace, {}, false));
    EXPECT_TRUE(isEditKey(VkDelete, Qt::ShiftModifier, false));
    EXPECT_TRUE(isShiftInsert(VkInsert, Qt::ShiftModifier));
    EXPECT_TRUE(isShiftInsert(VkInsert, Qt::ShiftModifier | Qt::KeypadModifier));
    EXPECT_FALSE(isShiftInsert(VkInsert, Qt::ShiftModifier | Qt::ControlModifier));
    EXPECT_FALSE(isEditKey(VkInsert, {}, false));
    // Ctrl+V is decided by the keyboard's state, whatever else the event says.
    EXPECT_TRUE(isPasteKey(VkV, Qt::ShiftModifier | Qt::AltModifier, true));
    EXPECT_FALSE(isPasteKey(VkV, Qt::ControlModifier, false));
    EXPECT_FALSE(isEditKey(virtualKeyCode(Qt::Key_A), {}, true));
}
