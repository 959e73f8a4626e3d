#pragma once

#include <arpa/inet.h>
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstring>
#include <utility>

#include "publish/FtpError.h"
#include "publish/TcpConnection.h"

// The SFTP version 3 side of the SFTP client: packets, replies and their reading.
namespace zor::publish::sftp {

// SFTP version 3 (draft-ietf-secsh-filexfer-02): the requests this client sends, the replies
// it reads.
enum : quint8 {
    FxpInit = 1,
    FxpVersion = 2,
    FxpOpen = 3,
    FxpClose = 4,
    FxpRead = 5,
    FxpWrite = 6,
    FxpFsetstat = 10,
    FxpOpendir = 11,
    FxpReaddir = 12,
    FxpRemove = 13,
    FxpMkdir = 14,
    FxpRealpath = 16,
    FxpStat = 17,
    FxpRename = 18,
    FxpStatus = 101,
    FxpHandle = 102,
    FxpData = 103,
    FxpName = 104,
    FxpAttrs = 105,
    FxpExtended = 200,
};
enum : quint32 {
    FxOk = 0,
    FxEof = 1,
    FxNoSuchFile = 2,
    FxPermissionDenied = 3,
    FxFailure = 4,
    FxNoSpace = 14,
    FxQuotaExceeded = 15,
    FxFileExists = 11,
    FxNoSuchPath = 10,
    FxWriteProtect = 12,
};
enum : quint32 {
    OpenRead = 0x01,
    OpenWrite = 0x02,
    OpenCreate = 0x08,
    OpenTruncate = 0x10,
};
enum : quint32 {
    AttrSize = 0x01,
    AttrUidGid = 0x02,
    AttrPermissions = 0x04,
    AttrTimes = 0x08,
    AttrExtended = 0x80000000,
};

// A reply is never larger than this; OpenSSH sends at most 256 KiB.
constexpr quint32 MaxPacket = 4 * 1024 * 1024;
constexpr int ReadsInFlight = 32;
inline const QByteArray PosixRename = "posix-rename@openssh.com";

struct Attributes {
    quint32 flags = 0;
    quint64 size = 0;
    quint32 uid = 0, gid = 0, permissions = 0, mtime = 0;
    bool isFolder() const {
        return (flags & AttrPermissions) && (permissions & 0170000) == 0040000;
    }
};

class Packet {
public:
    explicit Packet(quint8 type) {
        bytes_.resize(4);
        bytes_.append(static_cast<char>(type));
    }
    Packet& u32(quint32 v) {
        const quint32 n = htonl(v);
        bytes_.append(reinterpret_cast<const char*>(&n), 4);
        return *this;
    }
    Packet& u64(quint64 v) {
        return u32(static_cast<quint32>(v >> 32)).u32(static_cast<quint32>(v));
    }
    Packet& str(QByteArrayView s) {
        u32(static_cast<quint32>(s.size()));
        bytes_.append(s.data(), s.size());
        return *this;
    }
    QByteArray done() {
        const quint32 n = htonl(static_cast<quint32>(bytes_.size() - 4));
        std::memcpy(bytes_.data(), &n, 4);
        return std::move(bytes_);
    }

private:
    QByteArray bytes_;
};

class BadReply : public ConnectionLost {
public:
    BadReply() : ConnectionLost(QStringLiteral("Сервер прислал непонятный ответ SFTP.")) {}
};

class Reader {
public:
    explicit Reader(QByteArrayView v) : v_(v) {}
    quint32 u32() {
        need(4);
        quint32 n;
        std::memcpy(&n, v_.data() + pos_, 4);
        pos_ += 4;
        return ntohl(n);
    }
    quint64 u64() {
        const quint64 high = u32();
        return high << 32 | u32();
    }
    QByteArrayView str() {
        const quint32 n = u32();
        need(n);
        const QByteArrayView s = v_.sliced(pos_, n);
        pos_ += n;
        return s;
    }
    bool atEnd() const { return pos_ >= v_.size(); }
    Attributes attributes() {
        Attributes a;
        a.flags = u32();
        if (a.flags & AttrSize) {
            a.size = u64();
        }
        if (a.flags & AttrUidGid) {
            a.uid = u32();
            a.gid = u32();
        }
        if (a.flags & AttrPermissions) {
            a.permissions = u32();
        }
        if (a.flags & AttrTimes) {
            u32();  // access time
            a.mtime = u32();
        }
        if (a.flags & AttrExtended) {
            for (quint32 n = u32(); n > 0; --n) {
                str();
                str();
            }
        }
        return a;
    }

private:
    void need(qsizetype n) const {
        if (n < 0 || v_.size() - pos_ < n) {
            throw BadReply();
        }
    }
    QByteArrayView v_;
    qsizetype pos_ = 0;
};

struct Reply {
    quint8 type = 0;
    QByteArray body;  // after the request id
};

// A refusal in the server's words: the session stays usable.
class SftpRefusal : public FtpError {
public:
    using FtpError::FtpError;
};

// The FTP reply code an SFTP status stands for, as an FtpError carries it.
int replyCodeOf(quint32 status);

// One entry in the form FTP servers list it, which the browser and the upload read.
QString listingLine(const QString& name, const Attributes& a);

}  // namespace zor::publish::sftp
