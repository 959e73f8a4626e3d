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
// closed with OK, input boxes get the next queued answer (nullopt cancels). Any other modal
// window is handed to onOtherModal. Active from construction to destruction.
class DialogDriver : public QObject {
    Q_OBJECT
public:
    DialogDriver();
    ~DialogDriver() override;

    void queueInput(std::optional<QString> answer) { inputs_.push_back(std::move(answer)); }

    QStringList messages;       // texts of the message boxes seen, in order
    QStringList inputCaptions;  // window titles of the input boxes seen
    QStringList inputPrompts;   // their prompts
    std::function<void(QWidget*)> onOtherModal;

private:
    void poll();

    QTimer timer_;
    std::deque<std::optional<QString>> inputs_;
    QPointer<QWidget> lastOther_;
};

}  // namespace zor::test
