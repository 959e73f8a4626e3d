#include "publish/SiteCheck.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>

#include "platform/Http.h"
#include "platform/SettingsStore.h"
#include "platform/TextFile.h"
#include "publish/FtpError.h"
#include "site/SiteWorkspace.h"

namespace zor::publish {
namespace {

const QString Scheme = QStringLiteral("http://");
const QString PagesPrefix = QStringLiteral("/mf/pages/");
const QString PageSuffix = QStringLiteral(".tq");

QString charsetIn(const QString& text) {
    static const QRegularExpression re(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_:.\\-]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(1).toLower() : QString();
}

QString decodeReferences(const QString& text) {
    static const QRegularExpression re(QStringLiteral("&#([xX][0-9A-Fa-f]{1,6}|[0-9]{1,7});"));
    QString out;
    qsizetype last = 0;
    for (QRegularExpressionMatchIterator it = re.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString digits = m.captured(1);
        bool ok = false;
        const uint code = digits.startsWith(u'x', Qt::CaseInsensitive)
                              ? digits.mid(1).toUInt(&ok, 16)
                              : digits.toUInt(&ok, 10);
        out += text.mid(last, m.capturedStart() - last);
        if (!ok || code == 0 || code > 0x10FFFF) {
            out += m.captured();
        } else if (QChar::isSurrogate(code)) {
            out += QChar(QChar::ReplacementCharacter);  // as a browser shows half a pair
        } else {
            // One character as it is: QString::fromUcs4 would take U+FEFF for a byte order mark.
            out += QStringView(QChar::fromUcs4(static_cast<char32_t>(code)));
        }
        last = m.capturedEnd();
    }
    return out + text.mid(last);
}

// What a title reads as: references decoded, every run of blanks one blank.
QString plainTitle(const QString& title) {
    return decodeReferences(title).simplified();
}

QString statusSeen(long status) {
    return QStringLiteral("ответ %1").arg(status);
}

QString shortened(const QString& line) {
    return line.size() <= MaxQuotedLength ? line : line.left(MaxQuotedLength - 1) + u'\u2026';
}

}  // namespace

bool siteAddressSet(const QString& siteAddress) {
    return !siteAddress.isEmpty() && siteAddress != Scheme;
}

QList<int> pagesToCheck(const QList<SiteFile>& sent, int pageCount) {
    QList<int> more;
    for (const SiteFile& file : sent) {
        if (!file.name.startsWith(PagesPrefix) || !file.name.endsWith(PageSuffix)) {
            continue;
        }
        bool ok = false;
        const int n = QStringView(file.name)
                          .sliced(PagesPrefix.size(),
                                  file.name.size() - PagesPrefix.size() - PageSuffix.size())
                          .toInt(&ok);
        if (ok && n >= 2 && n <= pageCount && !more.contains(n)) {
            more.append(n);
        }
    }
    std::sort(more.begin(), more.end());
    QList<int> pages{1};
    pages.append(more.mid(0, 2));
    return pages;
}

bool siteCheckEnabled(SettingsStore& store, const QString& siteName) {
    const auto value = SettingsKey(store, siteKeyPath(siteName, QStringLiteral("check")))
                           .read(QStringLiteral("after"));
    return !value || *value == u"1";
}

void storeSiteCheckEnabled(SettingsStore& store, const QString& siteName, bool enabled) {
    SettingsKey(store, siteKeyPath(siteName, QStringLiteral("check")))
        .write(QStringLiteral("after"), enabled ? QStringLiteral("1") : QStringLiteral("0"));
}

bool templateShowsTitle(const QString& sitePath) {
    static const QRegularExpression re(QStringLiteral("<title[^>]*>[^<]*\\{\\{title\\}\\}"),
                                       QRegularExpression::CaseInsensitiveOption);
    try {
        return re.match(textfile::readText(site::themePath(sitePath), site::MaxTemplateBytes))
            .hasMatch();
    } catch (const ZorError&) {
        return true;
    }
}

QString declaredCharset(const QByteArray& contentType, const QByteArray& body) {
    QString charset = charsetIn(QString::fromLatin1(contentType));
    if (charset.isEmpty()) {
        static const QRegularExpression meta(QStringLiteral("<meta[^>]*charset[^>]*>"),
                                             QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m =
            meta.match(QString::fromLatin1(body.left(MetaSearchBytes)));
        if (m.hasMatch()) {
            charset = charsetIn(m.captured());
        }
    }
    return charset.isEmpty() ? QStringLiteral("windows-1251") : charset;
}

QString decodePage(const QByteArray& body, const QString& charset) {
    if (charset == u"windows-1251" || charset == u"cp1251" || charset == u"x-cp1251") {
        return textfile::fromCp1251(body);
    }
    QStringDecoder decoder(charset.toLatin1().constData());
    if (!decoder.isValid()) {
        return textfile::fromCp1251(body);
    }
    QString text = decoder.decode(body);
    // The UTF-32 decoder lets half surrogate pairs through, and the patterns read below match
    // nothing in such a text: it becomes valid, each half a replacement character.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (text[i].isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
        }
    }
    return text;
}

QString pageTitleText(const QString& html) {
    static const QRegularExpression re(
        QStringLiteral("<title[^>]*>(.*?)</title>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = re.match(html);
    return m.hasMatch() ? plainTitle(m.captured(1)) : QString();
}

QString phpErrorLine(const QString& html) {
    // As PHP prints them, in its HTML form ("<br />", "<b>Warning</b>:") or as plain text; a
    // paragraph of the page that merely begins with the word is not one.
    static const QRegularExpression error(
        QStringLiteral(
            "^[ \\t]*(?:<br[ \\t]*/?>[ \\t]*)?(?:PHP )?(?:<b>)?(?:Fatal error|Parse error|Warning)"
            "(?:</b>)?:"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    const QRegularExpressionMatch m = error.match(html);
    if (!m.hasMatch()) {
        return QString();
    }
    const qsizetype end = html.indexOf(u'\n', m.capturedStart());
    const QString line = html.mid(m.capturedStart(), end < 0 ? -1 : end - m.capturedStart());
    return shortened(QString(line).remove(tags).simplified());
}

PageFailure judgePage(const HttpPage& answer, const CheckedPage& page, const QString& siteBase,
                      bool titleRequired) {
    using Failure = HttpPage::Failure;
    if (answer.failure == Failure::NoAnswer) {
        return {QStringLiteral("сайт не отвечает"), answer.failureText};
    }
    if (answer.failure == Failure::Secure) {
        return {QStringLiteral("защищённое соединение с сайтом не установлено"),
                answer.failureText};
    }
    if (answer.failure != Failure::None) {
        return {QStringLiteral("страница не получена"), answer.failureText};
    }
    if (answer.status == 404) {
        return {QStringLiteral("index.php не найден по адресу %1index.php: возможно, папка на "
                               "сервере не совпадает с корнем сайта")
                    .arg(siteBase),
                statusSeen(answer.status)};
    }
    // A server that runs PHP never lets the program's own text out.
    if (answer.body.contains("<?php")) {
        return {QStringLiteral("сервер не выполняет PHP"),
                QStringLiteral("вместо страницы пришёл текст программы index.php")};
    }
    const QString html = decodePage(answer.body, declaredCharset(answer.contentType, answer.body));
    const QString error = phpErrorLine(html);
    if (!error.isEmpty()) {
        return {error, statusSeen(answer.status) +
                           QStringLiteral(", в странице \u2014 сообщение PHP об ошибке")};
    }
    if (answer.status >= 500) {
        return {QStringLiteral("страница не выполнилась на сервере; подробности \u2014 в журнале "
                               "ошибок сервера"),
                statusSeen(answer.status)};
    }
    if (answer.status != 200) {
        return {QStringLiteral("сервер не отдаёт страницу"), statusSeen(answer.status)};
    }
    const QString expected = plainTitle(page.title);
    const QString title = pageTitleText(html);
    if (titleRequired && !title.contains(expected)) {
        return {QStringLiteral("в заголовке страницы нет её названия \u00AB%1\u00BB: возможно, по "
                               "этому адресу другой сайт или на сервере не те файлы")
                    .arg(expected),
                title.isEmpty() ? QStringLiteral("заголовка нет")
                                : QStringLiteral("заголовок \u00AB%1\u00BB").arg(shortened(title))};
    }
    return {};
}

SiteCheckResult checkPublishedSite(HttpClient& http, const OpenSiteState& state,
                                   const QList<int>& pages, const ProgressFn& progress) {
    const QString& base = state.siteAddress;
    const bool titleRequired = templateShowsTitle(state.sitePath);
    // A visitor would not wait longer for a page; the client's own limits return afterwards.
    struct Limits {
        HttpClient& http;
        std::chrono::milliseconds connect, total;
        std::chrono::seconds stall;
        ~Limits() {
            http.ConnectTimeout = connect;
            http.TotalTimeout = total;
            http.StallTimeout = stall;
        }
    } restore{http, http.ConnectTimeout, http.TotalTimeout, http.StallTimeout};
    http.ConnectTimeout = SiteCheckTimeout;
    http.StallTimeout = SiteCheckTimeout;
    http.TotalTimeout = SiteCheckTimeout;
    const auto titleOf = [&state](int n) {
        return n >= 1 && n <= state.pageCount() ? state.pageTitles[n] : QString();
    };

    SiteCheckResult result;
    for (qsizetype k = 0; k < pages.size(); ++k) {
        const CheckedPage page{pages[k], base + QStringLiteral("index.php?in=%1").arg(pages[k]),
                               titleOf(pages[k])};
        if (progress) {
            progress(Stage::Verifying, static_cast<int>(k + 1), static_cast<int>(pages.size()),
                     page.address, -1);
        }
        HttpPage answer;
        try {
            answer = http.Fetch(page.address, MaxCheckedPageBytes);
        } catch (const Cancelled&) {
            result.cancelled = true;
            result.text = QStringLiteral("Проверка сайта прервана; файлы закачаны.");
            return result;
        }
        ++result.pagesAsked;
        PageFailure failure = judgePage(answer, page, base, titleRequired);
        // Not found on the server because it was never made here: no folder is to blame.
        if (answer.status == 404 && !QFileInfo::exists(site::frontControllerPath(state.sitePath))) {
            failure.cause = QStringLiteral(
                "в папке сайта нет index.php: сохраните шаблон на "
                "экране \u00ABУправление дизайном\u00BB и закачайте "
                "сайт снова");
        }
        if (!failure.cause.isEmpty()) {
            result.text =
                QStringLiteral("Проверка сайта не прошла: %1\nСтраница %2, %3: %4")
                    .arg(failure.cause, QString::number(page.number), page.address, failure.seen);
            return result;
        }
    }
    result.passed = true;
    result.text = QStringLiteral("Сайт работает: страница 1 \u00AB%1\u00BB открывается")
                      .arg(plainTitle(titleOf(1)));
    if (result.pagesAsked > 1) {
        result.text += QStringLiteral(" (проверено страниц: %1)").arg(result.pagesAsked);
    }
    return result;
}

}  // namespace zor::publish
