#pragma once

#include <QDialog>
#include <QTimer>
#include <chrono>

#include "publish/ProgressText.h"
#include "publish/PublishSession.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace zor::publish {
class FtpClient;
}

namespace zor::app {

// The progress of one running publishing command: item k of n, its name and its bytes, with a
// Cancel button. Window-modal over the main window, so nothing there can be used while the
// command runs. It takes over the client's pump and progress for its lifetime and appears only
// when the command lasts; until then the pump lets no user input through at all. A session that
// is not encrypted is said so beneath.
class PublishProgress : public QDialog {
    Q_OBJECT
public:
    PublishProgress(QWidget* window, publish::FtpClient& ftp, const QString& title);
    ~PublishProgress() override;

    // For the command's PublishJob.
    publish::ProgressFn progressFn();
    // Cancel pressed: the client's pump throws Cancelled at its next run.
    void requestCancel();
    bool cancelRequested() const { return cancel_; }

    static constexpr std::chrono::milliseconds ShowAfter{400};

protected:
    void reject() override;  // Esc and the window's close button cancel the command

private:
    void pump();
    void refresh();

    publish::FtpClient& ftp_;
    QLabel* stage_;
    QLabel* name_;
    QLabel* bytes_;
    QLabel* security_;  // says so when the connection is not encrypted
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    QTimer showTimer_;
    bool cancel_ = false;
    std::chrono::steady_clock::time_point lastPump_{};

    publish::ProgressItem item_;  // what the command reported last; shown at the next pump
};

}  // namespace zor::app
