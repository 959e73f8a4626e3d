#include "publish/FtpClient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/TextFile.h"
#include "publish/FileDigest.h"

namespace zor::publish {
namespace {

// Large enough that a fast link is not held back by system calls, small enough that Pump and
// Progress run often.
constexpr qsizetype ChunkSize = 256 * 1024;
// A reply longer than this is not an FTP server talking.
constexpr qsizetype MaxReplySize = 1024 * 1024;

QString systemReason(int error) {
    return systemErrorText(error);
}

// A local file of a transfer, opened with POSIX calls so every failure has its reason.
class LocalFile {
public:
    // For sending: shared with other programs, which may go on reading and writing it.
    static LocalFile openForReading(const QString& path) {
        LocalFile f(path, ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        if (f.fd_ < 0) {
            f.fail(QStringLiteral("Не удалось открыть файл"), errno);
        }
        struct stat st {};
        if (::fstat(f.fd_, &st) != 0) {
            f.fail(QStringLiteral("Не удалось открыть файл"), errno);
        }
        // Checked here, before anything goes to the server, rather than found out mid-transfer.
        if (!S_ISREG(st.st_mode)) {
            throw FileError(
                QStringLiteral("\u00AB%1\u00BB \u2014 не файл, его нельзя передать на сервер.")
                    .arg(path));
        }
        return f;
    }

    // For receiving: a new file, never one that exists.
    static LocalFile create(const QString& path) {
        LocalFile f(path, ::open(QFile::encodeName(path).constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (f.fd_ < 0 && errno == EEXIST) {
            throw FtpError(QStringLiteral("Destination file already exists."));
        }
        if (f.fd_ < 0) {
            f.fail(QStringLiteral("Не удалось создать файл"), errno);
        }
        return f;
    }

    LocalFile(LocalFile&& other) noexcept : path_(other.path_), fd_(std::exchange(other.fd_, -1)) {}
    LocalFile& operator=(LocalFile&&) = delete;
    ~LocalFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    qsizetype read(char* buffer, qsizetype size) {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(size));
            if (n >= 0) {
                return n;
            }
            if (errno != EINTR) {
                fail(QStringLiteral("Не удалось прочитать файл"), errno);
            }
        }
    }

    void write(QByteArrayView bytes) {
        const char* p = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                fail(QStringLiteral("Не удалось записать файл"), errno);
            }
            p += n;
            left -= n;
        }
    }

    // Closes and reports what the system could only tell at closing.
    void close() {
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) {
            fail(QStringLiteral("Не удалось записать файл"), errno);
        }
    }

private:
    LocalFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}

    [[noreturn]] void fail(const QString& what, int error) const {
        throw FileError(
            QStringLiteral("%1 \u00AB%2\u00BB: %3").arg(what, path_, systemReason(error)));
    }

    QString path_;
    int fd_;
};

// Counts lines the way the site's text files are split (CR LF, LF or CR ends a line; a last line
// without an end counts too) over bytes that arrive in pieces.
class LineCounter {
public:
    void add(QByteArrayView bytes) {
        for (char c : bytes) {
            if (c == '\n') {
                ends_ += afterCr_ ? 0 : 1;
                afterCr_ = false;
            } else {
                ends_ += c == '\r' ? 1 : 0;
                afterCr_ = c == '\r';
            }
        }
        if (!bytes.isEmpty()) {
            open_ = bytes.back() != '\n' && bytes.back() != '\r';
        }
    }
    qint64 lines() const { return ends_ + (open_ ? 1 : 0); }

private:
    qint64 ends_ = 0;
    bool afterCr_ = false;
    bool open_ = false;
};

QString megabytes(qint64 bytes) {
    return QStringLiteral("%1 МБ").arg(bytes / (1024 * 1024));
}

QString lineCount(qint64 lines) {
    return QString::number(lines) + QStringLiteral(" строк");
}

// Marks the client busy for the length of one operation.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& flag_;
};

const QString BusyText =
    QStringLiteral("Соединение с сервером FTP занято другой командой. Дождитесь её окончания.");

}  // namespace

FtpClient::FtpClient() = default;
FtpClient::~FtpClient() = default;

template <typename Operation>
void FtpClient::run(Operation&& operation) {
    if (busy_) {
        throw FtpError(BusyText);
    }
    if (!control_.isOpen()) {
        throw FtpError(QStringLiteral("Нет соединения с сервером FTP."));
    }
    BusyScope busy(busy_);
    Pacer pacer(Timeout, Pump);
    try {
        operation(pacer);
        data_.close();
    } catch (...) {
        data_.abort();
        // With a reply still owed the conversation has lost its place: the next command would
        // read a stale answer as its own.
        if (replyOwed_) {
            closeControl();
        }
        throw;
    }
}

void FtpClient::send(const QByteArray& line, Pacer& pacer) {
    replyOwed_ = true;
    control_.sendAll(line, pacer);
}

FtpReply FtpClient::readReply(Pacer& pacer) {
    const PacerLimit whole(pacer, Pacer::Limit::Reply);
    for (;;) {
        if (auto reply = takeReply(received_)) {
            // A preliminary reply (1xx) or an answer that is not FTP leaves the final one owed.
            replyOwed_ = reply->code < 200;
            lastReply_ = *reply;
            return std::move(*reply);
        }
        if (received_.size() > MaxReplySize) {
            throw ConnectionLost(QStringLiteral("Сервер %1 прислал слишком длинный ответ.")
                                     .arg(control_.peerName()));
        }
        char chunk[4096];
        const qsizetype n = control_.receiveSome(chunk, sizeof chunk, pacer);
        if (n == 0) {
            throw ConnectionLost(
                QStringLiteral("Сервер %1 закрыл соединение.").arg(control_.peerName()));
        }
        received_.append(chunk, n);
    }
}

FtpReply FtpClient::expect(FtpReply reply, std::initializer_list<int> accepted) const {
    if (std::find(accepted.begin(), accepted.end(), reply.code) != accepted.end()) {
        return reply;
    }
    if (reply.code == 0) {
        throw FtpError(QStringLiteral("Сервер %1 отвечает не по протоколу FTP: \u00AB%2\u00BB.")
                           .arg(control_.peerName(), reply.text()));
    }
    const QString text =
        reply.text().trimmed().isEmpty()
            ? QStringLiteral("Сервер %1 ответил кодом %2.").arg(control_.peerName()).arg(reply.code)
            : reply.text();
    throw FtpError(text, reply.code);
}

FtpReply FtpClient::command(const QString& text, std::initializer_list<int> accepted,
                            Pacer& pacer) {
    send(commandLine(text), pacer);
    return expect(readReply(pacer), accepted);
}

void FtpClient::OpenSession() {
    if (control_.isOpen()) {
        throw FtpError(QStringLiteral("Already connected."));
    }
    if (busy_) {
        throw FtpError(BusyText);
    }
    BusyScope busy(busy_);
    Pacer pacer(Timeout, Pump);
    try {
        received_.clear();
        replyOwed_ = true;
        control_.connectToHost(Host, Port, pacer);
        expect(readReply(pacer), {220});
        if (command(QStringLiteral("USER ") + Username, {230, 331}, pacer).code == 331) {
            command(QStringLiteral("PASS ") + Password, {230}, pacer);
        }
        command(QStringLiteral("TYPE I"), {200}, pacer);
        command(QStringLiteral("SYST"), {200, 215, 500}, pacer);
        login_ = {Host, Username, Password, Port};
    } catch (...) {
        closeControl();
        throw;
    }
}

bool FtpClient::SessionMatchesAccount() const {
    return control_.isOpen() && login_.host == Host && login_.port == Port &&
           login_.user == Username && login_.password == Password;
}

void FtpClient::ChangeFolder(const QString& path) {
    run([&](Pacer& pacer) { command(QStringLiteral("CWD ") + path, {200, 250}, pacer); });
}

void FtpClient::MakeFolder(const QString& path) {
    run([&](Pacer& pacer) { command(QStringLiteral("MKD ") + path, {257}, pacer); });
}

void FtpClient::DeleteRemoteFile(const QString& path) {
    run([&](Pacer& pacer) { command(QStringLiteral("DELE ") + path, {250}, pacer); });
}

void FtpClient::RenameRemote(const QString& oldPath, const QString& newPath) {
    run([&](Pacer& pacer) {
        command(QStringLiteral("RNFR ") + oldPath, {350}, pacer);
        command(QStringLiteral("RNTO ") + newPath, {250}, pacer);
    });
}

quint16 FtpClient::enterPassive(Pacer& pacer) {
    const FtpReply reply = command(QStringLiteral("PASV"), {227}, pacer);
    const auto address = parsePassiveReply(reply.lines.value(0));
    if (!address) {
        throw FtpError(
            QStringLiteral(
                "Сервер %1 прислал непонятный адрес для передачи данных: \u00AB%2\u00BB.")
                .arg(control_.peerName(), reply.text()),
            reply.code);
    }
    // Only the port is taken. The data connection goes to the server this session talks to,
    // whatever address the reply names: a server behind NAT announces its private address, and
    // no server may send the client to a third machine.
    return address->port;
}

void FtpClient::receiveData(const QByteArray& line, Pacer& pacer,
                            const std::function<void(QByteArrayView)>& sink) {
    const quint16 port = enterPassive(pacer);
    data_.connectToPeerOf(control_, port, pacer);
    send(line, pacer);
    expect(readReply(pacer), {125, 150, 154});
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    {
        const PacerLimit rate(pacer, Pacer::Limit::Rate);
        for (;;) {
            const qsizetype n = data_.receiveSome(buffer.data(), ChunkSize, pacer);
            if (n == 0) {
                break;
            }
            sink(QByteArrayView(buffer.constData(), n));
            pacer.tick();
        }
    }
    data_.close();
    finishTransfer(pacer);
}

void FtpClient::finishTransfer(Pacer& pacer) {
    const FtpReply end = expect(readReply(pacer), {225, 226, 250, 426, 450});
    lastTransferEnd_ = end;
    if (end.code == 426 || end.code == 450) {
        // The server reports the transfer aborted on its side, then closes it with one more reply.
        replyOwed_ = true;
        expect(readReply(pacer), {225, 226});
    }
}

void FtpClient::ListFolder(QStringList& lines) {
    run([&](Pacer& pacer) {
        QByteArray listing;
        LineCounter counter;
        receiveData(commandLine(u"LIST"), pacer, [&](QByteArrayView bytes) {
            listing.append(bytes);
            counter.add(bytes);
            if (listing.size() > MaxListingBytes || counter.lines() > MaxListingLines) {
                throw FtpError(QStringLiteral("Сервер %1 прислал слишком длинный список файлов "
                                              "папки (больше %2 или %3); чтение прервано.")
                                   .arg(control_.peerName(), megabytes(MaxListingBytes),
                                        lineCount(MaxListingLines)));
            }
        });
        lines.append(textfile::splitLines(textfile::fromCp1251(listing)));
    });
}

void FtpClient::DownloadFile(const QString& remotePath, const QString& localPath,
                             DownloadLimit limit) {
    run([&](Pacer& pacer) {
        const QByteArray retr = commandLine(QStringLiteral("RETR ") + remotePath);
        LocalFile file = LocalFile::create(localPath);
        qint64 received = 0;
        LineCounter counter;
        receiveData(retr, pacer, [&](QByteArrayView bytes) {
            received += bytes.size();
            if (limit.maxBytes >= 0 && received > limit.maxBytes) {
                throw FtpError(
                    QStringLiteral("Файл \u00AB%1\u00BB на сервере %2 больше %3; "
                                   "скачивание прервано.")
                        .arg(remotePath, control_.peerName(), megabytes(limit.maxBytes)));
            }
            if (limit.maxLines >= 0) {
                counter.add(bytes);
                if (counter.lines() > limit.maxLines) {
                    throw FtpError(
                        QStringLiteral("Файл \u00AB%1\u00BB на сервере %2 длиннее %3; "
                                       "скачивание прервано.")
                            .arg(remotePath, control_.peerName(), lineCount(limit.maxLines)));
                }
            }
            file.write(bytes);
            if (Progress) {
                Progress(received);
            }
        });
        file.close();
    });
}

void FtpClient::UploadFile(const QString& localPath, const QString& remotePath,
                           QString* sentDigest) {
    run([&](Pacer& pacer) {
        const QByteArray stor = commandLine(QStringLiteral("STOR ") + remotePath);
        LocalFile file = LocalFile::openForReading(localPath);
        const quint16 port = enterPassive(pacer);
        // Most servers say nothing after STOR until the data connection is open.
        send(stor, pacer);
        data_.connectToPeerOf(control_, port, pacer);
        expect(readReply(pacer), {110, 125, 150});

        QByteArray buffer(ChunkSize, Qt::Uninitialized);
        qint64 sent = 0;
        Md5* md5 = nullptr;
        if (sentDigest) {
            if (!sentMd5_) {
                sentMd5_ = std::make_unique<Md5>();
            }
            md5 = sentMd5_.get();
            md5->restart();
        }
        const PacerLimit rate(pacer, Pacer::Limit::Rate);
        for (;;) {
            const qsizetype n = file.read(buffer.data(), ChunkSize);
            if (n == 0) {
                break;
            }
            try {
                data_.sendAll(QByteArrayView(buffer.constData(), n), pacer);
            } catch (const ConnectionLost& lost) {
                // The server's end reply would call a cut file complete ("426", then "226");
                // it is not. Its first words usually say why it stopped taking the file.
                data_.abort();
                QString text =
                    QStringLiteral("Файл передан на сервер не полностью. ") + lost.text();
                try {
                    const FtpReply why = readReply(pacer);
                    if (why.code >= 400) {
                        text = why.text() + u'\n' + text;
                    }
                } catch (const ConnectionLost&) {
                } catch (const ConnectionTimedOut&) {
                }
                replyOwed_ = true;
                throw FtpError(text);
            }
            if (md5) {
                md5->add(buffer.constData(), n);
            }
            sent += n;
            if (Progress) {
                Progress(sent);
            }
            pacer.tick();
        }
        // Closing the data connection marks the end of the file.
        data_.close();
        finishTransfer(pacer);
        if (md5) {
            *sentDigest = md5->hexDigest();
        }
    });
}

void FtpClient::CloseSession() {
    if (busy_) {
        throw FtpError(BusyText);
    }
    if (control_.isOpen()) {
        control_.sendNoWait(commandLine(u"QUIT"));
    }
    closeControl();
}

void FtpClient::DropConnection() {
    if (busy_) {
        throw FtpError(BusyText);
    }
    closeControl();
}

bool FtpClient::IsConnected() {
    if (!busy_ && control_.isOpen() && control_.peerHasClosed()) {
        closeControl();
    }
    return control_.isOpen();
}

void FtpClient::closeControl() {
    data_.close();
    control_.close();
    received_.clear();
    replyOwed_ = false;
}

}  // namespace zor::publish
