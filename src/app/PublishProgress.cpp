#include "app/PublishProgress.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "publish/FtpClient.h"

namespace zor::app {
namespace {

// Often enough for a live window and a prompt Cancel, rarely enough to cost nothing.
constexpr std::chrono::milliseconds PumpInterval{20};

}  // namespace

PublishProgress::PublishProgress(QWidget* window, publish::FtpClient& ftp, const QString& title)
    : QDialog(window), ftp_(ftp) {
    setObjectName(QStringLiteral("PublishProgress"));
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(420);

    stage_ = new QLabel(QStringLiteral("Соединение с сервером\u2026"));
    name_ = new QLabel;
    name_->setTextFormat(Qt::PlainText);
    bytes_ = new QLabel;
    security_ = new QLabel;
    security_->setObjectName(QStringLiteral("SecurityNote"));
    security_->setWordWrap(true);
    security_->setVisible(false);
    bar_ = new QProgressBar;
    bar_->setRange(0, 0);
    bar_->setTextVisible(false);
    cancelButton_ = new QPushButton(QStringLiteral("Отмена"));
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    connect(cancelButton_, &QPushButton::clicked, this, &PublishProgress::requestCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(stage_);
    layout->addWidget(name_);
    layout->addWidget(bar_);
    layout->addWidget(bytes_);
    layout->addWidget(security_);
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

    ftp_.Pump = [this] { pump(); };
    ftp_.Progress = [this](qint64 bytes) { item_.done = bytes; };
    ftp_.SessionOpened = [this] {
        security_->setText(ftp_.IsEncrypted() ? QString()
                                              : publish::plainConnectionNote(ftp_.TlsRefused()));
        security_->setVisible(!ftp_.IsEncrypted());
    };
}

PublishProgress::~PublishProgress() {
    ftp_.Pump = nullptr;
    ftp_.Progress = nullptr;
    ftp_.SessionOpened = nullptr;
}

publish::ProgressFn PublishProgress::progressFn() {
    return [this](publish::Stage s, int k, int n, const QString& itemName, qint64 size) {
        item_.set(s, k, n, itemName, size);
    };
}

void PublishProgress::requestCancel() {
    cancel_ = true;
    cancelButton_->setEnabled(false);
    stage_->setText(QStringLiteral("Прерывание\u2026"));
}

void PublishProgress::reject() {
    requestCancel();
}

void PublishProgress::pump() {
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
        // Until the dialog shows, the main window is not blocked yet: its input waits.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    if (cancel_) {
        throw Cancelled();
    }
}

void PublishProgress::refresh() {
    if (cancel_ || !item_.reported) {
        return;
    }
    stage_->setText(item_.stageText());
    name_->setText(item_.name);
    if (item_.stage == publish::Stage::Checking || item_.stage == publish::Stage::Verifying ||
        item_.stage == publish::Stage::Deleting || item_.stage == publish::Stage::Retrying) {
        // Reading is quick per file; the files done tell more than the bytes of one. A page
        // asked for has no size to tell.
        bar_->setRange(0, item_.n);
        bar_->setValue(item_.k);
        bytes_->clear();
    } else if (item_.size > 0) {
        bar_->setRange(0, 1000);
        bar_->setValue(static_cast<int>(item_.done * 1000 / item_.size));
        bytes_->setText(item_.bytesText());
    } else {
        bar_->setRange(0, 0);
        bytes_->setText(item_.bytesText());
    }
}

}  // namespace zor::app
