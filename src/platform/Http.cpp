#include "platform/Http.h"

#include <curl/curl.h>
#include <QCoreApplication>
#include <QFileInfo>
#include <exception>
#include <memory>

#include "platform/AtomicFile.h"

namespace zor {
namespace {

// How long one wait for the network lasts before the pump runs again.
constexpr int PollMs = 50;
constexpr long MaxRedirects = 5;

struct Transfer {
    AtomicFile& file;
    qint64 maxBytes;
    qint64 received = 0;
    std::exception_ptr writeError;  // held until libcurl has returned: it must not cross C code
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (t->received + static_cast<qint64>(bytes) > t->maxBytes) {
        return 0;  // more than anyone should send: the transfer fails
    }
    try {
        t->file.write(data, static_cast<qsizetype>(bytes));
    } catch (...) {
        t->writeError = std::current_exception();
        return 0;
    }
    t->received += static_cast<qint64>(bytes);
    return bytes;
}

struct Memory {
    QByteArray& body;
    qint64 maxBytes;
    bool truncated = false;
};

size_t keepBody(char* data, size_t size, size_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const qint64 bytes = static_cast<qint64>(size * count);
    const qint64 room = m->maxBytes - m->body.size();
    if (bytes > room) {
        m->body.append(data, static_cast<qsizetype>(room));
        m->truncated = true;
        return 0;  // enough of it: libcurl ends the transfer here
    }
    m->body.append(data, static_cast<qsizetype>(bytes));
    return static_cast<size_t>(bytes);
}

QByteArray agentName() {
    if (!QCoreApplication::instance()) {
        return "zorod";
    }
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8();
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};

// The easy handle's part in a multi handle, undone before either goes.
class Attached {
public:
    Attached(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        ok_ = curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~Attached() {
        if (ok_) {
            curl_multi_remove_handle(multi_, easy_);
        }
    }
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;
    bool ok() const { return ok_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool ok_ = false;
};

void initialiseOnce() {
    static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)done;
}

// One easy handle set up as every request of the program is, and driven to its end.
class Request {
public:
    Request(const HttpClient& client, const QString& address) : pump_(client.Pump) {
        initialiseOnce();
        easy_.reset(curl_easy_init());
        multi_.reset(curl_multi_init());
        CURL* h = easy_.get();
        // libcurl keeps its own copies of the texts it is given.
        const QByteArray url = address.toUtf8();
        const QByteArray agent = agentName();
        // An https address is never sent on over plain http.
        const bool https = address.startsWith(QStringLiteral("https:"), Qt::CaseInsensitive);
        const auto ms = [](std::chrono::milliseconds t) { return static_cast<long>(t.count()); };
        ok_ =
            h && multi_ && curl_easy_setopt(h, CURLOPT_URL, url.constData()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_USERAGENT, agent.constData()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https") ==
                CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_MAXREDIRS, MaxRedirects) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, ms(client.ConnectTimeout)) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                             static_cast<long>(client.StallTimeout.count())) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, ms(client.TotalTimeout)) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_) == CURLE_OK;
    }

    CURL* handle() const { return easy_.get(); }
    // The caller's own options: a request that one of them fails does not start.
    void set(bool ok) { ok_ = ok_ && ok; }
    const char* errorText() const { return error_; }

    // The multi handle only drives the one transfer, so the pump gets its turn even while the
    // server says nothing. CURLE_FAILED_INIT when the request could not even start.
    CURLcode perform() {
        if (!ok_) {
            return CURLE_FAILED_INIT;
        }
        CURL* h = easy_.get();
        Attached attached(multi_.get(), h);
        if (!attached.ok()) {
            return CURLE_FAILED_INIT;
        }
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
                return CURLE_FAILED_INIT;
            }
            if (running == 0) {
                break;
            }
            if (curl_multi_poll(multi_.get(), nullptr, 0, PollMs, nullptr) != CURLM_OK) {
                return CURLE_FAILED_INIT;
            }
            if (pump_) {
                pump_();
            }
        }
        CURLcode result = CURLE_FAILED_INIT;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
                result = message->data.result;
            }
        }
        return result;
    }

    long status() const {
        long status = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

private:
    std::function<void()> pump_;
    std::unique_ptr<CURL, EasyDeleter> easy_;
    std::unique_ptr<CURLM, MultiDeleter> multi_;
    char error_[CURL_ERROR_SIZE] = {};
    bool ok_ = false;
};

// Why no answer came, in the user's words.
HttpPage::Failure failureOf(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return HttpPage::Failure::NoAnswer;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return HttpPage::Failure::Secure;
        default:
            return HttpPage::Failure::Other;
    }
}

QString failureText(CURLcode code, const HttpClient& client, const char* detail) {
    const QString details = QString::fromUtf8(detail).trimmed();
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("имя сервера не найдено");
        case CURLE_COULDNT_CONNECT:
            return QStringLiteral("соединение не установлено");
        case CURLE_OPERATION_TIMEDOUT:
            return QStringLiteral("нет ответа за %1 с")
                .arg(std::chrono::ceil<std::chrono::seconds>(client.TotalTimeout.count() > 0
                                                                 ? client.TotalTimeout
                                                                 : client.ConnectTimeout)
                         .count());
        case CURLE_GOT_NOTHING:
            return QStringLiteral("сервер закрыл соединение, ничего не ответив");
        default:
            return details.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : details;
    }
}

}  // namespace

bool CurlHttpClient::DownloadToFile(const QString& address, const QString& localPath,
                                    qint64 maxBytes) {
    AtomicFile file(localPath);
    Transfer transfer{file, maxBytes, 0, nullptr};
    Request request(*this, address);
    CURL* h = request.handle();
    request.set(curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes)) ==
                    CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer) == CURLE_OK);
    const CURLcode result = request.perform();
    if (transfer.writeError) {
        std::rethrow_exception(transfer.writeError);
    }
    const long status = request.status();
    if (result != CURLE_OK || status < 200 || status > 299) {
        return false;
    }
    file.commit();
    return true;
}

HttpPage CurlHttpClient::Fetch(const QString& address, qint64 maxBytes) {
    return request(address, nullptr, maxBytes);
}

HttpPage CurlHttpClient::Post(const QString& address,
                              const QList<std::pair<QByteArray, QByteArray>>& fields,
                              qint64 maxBytes) {
    QByteArray form;
    for (const auto& [name, value] : fields) {
        if (!form.isEmpty()) {
            form += '&';
        }
        form += name.toPercentEncoding() + '=' + value.toPercentEncoding();
    }
    return request(address, &form, maxBytes);
}

HttpPage CurlHttpClient::request(const QString& address, const QByteArray* form, qint64 maxBytes) {
    HttpPage page;
    Memory memory{page.body, maxBytes};
    Request request(*this, address);
    CURL* h = request.handle();
    request.set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &keepBody) == CURLE_OK &&
                curl_easy_setopt(h, CURLOPT_WRITEDATA, &memory) == CURLE_OK);
    if (form) {
        request.set(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                     static_cast<curl_off_t>(form->size())) == CURLE_OK &&
                    curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, form->constData()) == CURLE_OK &&
                    curl_easy_setopt(h, CURLOPT_POSTREDIR,
                                     static_cast<long>(CURL_REDIR_POST_ALL)) == CURLE_OK);
    }
    CURLcode result = request.perform();
    if (result == CURLE_WRITE_ERROR && memory.truncated) {
        result = CURLE_OK;
    }
    page.truncated = memory.truncated;
    if (result != CURLE_OK) {
        page.failure = failureOf(result);
        page.failureText = failureText(result, *this, request.errorText());
        return page;
    }
    page.status = request.status();
    char* type = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
        page.contentType = type;
    }
    return page;
}

}  // namespace zor
