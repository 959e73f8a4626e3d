#include "editor/PhpProtection.h"

#include <QRegularExpression>
#include <algorithm>
#include <initializer_list>

#include "editor/PhpScanner.h"

namespace zor::editor {
namespace {

bool isOneOf(QStringView name, std::initializer_list<QStringView> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](QStringView n) { return name.compare(n, Qt::CaseInsensitive) == 0; });
}

// Elements inside which the HTML parser moves an element out of the way (or drops it).
bool movesElementsOut(QStringView name) {
    return isOneOf(name, {u"table", u"thead", u"tbody", u"tfoot", u"tr", u"colgroup", u"select"});
}

// Elements that decide the above: these and the cells, which allow content again.
bool isTableStructure(QStringView name) {
    return movesElementsOut(name) || isOneOf(name, {u"td", u"th", u"caption"});
}

// Elements whose text the parser keeps raw (or escapes on the way out): no markup inside.
bool isRawText(QStringView name) {
    return isOneOf(name, {u"script", u"style", u"textarea", u"title", u"xmp", u"iframe", u"noembed",
                          u"noframes", u"plaintext"});
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
    // attribute name comes back with an empty value, which goes with it; a token the text
    // itself follows with an empty value ends in "r" instead, so that value stays.
    placeholders_ = QRegularExpression(
        QStringLiteral("<span\\b[^>]*?\\bdata-%1=\"(\\d+)\"[^>]*>.*?</span>"
                       "|<!--%1:(\\d+)-->"
                       "|%1(\\d+)(?:q(?:=\"\")?|r)")
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
    if (!text.contains(u"<?")) {
        return text.toString();
    }
    enum class State { Data, Tag, Comment, RawText };
    State state = State::Data;
    QString out;
    out.reserve(text.size() + 256);
    qsizetype copied = 0;  // text before this position is in out already
    QStringList open;      // table structure and selects now open, innermost last
    QStringView tagName;   // the tag being read
    bool endTag = false;
    QChar quote;          // the quote of the attribute value being read, if any
    QChar lastInTag;      // the last non-blank character of the tag so far
    QStringView rawName;  // the element whose raw text is being read

    const qsizetype n = text.size();
    auto at = [&](qsizetype i, QStringView s) {
        return text.mid(i, s.size()).compare(s, Qt::CaseInsensitive) == 0;
    };
    auto nameAt = [&](qsizetype i) {
        qsizetype j = i;
        while (j < n && isNameChar(text[j])) {
            ++j;
        }
        return text.mid(i, j - i);
    };

    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (c == u'<' && i + 1 < n && text[i + 1] == u'?') {
            const qsizetype end = phpBlockEnd(text, i);
            const QString block = text.mid(i, end - i).toString();
            const QString id = QString::number(idOf(block));
            out += text.mid(copied, i - copied);
            if (state != State::Data) {
                out += marker_ + id + (text.mid(end).startsWith(u"=\"\"") ? u'r' : u'q');
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
            i = copied = end;
            continue;
        }
        switch (state) {
            case State::Data:
                if (c == u'<' && at(i, u"<!--")) {
                    i += 4;
                    state = State::Comment;
                    continue;
                }
                if (c == u'<' && i + 1 < n) {
                    const QChar d = text[i + 1];
                    if (d.isLetter() || d == u'!' ||
                        (d == u'/' && i + 2 < n && text[i + 2].isLetter())) {
                        endTag = d == u'/';
                        tagName = d == u'!' ? QStringView() : nameAt(i + (endTag ? 2 : 1));
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
                        const QString name = tagName.toString().toLower();
                        if (isTableStructure(name) && open.contains(name)) {
                            while (open.takeLast() != name) {
                            }
                        }
                    } else if (isTableStructure(tagName)) {
                        open.append(tagName.toString().toLower());
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
                if (c == u'-' && at(i, u"-->")) {
                    i += 3;
                    state = State::Data;
                    continue;
                }
                break;
            case State::RawText:
                if (c == u'<' && i + 1 < n && text[i + 1] == u'/' && at(i + 2, rawName) &&
                    (i + 2 + rawName.size() >= n || !isNameChar(text[i + 2 + rawName.size()]))) {
                    endTag = true;
                    tagName = rawName;
                    quote = QChar();
                    lastInTag = u'/';
                    state = State::Tag;
                }
                break;
        }
        ++i;
    }
    out += text.mid(copied);
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
