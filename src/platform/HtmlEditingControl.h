#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QWidget;

namespace zor {

// How the control writes its whole document around the body: what comes before the body and
// what follows it. The user of the control chooses the form it reads back.
struct DocumentFrame {
    QString head;
    QString tail;
};

// The visual HTML editor as the editor window uses it: a document whose body the user edits,
// set from the source text and read back as text. The real one is a web view (WebHtmlEditor);
// tests use a fake.
class HtmlEditingControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QWidget* widget() = 0;

    // The whole document: the frame's head, the body as the user left it, the frame's tail.
    virtual QString documentHtml() const = 0;
    // Shows the HTML as the body of the document. The control may still be busy with an earlier
    // one: applied() follows once this body is in place, and only the last body set counts.
    virtual void setDocumentHtml(const QString& body) = 0;
    // True from setDocumentHtml until applied().
    virtual bool isBusy() const = 0;
    // True once the user has changed the document since it was last set (never by a load).
    virtual bool isEdited() const = 0;
    // Where relative addresses in the document (pictures) are looked up.
    virtual void setBaseUrl(const QUrl& base) = 0;

signals:
    void keyDown();
    void keyPress();
    void keyUp();
    // The user changed the document (typing, deleting, pasting, dropping, formatting).
    void edited();
    // The document last set is in place.
    void applied();
    // The user entered the document (clicked or tabbed into it). Reported before any key typed
    // there; keys typed while a document is on its way are held back until it is in place.
    void focusEntered();
};

// The preview browser: shows a local file and follows every rewrite of it.
class PreviewControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QWidget* widget() = 0;
    // Shows the file at this full local path, loading it again when it is shown already.
    virtual void navigate(const QString& localPath) = 0;
};

}  // namespace zor
