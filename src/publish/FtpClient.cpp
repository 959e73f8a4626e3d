#include "publish/FtpClient.h"

#include <poll.h>
#include <algorithm>

#include "platform/TextFile.h"
#include "publish/FileDigest.h"
#include "publish/LocalFile.h"
#include "publish/ProgressText.h"

namespace zor::publish {
namespace {

// Large enough that a fast link is not held back by system calls, small enough that Pump and
// Progress run often.
constexpr qsizetype ChunkSize = 256 * 1024;
// A reply longer than this is not an FTP server talking.
constexpr qsizetype MaxReplySize = 1024 * 1024;

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

const QString EndedWithoutCloseNotice = QStringLiteral(
    "защищённое соединение для передачи данных оборвалось без завершения, и "
    "сервер не подтвердил, что всё пришло.");

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
        if (replyOwed_ || passiveAhead_ || noopOwed_) {
            closeControl();
        }
        throw;
    }
}

void FtpClient::send(const QByteArray& line, Pacer& pacer) {
    replyOwed_ = true;
    control_.sendAll(line, pacer);
}

std::optional<FtpReply> FtpClient::bufferedReply() {
    if (auto reply = takeReply(received_)) {
        // A preliminary reply (1xx) or an answer that is not FTP leaves the final one owed.
        replyOwed_ = reply->code < 200;
        lastReply_ = *reply;
        return reply;
    }
    if (received_.size() > MaxReplySize) {
        throw ConnectionLost(
            QStringLiteral("Сервер %1 прислал слишком длинный ответ.").arg(control_.peerName()));
    }
    return std::nullopt;
}

FtpReply FtpClient::readReply(Pacer& pacer) {
    const PacerLimit whole(pacer, Pacer::Limit::Reply);
    for (;;) {
        if (auto reply = bufferedReply()) {
            return std::move(*reply);
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
    if (passiveAhead_) {
        passiveSentAhead(pacer);  // an answer nobody needs now
    }
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
        tlsRefused_ = false;
        canResume_.reset();
        passiveAhead_ = false;
        noopOwed_ = false;
        if (Habits.host != Host) {
            Habits = ServerHabits{};  // learned of another server
            Habits.host = Host;
        }
        acceptedFingerprint_.clear();
        const HostAndPort address = parseHostField(Host, Port);
        control_.connectToHost(address.host, address.port, pacer);
        expect(readReply(pacer), {220});
        const bool secure = Encryption != FtpEncryption::Off && secureControl(pacer);
        if (tlsRefused_ && AskPlainLogin && !AskPlainLogin()) {
            throw Cancelled();
        }
        if (command(QStringLiteral("USER ") + Username, {230, 331}, pacer).code == 331) {
            command(QStringLiteral("PASS ") + Password, {230}, pacer);
        }
        if (secure) {
            command(QStringLiteral("PBSZ 0"), {200}, pacer);
            command(QStringLiteral("PROT P"), {200}, pacer);
        }
        command(QStringLiteral("TYPE I"), {200}, pacer);
        command(QStringLiteral("SYST"), {200, 215, 500}, pacer);
        login_ = {Host, Username, Password, Port, Encryption};
    } catch (...) {
        closeControl();
        throw;
    }
    if (IsEncrypted() && SecuredLogin) {
        SecuredLogin();
    }
    if (SessionOpened) {
        SessionOpened();
    }
}

bool FtpClient::secureControl(Pacer& pacer) {
    send(commandLine(u"AUTH TLS"), pacer);
    const FtpReply reply = readReply(pacer);
    if (reply.code != 234) {
        const bool refused = reply.code == 500 || reply.code == 502 || reply.code == 504 ||
                             reply.code == 530 || reply.code == 534;
        if (refused && Encryption == FtpEncryption::IfAvailable && TlsKnown) {
            throw FtpError(
                QStringLiteral("Сервер %1 больше не предлагает защищённое соединение: на "
                               "«AUTH TLS» он ответил «%2 %3», хотя раньше этот сайт соединялся "
                               "с ним по TLS. Так бывает, когда кто-то между вами и сервером "
                               "пытается узнать пароль; пароль не отправлен. Если шифрование на "
                               "сервере действительно отключено, выберите на экране загрузки "
                               "«%4».")
                    .arg(control_.peerName())
                    .arg(reply.code)
                    .arg(reply.text().trimmed(), QStringLiteral("Без шифрования")),
                reply.code);
        }
        if (refused && Encryption == FtpEncryption::IfAvailable) {
            tlsRefused_ = true;
            return false;
        }
        if (refused) {
            throw FtpError(
                QStringLiteral("Сервер %1 не поддерживает защищённое соединение (FTP через TLS): "
                               "на «AUTH TLS» он ответил «%2 %3». Пароль не "
                               "отправлен. Если у сервера нет защищённого соединения, выберите "
                               "на экране загрузки «%4».")
                    .arg(control_.peerName())
                    .arg(reply.code)
                    .arg(reply.text().trimmed(), QStringLiteral("Без шифрования")),
                reply.code);
        }
        expect(reply, {234});
    }
    // Whatever came in the clear after the answer would be taken as the server's words later.
    if (!received_.isEmpty()) {
        throw FtpError(QStringLiteral("Сервер %1 прислал лишние данные перед началом защищённого "
                                      "соединения; соединение прервано.")
                           .arg(control_.peerName()));
    }
    if (!tls_) {
        tls_ = std::make_unique<TlsContext>();
    }
    control_.startTls(*tls_, nullptr, pacer);
    checkCertificate();
    return true;
}

void FtpClient::checkCertificate() {
    ServerCertificate certificate = control_.tls()->certificate();
    const bool remembered =
        !TrustedFingerprint.isEmpty() &&
        certificate.fingerprint.compare(TrustedFingerprint, Qt::CaseInsensitive) == 0;
    if (!certificate.problems.isEmpty() && !remembered) {
        certificate.previousFingerprint = TrustedFingerprint;
        const CertificateTrust answer = AskTrust ? AskTrust(certificate) : CertificateTrust::No;
        if (answer == CertificateTrust::No) {
            throw UntrustedCertificate(certificate);
        }
        if (answer == CertificateTrust::Always) {
            TrustedFingerprint = certificate.fingerprint;
        }
    }
    acceptedFingerprint_ = certificate.fingerprint;
}

bool FtpClient::SessionMatchesAccount() const {
    return control_.isOpen() && login_.host == Host && login_.port == Port &&
           login_.user == Username && login_.password == Password &&
           login_.encryption == Encryption;
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
    // A port opened long ago may have been given up by the server meanwhile.
    const bool fresh = std::chrono::steady_clock::now() - passiveAheadAt_ < MaxPassiveAheadAge;
    if (const auto ahead = passiveSentAhead(pacer); ahead && fresh) {
        return *ahead;
    }
    return passivePort(command(QStringLiteral("PASV"), {227}, pacer));
}

std::optional<quint16> FtpClient::passiveSentAhead(Pacer& pacer) {
    if (!passiveAhead_) {
        return std::nullopt;
    }
    replyOwed_ = true;
    const FtpReply reply = readReply(pacer);
    passiveAhead_ = false;
    // A refusal only means the next transfer asks again.
    if (reply.code != 227) {
        return std::nullopt;
    }
    return passivePort(reply);
}

bool FtpClient::handshakeAtOnce() const {
    // A server that reads one command at a time takes the data connection only once it has
    // read the command for it, so a handshake arriving early never finds a connection it does
    // not expect.
    return Habits.startAfterHandshake || Habits.oneCommandAtATime.value_or(false);
}

void FtpClient::learn(const std::function<void(ServerHabits&)>& change) {
    ServerHabits next = Habits;
    next.host = Host;
    change(next);
    if (next == Habits) {
        return;
    }
    Habits = next;
    if (HabitsLearned) {
        HabitsLearned();
    }
}

void FtpClient::AdoptHabits(const ServerHabits& seen) {
    if (seen.host != Host) {
        return;
    }
    learn([&seen](ServerHabits& h) {
        h.startAfterHandshake = h.startAfterHandshake || seen.startAfterHandshake;
        if (!h.oneCommandAtATime) {
            h.oneCommandAtATime = seen.oneCommandAtATime;
        }
    });
}

void FtpClient::probeHabits(Pacer& pacer) {
    send(commandLine(u"NOOP"), pacer);
    // Nothing of the file has gone yet, so the transfer cannot have ended: an answer now comes
    // from a server that reads commands during a transfer.
    const auto answer =
        replyWithin(std::min<std::chrono::milliseconds>(HabitProbeWait, Timeout / 2));
    if (answer) {
        learn([](ServerHabits& h) { h.oneCommandAtATime = false; });
        return;
    }
    noopOwed_ = true;
    learn([](ServerHabits& h) { h.oneCommandAtATime = true; });
}

quint16 FtpClient::passivePort(const FtpReply& reply) const {
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

void FtpClient::openData(quint16 port, Pacer& pacer) {
    data_.connectToPeerOf(control_, port, pacer);
    if (control_.tls()) {
        data_.beginTls(*tls_, &control_);
    }
}

std::optional<FtpReply> FtpClient::replyArrived() {
    for (;;) {
        if (auto reply = bufferedReply()) {
            return reply;
        }
        char chunk[4096];
        const qsizetype n = control_.receiveNow(chunk, sizeof chunk);
        if (n == 0) {
            throw ConnectionLost(
                QStringLiteral("Сервер %1 закрыл соединение.").arg(control_.peerName()));
        }
        if (n < 0) {
            return std::nullopt;
        }
        received_.append(chunk, n);
    }
}

std::optional<FtpReply> FtpClient::replyWithin(std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (auto reply = replyArrived()) {
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        Pacer slice(left, Pump);
        try {
            TcpConnection::waitEither(control_, POLLIN, data_, 0, slice);
        } catch (const ConnectionTimedOut&) {
            return std::nullopt;
        }
    }
}

FtpReply FtpClient::startReply(std::initializer_list<int> accepted, Pacer& pacer) {
    if (!data_.tls()) {
        return expect(readReply(pacer), accepted);
    }
    const PacerLimit whole(pacer, Pacer::Limit::Reply);
    // The handshake waits for the answer: a server may take bytes that reach a data connection
    // before it has read the command for a connection gone astray and drop it. A server that
    // keeps its answer until the handshake is done is let have it first, side by side with the
    // answer, for the rest of the session.
    std::optional<FtpReply> start;
    if (!handshakeAtOnce()) {
        start = replyWithin(std::min<std::chrono::milliseconds>(MaxStartWait, Timeout / 2));
        if (start) {
            expect(*start, accepted);
        } else {
            learn([](ServerHabits& h) { h.startAfterHandshake = true; });
        }
    }
    for (;;) {
        short handshake = 0;
        try {
            handshake = data_.continueTls();
        } catch (const ConnectionLost&) {
            // A server that refuses the command may drop the data connection first: its answer
            // says more than the broken handshake.
            if (!start) {
                expect(readReply(pacer), accepted);
            }
            throw;
        }
        if (!start) {
            start = replyArrived();
            if (start) {
                expect(*start, accepted);
                continue;
            }
        } else if (handshake == 0) {
            break;
        }
        TcpConnection::waitEither(data_, handshake, control_, start ? 0 : POLLIN, pacer);
    }
    // A resumed session carries the control connection's certificate; another one here is
    // another peer.
    if (data_.tls()->fingerprint() != acceptedFingerprint_) {
        throw FtpError(QStringLiteral("Сервер %1 предъявил для передачи данных другой сертификат, "
                                      "чем для соединения; передача прервана.")
                           .arg(control_.peerName()));
    }
    return *start;
}

bool FtpClient::receiveData(const QByteArray& line, qint64 from, Pacer& pacer,
                            const std::function<void(QByteArrayView)>& sink,
                            const QString& failure) {
    const quint16 port = enterPassive(pacer);
    openData(port, pacer);
    if (from > 0) {
        command(QStringLiteral("REST %1").arg(from), {350}, pacer);
    }
    send(line, pacer);
    startReply({125, 150, 154}, pacer);
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
    const bool clean = data_.endedCleanly();
    data_.close();
    finishTransfer(pacer, failure);
    return clean;
}

void FtpClient::finishTransfer(Pacer& pacer, const QString& failure) {
    const FtpReply end = readReply(pacer);
    if (end.code == 226 || end.code == 250) {
        if (noopOwed_) {
            // The probe's NOOP, whatever the answer. The file is confirmed already: a server
            // that goes instead of answering costs the session, not the file.
            replyOwed_ = true;
            noopOwed_ = false;
            try {
                readReply(pacer);
            } catch (const ConnectionLost&) {
                closeControl();
            } catch (const ConnectionTimedOut&) {
                closeControl();
            }
        }
        return;
    }
    // Answers still owed behind this one (a PASV sent ahead, the probe's NOOP): the session
    // goes rather than sort them out.
    const bool owedBehind = passiveAhead_ || noopOwed_;
    if (passiveAhead_ && (end.code == 426 || end.code == 451)) {
        // Perhaps the early PASV broke the transfer off after all: never again here.
        learn([](ServerHabits& h) { h.oneCommandAtATime = false; });
    }
    if (owedBehind) {
        replyOwed_ = true;
    }
    if (end.code == 0) {
        expect(end, {226, 250});
    }
    if (!owedBehind && end.code == 426 && !replyArrived()) {
        // A server that aborted at our ABOR closes the transfer with one more reply; one that
        // gave up by itself says nothing more. Unless that reply has come already, the session
        // goes, so that a late one cannot pass for the answer to the next command.
        replyOwed_ = true;
    }
    const QString words = end.text().trimmed().isEmpty()
                              ? QStringLiteral("Сервер ответил кодом %1.").arg(end.code)
                              : end.text();
    throw FtpError(failure + u'\n' + words, end.code);
}

QString FtpClient::cutListingText() const {
    return QStringLiteral("Список файлов папки получен с сервера %1 не полностью:")
        .arg(control_.peerName());
}

void FtpClient::ListFolder(QStringList& lines) {
    run([&](Pacer& pacer) {
        QByteArray listing;
        LineCounter counter;
        const bool clean = receiveData(
            commandLine(u"LIST"), 0, pacer,
            [&](QByteArrayView bytes) {
                listing.append(bytes);
                counter.add(bytes);
                if (listing.size() > MaxListingBytes || counter.lines() > MaxListingLines) {
                    throw FtpError(QStringLiteral("Сервер %1 прислал слишком длинный список файлов "
                                                  "папки (больше %2 или %3); чтение прервано.")
                                       .arg(control_.peerName(), megabytes(MaxListingBytes),
                                            lineCount(MaxListingLines)));
                }
            },
            cutListingText());
        if (!clean) {
            throw FtpError(cutListingText() + u'\n' + EndedWithoutCloseNotice);
        }
        lines.append(textfile::splitLines(textfile::fromCp1251(listing)));
    });
}

void FtpClient::DownloadFile(const QString& remotePath, const QString& localPath,
                             DownloadLimit limit, qint64 from) {
    run([&](Pacer& pacer) {
        const QByteArray retr = commandLine(QStringLiteral("RETR ") + remotePath);
        LocalFile file =
            from > 0 ? LocalFile::openToContinue(localPath, from) : LocalFile::create(localPath);
        qint64 received = from;
        LineCounter counter;
        const QString cut = QStringLiteral("Файл \u00AB%1\u00BB получен с сервера %2 не полностью:")
                                .arg(remotePath, control_.peerName());
        const bool clean = receiveData(
            retr, from, pacer,
            [&](QByteArrayView bytes) {
                received += bytes.size();
                if (limit.shared && !limit.shared->take(bytes.size())) {
                    throw FtpError(
                        QStringLiteral("Файлы на сервере %1 вместе больше %2; скачивание "
                                       "прервано.")
                            .arg(control_.peerName(), sizeText(limit.shared->maxBytes())));
                }
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
            },
            cut);
        file.close();
        if (!clean) {
            // Without the close notice only the server's own count of the file's bytes says
            // whether all of them came.
            const FtpReply size = command(QStringLiteral("SIZE ") + remotePath,
                                          {213, 500, 501, 502, 504, 550}, pacer);
            bool ok = false;
            const qint64 whole = size.lines.value(0).trimmed().toLongLong(&ok);
            if (size.code != 213 || !ok || whole != received) {
                throw FtpError(cut + u'\n' + EndedWithoutCloseNotice);
            }
        }
    });
}

void FtpClient::UploadFile(const QString& localPath, const QString& remotePath, QString* sentDigest,
                           qint64 from) {
    run([&](Pacer& pacer) {
        const QByteArray stor = commandLine(QStringLiteral("STOR ") + remotePath);
        LocalFile file = LocalFile::openForReading(localPath);
        const quint16 port = enterPassive(pacer);
        if (from > 0) {
            command(QStringLiteral("REST %1").arg(from), {350}, pacer);
        }
        // Most servers say nothing after STOR until the data connection is open.
        send(stor, pacer);
        openData(port, pacer);
        // The first file sent to a server whose ways are not known finds them out, once.
        const bool probe = PassiveAhead && !Habits.oneCommandAtATime.has_value();
        // Bytes that fit into the connection's buffers wait there for a server that has not
        // answered yet; a server that refuses the file then says so in the start reply, read
        // after them, and nothing is taken for sent.
        const bool early = SendBeforeStartReply && !data_.tls() && from == 0 && !probe &&
                           file.size() <= MaxSentBeforeStartReply;
        if (!early) {
            startReply({110, 125, 150}, pacer);
        }
        if (probe) {
            probeHabits(pacer);
        }

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
        // What the server holds already is read for the digest only.
        for (qint64 skipped = 0; skipped < from;) {
            const qsizetype n = file.read(
                buffer.data(), static_cast<qsizetype>(std::min<qint64>(ChunkSize, from - skipped)));
            if (n == 0) {
                throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB стал короче, чем его часть на "
                                              "сервере; передача прервана.")
                                   .arg(localPath));
            }
            if (md5) {
                md5->add(buffer.constData(), n);
            }
            skipped += n;
            pacer.tick();
        }
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
                int code = 0;
                try {
                    const FtpReply why = readReply(pacer);
                    if (why.code >= 400) {
                        text = why.text() + u'\n' + text;
                        code = why.code;
                    }
                } catch (const ConnectionLost&) {
                } catch (const ConnectionTimedOut&) {
                }
                replyOwed_ = true;
                // The server's reason says whether it may pass; without one, the link broke.
                if (code != 0) {
                    throw FtpError(text, code);
                }
                throw ConnectionLost(text);
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
        if (PassiveAhead && Habits.oneCommandAtATime.value_or(false)) {
            // Read once the transfer has ended, by the server and then by the next transfer.
            send(commandLine(u"PASV"), pacer);
            passiveAhead_ = true;
            passiveAheadAt_ = std::chrono::steady_clock::now();
        }
        // Closing the data connection marks the end of the file.
        data_.finish(pacer);
        if (early) {
            startReply({110, 125, 150}, pacer);
        }
        finishTransfer(pacer, QStringLiteral("Сервер %1 не подтвердил приём файла \u00AB%2\u00BB:")
                                  .arg(control_.peerName(), remotePath));
        if (md5) {
            *sentDigest = md5->hexDigest();
        }
    });
}

qint64 FtpClient::RemoteSize(const QString& path) {
    qint64 size = -1;
    run([&](Pacer& pacer) {
        const FtpReply reply =
            command(QStringLiteral("SIZE ") + path, {213, 500, 501, 502, 504, 550}, pacer);
        bool ok = false;
        const qint64 n = reply.lines.value(0).trimmed().toLongLong(&ok);
        size = reply.code == 213 && ok && n >= 0 ? n : -1;
    });
    return size;
}

bool FtpClient::CanResume() {
    if (!canResume_) {
        run([&](Pacer& pacer) {
            const FtpReply features = command(QStringLiteral("FEAT"), {211, 500, 502}, pacer);
            bool listed = false;
            for (const QString& line : features.lines) {
                listed = listed || line.trimmed().compare(QStringLiteral("REST STREAM"),
                                                          Qt::CaseInsensitive) == 0;
            }
            // Not every server lists it; one that takes a restart at 0 restarts anywhere.
            canResume_ =
                listed ||
                command(QStringLiteral("REST 0"), {350, 500, 501, 502, 504}, pacer).code == 350;
        });
    }
    return *canResume_;
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
    passiveAhead_ = false;
    noopOwed_ = false;
}

}  // namespace zor::publish
