#include "platform/WebControls.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "platform/SharedFolders.h"
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

// A page (a pasted script, an extension's) must not get at the user's files: it sees its own
// folder through a shared-folder address, and file addresses not at all.
void keepFilesFromPages(QWebEnginePage* page) {
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
}

QUrl shownUrl(const QUrl& url) {
    return url.isLocalFile() ? sharedFolderUrl(url.toLocalFile()) : url;
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

WebHtmlEditor::WebHtmlEditor(DocumentFrame frame, QObject* parent)
    : HtmlEditingControl(parent), frame_(std::move(frame)) {
    view_ = new QWebEngineView;
    viewObject_ = view_.data();
    view_->setObjectName(QStringLiteral("DHTMLEdit1"));
    page_ = new EditingPage(webProfile(), view_);
    page_->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    keepFilesFromPages(page_);
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
    // The view's input goes to a child widget of its own, made when the page is set up.
    view_->installEventFilter(this);
    for (QObject* child : view_->children()) {
        watchInput(child);
    }
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
    return frame_.head + body_ + frame_.tail;
}

void WebHtmlEditor::watchInput(QObject* widget) {
    if (widget->isWidgetType()) {
        widget->installEventFilter(this);
    }
}

bool WebHtmlEditor::eventFilter(QObject* watched, QEvent* event) {
    // Compared as objects: while the view is being destroyed it is no QWebEngineView any more,
    // and its pointer must not be taken as one.
    if (watched == viewObject_) {
        if (event->type() == QEvent::ChildAdded) {
            watchInput(static_cast<QChildEvent*>(event)->child());
        }
        return false;
    }
    switch (event->type()) {
        case QEvent::FocusIn:
            // Here rather than from the page: the editor may bring the document up to date
            // before the first key typed into it arrives.
            emit focusEntered();
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (isBusy()) {
                // The body on its way would replace whatever this key did to the old one.
                heldKeys_.emplace_back(watched, event->clone());
                return true;
            }
            break;
        default:
            break;
    }
    return false;
}

void WebHtmlEditor::deliverHeldKeys() {
    auto held = std::exchange(heldKeys_, {});
    for (auto& [target, key] : held) {
        if (target) {
            QCoreApplication::sendEvent(target, key.get());
        }
    }
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
    const QUrl shown = shownUrl(base);
    if (shown == base_) {
        return;
    }
    base_ = shown;
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
        deliverHeldKeys();  // to whatever the view shows: a key kept forever is lost as well
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
                                 return;
                             }
                             emit self->applied();
                             // Unless that started the next body, the keys go to this one.
                             if (self && !self->isBusy()) {
                                 self->deliverHeldKeys();
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
    keepFilesFromPages(view_->page());
    connect(view_->page(), &QWebEnginePage::loadFinished, this, &WebPreview::loadFinished);
}

WebPreview::~WebPreview() {
    delete view_.data();
}

QWidget* WebPreview::widget() {
    return view_;
}

void WebPreview::navigate(const QString& localPath) {
    const QFileInfo file(localPath);
    url_ = sharedFolderUrl(file.absolutePath());
    url_.setPath(url_.path() + file.fileName());
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
        loading_ = true;
        view_->load(url_);
    }
}

}  // namespace zor

#include "WebControls.moc"
