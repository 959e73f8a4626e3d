#include "support/DialogDriver.h"

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

DialogDriver::~DialogDriver() = default;

void DialogDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        messages.append(box->text());
        if (box->buttons().size() > 1) {
            int answer = QMessageBox::Yes;
            if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
            box->button(static_cast<QMessageBox::StandardButton>(answer))->click();
        } else if (!box->buttons().isEmpty()) {
            box->buttons().first()->click();
        } else {
            box->accept();
        }
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        inputCaptions.append(input->windowTitle());
        inputPrompts.append(input->labelText());
        std::optional<QString> answer;
        if (!inputs_.empty()) {
            answer = inputs_.front();
            inputs_.pop_front();
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
