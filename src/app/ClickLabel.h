#pragma once

#include <QLabel>
#include <QTimer>

namespace zor::app {

// A label that acts as a command: a hand pointer, clicked and double-clicked signals, and the
// hover styles of menu items (underlined under the pointer) and links (underlined at rest).
// Tab reaches it and Return or Space runs it; screen readers see a button (a link for links)
// named by its text, or by its hint when it shows a picture only.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    enum class Hover { None, MenuItem, Link };

    explicit ClickLabel(const QString& text, Hover hover = Hover::None, QWidget* parent = nullptr);
    Hover hover() const { return hover_; }
    // Sets the font keeping the resting underline of the label's hover kind.
    void setBaseFont(const QFont& font);
    // For a label whose click starts something that takes the window over for a while (a
    // server listing): the click waits for the toolkit's double-click interval, so a double
    // click is told from it before anything runs, and then gives clicked() and doubleClicked()
    // together. Otherwise the second click of a double click could arrive at a busy window.
    void setClickWaitsForDoubleClick(bool on) { clickWaits_ = on; }
    // What a click, Return or Space does, and a screen reader's "press".
    void activate() { emit clicked(); }

signals:
    void clicked();
    // Comes after the clicked() of the first click, as a double click does.
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setUnderlined(bool on);

    Hover hover_;
    bool pressed_ = false;
    bool inDoubleClick_ = false;
    bool clickWaits_ = false;
    QTimer pendingClick_;
};

}  // namespace zor::app
