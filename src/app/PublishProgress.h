#pragma once

#include "platform/ProgressWindow.h"
#include "publish/ProgressText.h"
#include "publish/PublishSession.h"

namespace zor::publish {
class RemoteClient;
}

namespace zor::app {

// Feeds a running publishing command into its progress window: item k of n, its name and its
// bytes, and beneath, when the session is not encrypted, a note that says so. It takes over the
// client's pump and progress for its lifetime.
class PublishProgress {
public:
    PublishProgress(ProgressWindow& window, publish::RemoteClient& ftp);
    ~PublishProgress();
    PublishProgress(const PublishProgress&) = delete;
    PublishProgress& operator=(const PublishProgress&) = delete;

    // The window of a publishing command titled `title`.
    static ProgressWindow::Setup setup(const QString& title);

    // For the command's PublishJob.
    publish::ProgressFn progressFn();

private:
    void refresh();

    ProgressWindow& window_;
    publish::RemoteClient& ftp_;
    publish::ProgressItem item_;  // what the command reported last; shown at the next pump
};

}  // namespace zor::app
