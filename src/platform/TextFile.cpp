#include "platform/TextFile.h"

#include <iconv.h>
#include <QFile>
#include <array>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Errors.h"

namespace zor::textfile {
namespace {

// The upper half of Windows-1251, taken once from the C library's converter.
struct Cp1251Table {
    std::array<char32_t, 128> upper{};
    // The byte of every character of the basic plane; 0 where the code page has none (and for
    // U+0000 itself, which is ASCII anyway). The editor writes its preview at every key.
    std::array<unsigned char, 0x10000> reverse{};

    Cp1251Table() {
        iconv_t cd = iconv_open("UTF-32LE", "CP1251");
        for (int i = 0; i < 128; ++i) {
            char in = static_cast<char>(0x80 + i);
            char32_t out = 0;
            char* inPtr = &in;
            size_t inLeft = 1;
            char* outPtr = reinterpret_cast<char*>(&out);
            size_t outLeft = sizeof out;
            bool ok = cd != reinterpret_cast<iconv_t>(-1) &&
                      iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
            // The one unassigned byte keeps its own code, so every byte survives a round trip.
            upper[static_cast<size_t>(i)] = ok ? out : static_cast<char32_t>(0x80 + i);
            if (upper[static_cast<size_t>(i)] < 0x10000) {
                reverse[upper[static_cast<size_t>(i)]] = static_cast<unsigned char>(0x80 + i);
            }
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd);
        }
    }
};

const Cp1251Table& table() {
    static const Cp1251Table t;
    return t;
}

QString fileErrorText(const QString& what, const QString& path, const QString& reason) {
    return QStringLiteral("%1 \u00AB%2\u00BB: %3").arg(what, path, reason);
}

}  // namespace

QByteArray toCp1251(QStringView text) {
    const auto& t = table();
    QByteArray out(text.size(), Qt::Uninitialized);
    qsizetype o = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        unsigned char b = c < 0x80 ? static_cast<unsigned char>(c) : t.reverse[c];
        if (c < 0x80 || b != 0) {
            out[o++] = static_cast<char>(b);
            continue;
        }
        // No byte for it: a numeric character reference, surrogate pairs as one character.
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(c, text[i + 1].unicode());
            ++i;
        } else if (QChar::isSurrogate(c)) {
            cp = QChar::ReplacementCharacter;  // half a pair is no character
        }
        const QByteArray ref = "&#" + QByteArray::number(static_cast<quint32>(cp)) + ';';
        out.resize(out.size() + ref.size() - 1);
        std::memcpy(out.data() + o, ref.constData(), static_cast<size_t>(ref.size()));
        o += ref.size();
    }
    out.truncate(o);
    return out;
}

bool fitsCp1251(QStringView text) {
    const auto& t = table();
    for (QChar c : text) {
        if (c.unicode() >= 0x80 && t.reverse[c.unicode()] == 0) {
            return false;
        }
    }
    return true;
}

QString fromCp1251(QByteArrayView bytes) {
    const auto& t = table();
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.append(QChar(b));
        } else {
            char32_t cp = t.upper[b - 0x80U];
            out.append(QString::fromUcs4(&cp, 1));
        }
    }
    return out;
}

std::optional<QString> firstOutsideCp1251(QStringView text) {
    const auto& t = table();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || t.reverse[c] != 0) {
            continue;
        }
        const bool pair =
            QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        return text.sliced(i, pair ? 2 : 1).toString();
    }
    return std::nullopt;
}

QStringList splitLines(QStringView text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start).toString());
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < n) {
        lines.append(text.mid(start).toString());
    }
    return lines;
}

QString joinLines(const QStringList& lines) {
    QString out;
    for (const QString& line : lines) {
        out += line;
        out += QStringLiteral("\r\n");
    }
    return out;
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw FileError(
            fileErrorText(QStringLiteral("Не удалось открыть файл"), path, f.errorString()));
    }
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        throw FileError(
            fileErrorText(QStringLiteral("Не удалось прочитать файл"), path, f.errorString()));
    }
    return data;
}

QString readText(const QString& path) {
    return fromCp1251(readBytes(path));
}

QStringList readLines(const QString& path) {
    return splitLines(readText(path));
}

void writeBytes(const QString& path, const QByteArray& bytes, Durability durability) {
    AtomicFile file(path);
    file.write(bytes);
    file.commit(durability);
}

void writeText(const QString& path, const QString& text, Durability durability) {
    writeBytes(path, toCp1251(text), durability);
}

void writeLines(const QString& path, const QStringList& lines) {
    writeText(path, joinLines(lines));
}

}  // namespace zor::textfile
