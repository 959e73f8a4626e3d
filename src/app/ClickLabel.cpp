#include "app/ClickLabel.h"

#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleHints>
#include <QStyleOption>
#include <QStylePainter>

namespace zor::app {
namespace {

class ClickLabelAccessible : public QAccessibleWidget {
public:
    explicit ClickLabelAccessible(ClickLabel* label)
        : QAccessibleWidget(label, label->hover() == ClickLabel::Hover::Link
                                       ? QAccessible::Link
                                       : QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const ClickLabel*>(widget());
        if (t == QAccessible::Name && label->accessibleName().isEmpty()) {
            return label->text().isEmpty() ? label->toolTip() : label->text().trimmed();
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction() && widget()->isEnabled()) {
            static_cast<ClickLabel*>(widget())->activate();
        }
    }
};

QAccessibleInterface* clickLabelAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(ClickLabel::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new ClickLabelAccessible(static_cast<ClickLabel*>(object));
    }
    return nullptr;
}

}  // namespace

ClickLabel::ClickLabel(const QString& text, Hover hover, QWidget* parent)
    : QLabel(text, parent), hover_(hover) {
    static const bool accessible = [] {
        QAccessible::installFactory(clickLabelAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setCursor(Qt::PointingHandCursor);
    // Tab only: a click on a command must not take the focus from the field being typed in.
    setFocusPolicy(Qt::TabFocus);
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

void ClickLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        !event->isAutoRepeat()) {
        activate();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ClickLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (hasFocus()) {
        QStylePainter p(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Window);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
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
