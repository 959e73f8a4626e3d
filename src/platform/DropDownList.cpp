#include "platform/DropDownList.h"

#include <QWheelEvent>

namespace zor {

void DropDownList::wheelEvent(QWheelEvent* event) {
    // The open list is a window of its own and scrolls by itself; this is the closed box.
    event->ignore();
}

}  // namespace zor
