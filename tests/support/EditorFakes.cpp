#include "support/EditorFakes.h"

#include "editor/EditorDocument.h"

namespace zor::test {

FakeHtmlEditor::FakeHtmlEditor() : widget_(new QWidget) {
    widget_->setObjectName(QStringLiteral("DHTMLEdit1"));
}

FakeHtmlEditor::~FakeHtmlEditor() {
    delete widget_.data();
}

QString FakeHtmlEditor::documentHtml() const {
    return editor::bodyDocument(body);
}

void FakeHtmlEditor::setDocumentHtml(const QString& newBody) {
    body = newBody;
    edited_ = false;
    sets.append(newBody);
    if (holdPushes) {
        pending_ = true;
        return;
    }
    emit applied();
}

void FakeHtmlEditor::finishPush() {
    pending_ = false;
    emit applied();
}

void FakeHtmlEditor::userTypes(const QString& newBody) {
    emit keyDown();
    emit keyPress();
    body = newBody;
    edited_ = true;
    emit edited();
    emit keyUp();
}

void FakeHtmlEditor::userPressesKey() {
    emit keyDown();
    emit keyUp();
}

FakePreview::FakePreview() : widget_(new QWidget) {
    widget_->setObjectName(QStringLiteral("WebBrowser1"));
}

FakePreview::~FakePreview() {
    delete widget_.data();
}

}  // namespace zor::test
