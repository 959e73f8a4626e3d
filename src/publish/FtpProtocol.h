#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The text side of the FTP control connection: reading replies, reading the PASV address and
// writing command lines. Pure functions, so the client's parsing can be tested without a server.
namespace zor::publish {

struct FtpReply {
    // 0 when the first line does not begin with three digits (the peer does not speak FTP).
    int code = 0;
    // Every line of the reply; lines beginning with the code and "-" or " " lose those four
    // characters, other lines inside a multi-line reply are kept whole.
    QStringList lines;

    // The lines joined with line breaks: the server's own words for an error message.
    QString text() const { return lines.join(u'\n'); }
};

// Takes one complete reply off the front of the bytes received on the control connection and
// returns it; returns nothing and leaves the buffer untouched while the reply is incomplete.
// Empty lines are skipped, before a reply and inside a multi-line one. A multi-line reply ("ddd-")
// ends with the line beginning "ddd " or with a line shorter than four characters.
std::optional<FtpReply> takeReply(QByteArray& buffer);

struct PassiveAddress {
    QString host;  // as the server named it, "h1.h2.h3.h4"
    quint16 port = 0;
};

// Reads the first text line of a 227 reply: the six numbers between parentheses, or, without
// them, after the line's last blank. Nothing when they are not six numbers from 0 to 255 or the
// port is 0.
std::optional<PassiveAddress> parsePassiveReply(QStringView line);

// One command as it goes on the wire: Windows-1251 text followed by CR LF. Throws FtpError when
// the text holds CR, LF or NUL, which would let a file name smuggle in a command of its own, or
// a character Windows-1251 cannot hold, which would reach the server as something else.
QByteArray commandLine(QStringView text);

struct HostAndPort {
    QString host;
    int port = 0;
};

// The "Хост" field: "name", "name:port", "[IPv6 address]" or "[IPv6 address]:port"; an IPv6
// address without brackets has no port. Blanks around it are dropped. Without a port,
// `defaultPort`. Throws FtpError when the text after the colon is no port number.
HostAndPort parseHostField(const QString& text, int defaultPort);

}  // namespace zor::publish
