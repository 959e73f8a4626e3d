#include "publish/SftpSession.h"

#include <algorithm>
#include <utility>

// The SFTP session's requests and replies, and the file it opens ahead of an upload.
namespace zor::publish {

using namespace sftp;

bool SftpClient::Session::exchange() {
    while (!out.isEmpty()) {
        const uint32_t window = ssh_channel_window_size(channel);
        if (window == 0) {
            break;
        }
        const int n =
            ssh_channel_write(channel, out.constData(),
                              static_cast<uint32_t>(std::min<qsizetype>(out.size(), window)));
        if (n == SSH_ERROR) {
            lost();
        }
        if (n <= 0) {
            break;
        }
        out.remove(0, n);
    }
    if (ssh_get_poll_flags(ssh) & SSH_WRITE_PENDING) {
        ssh_blocking_flush(ssh, 0);
    }
    bool arrived = false;
    char buffer[64 * 1024];
    for (;;) {
        const int n = ssh_channel_read_nonblocking(channel, buffer, sizeof buffer, 0);
        if (n == SSH_EOF || (n == 0 && ssh_channel_is_eof(channel))) {
            lost(QStringLiteral("сервер закрыл канал SFTP"));
        }
        if (n < 0) {
            lost();
        }
        if (n == 0) {
            break;
        }
        in.append(buffer, n);
        arrived = true;
    }
    if (!ssh_is_connected(ssh)) {
        lost();
    }
    takeReplies();
    return arrived;
}

void SftpClient::Session::takeReplies() {
    for (;;) {
        if (in.size() < 4) {
            return;
        }
        const quint32 length = Reader(in).u32();
        if (length < 5 || length > MaxPacket) {
            throw BadReply();
        }
        if (static_cast<quint32>(in.size()) < 4 + length) {
            return;
        }
        if (static_cast<quint8>(in[4]) == FxpVersion) {
            // The version, then the extensions the server offers, in name and data pairs.
            Reader r(QByteArrayView(in).sliced(5, length - 1));
            r.u32();
            while (!r.atEnd()) {
                const QByteArrayView name = r.str();
                r.str();
                posixRename = posixRename || name == PosixRename;
            }
            versioned = true;
            in.remove(0, 4 + length);
            continue;
        }
        Reader r(QByteArrayView(in).sliced(5, 4));
        const quint32 id = r.u32();
        // An answer to nothing asked would only fill memory.
        if (id == 0 || id >= nextId) {
            throw BadReply();
        }
        if (!ignored.erase(id)) {
            replies[id] = Reply{static_cast<quint8>(in[4]), in.mid(9, length - 5)};
        }
        in.remove(0, 4 + length);
    }
}

quint32 SftpClient::Session::send(Packet&& packet, quint32 id) {
    out += packet.done();
    exchange();
    return id;
}

quint32 SftpClient::Session::request(quint8 type, const std::function<void(Packet&)>& fill) {
    const quint32 id = nextId++;
    Packet p(type);
    p.u32(id);
    if (fill) {
        fill(p);
    }
    return send(std::move(p), id);
}

Reply SftpClient::Session::await(quint32 id) {
    awaitAny(std::initializer_list<quint32>{id});
    Reply r = std::move(replies[id]);
    replies.erase(id);
    return r;
}

void SftpClient::Session::refuse(const Reply& r, const QString& what) const {
    Reader reader(r.body);
    const quint32 code = reader.u32();
    throw SftpRefusal(QStringLiteral("%1: %2.").arg(what, sftpStatusText(code)), replyCodeOf(code));
}

void SftpClient::Session::expectOk(const Reply& r, const QString& what) const {
    if (r.type != FxpStatus) {
        throw BadReply();
    }
    if (Reader(r.body).u32() != FxOk) {
        refuse(r, what);
    }
}

QByteArray SftpClient::Session::expectHandle(const Reply& r, const QString& what) const {
    if (r.type == FxpStatus) {
        refuse(r, what);
    }
    if (r.type != FxpHandle) {
        throw BadReply();
    }
    return Reader(r.body).str().toByteArray();
}

quint32 SftpClient::Session::statusOf(const Reply& r) {
    return r.type == FxpStatus ? Reader(r.body).u32() : FxOk;
}

QString SftpClient::Session::resolve(const QString& path) const {
    if (path.startsWith(u'/')) {
        return path;
    }
    return path.isEmpty() ? folder : folder + u'/' + path;
}

std::optional<Attributes> SftpClient::Session::stat(const QString& path, const QString& what) {
    const Reply r = await(request(FxpStat, [&](Packet& p) { p.str(path.toUtf8()); }));
    if (r.type == FxpStatus) {
        const quint32 code = statusOf(r);
        if (code == FxNoSuchFile || code == FxNoSuchPath) {
            return std::nullopt;
        }
        refuse(r, what);
    }
    if (r.type != FxpAttrs) {
        throw BadReply();
    }
    Reader reader(r.body);
    return reader.attributes();
}

void SftpClient::Session::closeHandle(const QByteArray& handle, const QString& what) {
    expectOk(await(request(FxpClose, [&](Packet& p) { p.str(handle); })), what);
}

void SftpClient::Session::closeHandleLater(const QByteArray& handle) {
    ignored.insert(request(FxpClose, [&](Packet& p) { p.str(handle); }));
}

void SftpClient::Session::openAhead(const QString& target) {
    const QByteArray name = target.toUtf8();
    Ahead a{target};
    a.statId = request(FxpStat, [&](Packet& p) { p.str(name); });
    a.openId = request(FxpOpen, [&](Packet& p) { p.str(name).u32(OpenWrite | OpenCreate).u32(0); });
    ahead = a;
}

SftpClient::Session::Opened SftpClient::Session::settle(const Ahead& a) {
    const Reply stated = await(a.statId);
    const Reply opened = await(a.openId);
    Opened o;
    if (opened.type == FxpHandle) {
        o.handle = Reader(opened.body).str().toByteArray();
    } else if (opened.type != FxpStatus) {
        throw BadReply();
    }
    if (stated.type == FxpAttrs) {
        Reader reader(stated.body);
        const Attributes attributes = reader.attributes();
        if ((attributes.flags & AttrSize) && !attributes.isFolder()) {
            o.was = attributes.size;
        }
    } else if (const quint32 code = statusOf(stated);
               code == FxNoSuchFile || code == FxNoSuchPath) {
        o.was = 0;
        o.made = true;
    }
    return o;
}

SftpClient::Session::Opened SftpClient::Session::takeAhead(const QString& target, qint64 size) {
    if (!ahead || ahead->target != target) {
        dropAhead();
        return {};
    }
    const Ahead a = *std::exchange(ahead, std::nullopt);
    Opened o = settle(a);
    if (!o.handle.isEmpty() && (!o.was || static_cast<qint64>(*o.was) > size)) {
        // The truncating opening that follows takes the file over, in the server's order.
        closeHandleLater(o.handle);
        o.handle.clear();
    }
    return o;
}

void SftpClient::Session::dropAhead() {
    if (!ahead) {
        return;
    }
    const Ahead a = *std::exchange(ahead, std::nullopt);
    const Opened o = settle(a);
    if (o.handle.isEmpty()) {
        return;
    }
    const quint32 closeId = request(FxpClose, [&](Packet& p) { p.str(o.handle); });
    const quint32 removeId =
        o.made ? request(FxpRemove, [&](Packet& p) { p.str(a.target.toUtf8()); }) : 0;
    await(closeId);
    if (removeId) {
        await(removeId);
    }
}

void SftpClient::Session::forget(std::deque<quint32>& ids) {
    for (quint32 id : ids) {
        if (!replies.erase(id)) {
            ignored.insert(id);
        }
    }
    ids.clear();
}

}  // namespace zor::publish
