#include "publish/SftpClient.h"

#include <libssh/libssh.h>
#include <QDir>
#include <algorithm>
#include <deque>
#include <map>
#include <utility>

#include "publish/FileDigest.h"
#include "publish/FtpProtocol.h"
#include "publish/LocalFile.h"
#include "publish/ProgressText.h"
#include "publish/SftpProtocol.h"
#include "publish/SftpSession.h"

namespace zor::publish {

using namespace sftp;

SftpClient::SftpClient() : UserSshFolder(userSshFolder()) {
    Port = 22;
}

SftpClient::~SftpClient() = default;

QString SftpClient::userSshFolder() {
    return QDir::homePath() + QStringLiteral("/.ssh");
}

namespace {

// Runs an operation of an open session: a refusal leaves it open, anything else (a lost
// connection, a time-out, a cancel) drops it, since what the server still owes is unknown.
template <typename Operation>
auto guarded(std::unique_ptr<SftpClient::Session>& session, Operation&& operation) {
    if (!session) {
        throw FtpError(QStringLiteral("Нет соединения с сервером."));
    }
    try {
        return operation(*session);
    } catch (const SftpRefusal&) {
        throw;
    } catch (...) {
        session.reset();
        throw;
    }
}

}  // namespace

void SftpClient::OpenSession() {
    if (session_) {
        throw FtpError(QStringLiteral("Already connected."));
    }
    const HostAndPort address = parseHostField(Host, Port);
    acceptedFingerprint_.clear();
    // An upload expected by a command that ended (a cancel, a lost connection) is nobody's now.
    expected_.clear();
    auto session = std::make_unique<Session>(*this, hostLabel(address.host, address.port));
    session->passphrase = KeyPassphrase;
    session->open(address.host, address.port);
    KeyPassphrase = session->passphrase;
    // Relative paths start where the server puts the user.
    const Reply r = session->await(
        session->request(FxpRealpath, [](Packet& p) { p.str(QByteArrayLiteral(".")); }));
    if (r.type == FxpName) {
        Reader reader(r.body);
        if (reader.u32() > 0) {
            session->folder = QString::fromUtf8(reader.str());
        }
    }
    session_ = std::move(session);
    login_ = {Host, Username, Password, KeyFile, Port};
    if (SessionOpened) {
        SessionOpened();
    }
}

bool SftpClient::SessionMatchesAccount() const {
    return session_ && login_.host == Host && login_.port == Port && login_.user == Username &&
           login_.password == Password && login_.keyFile == KeyFile;
}

void SftpClient::ChangeFolder(const QString& path) {
    guarded(session_, [&](Session& s) {
        const QString wanted = s.resolve(path);
        const QString what = QStringLiteral("Папка \u00AB%1\u00BB на сервере").arg(path);
        const Reply r = s.await(s.request(FxpRealpath, [&](Packet& p) { p.str(wanted.toUtf8()); }));
        if (r.type == FxpStatus) {
            s.refuse(r, what);
        }
        if (r.type != FxpName) {
            throw BadReply();
        }
        Reader reader(r.body);
        if (reader.u32() == 0) {
            throw BadReply();
        }
        const QString real = QString::fromUtf8(reader.str());
        const std::optional<Attributes> a = s.stat(real, what);
        if (!a) {
            throw SftpRefusal(what + QStringLiteral(": ") + sftpStatusText(FxNoSuchFile) + u'.',
                              550);
        }
        if (!a->isFolder()) {
            throw SftpRefusal(what + QStringLiteral(": ") + sftpStatusText(19) + u'.', 550);
        }
        s.folder = real;
    });
}

void SftpClient::ListFolder(QStringList& lines) {
    guarded(session_, [&](Session& s) {
        const QString what = QStringLiteral("Список папки \u00AB%1\u00BB").arg(s.folder);
        const QByteArray handle = s.expectHandle(
            s.await(s.request(FxpOpendir, [&](Packet& p) { p.str(s.folder.toUtf8()); })), what);
        QStringList listed;
        qint64 bytes = 0;
        for (;;) {
            const Reply r = s.await(s.request(FxpReaddir, [&](Packet& p) { p.str(handle); }));
            if (r.type == FxpStatus && Session::statusOf(r) == FxEof) {
                break;
            }
            if (r.type == FxpStatus) {
                s.closeHandleLater(handle);
                s.refuse(r, what);
            }
            if (r.type != FxpName) {
                throw BadReply();
            }
            bytes += r.body.size();
            Reader reader(r.body);
            for (quint32 n = reader.u32(); n > 0; --n) {
                const QString name = QString::fromUtf8(reader.str());
                reader.str();  // the server's own "ls -l" line, not trusted for its layout
                listed.append(listingLine(name, reader.attributes()));
            }
            if (bytes > MaxListingBytes || listed.size() > MaxListingLines) {
                s.closeHandleLater(handle);
                throw SftpRefusal(QStringLiteral("Сервер %1 прислал слишком длинный список файлов "
                                                 "папки (больше %2 или %3 строк); чтение прервано.")
                                      .arg(s.peer, sizeText(MaxListingBytes))
                                      .arg(MaxListingLines));
            }
        }
        s.closeHandle(handle, what);
        lines.append(listed);
    });
}

void SftpClient::MakeFolder(const QString& path) {
    guarded(session_, [&](Session& s) {
        s.expectOk(s.await(s.request(FxpMkdir,
                                     [&](Packet& p) { p.str(s.resolve(path).toUtf8()).u32(0); })),
                   QStringLiteral("Папка \u00AB%1\u00BB не создана").arg(path));
    });
}

void SftpClient::DeleteRemoteFile(const QString& path) {
    guarded(session_, [&](Session& s) {
        s.expectOk(
            s.await(s.request(FxpRemove, [&](Packet& p) { p.str(s.resolve(path).toUtf8()); })),
            QStringLiteral("Файл \u00AB%1\u00BB не удалён").arg(path));
    });
}

void SftpClient::RenameRemote(const QString& oldPath, const QString& newPath) {
    guarded(session_, [&](Session& s) {
        const QByteArray from = s.resolve(oldPath).toUtf8(), to = s.resolve(newPath).toUtf8();
        // The OpenSSH extension replaces a file of the new name, as a rename on the server's
        // disk does; plain SFTP refuses to.
        const quint32 id =
            s.posixRename
                ? s.request(FxpExtended, [&](Packet& p) { p.str(PosixRename).str(from).str(to); })
                : s.request(FxpRename, [&](Packet& p) { p.str(from).str(to); });
        s.expectOk(s.await(id), QStringLiteral("\u00AB%1\u00BB не переименован в \u00AB%2\u00BB")
                                    .arg(oldPath, newPath));
    });
}

qint64 SftpClient::RemoteSize(const QString& path) {
    return guarded(session_, [&](Session& s) -> qint64 {
        try {
            const std::optional<Attributes> a = s.stat(s.resolve(path), path);
            return a && (a->flags & AttrSize) ? static_cast<qint64>(a->size) : -1;
        } catch (const SftpRefusal&) {
            return -1;
        }
    });
}

void SftpClient::UploadFile(const QString& localPath, const QString& remotePath,
                            QString* sentDigest, qint64 from) {
    // Local failures before anything is asked of the server leave the session as it is.
    LocalFile file = LocalFile::openForReading(localPath);
    guarded(session_, [&](Session& s) {
        const QString target = s.resolve(remotePath);
        const QString what =
            QStringLiteral("Файл \u00AB%1\u00BB не записан на сервер").arg(remotePath);
        // Opened ahead behind the file before, when it was expected; otherwise now, cut to
        // nothing unless it is to be continued.
        Session::Opened opened = from > 0 ? Session::Opened{} : s.takeAhead(target, file.size());
        if (from > 0) {
            s.dropAhead();
        }
        if (opened.handle.isEmpty()) {
            const quint32 flags = OpenWrite | OpenCreate | (from > 0 ? 0u : quint32{OpenTruncate});
            opened = {
                s.expectHandle(
                    s.await(s.request(
                        FxpOpen, [&](Packet& p) { p.str(target.toUtf8()).u32(flags).u32(0); })),
                    what),
                std::nullopt};
        }
        const QByteArray handle = opened.handle;
        Md5 md5;
        QByteArray buffer(ChunkSize, Qt::Uninitialized);
        for (qint64 skipped = 0; skipped < from;) {
            const qsizetype n = file.read(
                buffer.data(), static_cast<qsizetype>(std::min<qint64>(ChunkSize, from - skipped)));
            if (n == 0) {
                s.closeHandleLater(handle);
                throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB стал короче, чем его часть на "
                                              "сервере; передача прервана.")
                                   .arg(localPath));
            }
            md5.add(buffer.constData(), n);
            skipped += n;
            s.tick();
        }
        std::deque<quint32> inFlight;
        std::map<quint32, qsizetype> lengths;
        qint64 offset = from, confirmed = 0;
        bool atEnd = false;
        std::deque<quint32> closing;  // the close, then the look at the size
        auto idleSince = s.serverNow();
        while (!atEnd || !inFlight.empty()) {
            // Requests go out while the channel takes them; its window holds back the rest.
            while (!atEnd && static_cast<int>(inFlight.size()) < std::max(1, WritesInFlight) &&
                   s.out.size() < 4 * ChunkSize) {
                const qsizetype n = file.read(buffer.data(), ChunkSize);
                if (n == 0) {
                    atEnd = true;
                    break;
                }
                md5.add(buffer.constData(), n);
                const quint32 id = s.nextId++;
                Packet p(FxpWrite);
                p.u32(id)
                    .str(handle)
                    .u64(static_cast<quint64>(offset))
                    .str(QByteArrayView(buffer.constData(), n));
                s.out += p.done();
                inFlight.push_back(id);
                lengths[id] = n;
                offset += n;
            }
            // The server takes requests in order: the close and the look at the size go out
            // behind the last write, and a small file costs one round trip after its opening.
            if (atEnd && closing.empty()) {
                // A file opened ahead keeps what it held beyond the new bytes until cut here
                // (only when the local file got shorter while it was read).
                if (opened.was && static_cast<qint64>(*opened.was) > offset) {
                    closing.push_back(s.request(FxpFsetstat, [&](Packet& p) {
                        p.str(handle).u32(AttrSize).u64(static_cast<quint64>(offset));
                    }));
                }
                closing.push_back(s.request(FxpClose, [&](Packet& p) { p.str(handle); }));
                closing.push_back(s.request(FxpStat, [&](Packet& p) { p.str(target.toUtf8()); }));
                // The next file opens behind them, and its writes follow its answer at once.
                const QString next = std::exchange(expected_, QString());
                if (!next.isEmpty() && !s.ahead && s.resolve(next) != target) {
                    s.openAhead(s.resolve(next));
                }
            }
            if (s.exchange()) {
                idleSince = s.serverNow();
            }
            bool any = false;
            while (!inFlight.empty() && s.replies.count(inFlight.front())) {
                const quint32 id = inFlight.front();
                inFlight.pop_front();
                const Reply r = std::move(s.replies[id]);
                s.replies.erase(id);
                if (r.type != FxpStatus || Session::statusOf(r) != FxOk) {
                    s.forget(inFlight);
                    if (closing.empty()) {
                        s.closeHandleLater(handle);
                    }
                    s.forget(closing);
                    if (r.type != FxpStatus) {
                        throw BadReply();
                    }
                    s.refuse(r, what);
                }
                confirmed += lengths[id];
                lengths.erase(id);
                any = true;
            }
            if (any && Progress) {
                Progress(confirmed);
            }
            if (!any && !inFlight.empty()) {
                if (s.serverNow() - idleSince > Timeout) {
                    s.timedOut();
                }
                s.pollSocket();
            }
            s.tick();
        }
        if (closing.size() > 2) {
            const quint32 cutId = closing.front();
            closing.pop_front();
            const Reply cut = s.await(cutId);
            if (cut.type != FxpStatus || Session::statusOf(cut) != FxOk) {
                s.forget(closing);
                s.expectOk(cut, what);
            }
        }
        const quint32 closeId = closing.front(), statId = closing.back();
        const Reply closed = s.await(closeId);
        const Reply stated = s.await(statId);
        s.expectOk(closed, what);
        // Only a file the server holds whole counts as sent.
        std::optional<Attributes> there;
        if (stated.type == FxpAttrs) {
            Reader reader(stated.body);
            there = reader.attributes();
        }
        if (!there || !(there->flags & AttrSize) || static_cast<qint64>(there->size) != offset) {
            throw SftpRefusal(QStringLiteral("Файл \u00AB%1\u00BB на сервере не того размера "
                                             "(%2 байт вместо %3); он не записан как отправленный.")
                                  .arg(remotePath)
                                  .arg(there ? static_cast<qint64>(there->size) : -1)
                                  .arg(offset),
                              550);
        }
        if (sentDigest) {
            *sentDigest = md5.hexDigest();
        }
    });
}

void SftpClient::DownloadFile(const QString& remotePath, const QString& localPath,
                              DownloadLimit limit, qint64 from) {
    if (!session_) {
        throw FtpError(QStringLiteral("Нет соединения с сервером."));
    }
    LocalFile file =
        from > 0 ? LocalFile::openToContinue(localPath, from) : LocalFile::create(localPath);
    guarded(session_, [&](Session& s) {
        const QString what =
            QStringLiteral("Файл \u00AB%1\u00BB не получен с сервера").arg(remotePath);
        const QByteArray handle = s.expectHandle(
            s.await(s.request(
                FxpOpen,
                [&](Packet& p) { p.str(s.resolve(remotePath).toUtf8()).u32(OpenRead).u32(0); })),
            what);
        struct Asked {
            quint32 id;
            qint64 offset;
        };
        std::deque<Asked> asked;
        qint64 next = from, received = from;
        LineCounter counter;
        const auto ask = [&] {
            while (asked.size() < ReadsInFlight) {
                const qint64 offset = next;
                asked.push_back(
                    {s.request(FxpRead,
                               [&](Packet& p) {
                                   p.str(handle).u64(static_cast<quint64>(offset)).u32(ChunkSize);
                               }),
                     offset});
                next += ChunkSize;
            }
        };
        const auto stopReading = [&] {
            std::deque<quint32> ids;
            for (const Asked& a : asked) {
                ids.push_back(a.id);
            }
            s.forget(ids);
            asked.clear();
        };
        ask();
        for (;;) {
            const Reply r = s.await(asked.front().id);
            asked.pop_front();
            if (r.type == FxpStatus) {
                stopReading();
                if (Session::statusOf(r) == FxEof) {
                    break;
                }
                s.closeHandleLater(handle);
                s.refuse(r, what);
            }
            if (r.type != FxpData) {
                throw BadReply();
            }
            Reader reader(r.body);
            const QByteArrayView bytes = reader.str();
            if (bytes.size() > ChunkSize) {
                throw BadReply();  // more than was asked for
            }
            received += bytes.size();
            if (limit.shared && !limit.shared->take(bytes.size())) {
                throw FtpError(QStringLiteral("Файлы на сервере %1 вместе больше %2; скачивание "
                                              "прервано.")
                                   .arg(s.peer, sizeText(limit.shared->maxBytes())));
            }
            if (limit.maxBytes >= 0 && received > limit.maxBytes) {
                throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB на сервере %2 больше %3; "
                                              "скачивание прервано.")
                                   .arg(remotePath, s.peer, sizeText(limit.maxBytes)));
            }
            if (limit.maxLines >= 0) {
                counter.add(bytes);
                if (counter.lines() > limit.maxLines) {
                    throw FtpError(QStringLiteral("Файл \u00AB%1\u00BB на сервере %2 длиннее %3 "
                                                  "строк; скачивание прервано.")
                                       .arg(remotePath, s.peer)
                                       .arg(limit.maxLines));
                }
            }
            file.write(bytes);
            if (Progress) {
                Progress(received);
            }
            if (bytes.size() < ChunkSize || bytes.isEmpty()) {
                // A short answer: the requests after it asked for the wrong places.
                stopReading();
                next = received;
            }
            ask();
            s.tick();
        }
        s.closeHandle(handle, what);
        file.close();
    });
}

void SftpClient::ExpectUpload(const QString& remotePath) {
    expected_ = remotePath;
}

void SftpClient::ForgetExpectedUpload() {
    expected_.clear();
    if (session_ && session_->ahead) {
        try {
            guarded(session_, [](Session& s) { s.dropAhead(); });
        } catch (const Cancelled&) {
            throw;
        } catch (...) {
            session_.reset();  // a failure of this kind leaves nothing to report
        }
    }
}

void SftpClient::CloseSession() {
    ForgetExpectedUpload();
    if (session_ && session_->ssh) {
        ssh_disconnect(session_->ssh);
        ssh_free(session_->ssh);
        session_->ssh = nullptr;
        session_->channel = nullptr;  // freed with its session
    }
    session_.reset();
}

void SftpClient::DropConnection() {
    session_.reset();
}

bool SftpClient::IsConnected() {
    if (!session_) {
        return false;
    }
    Session& s = *session_;
    const int polled = ssh_channel_poll(s.channel, 0);
    if (polled == SSH_ERROR || polled == SSH_EOF || ssh_channel_is_closed(s.channel) ||
        !ssh_is_connected(s.ssh)) {
        session_.reset();
        return false;
    }
    return true;
}

const QString& SftpClient::AcceptedFingerprint() const {
    return acceptedFingerprint_;
}

bool SftpClient::IsEncrypted() const {
    return session_ != nullptr;
}

std::unique_ptr<RemoteClient> SftpClient::FurtherSession() const {
    auto further = std::make_unique<SftpClient>();
    further->Host = Host;
    further->Port = Port;
    further->Username = Username;
    further->Password = Password;
    further->Timeout = Timeout;
    further->UserSshFolder = UserSshFolder;
    further->KnownHostsFile = KnownHostsFile;
    further->KeyFile = KeyFile;
    further->KeyPassphrase = KeyPassphrase;
    further->WritesInFlight = WritesInFlight;
    // The key this session accepted, whether kept or taken once; a changed one is refused.
    further->TrustedFingerprint = acceptedFingerprint_;
    return further;
}

}  // namespace zor::publish
