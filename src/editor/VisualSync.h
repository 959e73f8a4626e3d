#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "editor/PhpProtection.h"

namespace zor {
class HtmlEditingControl;
class RichTextMemo;
}  // namespace zor

namespace zor::editor {

// Keeps the visual editor in step with the source view, which is the master copy. Pushes go in
// one at a time and only the latest text counts; the user's own edits come back, but never one
// made on an old document nor one that loses or cuts the page's PHP code.
class VisualSync {
public:
    // tell shows the user why an edit did not come back.
    VisualSync(HtmlEditingControl& visual, RichTextMemo& source,
               std::function<void(const QString&)> tell);

    // A page or block is opened with this text.
    void startEditing(const QString& text);
    // The source text changed, other than by a copy back from the visual editor.
    void sourceChanged();
    // Sets the visual editor's document to the source lines, now or once it has taken the last.
    void push();
    // The same at once, followed by tail.
    void send(const QString& tail = QString());
    // The visual editor has taken its document.
    void applied();
    // The user entered the visual editor: an old document is brought up to date first.
    void entered();
    // A key or an edit in the visual editor: its body into the source view.
    void copyBack();

private:
    HtmlEditingControl& visual_;
    RichTextMemo& source_;
    std::function<void(const QString&)> tell_;
    PhpProtection protection_;
    bool pushWanted_ = false;  // a push waits for the visual editor to finish the last
    bool stale_ = false;       // the source changed since the visual editor last got it
    bool copying_ = false;
    bool toldAboutCode_ = false;
    // What the visual editor holds now, so that a key which changes nothing sends nothing.
    std::optional<QString> pushedText_;
    QString pushedTail_;
};

}  // namespace zor::editor
