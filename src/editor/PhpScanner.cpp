#include "editor/PhpScanner.h"

namespace zor::editor {
namespace {

// PHP's names: ASCII letters, digits and "_", and every byte from 0x80 on.
bool isLabelStart(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || u == u'_' || u >= 0x80;
}

bool isLabelChar(QChar c) {
    return isLabelStart(c) || (c >= u'0' && c <= u'9');
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// One pass over the code of a block. Each reader takes the position after what opened its form
// and returns the position after what closed it; `closed` is set once a "?>" ends the block, and
// then the reader returns the position after it at once.
class Scanner {
public:
    explicit Scanner(QStringView text) : t_(text), n_(text.size()) {}

    qsizetype block(qsizetype start) {
        const qsizetype afterTag = start + 2;
        if (at(afterTag, u"php") && (afterTag + 3 >= n_ || t_[afterTag + 3].isSpace())) {
            return code(afterTag + 3, false);
        }
        if (afterTag < n_ && t_[afterTag] == u'=') {
            return code(afterTag + 1, false);
        }
        if (afterTag >= n_ || t_[afterTag].isSpace()) {
            return code(afterTag, false);  // a short open tag, where the server allows them
        }
        // Not PHP: an XML declaration or another processing instruction.
        const qsizetype end = t_.indexOf(u"?>", afterTag);
        return end < 0 ? n_ : end + 2;
    }

private:
    bool at(qsizetype i, QStringView s) const {
        return i + s.size() <= n_ && t_.mid(i, s.size()).compare(s, Qt::CaseInsensitive) == 0;
    }
    QChar next(qsizetype i) const { return i + 1 < n_ ? t_[i + 1] : QChar(); }

    // Code up to the closing "?>"; in a string's "{$" … "}" (nested), up to the matching "}".
    qsizetype code(qsizetype i, bool nested) {
        int depth = 0;
        while (i < n_ && !closed_) {
            const QChar c = t_[i];
            const QChar d = next(i);
            if (c == u'?' && d == u'>') {
                closed_ = true;
                return i + 2;
            }
            if (c == u'?' && d == u'?') {
                i += 2;  // "??" is one operator: "??>" does not close
            } else if (c == u'\'') {
                i = singleQuoted(i + 1);
            } else if (c == u'"' || c == u'`') {
                i = interpolated(i + 1, c);
            } else if ((c == u'#' && d != u'[') || (c == u'/' && d == u'/')) {
                i = lineComment(i + 1);
            } else if (c == u'/' && d == u'*') {
                const qsizetype end = t_.indexOf(u"*/", i + 2);
                i = end < 0 ? n_ : end + 2;
            } else if (c == u'<' && at(i, u"<<<")) {
                i = heredoc(i);
            } else if (nested && c == u'{') {
                ++depth;
                ++i;
            } else if (nested && c == u'}') {
                ++i;
                if (depth-- == 0) {
                    return i;
                }
            } else if (isLabelStart(c)) {
                i = name(i);
            } else {
                ++i;
            }
        }
        return closed_ ? i : n_;
    }

    qsizetype singleQuoted(qsizetype i) const {
        while (i < n_) {
            if (t_[i] == u'\\') {
                i += 2;
            } else if (t_[i] == u'\'') {
                return i + 1;
            } else {
                ++i;
            }
        }
        return n_;
    }

    // Code in a string or heredoc, "{$" … "}" or "${" … "}", when one starts at i: where it
    // ends; otherwise -1.
    qsizetype embeddedCode(qsizetype i) {
        if (t_[i] == u'{' && next(i) == u'$') {
            return code(i + 1, true);
        }
        if (t_[i] == u'$' && next(i) == u'{') {
            return code(i + 2, true);
        }
        return -1;
    }

    // A double-quoted or backtick string: escapes, and code in "{$" … "}" and "${" … "}".
    qsizetype interpolated(qsizetype i, QChar quote) {
        while (i < n_ && !closed_) {
            const QChar c = t_[i];
            if (c == u'\\') {
                i += 2;
            } else if (c == quote) {
                return i + 1;
            } else if (const qsizetype end = embeddedCode(i); end >= 0) {
                i = end;
            } else {
                ++i;
            }
        }
        return closed_ ? i : n_;
    }

    // Up to the line end, or the "?>" that ends the block there.
    qsizetype lineComment(qsizetype i) {
        for (; i < n_; ++i) {
            if (t_[i] == u'\n' || t_[i] == u'\r') {
                return i;
            }
            if (t_[i] == u'?' && next(i) == u'>') {
                closed_ = true;
                return i + 2;
            }
        }
        return n_;
    }

    // "<<<" LABEL, "<<<"LABEL"" or "<<<'LABEL'" (a nowdoc) and a line end; the text runs to a
    // line that starts, after blanks, with the label not followed by a name character.
    qsizetype heredoc(qsizetype start) {
        qsizetype i = start + 3;
        while (i < n_ && isBlank(t_[i])) {
            ++i;
        }
        const QChar quote = i < n_ && (t_[i] == u'"' || t_[i] == u'\'') ? t_[i] : QChar();
        if (!quote.isNull()) {
            ++i;
        }
        const qsizetype labelStart = i;
        if (i >= n_ || !isLabelStart(t_[i])) {
            return start + 3;
        }
        while (i < n_ && isLabelChar(t_[i])) {
            ++i;
        }
        const QStringView label = t_.mid(labelStart, i - labelStart);
        if (!quote.isNull() && (i >= n_ || t_[i++] != quote)) {
            return start + 3;
        }
        if (i < n_ && t_[i] == u'\r') {
            i += next(i) == u'\n' ? 2 : 1;
        } else if (i < n_ && t_[i] == u'\n') {
            ++i;
        } else {
            return start + 3;
        }
        const bool nowdoc = quote == u'\'';
        bool lineStart = true;
        while (i < n_ && !closed_) {
            if (lineStart) {
                qsizetype k = i;
                while (k < n_ && isBlank(t_[k])) {
                    ++k;
                }
                const qsizetype end = k + label.size();
                if (t_.mid(k, label.size()) == label && (end >= n_ || !isLabelChar(t_[end]))) {
                    return end;
                }
                lineStart = false;
            }
            const QChar c = t_[i];
            if (c == u'\n' || c == u'\r') {
                i += c == u'\r' && next(i) == u'\n' ? 2 : 1;
                lineStart = true;
            } else if (nowdoc) {
                ++i;
            } else if (c == u'\\') {
                // An escaped line end is still a line end.
                i += next(i) == u'\n' || next(i) == u'\r' ? 1 : 2;
            } else if (const qsizetype end = embeddedCode(i); end >= 0) {
                i = end;
            } else {
                ++i;
            }
        }
        return closed_ ? i : n_;
    }

    // A name; "__halt_compiler()" makes the rest of the text data that PHP never reads.
    qsizetype name(qsizetype i) {
        const qsizetype start = i;
        while (i < n_ && isLabelChar(t_[i])) {
            ++i;
        }
        const bool member =
            start > 0 && (t_[start - 1] == u'$' || t_[start - 1] == u'>' || t_[start - 1] == u':');
        if (member || t_.mid(start, i - start).compare(u"__halt_compiler", Qt::CaseInsensitive)) {
            return i;
        }
        qsizetype k = i;
        while (k < n_ && t_[k].isSpace()) {
            ++k;
        }
        return k < n_ && t_[k] == u'(' ? n_ : i;
    }

    QStringView t_;
    qsizetype n_;
    bool closed_ = false;
};

}  // namespace

qsizetype phpBlockEnd(QStringView text, qsizetype start) {
    return Scanner(text).block(start);
}

QStringList phpBlocks(QStringView text) {
    QStringList blocks;
    for (qsizetype i = text.indexOf(u"<?"); i >= 0; i = text.indexOf(u"<?", i)) {
        const qsizetype end = phpBlockEnd(text, i);
        blocks.append(text.mid(i, end - i).toString());
        i = end;
    }
    return blocks;
}

bool keepsPhpBlocks(QStringView original, QStringView edited) {
    qsizetype from = 0;
    for (const QString& block : phpBlocks(original)) {
        const qsizetype at = edited.indexOf(block, from);
        if (at < 0) {
            return false;
        }
        from = at + block.size();
    }
    return true;
}

}  // namespace zor::editor
