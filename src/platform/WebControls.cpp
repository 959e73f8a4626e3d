#include "platform/WebControls.h"

#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "editor/EditorDocument.h"
#include "platform/WebEngineEnvironment.h"

namespace zor {
namespace {

QString resourceText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qFatal("missing resource %s", qPrintable(path));
    }
    return QString::fromUtf8(f.readAll());
}

// Inline code blocks shown by the placeholders of protected code are marked uneditable.
const QString Skeleton = QStringLiteral(
    "<html><head><meta charset=\"utf-8\"><style>"
    "body{margin:4px;font-family:Tahoma,sans-serif;font-size:13px}"
    "span[contenteditable=false]{background:#eef;color:#557;font:11px monospace;"
    "border:1px dotted #99a;padding:0 2px}"
    "</style></head><body contenteditable=\"true\"></body></html>");

// A JavaScript string literal holding text.
QString jsString(const QString& text) {
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

}  // namespace

// The editing page goes nowhere but where the editor sends it: a link followed, a file dropped
// or a reload would replace the document under the user.
class EditingPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;
    bool expectLoad = false;

protected:
    bool acceptNavigationRequest(const QUrl&, NavigationType, bool isMainFrame) override {
        return !isMainFrame || expectLoad;
    }
};

// What the page's bridge script calls.
class EditingBridge : public QObject {
    Q_OBJECT
public:
    explicit EditingBridge(WebHtmlEditor* editor) : QObject(editor), editor_(editor) {}
    Q_INVOKABLE void key(int kind) { editor_->bridgeKey(kind); }
    Q_INVOKABLE void edited(const QString& body) { editor_->bridgeEdited(body); }

private:
    WebHtmlEditor* editor_;
};

WebHtmlEditor::WebHtmlEditor(QObject* parent) : HtmlEditingControl(parent) {
    view_ = new QWebEngineView;
    view_->setObjectName(QStringLiteral("DHTMLEdit1"));
    page_ = new EditingPage(webProfile(), view_);
    page_->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    for (auto action : {QWebEnginePage::Back, QWebEnginePage::Forward, QWebEnginePage::Reload,
                        QWebEnginePage::ReloadAndBypassCache, QWebEnginePage::ViewSource,
                        QWebEnginePage::SavePage, QWebEnginePage::OpenLinkInNewWindow,
                        QWebEnginePage::OpenLinkInNewTab, QWebEnginePage::OpenLinkInThisWindow}) {
        page_->action(action)->setVisible(false);
    }
    channel_ = new QWebChannel(this);
    channel_->registerObject(QStringLiteral("zorEditor"), new EditingBridge(this));
    page_->setWebChannel(channel_, QWebEngineScript::ApplicationWorld);

    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("zorod-editing-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::ApplicationWorld);
    bridge.setRunsOnSubFrames(false);
    bridge.setSourceCode(resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js")) +
                         resourceText(QStringLiteral(":/zorod/web/editing-bridge.js")));
    page_->scripts().insert(bridge);

    view_->setPage(page_);
    connect(page_, &QWebEnginePage::loadFinished, this, &WebHtmlEditor::skeletonLoaded);
    loadSkeleton();
}

WebHtmlEditor::~WebHtmlEditor() {
    // A page being destroyed still answers its pending scripts: nothing may come of that.
    closing_ = true;
    blockSignals(true);
    // The view may already be gone with the window that held it.
    delete view_.data();
}

QWidget* WebHtmlEditor::widget() {
    return view_;
}

QString WebHtmlEditor::documentHtml() const {
    return editor::bodyDocument(body_);
}

void WebHtmlEditor::setDocumentHtml(const QString& body) {
    body_ = body;
    edited_ = false;
    if (!loaded_ || busy_) {
        waiting_ = body;
        return;
    }
    send(body);
}

void WebHtmlEditor::setBaseUrl(const QUrl& base) {
    if (base == base_) {
        return;
    }
    base_ = base;
    loadSkeleton();
}

void WebHtmlEditor::loadSkeleton() {
    loaded_ = false;
    page_->expectLoad = true;
    page_->setHtml(Skeleton, base_);
}

void WebHtmlEditor::skeletonLoaded(bool ok) {
    page_->expectLoad = false;
    if (!ok) {
        return;
    }
    loaded_ = true;
    busy_ = false;
    // A fresh skeleton is empty: it gets the body it is meant to hold.
    waiting_.reset();
    send(body_);
}

void WebHtmlEditor::send(const QString& body) {
    busy_ = true;
    QPointer<WebHtmlEditor> self(this);
    page_->runJavaScript(QStringLiteral("document.body.innerHTML=") + jsString(body) + u';',
                         QWebEngineScript::ApplicationWorld, [self](const QVariant&) {
                             if (!self || self->closing_) {
                                 return;
                             }
                             self->busy_ = false;
                             if (self->waiting_) {
                                 const QString next = *std::exchange(self->waiting_, std::nullopt);
                                 self->send(next);
                             } else {
                                 emit self->applied();
                             }
                         });
}

void WebHtmlEditor::bridgeKey(int kind) {
    switch (kind) {
        case 0:
            emit keyDown();
            break;
        case 1:
            emit keyPress();
            break;
        case 2:
            emit keyUp();
            break;
        case 3:
            emit focusEntered();
            break;
        default:
            break;
    }
}

void WebHtmlEditor::bridgeEdited(const QString& body) {
    // An edit reported for a document that has since been replaced is stale.
    if (isBusy()) {
        return;
    }
    body_ = body;
    edited_ = true;
    emit edited();
}

WebPreview::WebPreview(QObject* parent) : PreviewControl(parent) {
    view_ = new QWebEngineView;
    view_->setObjectName(QStringLiteral("WebBrowser1"));
    view_->setPage(new QWebEnginePage(webProfile(), view_));
    connect(view_->page(), &QWebEnginePage::loadFinished, this, &WebPreview::loadFinished);
}

WebPreview::~WebPreview() {
    delete view_.data();
}

QWidget* WebPreview::widget() {
    return view_;
}

void WebPreview::navigate(const QString& localPath) {
    url_ = QUrl::fromLocalFile(localPath);
    if (loading_) {
        again_ = true;
        return;
    }
    loading_ = true;
    view_->load(url_);
}

void WebPreview::loadFinished() {
    loading_ = false;
    if (std::exchange(again_, false)) {
        navigate(url_.toLocalFile());
    }
}

}  // namespace zor

#include "WebControls.moc"
