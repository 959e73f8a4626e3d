#include "support/DialogDriver.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace zor::test {

DialogDriver::DialogDriver() {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &DialogDriver::poll);
    timer_.start();
}

DialogDriver::~DialogDriver() {
    for (const Expectation& e : expected_) {
        const char* kind = e.kind == Kind::Message    ? "message box"
                           : e.kind == Kind::Question ? "question"
                                                      : "input box";
        ADD_FAILURE() << "expected " << kind << " never came: " << e.part.toStdString();
    }
}

QStringList DialogDriver::takeMessages() {
    QStringList taken;
    taken.swap(seen_);
    return taken;
}

void DialogDriver::unexpected(const QString& what) {
    ADD_FAILURE() << "unexpected " << what.toStdString();
}

void DialogDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || acting_) {
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        const QString text = box->text();
        const bool question = box->buttons().size() > 1;
        const auto standard = [box](int b) {
            return box->button(static_cast<QMessageBox::StandardButton>(b));
        };
        seen_.append(text);
        // Texts carry server replies, file names and titles: never taken for markup.
        if (box->textFormat() != Qt::PlainText) {
            unexpected("message box not in plain text: " + text);
        }
        const Kind kind = question ? Kind::Question : Kind::Message;
        // A test that answers this one itself, as a user would.
        if (!expected_.empty() && expected_.front().kind == kind &&
            text.contains(expected_.front().part) && expected_.front().act) {
            const auto act = std::move(expected_.front().act);
            expected_.pop_front();
            acting_ = true;
            act(box);
            acting_ = false;
            return;
        }
        // The button pressed; without one, a question is refused and a message taken.
        QAbstractButton* button = question ? nullptr : box->buttons().value(0);
        if (!expected_.empty() && expected_.front().kind == kind &&
            text.contains(expected_.front().part)) {
            const Expectation e = expected_.front();
            expected_.pop_front();
            if (!e.button.isEmpty()) {
                button = nullptr;
                for (QAbstractButton* b : box->buttons()) {
                    button = b->text() == e.button ? b : button;
                }
                if (!button) {
                    unexpected("question without a button \"" + e.button + "\": " + text);
                }
            } else if (question) {
                button = standard(e.answer);
            }
        } else if (question || !allowAny_) {
            unexpected((question ? "question: " : "message box: ") + text);
            if (question) {
                // Refuse whatever it asks, so the test's command ends instead of acting.
                button = standard(QMessageBox::No) ? standard(QMessageBox::No)
                                                   : standard(QMessageBox::Cancel);
            }
        }
        if (button) {
            button->click();
        } else if (question) {
            box->reject();
        } else {
            box->accept();
        }
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        inputCaptions.append(input->windowTitle());
        inputPrompts.append(input->labelText());
        std::optional<QString> answer;
        if (!expected_.empty() && expected_.front().kind == Kind::Input) {
            answer = expected_.front().input;
            expected_.pop_front();
        } else {
            unexpected("input box: " + input->windowTitle() + " / " + input->labelText());
        }
        if (answer) {
            input->setTextValue(*answer);
            input->accept();
        } else {
            input->reject();
        }
    } else if (onOtherModal && modal != lastOther_) {
        lastOther_ = modal;
        modal->installEventFilter(this);
        onOtherModal(modal);
    }
}

bool DialogDriver::eventFilter(QObject* watched, QEvent* event) {
    // A window shown again after it was hidden is a new showing to answer.
    if (event->type() == QEvent::Hide && watched == lastOther_) {
        watched->removeEventFilter(this);
        lastOther_ = nullptr;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace zor::test
