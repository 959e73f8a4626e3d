#pragma once

#include <QString>
#include <QStringView>
#include <vector>

// The source view's text aids that need no window: which spans are tags, and what each
// formatting command does to the text. The source view's line break is "\n" (one character,
// as the view counts positions).
namespace zor::editor {

// A span of text positions counted from 1, first and last included.
struct Span {
    int first = 0;
    int last = 0;
    friend bool operator==(const Span&, const Span&) = default;
};

// ColourTags' choice: every complete "<" ... ">" span inside the positions first..last, each from
// its last "<" before the closing ">". Positions outside the text are skipped; a tag that starts
// before first is not found.
std::vector<Span> tagSpans(QStringView text, int first, int last);

// When a toolbar command pushes the source text into the visual editor.
enum class Push { IfOn, Always, Never };

enum class CommandKind { Clear, UndoAll, Wrap, Cut, Paste };

// One button of the formatting toolbar, in toolbar order.
struct ToolbarCommand {
    QString button;  // the button's name
    QString hint;
    CommandKind kind;
    QString open;   // Wrap: markup before the selection
    QString close;  // Wrap: markup after it
    Push push;
};
const std::vector<ToolbarCommand>& toolbarCommands();
const ToolbarCommand& toolbarCommand(const QString& button);

// A replacement of the characters [start, start + removed) (positions from 0) by inserted, after
// which the caret stands at caret.
struct TextChange {
    int start = 0;
    int removed = 0;
    QString inserted;
    int caret = 0;
};
// Wraps the selection [selStart, selStart + selLength) of text in the command's markup.
TextChange wrapSelection(QStringView text, int selStart, int selLength, const QString& open,
                         const QString& close);
QString applyChange(const QString& text, const TextChange& change);

// The sixteen colours of the colour drop-down, in its order.
struct NamedColour {
    QString code;  // "#rrggbb", lower case
    QString name;
};
const std::vector<NamedColour>& standardColours();
// The font-colour command's markup around the selection.
QString fontOpenTag(const QString& code);
inline const QString FontCloseTag = QStringLiteral("</font>");

}  // namespace zor::editor
