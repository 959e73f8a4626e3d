#include "editor/PhpProtection.h"

#include <QRegularExpression>
#include <array>

namespace zor::editor {
namespace {

// Elements inside which the HTML parser moves an element out of the way (or drops it).
bool movesElementsOut(const QString& name) {
    static const std::array<QStringView, 7> names{u"table", u"thead",    u"tbody", u"tfoot",
                                                  u"tr",    u"colgroup", u"select"};
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements that decide the above: these and the cells, which allow content again.
bool isTableStructure(const QString& name) {
    return movesElementsOut(name) || name == u"td" || name == u"th" || name == u"caption";
}

// Elements whose text the parser keeps raw (or escapes on the way out): no markup inside.
bool isRawText(const QString& name) {
    static const std::array<QStringView, 9> names{u"script",  u"style",    u"textarea",
                                                  u"title",   u"xmp",      u"iframe",
                                                  u"noembed", u"noframes", u"plaintext"};
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'-' || c == u':' || c == u'_';
}

QString shortCode(const QString& block) {
    QString s = block.simplified();
    if (s.size() > 40) {
        s = s.left(39) + QChar(0x2026);
    }
    return s.toHtmlEscaped();
}

}  // namespace

PhpProtection::PhpProtection(QStringView text) : marker_(QStringLiteral("zorphp")) {
    while (text.contains(marker_, Qt::CaseInsensitive)) {
        marker_ += u'z';
    }
    // The element may gain attributes (a style, say) or be wrapped by the browser; its own text
    // is escaped code, so the first "</span>" after it is its end. A token that stood as an
    // attribute name comes back with an empty value.
    placeholders_ = QRegularExpression(
        QStringLiteral("<span\\b[^>]*?\\bdata-%1=\"(\\d+)\"[^>]*>.*?</span>"
                       "|<!--%1:(\\d+)-->"
                       "|%1(\\d+)q(?:=\"\")?")
            .arg(marker_),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
}

int PhpProtection::idOf(const QString& block) {
    const auto i = blocks_.indexOf(block);
    if (i >= 0) {
        return static_cast<int>(i);
    }
    blocks_.append(block);
    return static_cast<int>(blocks_.size()) - 1;
}

QString PhpProtection::protect(QStringView text) {
    enum class State { Data, Tag, Comment, RawText };
    State state = State::Data;
    QString out;
    out.reserve(text.size() + 64);
    QStringList open;  // table structure and selects now open, innermost last
    QString tagName;   // the tag being read (lower case)
    bool endTag = false;
    QChar quote;      // the quote of the attribute value being read, if any
    QChar lastInTag;  // the last non-blank character of the tag so far
    QString rawName;  // the element whose raw text is being read

    const qsizetype n = text.size();
    auto at = [&](qsizetype i, QStringView s) {
        return text.mid(i, s.size()).compare(s, Qt::CaseInsensitive) == 0;
    };
    auto readName = [&](qsizetype i) {
        qsizetype j = i;
        while (j < n && isNameChar(text[j])) {
            ++j;
        }
        return text.mid(i, j - i).toString().toLower();
    };

    qsizetype i = 0;
    while (i < n) {
        if (text[i] == u'<' && i + 1 < n && text[i + 1] == u'?') {
            // The block runs to its first "?>", or to the end, as PHP itself reads it.
            qsizetype end = text.indexOf(u"?>", i + 2);
            end = end < 0 ? n : end + 2;
            const QString block = text.mid(i, end - i).toString();
            const QString id = QString::number(idOf(block));
            if (state != State::Data) {
                out += marker_ + id + u'q';
            } else if (!open.isEmpty() && movesElementsOut(open.last())) {
                out += QStringLiteral("<!--") + marker_ + u':' + id + QStringLiteral("-->");
            } else {
                out += QStringLiteral("<span data-") + marker_ + QStringLiteral("=\"") + id +
                       QStringLiteral("\" contenteditable=\"false\">") + shortCode(block) +
                       QStringLiteral("</span>");
            }
            if (state == State::Tag) {
                lastInTag = u'q';
            }
            i = end;
            continue;
        }
        const QChar c = text[i];
        switch (state) {
            case State::Data:
                if (at(i, u"<!--")) {
                    out += QStringLiteral("<!--");
                    i += 4;
                    state = State::Comment;
                    continue;
                }
                if (c == u'<' && i + 1 < n) {
                    const QChar d = text[i + 1];
                    if (d.isLetter() || d == u'!' ||
                        (d == u'/' && i + 2 < n && text[i + 2].isLetter())) {
                        endTag = d == u'/';
                        tagName = d == u'!' ? QString() : readName(i + (endTag ? 2 : 1));
                        quote = QChar();
                        lastInTag = d;
                        state = State::Tag;
                    }
                }
                break;
            case State::Tag:
                if (!quote.isNull()) {
                    if (c == quote) {
                        quote = QChar();
                    }
                } else if ((c == u'"' || c == u'\'') && lastInTag == u'=') {
                    quote = c;
                } else if (c == u'>') {
                    state = State::Data;
                    if (endTag) {
                        if (open.contains(tagName)) {
                            while (open.takeLast() != tagName) {
                            }
                        }
                    } else if (isTableStructure(tagName)) {
                        open.append(tagName);
                    } else if (isRawText(tagName)) {
                        rawName = tagName;
                        state = State::RawText;
                    }
                }
                if (!c.isSpace()) {
                    lastInTag = c;
                }
                break;
            case State::Comment:
                if (at(i, u"-->")) {
                    out += QStringLiteral("-->");
                    i += 3;
                    state = State::Data;
                    continue;
                }
                break;
            case State::RawText:
                if (c == u'<' && at(i, QString(QStringLiteral("</") + rawName)) &&
                    (i + 2 + rawName.size() >= n || !isNameChar(text[i + 2 + rawName.size()]))) {
                    endTag = true;
                    tagName = rawName;
                    quote = QChar();
                    lastInTag = u'/';
                    state = State::Tag;
                }
                break;
        }
        out += c;
        ++i;
    }
    return out;
}

QString PhpProtection::restore(const QString& html) const {
    if (blocks_.isEmpty()) {
        return html;
    }
    QString out;
    out.reserve(html.size());
    qsizetype from = 0;
    auto it = placeholders_.globalMatch(html);
    while (it.hasNext()) {
        const auto match = it.next();
        QStringView idText = match.capturedView(1);
        if (idText.isEmpty()) {
            idText = match.capturedView(2);
        }
        if (idText.isEmpty()) {
            idText = match.capturedView(3);
        }
        bool ok = false;
        const int id = idText.toInt(&ok);
        if (!ok || id < 0 || id >= blocks_.size()) {
            continue;
        }
        out += QStringView(html).mid(from, match.capturedStart() - from);
        out += blocks_[id];
        from = match.capturedEnd();
    }
    out += QStringView(html).mid(from);
    return out;
}

}  // namespace zor::editor
