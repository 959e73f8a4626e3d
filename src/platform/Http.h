#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <functional>
#include <utility>

#include "platform/Errors.h"

// The program's one HTTP client: a web address fetched into a local file, or into memory as
// the server answered it. The update checks and the check of a published site are handed one.
namespace zor {

// One address fetched into memory, as the server answered it, whatever the status.
struct HttpPage {
    enum class Failure {
        None,      // an answer came: status, type and body below
        NoAnswer,  // no connection, unknown host, no answer in time, connection lost
        Secure,    // the secure connection failed (certificate, protocol)
        Other,
    };
    Failure failure = Failure::None;
    QString failureText;     // in the user's words, when failure is not None
    long status = 0;         // of the last answer, after redirects
    QByteArray contentType;  // its Content-Type header, empty when it has none
    QByteArray body;         // at most maxBytes of it
    bool truncated = false;  // the body went on past maxBytes and was cut there
};

// What the program's logic needs of an HTTP client; tests point it at a local server through
// the base address alone.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    // Fetches the body at address into localPath. True when the whole body arrived with a
    // success status and was written; false when the server could not be reached, answered
    // with an error status, stalled, or sent more than maxBytes. The file is replaced only by a
    // whole body: until then, and after a failure, it stays as it was. Local file errors throw
    // FileError.
    virtual bool DownloadToFile(const QString& address, const QString& localPath,
                                qint64 maxBytes) = 0;
    // The answer at address, kept in memory up to maxBytes of its body: a longer body is cut
    // there, which ends the transfer without failing it.
    virtual HttpPage Fetch(const QString& address, qint64 maxBytes) = 0;
    // The answer to a form posted to address (its fields URL-encoded), kept as Fetch keeps one.
    // A redirect posts the form again to the new address.
    virtual HttpPage Post(const QString& address,
                          const QList<std::pair<QByteArray, QByteArray>>& fields,
                          qint64 maxBytes) = 0;

    std::chrono::milliseconds ConnectTimeout{std::chrono::seconds(15)};
    // A transfer that moves less than one byte a second for this long has failed.
    std::chrono::seconds StallTimeout{30};
    // The longest a whole transfer may take; zero for no limit.
    std::chrono::milliseconds TotalTimeout{0};
    // Runs every few tens of milliseconds while a transfer waits, so the window stays alive. It
    // may throw (Cancelled) to abandon the transfer; the exception reaches the caller.
    std::function<void()> Pump;
};

// libcurl's easy interface: redirects followed (five at most), https with the system's
// certificates, the system's proxy settings.
class CurlHttpClient : public HttpClient {
public:
    bool DownloadToFile(const QString& address, const QString& localPath, qint64 maxBytes) override;
    HttpPage Fetch(const QString& address, qint64 maxBytes) override;
    HttpPage Post(const QString& address, const QList<std::pair<QByteArray, QByteArray>>& fields,
                  qint64 maxBytes) override;

private:
    HttpPage request(const QString& address, const QByteArray* form, qint64 maxBytes);
};

}  // namespace zor
