#pragma once

#include <QString>
#include <optional>

// The visual editor's document text, in the form the editor's body extraction reads: an opening
// body tag written "<BODY>" and a 16-character tail of the closing tags and a line end.
namespace zor::editor {

inline const QString DocumentHead = QStringLiteral("<HTML><HEAD></HEAD>\r\n<BODY>");
inline const QString DocumentTail = QStringLiteral("</BODY></HTML>\r\n");

// The whole document around a body.
QString bodyDocument(const QString& body);
// The edited body: everything after the first "<BODY>" except the last 16 characters. Nothing
// when the document has no "<BODY>" or is too short to hold the tail.
std::optional<QString> extractBody(const QString& documentHtml);

// The source view's lines, each ended by CR LF, as they are pushed into the visual editor.
QString linesForVisualEditor(const QString& sourceText);
// The source view's text as files hold it: CR LF between lines, nothing added at the end.
QString fileText(const QString& sourceText);

}  // namespace zor::editor
