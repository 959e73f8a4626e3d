#include "update/Download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <memory>

namespace zor::update {
namespace {

// How long one wait for the network lasts before the pump runs again.
constexpr int PollMs = 50;
constexpr long MaxRedirects = 5;

[[noreturn]] void throwFileError(const QString& path, int err) {
    throw FileError(QStringLiteral("Не удалось записать файл \u00AB%1\u00BB: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(err))));
}

// The file a body goes into, created or truncated at once. A symbolic link in its place is not
// followed.
class LocalFile {
public:
    explicit LocalFile(const QString& path) : path_(path) {
        fd_ = ::open(QFile::encodeName(path).constData(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            throwFileError(path, errno);
        }
    }
    ~LocalFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // 0 when every byte was written, the error number otherwise.
    int write(const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        return 0;
    }
    // Synced and closed; throws when the disk did not take it.
    void finish() {
        const int fd = fd_;
        fd_ = -1;
        if (::fsync(fd) != 0) {
            const int err = errno;
            ::close(fd);
            throwFileError(path_, err);
        }
        if (::close(fd) != 0) {
            throwFileError(path_, errno);
        }
    }
    const QString& path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};

struct Transfer {
    LocalFile& file;
    qint64 maxBytes;
    qint64 received = 0;
    int writeError = 0;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (t->received + static_cast<qint64>(bytes) > t->maxBytes) {
        return 0;  // more than anyone should send: the transfer fails
    }
    t->writeError = t->file.write(data, bytes);
    if (t->writeError != 0) {
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
    LocalFile file(localPath);
    Transfer transfer{file, maxBytes};

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
    if (transfer.writeError != 0) {
        throwFileError(file.path(), transfer.writeError);
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK || status < 200 || status > 299) {
        return false;
    }
    file.finish();
    return true;
}

}  // namespace zor::update
