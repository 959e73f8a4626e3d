#pragma once

#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace zor {

// The progress of one long command: a stage line, the item's name, a bar, the bytes of the item
// and a note, with Cancel. It appears only when the command lasts, and then window-modal over
// the main window, so nothing there can be used while the command runs; until then its pump
// lets no user input through at all. Cancel, Esc and the close button make the next pump throw
// Cancelled.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    struct Setup {
        QString objectName;  // which command's window it is, for tests and accessibility
        QString title;
        QString firstStage;     // said until the command reports its first item
        bool bytesLine = true;  // a line for the bytes the item has moved
    };

    ProgressWindow(QWidget* window, const Setup& setup);

    // What the window shows. Once Cancel is pressed it says only that the command stops.
    void setStage(const QString& text);
    void setItemName(const QString& name);
    // `done` of `total`; a total of 0 makes the bar run without an end.
    void setBar(int done, int total);
    void setBytesText(const QString& text);
    // A line beneath, hidden while empty.
    void setNote(const QString& text);
    // Runs before the window first shows and at every pump while it shows, so a command that
    // reports faster than anyone reads writes the window only then.
    void setRefresh(std::function<void()> refresh) { refresh_ = std::move(refresh); }

    // The command calls this between its steps: now and then pending events run (user input
    // only once the window shows); throws Cancelled once Cancel was pressed.
    void pump();
    void requestCancel();
    bool cancelRequested() const { return cancel_; }

    static constexpr std::chrono::milliseconds ShowAfter{400};

protected:
    void reject() override;  // Esc and the window's close button cancel the command

private:
    void refresh();

    QLabel* stage_;
    QLabel* name_;
    QLabel* bytes_ = nullptr;
    QLabel* note_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    QTimer showTimer_;
    std::function<void()> refresh_;
    bool cancel_ = false;
    std::chrono::steady_clock::time_point lastPump_{};
};

}  // namespace zor
