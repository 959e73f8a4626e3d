#include "support/DialogDriver.h"

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
        lastOther_ = nullptr;  // the same window shown again later is a new showing
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        messages.append(box->text());
        box->accept();
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
        onOtherModal(modal);
    }
}

}  // namespace zor::test
