#include "app/PublishProgress.h"

#include "publish/RemoteClient.h"

namespace zor::app {

PublishProgress::PublishProgress(ProgressWindow& window, publish::RemoteClient& ftp)
    : window_(window), ftp_(ftp) {
    window_.setRefresh([this] { refresh(); });
    ftp_.Pump = [this] { window_.pump(); };
    ftp_.Progress = [this](qint64 bytes) { item_.done = bytes; };
    ftp_.SessionOpened = [this] {
        window_.setNote(ftp_.IsEncrypted() ? QString()
                                           : publish::plainConnectionNote(ftp_.TlsRefused()));
    };
}

PublishProgress::~PublishProgress() {
    window_.setRefresh(nullptr);
    ftp_.Pump = nullptr;
    ftp_.Progress = nullptr;
    ftp_.SessionOpened = nullptr;
}

ProgressWindow::Setup PublishProgress::setup(const QString& title) {
    return {QStringLiteral("PublishProgress"), title, QStringLiteral("Соединение с сервером\u2026"),
            true};
}

publish::ProgressFn PublishProgress::progressFn() {
    return [this](publish::Stage s, int k, int n, const QString& itemName, qint64 size) {
        item_.set(s, k, n, itemName, size);
    };
}

void PublishProgress::refresh() {
    if (!item_.reported) {
        return;
    }
    window_.setStage(item_.stageText());
    window_.setItemName(item_.name);
    if (item_.stage == publish::Stage::Checking || item_.stage == publish::Stage::Verifying ||
        item_.stage == publish::Stage::Deleting || item_.stage == publish::Stage::Retrying ||
        item_.stage == publish::Stage::Packing || item_.stage == publish::Stage::Unpacking ||
        item_.stage == publish::Stage::Confirming) {
        // Reading is quick per file; the files done tell more than the bytes of one. A page
        // asked for has no size to tell.
        window_.setBar(item_.k, item_.n);
        window_.setBytesText(QString());
    } else if (item_.size > 0) {
        window_.setBar(static_cast<int>(item_.done * 1000 / item_.size), 1000);
        window_.setBytesText(item_.bytesText());
    } else {
        window_.setBar(0, 0);
        window_.setBytesText(item_.bytesText());
    }
}

}  // namespace zor::app
