#include "editor/EditorDocument.h"

namespace zor::editor {

QString bodyDocument(const QString& body) {
    return DocumentHead + body + DocumentTail;
}

std::optional<QString> extractBody(const QString& documentHtml) {
    const auto p = documentHtml.indexOf(QStringLiteral("<BODY>"));
    if (p < 0) {
        return std::nullopt;
    }
    // From right after "<BODY>", Length - p - 21 characters (p counted from 1).
    const auto length = documentHtml.size() - (p + 1) - 21;
    if (length < 0) {
        return std::nullopt;
    }
    return documentHtml.mid(p + 6, length);
}

QString linesForVisualEditor(const QString& sourceText) {
    QString out = sourceText;
    if (!out.isEmpty() && !out.endsWith(u'\n')) {
        out += u'\n';
    }
    return fileText(out);
}

QString fileText(const QString& sourceText) {
    QString out = sourceText;
    out.replace(u'\n', QStringLiteral("\r\n"));
    return out;
}

}  // namespace zor::editor
