// Windows-1251 decode and encode, and the line splitting every text file goes through.
#include "FuzzCheck.h"
#include "platform/TextFile.h"

using namespace zor;

namespace {

// The reference a character outside the code page must become.
QString referenceFor(char32_t cp) {
    return QStringLiteral("&#%1;").arg(static_cast<quint32>(cp));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);

    // Every byte is one character and comes back as itself.
    const QString decoded = textfile::fromCp1251(bytes);
    FUZZ_CHECK(decoded.size() == bytes.size());
    FUZZ_CHECK(textfile::toCp1251(decoded) == bytes);
    FUZZ_CHECK(!textfile::firstOutsideCp1251(decoded));

    // Lines: none holds a line end, and joining them gives back the text with CR LF line ends.
    const QStringList lines = textfile::splitLines(decoded);
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
    }
    const QString joined = textfile::joinLines(lines);
    FUZZ_CHECK(lines.isEmpty() ? joined.isEmpty() : joined.endsWith(QStringLiteral("\r\n")));
    FUZZ_CHECK(textfile::splitLines(joined) == lines);
    QString normalised = decoded;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (!normalised.isEmpty() && !normalised.endsWith(u'\n')) {
        normalised += u'\n';
    }
    FUZZ_CHECK(joined == normalised.replace(u'\n', QStringLiteral("\r\n")));

    // Any text: what fits goes through unchanged, anything else as its numeric reference.
    const QString text = fuzz::utf16Of(data, size);
    const QByteArray encoded = textfile::toCp1251(text);
    QString expected;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            expected += referenceFor(QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
        } else if (c.isSurrogate()) {
            expected += referenceFor(QChar::ReplacementCharacter);
        } else if (textfile::firstOutsideCp1251(QStringView(&c, 1))) {
            expected += referenceFor(c.unicode());
        } else {
            expected += c;
        }
    }
    FUZZ_CHECK(textfile::fromCp1251(encoded) == expected);
    FUZZ_CHECK(textfile::firstOutsideCp1251(text).has_value() != (expected == text));
    return 0;
}
