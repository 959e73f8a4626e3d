#pragma once

#include <QString>
#include <optional>

class QWidget;

// Message and input boxes, the way every window of the program asks and tells.
namespace zor::dialogs {

void showError(QWidget* parent, const QString& text);
void showMessage(QWidget* parent, const QString& text);
// An input box with a caption, a prompt and a preset text; nullopt when cancelled.
std::optional<QString> inputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                                  const QString& preset = QString());

}  // namespace zor::dialogs
