#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "platform/HtmlEditingControl.h"

namespace zor::test {

// A visual editor without a browser: it holds the body as set, and a test plays the user.
// With holdPushes, each body set stays pending (busy) until finishPush(), as a slow browser's.
class FakeHtmlEditor : public HtmlEditingControl {
public:
    FakeHtmlEditor();
    ~FakeHtmlEditor() override;

    QWidget* widget() override { return widget_; }
    QString documentHtml() const override;
    void setDocumentHtml(const QString& body) override;
    bool isBusy() const override { return pending_; }
    bool isEdited() const override { return edited_; }
    void setBaseUrl(const QUrl& base) override { baseUrl = base; }

    // The user changes the document to newBody with one key: key-down, key-press, the edit and
    // key-up, in the browser's order.
    void userTypes(const QString& newBody);
    // A key that changes nothing (an arrow key).
    void userPressesKey();
    void finishPush();

    QString body;
    QStringList sets;  // every body set, in order
    QUrl baseUrl;
    bool holdPushes = false;

private:
    QPointer<QWidget> widget_;
    bool pending_ = false;
    bool edited_ = false;
};

class FakePreview : public PreviewControl {
public:
    FakePreview();
    ~FakePreview() override;
    QWidget* widget() override { return widget_; }
    void navigate(const QString& localPath) override { paths.append(localPath); }

    QStringList paths;

private:
    QPointer<QWidget> widget_;
};

}  // namespace zor::test
