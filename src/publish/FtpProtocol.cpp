#include "publish/FtpProtocol.h"

#include <QList>

#include "platform/TextFile.h"
#include "publish/FtpError.h"

namespace zor::publish {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool startsWithCode(QByteArrayView line) {
    return line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]);
}

QString lineText(QByteArrayView line, QByteArrayView code) {
    if (line.startsWith(code) && (line.size() == 3 || line[3] == ' ' || line[3] == '-')) {
        line = line.sliced(std::min<qsizetype>(4, line.size()));
    }
    return textfile::fromCp1251(line);
}

}  // namespace

std::optional<FtpReply> takeReply(QByteArray& buffer) {
    QList<QByteArrayView> lines;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype eol = buffer.indexOf('\n', pos);
        if (eol < 0) {
            return std::nullopt;
        }
        QByteArrayView line(buffer.constData() + pos, eol - pos);
        pos = eol + 1;
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty()) {
            continue;
        }
        lines.append(line);
        const QByteArrayView first = lines.front();
        if (lines.size() == 1) {
            if (startsWithCode(first) && first.size() > 3 && first[3] == '-') {
                continue;
            }
            break;
        }
        if (line.size() < 4 || (line.first(3) == first.first(3) && line[3] == ' ')) {
            break;
        }
    }

    FtpReply reply;
    const QByteArrayView first = lines.front();
    const QByteArrayView code = startsWithCode(first) ? first.first(3) : QByteArrayView();
    if (!code.isEmpty()) {
        reply.code = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    }
    for (QByteArrayView line : lines) {
        reply.lines.append(code.isEmpty() ? textfile::fromCp1251(line) : lineText(line, code));
    }
    buffer.remove(0, pos);
    return reply;
}

std::optional<PassiveAddress> parsePassiveReply(QStringView line) {
    QStringView text = line.trimmed();
    const qsizetype open = text.indexOf(u'(');
    const qsizetype close = open < 0 ? -1 : text.indexOf(u')', open + 1);
    if (open >= 0 && close >= 0) {
        text = text.sliced(open + 1, close - open - 1);
    } else {
        text = text.sliced(text.lastIndexOf(u' ') + 1);
    }

    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 6) {
        return std::nullopt;
    }
    unsigned numbers[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        numbers[i] = fields[i].trimmed().toUInt(&ok);
        if (!ok || numbers[i] > 255) {
            return std::nullopt;
        }
    }
    const unsigned port = numbers[4] * 256 + numbers[5];
    if (port == 0) {
        return std::nullopt;
    }
    return PassiveAddress{QStringLiteral("%1.%2.%3.%4")
                              .arg(numbers[0])
                              .arg(numbers[1])
                              .arg(numbers[2])
                              .arg(numbers[3]),
                          static_cast<quint16>(port)};
}

QByteArray commandLine(QStringView text) {
    const QString what = QStringLiteral("Имя файла, папки или пользователя либо пароль содержит");
    const QString refused = QStringLiteral("такую команду нельзя передать на сервер FTP.");
    for (QChar c : text) {
        if (c == u'\r' || c == u'\n') {
            throw FtpError(QStringLiteral("%1 перевод строки: %2").arg(what, refused));
        }
        if (c == u'\0') {
            throw FtpError(QStringLiteral("%1 нулевой знак (NUL): %2").arg(what, refused));
        }
    }
    // A numeric reference in its place would make the server see another name or password.
    if (const auto outside = textfile::firstOutsideCp1251(text)) {
        throw FtpError(
            QStringLiteral("%1 знак \u00AB%2\u00BB, которого нет в кодировке Windows-1251: %3")
                .arg(what, *outside, refused));
    }
    return textfile::toCp1251(text) + "\r\n";
}

HostAndPort parseHostField(const QString& text, int defaultPort) {
    const QString field = text.trimmed();
    QString host = field;
    QString port;
    if (field.startsWith(u'[')) {
        const qsizetype close = field.indexOf(u']');
        if (close > 0) {
            host = field.mid(1, close - 1);
            const QString rest = field.mid(close + 1);
            if (rest.startsWith(u':')) {
                port = rest.mid(1);
            } else if (!rest.isEmpty()) {
                port = rest;  // refused below as no port
            }
        }
    } else if (field.count(u':') == 1) {
        host = field.section(u':', 0, 0);
        port = field.section(u':', 1);
        if (port.isEmpty()) {
            port = QStringLiteral(" ");  // "name:" names no port
        }
    }
    if (port.isEmpty()) {
        return {host, defaultPort};
    }
    bool ok = false;
    const int number = port.toInt(&ok);
    if (!ok || number < 1 || number > 65535 || port.front() == u'+') {
        throw FtpError(QStringLiteral("В поле \u00ABХост\u00BB после двоеточия должен идти номер "
                                      "порта от 1 до 65535, а не \u00AB%1\u00BB.")
                           .arg(port.trimmed()));
    }
    return {host, number};
}

}  // namespace zor::publish
