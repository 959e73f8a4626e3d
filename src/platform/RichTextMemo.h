#pragma once

#include <QColor>
#include <QTextEdit>

class QTextDocument;

namespace zor {

// The text of a document exactly as it stands, no-break spaces kept, with "\n" for every line
// break.
QString exactText(const QTextDocument& document);

// The source view: plain text in a rich-text field, where colours are for display only and
// never part of the text. Positions count characters from 0, a line break counting as one.
// Besides the change signal it reports each key before the field acts on it (keyDown, then
// keyPress for a key that types a character) and after (keyUp).
class RichTextMemo : public QTextEdit {
    Q_OBJECT
public:
    explicit RichTextMemo(QWidget* parent = nullptr);

    // The whole text, lines separated by "\n".
    QString text() const;
    // Loads a whole new text, shown in the default colour, with a fresh undo history.
    void setText(const QString& text);
    // Replaces the whole text as one step of the undo history, so Ctrl+Z brings back the text as
    // it was; the caret goes to the start.
    void replaceAll(const QString& text);
    int length() const;

    int caretPosition() const;
    void setCaretPosition(int position);
    // The character just left of the caret; a null character at the start.
    QChar charBeforeCaret() const;

    int selectionStart() const;
    int selectionLength() const;
    QString selectedText() const;
    void select(int start, int end);
    // Replaces [start, start + removed) by text shown in the default colour; the caret goes to
    // caret. JoinLast makes it part of the last step of the undo history (a change that
    // completes the one before it), NewStep a step of its own.
    enum class Undo { NewStep, JoinLast };
    void replaceRange(int start, int removed, const QString& text, int caret,
                      Undo undo = Undo::NewStep);
    // Adds text at the end of the caret's line, in the default colour, and puts the caret
    // after it.
    void appendToCaretLine(const QString& text);

    QColor defaultTextColour() const;
    // Colours are no edit of their own: a colour change joins the undo step of the text change
    // it follows, so Ctrl+Z never spends a press on one.
    // The colour of what is typed next at the caret, or of the selection when there is one.
    void setInsertionColour(const QColor& colour);
    // Colours [start, end) and leaves it selected.
    void colourRange(int start, int end, const QColor& colour);

signals:
    // The text changed (never for a change of colour only).
    void changed();
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void keyPress(QChar character);
    void keyUp(int key, Qt::KeyboardModifiers modifiers);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    int colouring_ = 0;  // > 0 while only colours change
    // The text is read several times per key on pages of 100 KB: it is built once per change.
    mutable QString text_;
    mutable bool textValid_ = false;
};

}  // namespace zor
