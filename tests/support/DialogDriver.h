#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

class QWidget;

namespace zor::test {

// Answers the real modal dialogs a command opens, as a user would: message boxes are read and
// closed with OK (questions with the queued answer), input boxes get the next queued answer
// (nullopt cancels). Any other modal window is handed to onOtherModal. Active from construction to
// destruction.
class DialogDriver : public QObject {
    Q_OBJECT
public:
    DialogDriver();
    ~DialogDriver() override;

    void queueInput(std::optional<QString> answer) { inputs_.push_back(std::move(answer)); }
    // The answer to the next question box (one with more than one button); Yes when none queued.
    void queueAnswer(int standardButton) { answers_.push_back(standardButton); }

    QStringList messages;       // texts of the message boxes seen, in order
    QStringList inputCaptions;  // window titles of the input boxes seen
    QStringList inputPrompts;   // their prompts
    std::function<void(QWidget*)> onOtherModal;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();

    QTimer timer_;
    std::deque<std::optional<QString>> inputs_;
    std::deque<int> answers_;
    QPointer<QWidget> lastOther_;
};

}  // namespace zor::test
