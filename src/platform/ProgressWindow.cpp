#include "platform/ProgressWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Errors.h"

namespace zor {
namespace {

// Often enough for a live window and a prompt Cancel, rarely enough to cost nothing.
constexpr std::chrono::milliseconds PumpInterval{20};

}  // namespace

ProgressWindow::ProgressWindow(QWidget* window, const Setup& setup) : QDialog(window) {
    setObjectName(setup.objectName);
    setWindowTitle(setup.title);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(420);

    stage_ = new QLabel(setup.firstStage);
    name_ = new QLabel;
    name_->setTextFormat(Qt::PlainText);
    if (setup.bytesLine) {
        bytes_ = new QLabel;
    }
    note_ = new QLabel;
    note_->setObjectName(QStringLiteral("Note"));
    note_->setWordWrap(true);
    note_->setVisible(false);
    bar_ = new QProgressBar;
    bar_->setRange(0, 0);
    bar_->setTextVisible(false);
    cancelButton_ = new QPushButton(QStringLiteral("Отмена"));
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    connect(cancelButton_, &QPushButton::clicked, this, &ProgressWindow::requestCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(stage_);
    layout->addWidget(name_);
    layout->addWidget(bar_);
    if (bytes_) {
        layout->addWidget(bytes_);
    }
    layout->addWidget(note_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);

    showTimer_.setSingleShot(true);
    showTimer_.setInterval(ShowAfter);
    connect(&showTimer_, &QTimer::timeout, this, [this] {
        // A question the command asks (a certificate, pages to replace) is answered first:
        // shown over it, this window would block it, as it blocks the main window the question
        // belongs to, and the command would wait for an answer that could never be given.
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) {
            showTimer_.start();
            return;
        }
        refresh();
        show();
    });
    showTimer_.start();
}

void ProgressWindow::setStage(const QString& text) {
    if (!cancel_) {
        stage_->setText(text);
    }
}

void ProgressWindow::setItemName(const QString& name) {
    if (!cancel_) {
        name_->setText(name);
    }
}

void ProgressWindow::setBar(int done, int total) {
    bar_->setRange(0, total);
    bar_->setValue(done);
}

void ProgressWindow::setBytesText(const QString& text) {
    if (bytes_ && !cancel_) {
        bytes_->setText(text);
    }
}

void ProgressWindow::setNote(const QString& text) {
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
}

void ProgressWindow::requestCancel() {
    cancel_ = true;
    cancelButton_->setEnabled(false);
    stage_->setText(QStringLiteral("Прерывание\u2026"));
}

void ProgressWindow::reject() {
    requestCancel();
}

void ProgressWindow::refresh() {
    if (refresh_ && !cancel_) {
        refresh_();
    }
}

void ProgressWindow::pump() {
    if (cancel_) {
        throw Cancelled();
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < PumpInterval) {
        return;
    }
    lastPump_ = now;
    if (isVisible()) {
        refresh();
        QCoreApplication::processEvents();
    } else {
        // Until the window shows, the main window is not blocked yet: its input waits.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    if (cancel_) {
        throw Cancelled();
    }
}

}  // namespace zor
