#include "publish/Retry.h"

#include <QFile>
#include <QFileInfo>
#include <thread>

#include "publish/FtpClient.h"
#include "publish/SessionPool.h"
#include "publish/TcpConnection.h"

namespace zor::publish {
namespace {

QString triesText(int retries) {
    // "после 1 повтора", "после 3 повторов", "после 21 повтора".
    const bool one = retries % 10 == 1 && retries % 100 != 11;
    return QStringLiteral("%1 %2").arg(retries).arg(one ? QStringLiteral("повтора")
                                                        : QStringLiteral("повторов"));
}

}  // namespace

bool transient(const ZorError& error) {
    if (dynamic_cast<const TlsHandshakeFailed*>(&error)) {
        return false;
    }
    if (dynamic_cast<const ConnectionLost*>(&error) ||
        dynamic_cast<const ConnectionTimedOut*>(&error) ||
        dynamic_cast<const ConnectionRefused*>(&error)) {
        return true;
    }
    if (const auto* ftp = dynamic_cast<const FtpError*>(&error)) {
        switch (ftp->replyCode()) {
            case 421:
            case 425:
            case 426:
            case 450:
            case 451:
                return true;
            default:
                return false;
        }
    }
    return false;
}

std::chrono::milliseconds retryWait(int attempt) {
    return std::chrono::milliseconds(1000 << std::clamp(attempt - 1, 0, 2));
}

QString retriedFilesText(int files) {
    return QStringLiteral("Связь прерывалась; файлов, переданных со второй попытки или позже: %1.")
        .arg(files);
}

RetryingTransfer::RetryingTransfer(RemoteClient& ftp, QString folder, int retries, RetryFn onRetry)
    : ftp_(ftp),
      folder_(std::move(folder)),
      retries_(std::max(0, retries)),
      onRetry_(std::move(onRetry)),
      encrypted_(ftp.IsEncrypted()),
      fingerprint_(ftp.AcceptedFingerprint()) {}

void RetryingTransfer::reopen() {
    if (ftp_.IsConnected()) {
        return;  // the server refused the file and kept the session
    }
    // As protected as before, and with the certificate accepted then: nobody is asked again,
    // and nobody on the way can talk the new session out of its protection.
    if (encrypted_) {
        if (auto* ftp = dynamic_cast<FtpClient*>(&ftp_)) {
            ftp->Encryption = FtpEncryption::Required;
        }
        ftp_.TrustedFingerprint = fingerprint_;
    }
    ftp_.OpenSession();
    if (!folder_.isEmpty()) {
        ftp_.ChangeFolder(folder_);
    }
}

void RetryingTransfer::afterFailure(int attempt, const QString& name) {
    try {
        throw;
    } catch (const ZorError& e) {
        if (!transient(e)) {
            throw;
        }
        if (attempt >= retries_) {
            if (attempt == 0) {
                throw;
            }
            const auto* ftp = dynamic_cast<const FtpError*>(&e);
            throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB не передан и после %2:\n%3")
                               .arg(name, triesText(attempt), e.text()),
                           ftp ? ftp->replyCode() : 0);
        }
    }
    retried_ = true;
    if (onRetry_) {
        onRetry_(attempt + 1, retries_, name);
    }
    // Cancel ends the wait at once: the pump throws.
    const auto until = std::chrono::steady_clock::now() + retryWait(attempt + 1);
    while (std::chrono::steady_clock::now() < until) {
        if (ftp_.Pump) {
            ftp_.Pump();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void RetryingTransfer::rename(const QString& from, const QString& to) {
    try {
        ftp_.RenameRemote(from, to);
    } catch (const FtpError& e) {
        // A server that will not rename over a file: the old one goes first.
        if (e.replyCode() != 550 && e.replyCode() != 553) {
            throw;
        }
        try {
            ftp_.DeleteRemoteFile(to);
        } catch (const FtpError& gone) {
            if (gone.replyCode() != 550) {
                throw;
            }
        }
        ftp_.RenameRemote(from, to);
    }
}

namespace {

// The name a file goes to the server under while it is sent.
QString sentName(const Transfer& t) {
    return t.size > TemporaryNameAbove ? t.remotePath + PartSuffix : t.remotePath;
}

}  // namespace

void RetryingTransfer::expect(const Transfer* next) {
    ftp_.ExpectUpload(next ? sentName(*next) : QString());
}

void RetryingTransfer::forgetExpected() {
    ftp_.ForgetExpectedUpload();
}

QString RetryingTransfer::upload(const Transfer& t) {
    retried_ = false;
    const bool throughPart = t.size > TemporaryNameAbove;
    const QString sent = sentName(t);
    for (int attempt = 0;; ++attempt) {
        try {
            qint64 from = 0;
            // A session the server or the client dropped after the last file opens again
            // before the next one, as for a retry.
            reopen();
            if (attempt > 0) {
                // What reached the server stays there, under the temporary name.
                if (throughPart && t.size >= ResumeFrom && ftp_.CanResume()) {
                    const qint64 there = ftp_.RemoteSize(sent);
                    from = there > 0 && there <= t.size ? there : 0;
                }
            }
            QString digest;
            ftp_.UploadFile(t.localPath, sent, &digest, from);
            if (throughPart) {
                // Continued, the file is whole only if the server holds every byte of it.
                const qint64 local = QFileInfo(t.localPath).size();
                if (from > 0 && ftp_.RemoteSize(sent) != local) {
                    throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB собран на сервере не того "
                                                  "размера; он не записан как отправленный.")
                                       .arg(t.name));
                }
                rename(sent, t.remotePath);
            }
            return digest;
        } catch (const Cancelled&) {
            throw;
        } catch (const ZorError&) {
            afterFailure(attempt, t.name);
        }
    }
}

void RetryingTransfer::download(const Transfer& t) {
    retried_ = false;
    for (int attempt = 0;; ++attempt) {
        try {
            qint64 from = 0;
            // A session the server or the client dropped after the last file opens again
            // before the next one, as for a retry.
            reopen();
            if (attempt > 0) {
                const QFileInfo partial(t.localPath);
                if (partial.exists() && partial.size() >= ResumeFrom && ftp_.CanResume()) {
                    from = partial.size();
                } else {
                    QFile::remove(t.localPath);
                }
            }
            ftp_.DownloadFile(t.remotePath, t.localPath, t.limit, from);
            if (from > 0 && ftp_.RemoteSize(t.remotePath) != QFileInfo(t.localPath).size()) {
                throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB получен с сервера не того "
                                              "размера.")
                                   .arg(t.name));
            }
            return;
        } catch (const Cancelled&) {
            throw;
        } catch (const ZorError&) {
            afterFailure(attempt, t.name);
        }
    }
}

}  // namespace zor::publish
