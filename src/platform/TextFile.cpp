#include "platform/TextFile.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
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

// What a file of the given mode is, for a message that refuses to read it.
QString kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return QStringLiteral("папка");
    }
    if (S_ISFIFO(mode)) {
        return QStringLiteral("канал");
    }
    if (S_ISSOCK(mode)) {
        return QStringLiteral("сокет");
    }
    return QStringLiteral("устройство");
}

QString sizeText(qint64 bytes) {
    constexpr qint64 KiB = 1024;
    if (bytes >= KiB * KiB) {
        return QStringLiteral("%1 МБ").arg(static_cast<double>(bytes) / (KiB * KiB), 0, 'f', 1);
    }
    if (bytes >= KiB) {
        return QStringLiteral("%1 КБ").arg(static_cast<double>(bytes) / KiB, 0, 'f', 1);
    }
    return byteCountText(bytes);
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

QByteArray readBytes(const QString& path, qint64 maxBytes) {
    const QByteArray native = QFile::encodeName(path);
    // Not blocking: opening a named pipe would otherwise wait for a writer for ever.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        throw FileError(
            fileErrorText(QStringLiteral("Не удалось открыть файл"), path, systemErrorText(errno)));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    auto failed = [&path](int err) {
        return FileError(
            fileErrorText(QStringLiteral("Не удалось прочитать файл"), path, systemErrorText(err)));
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        throw failed(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        throw FileError(
            QStringLiteral("Файл \u00AB%1\u00BB не прочитан: это не обычный файл, а %2.")
                .arg(path, kindOf(st.st_mode)));
    }
    auto tooLarge = [&](qint64 size) {
        return FileError(QStringLiteral("Файл \u00AB%1\u00BB слишком большой (%2) и не прочитан: "
                                        "такой файл может занимать не больше %3.")
                             .arg(path, sizeText(size), sizeText(maxBytes)));
    };
    if (st.st_size > maxBytes) {
        throw tooLarge(st.st_size);
    }
    // The size may change while the file is read; never more than the bound is kept.
    QByteArray data(std::min<qint64>(st.st_size, maxBytes) + 1, Qt::Uninitialized);
    qint64 have = 0;
    while (true) {
        if (have == data.size()) {
            if (have > maxBytes) {
                throw tooLarge(have);
            }
            data.resize(std::min<qint64>(have * 2, maxBytes + 1));
        }
        const ssize_t n = ::read(fd, data.data() + have, static_cast<size_t>(data.size() - have));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw failed(errno);
        }
        if (n == 0) {
            break;
        }
        have += n;
    }
    if (have > maxBytes) {
        throw tooLarge(have);
    }
    data.truncate(have);
    return data;
}

QString readText(const QString& path, qint64 maxBytes) {
    return fromCp1251(readBytes(path, maxBytes));
}

QStringList readLines(const QString& path, qint64 maxBytes) {
    return splitLines(readText(path, maxBytes));
}

void removeStaleTemporaries(const QString& folder) {
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QLatin1String(TemporaryFilePrefix) + QStringLiteral("??????")},
                      QDir::Files | QDir::Hidden | QDir::System | QDir::CaseSensitive);
    for (const QString& name : names) {
        const QStringView tail = QStringView(name).right(6);
        if (!std::all_of(tail.begin(), tail.end(), [](QChar c) {
                return c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
            })) {
            continue;
        }
        const QByteArray native = QFile::encodeName(dir.filePath(name));
        struct stat st {};
        if (::lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::unlink(native.constData());
        }
    }
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
