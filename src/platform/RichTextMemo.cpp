#include "platform/RichTextMemo.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace zor {
namespace {

// The document keeps line breaks as paragraph (or, after Shift+Enter, line) separators.
QString fromDocumentText(QString text) {
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
            c = u'\n';
        }
    }
    return text;
}

// While only colours change: the change signal stays quiet, and whatever the document records
// joins the last step of its undo history.
struct ColouringScope {
    ColouringScope(int& depth, QTextDocument* document) : depth_(depth), cursor_(document) {
        ++depth_;
        cursor_.joinPreviousEditBlock();
    }
    ~ColouringScope() {
        cursor_.endEditBlock();
        --depth_;
    }
    int& depth_;
    QTextCursor cursor_;
};

QTextCharFormat plainFormat(const QColor& colour) {
    QTextCharFormat plain;
    plain.setForeground(colour);
    return plain;
}

}  // namespace

QString exactText(const QTextDocument& document) {
    return fromDocumentText(document.toRawText());
}

RichTextMemo::RichTextMemo(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(13);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::Text, QColor(0, 0, 128));  // navy
    setPalette(p);
    connect(document(), &QTextDocument::contentsChange, this, [this] { textValid_ = false; });
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (colouring_ == 0) {
            emit changed();
        }
    });
}

QString RichTextMemo::text() const {
    if (!textValid_) {
        // Not toPlainText(): that turns no-break spaces into plain ones.
        text_ = exactText(*document());
        textValid_ = true;
    }
    return text_;
}

void RichTextMemo::setText(const QString& text) {
    setPlainText(text);
}

void RichTextMemo::replaceAll(const QString& text) {
    QTextCursor c(document());
    c.beginEditBlock();
    c.select(QTextCursor::Document);
    c.insertText(text, plainFormat(defaultTextColour()));
    c.endEditBlock();
    setCaretPosition(0);
}

int RichTextMemo::length() const {
    return document()->characterCount() - 1;
}

int RichTextMemo::caretPosition() const {
    return textCursor().position();
}

void RichTextMemo::setCaretPosition(int position) {
    QTextCursor c = textCursor();
    c.setPosition(std::clamp(position, 0, length()));
    setTextCursor(c);
}

QChar RichTextMemo::charBeforeCaret() const {
    const int pos = caretPosition();
    if (pos == 0) {
        return {};
    }
    const QChar c = document()->characterAt(pos - 1);
    return c == QChar::ParagraphSeparator || c == QChar::LineSeparator ? QChar(u'\n') : c;
}

int RichTextMemo::selectionStart() const {
    return textCursor().selectionStart();
}

int RichTextMemo::selectionLength() const {
    const QTextCursor c = textCursor();
    return c.selectionEnd() - c.selectionStart();
}

QString RichTextMemo::selectedText() const {
    return fromDocumentText(textCursor().selectedText());
}

void RichTextMemo::select(int start, int end) {
    QTextCursor c = textCursor();
    c.setPosition(std::clamp(start, 0, length()));
    c.setPosition(std::clamp(end, 0, length()), QTextCursor::KeepAnchor);
    setTextCursor(c);
}

void RichTextMemo::replaceRange(int start, int removed, const QString& text, int caret, Undo undo) {
    QTextCursor c(document());
    c.setPosition(std::clamp(start, 0, length()));
    c.setPosition(std::clamp(start + removed, 0, length()), QTextCursor::KeepAnchor);
    if (undo == Undo::JoinLast) {
        c.joinPreviousEditBlock();
    } else {
        c.beginEditBlock();
    }
    c.insertText(text, plainFormat(defaultTextColour()));
    c.endEditBlock();
    setCaretPosition(caret);
}

void RichTextMemo::appendToCaretLine(const QString& text) {
    QTextCursor c = textCursor();
    c.clearSelection();
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(text, plainFormat(defaultTextColour()));
    setTextCursor(c);
}

QColor RichTextMemo::defaultTextColour() const {
    return palette().color(QPalette::Text);
}

void RichTextMemo::setInsertionColour(const QColor& colour) {
    ColouringScope scope(colouring_, document());
    setTextColor(colour);
}

void RichTextMemo::colourRange(int start, int end, const QColor& colour) {
    ColouringScope scope(colouring_, document());
    select(start, end);
    QTextCharFormat f;
    f.setForeground(colour);
    textCursor().mergeCharFormat(f);
}

void RichTextMemo::keyPressEvent(QKeyEvent* event) {
    emit keyDown(event->key(), event->modifiers());
    if (!event->text().isEmpty()) {
        emit keyPress(event->text().front());
    }
    // Both redo keys work whatever the desktop's own key table holds: some tables know only
    // one of them, and users of this program come to it knowing Ctrl+Y.
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool redoKey =
        (event->key() == Qt::Key_Y && mods == Qt::ControlModifier) ||
        (event->key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier));
    if (redoKey && !event->matches(QKeySequence::Redo) && !isReadOnly()) {
        redo();
        event->accept();
        return;
    }
    // A key that may leave the text empty is one edit block, so that what the owner does about an
    // empty text (it puts a blank there) joins the key's own undo step instead of becoming a step
    // that undo takes back only for the owner to redo it at once.
    const bool deletion = event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
    const bool mayEmpty = deletion && !textCursor().hasSelection() &&
                          (document()->characterCount() <= 2 || (mods & Qt::ControlModifier));
    if (mayEmpty && !isReadOnly()) {
        QTextCursor block(document());
        block.beginEditBlock();
        QTextEdit::keyPressEvent(event);
        block.endEditBlock();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void RichTextMemo::keyReleaseEvent(QKeyEvent* event) {
    QTextEdit::keyReleaseEvent(event);
    emit keyUp(event->key(), event->modifiers());
}

}  // namespace zor
