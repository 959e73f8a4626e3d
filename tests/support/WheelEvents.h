#pragma once

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>

namespace zor::test {

// Notches of a mouse wheel over the middle of the widget, as the window system delivers them:
// negative turns the wheel towards the user (down a list), positive away.
inline void turnWheel(QWidget* widget, int notches) {
    const QPointF at = QRectF(widget->rect()).center();
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

}  // namespace zor::test
