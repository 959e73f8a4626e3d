#include "editor/VisualSync.h"

#include "editor/EditorDocument.h"
#include "editor/PhpScanner.h"
#include "platform/HtmlEditingControl.h"
#include "platform/RichTextMemo.h"

namespace zor::editor {
namespace {

// The browser's text with its line breaks as the source view has them: the code blocks put
// back keep their CR LF, which the source view shows as single breaks.
QString asSourceText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

}  // namespace

VisualSync::VisualSync(HtmlEditingControl& visual, RichTextMemo& source,
                       std::function<void(const QString&)> tell)
    : visual_(visual), source_(source), tell_(std::move(tell)) {}

void VisualSync::startEditing(const QString& text) {
    protection_ = PhpProtection(text);
    pushedText_.reset();
    toldAboutCode_ = false;
}

void VisualSync::sourceChanged() {
    if (!copying_) {
        stale_ = true;
    }
}

void VisualSync::push() {
    stale_ = false;
    if (visual_.isBusy()) {
        pushWanted_ = true;  // sent when the visual editor has taken the last one
        return;
    }
    send();
}

void VisualSync::send(const QString& tail) {
    pushWanted_ = false;
    stale_ = false;
    const QString text = source_.text();
    if (pushedText_ == text && pushedTail_ == tail && !visual_.isEdited()) {
        return;  // the visual editor holds this very text
    }
    pushedText_ = text;
    pushedTail_ = tail;
    visual_.setDocumentHtml(protection_.protect(linesForVisualEditor(text) + tail));
}

void VisualSync::applied() {
    if (pushWanted_) {
        send();
    }
}

void VisualSync::entered() {
    if (stale_) {
        push();
    }
}

void VisualSync::copyBack() {
    // Only the user's own edits come back: the browser rewrites whatever it is given, and a
    // load copied back would rewrite the page without the user having touched it.
    if (!visual_.isEdited()) {
        return;
    }
    if (stale_) {
        // Edited on an old text: the source is not overwritten with it.
        push();
        return;
    }
    const auto body = extractBody(visual_.documentHtml());
    if (!body) {
        return;
    }
    const QString text = protection_.restore(*body);
    if (!keepsPhpBlocks(source_.text(), asSourceText(text))) {
        // The code can only be changed in the source view: the visual editor gets back the
        // document it had, and the source keeps its code.
        send(pushedTail_);
        if (!std::exchange(toldAboutCode_, true)) {
            tell_(
                QStringLiteral("Эта правка в визуальном редакторе задела код PHP страницы, "
                               "поэтому она не перенесена в текст страницы. Код PHP меняйте "
                               "в исходном тексте (верхнее окно редактора)."));
        }
        return;
    }
    if (text == source_.text()) {
        return;
    }
    copying_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{copying_};
    source_.setText(text);
}

}  // namespace zor::editor
