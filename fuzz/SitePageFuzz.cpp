// The pages the site check reads back from any web server: the declared charset, the decoded
// text, its <title> and the line PHP printed for an error.
#include "FuzzCheck.h"
#include "platform/TextFile.h"
#include "publish/SiteCheck.h"

using namespace zor;
using namespace zor::publish;

namespace {

bool isCharsetName(const QString& charset) {
    for (QChar c : charset) {
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u':' ||
              u == u'.' || u == u'-')) {
            return false;
        }
    }
    return !charset.isEmpty();
}

bool startsAsPhpError(const QString& line) {
    for (const char* start : {"Fatal error", "Parse error", "Warning"}) {
        for (const QString& prefix : {QString(), QStringLiteral("PHP ")}) {
            if (line.startsWith(prefix + QLatin1String(start))) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// The first line is the answer's Content-Type, the rest its body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input = fuzz::bytesOf(data, size);
    const qsizetype newline = input.indexOf('\n');
    const QByteArray contentType = input.first(newline < 0 ? 0 : newline).toByteArray();
    const QByteArray body = input.sliced(newline < 0 ? 0 : newline + 1).toByteArray();

    // A charset name, lower case; a <meta> counts only near the start; the header wins.
    const QString charset = declaredCharset(contentType, body);
    FUZZ_CHECK(isCharsetName(charset));
    FUZZ_CHECK(charset == declaredCharset(contentType, body.left(MetaSearchBytes)));
    FUZZ_CHECK(declaredCharset("text/html; charset=KOI8-R", body) == u"koi8-r");

    // Whatever the charset, valid text, and no byte becomes more than one UTF-16 unit.
    const QString html = decodePage(body, charset);
    FUZZ_CHECK(html.isValidUtf16() && html.size() <= body.size());

    // A title is one line of text, and none without its end tag.
    const QString title = pageTitleText(html);
    FUZZ_CHECK(title == title.simplified() && title.size() <= html.size());
    if (!html.contains(QStringLiteral("</title>"), Qt::CaseInsensitive)) {
        FUZZ_CHECK(title.isEmpty());
    }

    // PHP's error line: one line, short, beginning as PHP prints it; none without the words;
    // and one whenever PHP printed one.
    const QString error = phpErrorLine(html);
    FUZZ_CHECK(error == error.simplified() && error.size() <= MaxQuotedLength);
    FUZZ_CHECK(error.isEmpty() || startsAsPhpError(error));
    if (!html.contains(QStringLiteral("Fatal error")) &&
        !html.contains(QStringLiteral("Parse error")) &&
        !html.contains(QStringLiteral("Warning"))) {
        FUZZ_CHECK(error.isEmpty());
    }
    FUZZ_CHECK(!phpErrorLine(html + QStringLiteral("\n<b>Fatal error</b>: x")).isEmpty());

    // Any title as the site publishes it (Windows-1251, other characters as numeric references)
    // reads back as that title.
    QString typed = fuzz::utf16Of(data, size).left(MaxQuotedLength);
    for (qsizetype i = 0; i < typed.size(); ++i) {
        if (typed[i].isHighSurrogate() && i + 1 < typed.size() && typed[i + 1].isLowSurrogate()) {
            ++i;
        } else if (typed[i].isSurrogate()) {
            typed[i] = QChar::ReplacementCharacter;  // half a pair is no character
        }
    }
    typed.remove(u'<').remove(u'&');
    const QByteArray page =
        textfile::toCp1251(QStringLiteral("<html><head><title>") + typed +
                           QStringLiteral("</title></head><body><p>x</p></body></html>"));
    FUZZ_CHECK(pageTitleText(decodePage(page, declaredCharset("text/html", page))) ==
               typed.simplified());
    return 0;
}
