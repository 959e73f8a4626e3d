#pragma once

#include <QComboBox>

namespace zor {

// A drop-down list that acts only on a choice the user makes: a click or Enter in the open
// list, or a key while it has the focus. The wheel over it while it is closed, which a user
// means for the window under the pointer, changes nothing and scrolls what is behind it.
class DropDownList : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace zor
