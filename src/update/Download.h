#pragma once

#include <QString>
#include <chrono>
#include <functional>

#include "platform/Errors.h"

// The program's only HTTP client: one web address fetched into one local file.
namespace zor::update {

// Thrown by a pump whose command the user cancelled (see CurlDownloader::Pump).
class DownloadCancelled : public ZorError {
public:
    DownloadCancelled() : ZorError(QStringLiteral("Загрузка прервана пользователем.")) {}
};

// What the update logic needs from an HTTP client; tests point it at a local server through the
// base address alone.
class Downloader {
public:
    virtual ~Downloader() = default;
    // Fetches the body at address into localPath. True when the whole body arrived with a
    // success status and was written; false when the server could not be reached, answered
    // with an error status, stalled, or sent more than maxBytes. The file is replaced only by a
    // whole body: until then, and after a failure, it stays as it was. Local file errors throw
    // FileError.
    virtual bool DownloadToFile(const QString& address, const QString& localPath,
                                qint64 maxBytes) = 0;
};

// libcurl's easy interface: redirects followed (five at most), https with the system's
// certificates, the system's proxy settings.
class CurlDownloader : public Downloader {
public:
    bool DownloadToFile(const QString& address, const QString& localPath, qint64 maxBytes) override;

    std::chrono::milliseconds ConnectTimeout{std::chrono::seconds(15)};
    // A transfer that moves less than one byte a second for this long has failed.
    std::chrono::seconds StallTimeout{30};
    // Runs every few tens of milliseconds while a transfer waits, so the window stays alive. It
    // may throw (DownloadCancelled) to abandon the transfer; the exception reaches the caller.
    std::function<void()> Pump;
};

}  // namespace zor::update
