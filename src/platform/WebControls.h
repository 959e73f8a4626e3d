#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebEngineView>
#include <memory>
#include <optional>
#include <vector>

#include "platform/HtmlEditingControl.h"

class QWebChannel;

namespace zor {

class EditingPage;

// The visual editor on a web view. The document skeleton is loaded once; later bodies go in as
// innerHTML (ten times faster than loading a page, and no size limit). Scripts of the edited
// HTML never run: JavaScript is off for the page, and the key and edit reports come from a
// bridge in an isolated world that page content cannot reach. Nor can the document read local
// files; it shows pictures from the folder of its base address.
class WebHtmlEditor : public HtmlEditingControl {
    Q_OBJECT
public:
    explicit WebHtmlEditor(DocumentFrame frame, QObject* parent = nullptr);
    ~WebHtmlEditor() override;

    QWidget* widget() override;
    QString documentHtml() const override;
    void setDocumentHtml(const QString& body) override;
    bool isBusy() const override { return busy_ || waiting_.has_value(); }
    bool isEdited() const override { return edited_; }
    void setBaseUrl(const QUrl& base) override;

    QWebEngineView* view() const { return view_; }

    // Called by the bridge.
    void bridgeKey(int kind);
    void bridgeEdited(const QString& body);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadSkeleton();
    void skeletonLoaded(bool ok);
    void send(const QString& body);
    void watchInput(QObject* widget);
    void deliverHeldKeys();

    DocumentFrame frame_;
    QPointer<QWebEngineView> view_;
    const QObject* viewObject_ = nullptr;  // the same view, only ever compared
    EditingPage* page_ = nullptr;
    QWebChannel* channel_ = nullptr;
    QUrl base_;
    QString body_;
    bool edited_ = false;
    bool loaded_ = false;
    bool busy_ = false;
    bool closing_ = false;
    std::optional<QString> waiting_;  // set while busy or before the skeleton is in
    // Keys typed while a body was on its way, for the widget they were typed into.
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> heldKeys_;
};

// The preview: a web view showing the preview file. Loads are coalesced: while one runs, any
// number of rewrites lead to one more load when it ends, so the view always ends up showing the
// file as last written. The page's scripts run, as a browser's would, but cannot read local
// files; its pictures show.
class WebPreview : public PreviewControl {
    Q_OBJECT
public:
    explicit WebPreview(QObject* parent = nullptr);
    ~WebPreview() override;

    QWidget* widget() override;
    void navigate(const QString& localPath) override;

    QWebEngineView* view() const { return view_; }

private:
    void loadFinished();

    QPointer<QWebEngineView> view_;
    QUrl url_;
    bool loading_ = false;
    bool again_ = false;
};

}  // namespace zor
