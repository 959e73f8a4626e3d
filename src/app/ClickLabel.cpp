#include "app/ClickLabel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

namespace zor::app {

ClickLabel::ClickLabel(const QString& text, Hover hover, QWidget* parent)
    : QLabel(text, parent), hover_(hover) {
    setCursor(Qt::PointingHandCursor);
    setUnderlined(hover_ == Hover::Link);
    pendingClick_.setSingleShot(true);
    connect(&pendingClick_, &QTimer::timeout, this, &ClickLabel::clicked);
}

void ClickLabel::setBaseFont(const QFont& font) {
    setFont(font);
    setUnderlined(hover_ == Hover::Link);
}

void ClickLabel::setUnderlined(bool on) {
    QFont f = font();
    f.setUnderline(on);
    setFont(f);
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        // The release of an earlier double click may never have come (a dialog took it).
        inDoubleClick_ = false;
    }
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = pressed_ && event->button() == Qt::LeftButton;
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    // The release that ends a double click is not another click.
    if (inDoubleClick_) {
        inDoubleClick_ = false;
        return;
    }
    if (wasPressed && rect().contains(event->position().toPoint())) {
        if (!clickWaits_) {
            emit clicked();
        } else if (!pendingClick_.isActive()) {
            pendingClick_.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
        }
    }
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        inDoubleClick_ = true;
        if (clickWaits_) {
            pendingClick_.stop();
            emit clicked();
        }
        emit doubleClicked();
        return;
    }
    QLabel::mouseDoubleClickEvent(event);
}

void ClickLabel::enterEvent(QEnterEvent* event) {
    if (hover_ != Hover::None) {
        setUnderlined(hover_ == Hover::MenuItem);
    }
    QLabel::enterEvent(event);
}

void ClickLabel::leaveEvent(QEvent* event) {
    if (hover_ != Hover::None) {
        setUnderlined(hover_ == Hover::Link);
    }
    QLabel::leaveEvent(event);
}

}  // namespace zor::app
