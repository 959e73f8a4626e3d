#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

class QMessageBox;
class QWidget;

namespace zor::test {

// Answers the real modal dialogs a command opens, as a user would, and holds the test to them:
// every message box, question and input box must be one the test asked for. Message boxes are
// read and closed with OK, questions get the queued answer, input boxes the queued text (nullopt
// cancels). A box the test did not expect fails the test with its text (and is closed, so the
// command ends); so does an expectation left unmet when the driver goes. Any other modal window
// is handed to onOtherModal. Active from construction to destruction.
class DialogDriver : public QObject {
    Q_OBJECT
public:
    DialogDriver();
    ~DialogDriver() override;

    // One message box (a single button) whose text contains part, in the order queued.
    void expectMessage(const QString& part) {
        expected_.push_back({Kind::Message, part, 0, {}, {}, {}});
    }
    // One question (more than one button) whose text contains part, answered with standardButton.
    void expectQuestion(const QString& part, int standardButton) {
        expected_.push_back({Kind::Question, part, standardButton, {}, {}, {}});
    }
    // One question whose text contains part, answered with its button captioned buttonText.
    void expectQuestion(const QString& part, const QString& buttonText) {
        expected_.push_back({Kind::Question, part, 0, {}, buttonText, {}});
    }
    // One question whose text contains part, left to answer: it answers as the user would, with
    // real input, taking its time.
    void expectQuestion(const QString& part, std::function<void(QMessageBox*)> answer) {
        expected_.push_back({Kind::Question, part, 0, {}, {}, std::move(answer)});
    }
    // One input box, answered with answer (nullopt cancels).
    void expectInput(std::optional<QString> answer) {
        expected_.push_back({Kind::Input, {}, 0, std::move(answer), {}, {}});
    }
    // Message boxes whose texts a test reads for itself afterwards (takeMessages): any number, any
    // text, none required.
    void allowMessages() { allowAny_ = true; }
    // The texts of the boxes seen so far, handed to the test, which then judges them itself.
    QStringList takeMessages();
    // Everything expected has been seen.
    bool satisfied() const { return expected_.empty(); }

    QStringList inputCaptions;  // window titles of the input boxes seen
    QStringList inputPrompts;   // their prompts
    std::function<void(QWidget*)> onOtherModal;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Kind { Message, Question, Input };
    struct Expectation {
        Kind kind;
        QString part;
        int answer;
        std::optional<QString> input;
        QString button;  // a button's caption, where the answer is not a standard button
        std::function<void(QMessageBox*)> act;  // the test's own answer
    };
    void poll();
    void unexpected(const QString& what);

    QTimer timer_;
    std::deque<Expectation> expected_;
    QStringList seen_;
    bool allowAny_ = false;
    QPointer<QWidget> lastOther_;
    bool acting_ = false;  // a test's answer runs, waiting in its own event loop
};

}  // namespace zor::test
