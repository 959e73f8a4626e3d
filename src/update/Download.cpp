#include "update/Download.h"

#include <curl/curl.h>
#include <QCoreApplication>
#include <QFileInfo>
#include <exception>
#include <memory>

#include "platform/AtomicFile.h"

namespace zor::update {
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

}  // namespace

bool CurlDownloader::DownloadToFile(const QString& address, const QString& localPath,
                                    qint64 maxBytes) {
    AtomicFile file(localPath);
    Transfer transfer{file, maxBytes, 0, nullptr};

    initialiseOnce();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        return false;
    }
    CURL* h = easy.get();
    const QByteArray url = address.toUtf8();
    const QByteArray agent = agentName();
    // An https address is never sent on over plain http.
    const char* redirectProtocols =
        address.startsWith(QStringLiteral("https:"), Qt::CaseInsensitive) ? "https" : "http,https";
    const bool configured =
        curl_easy_setopt(h, CURLOPT_URL, url.constData()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_USERAGENT, agent.constData()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, MaxRedirects) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeout.count())) ==
            CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(StallTimeout.count())) ==
            CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes)) ==
            CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (!configured) {
        return false;
    }

    // The multi handle only drives the one transfer, so the pump gets its turn even while the
    // server says nothing.
    CURLcode result = CURLE_FAILED_INIT;
    {
        Attached attached(multi.get(), h);
        if (!attached.ok()) {
            return false;
        }
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
                return false;
            }
            if (running == 0) {
                break;
            }
            if (curl_multi_poll(multi.get(), nullptr, 0, PollMs, nullptr) != CURLM_OK) {
                return false;
            }
            if (Pump) {
                Pump();
            }
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
                result = message->data.result;
            }
        }
    }
    if (transfer.writeError) {
        std::rethrow_exception(transfer.writeError);
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK || status < 200 || status > 299) {
        return false;
    }
    file.commit();
    return true;
}

}  // namespace zor::update
