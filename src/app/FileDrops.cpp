#include "app/FileDrops.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace zor::app {
namespace {

// The first dropped entry, when it is a file on this machine.
QString firstLocalFile(const QMimeData* data) {
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    return !urls.isEmpty() && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
}

}  // namespace

FileDrops::FileDrops(QWidget& window, std::function<void(const QString&)> onDrop)
    : window_(window), onDrop_(std::move(onDrop)) {
    window_.setAcceptDrops(true);
    // Watched for the whole program: a drop on a text box of the window is delivered to the
    // text box, which would otherwise insert the file's address as text.
    qApp->installEventFilter(this);
}

FileDrops::~FileDrops() {
    qApp->removeEventFilter(this);
    window_.setAcceptDrops(false);
}

bool FileDrops::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &window_) {
        return false;
    }
    auto* drop = static_cast<QDropEvent*>(event);
    const QString path = firstLocalFile(drop->mimeData());
    // Nothing is taken while a modal window (the editor, the file manager) is open over it.
    if (path.isEmpty() || QApplication::activeModalWidget()) {
        return false;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        QTimer::singleShot(0, this, [this, path] { onDrop_(path); });
    }
    return true;
}

}  // namespace zor::app
