#pragma once

#include <QLabel>

namespace zor::app {

// A label that acts as a command: a hand pointer, clicked and double-clicked signals, and the
// hover styles of menu items (underlined under the pointer) and links (underlined at rest).
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    enum class Hover { None, MenuItem, Link };

    explicit ClickLabel(const QString& text, Hover hover = Hover::None, QWidget* parent = nullptr);
    Hover hover() const { return hover_; }
    // Sets the font keeping the resting underline of the label's hover kind.
    void setBaseFont(const QFont& font);

signals:
    void clicked();
    // Comes after the clicked() of the first click, as a double click does.
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setUnderlined(bool on);

    Hover hover_;
    bool pressed_ = false;
    bool inDoubleClick_ = false;
};

}  // namespace zor::app
