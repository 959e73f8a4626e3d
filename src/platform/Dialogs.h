#pragma once

#include <QString>
#include <optional>

class QWidget;

// Message and input boxes, the way every window of the program asks and tells. Their texts are
// plain text, never markup: they carry server replies, file names and page titles, which must
// not turn into links or formatting.
namespace zor::dialogs {

void showError(QWidget* parent, const QString& text);
void showMessage(QWidget* parent, const QString& text);
// A question with "Yes" and "No"; true for "Yes". `yesByDefault` false: Enter answers No.
bool ask(QWidget* parent, const QString& caption, const QString& text, bool yesByDefault = true);
// An input box with a caption, a prompt and a preset text; nullopt when cancelled.
std::optional<QString> inputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                                  const QString& preset = QString());

}  // namespace zor::dialogs
