#include "platform/Dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace zor::dialogs {

void showError(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("ZOR OD"), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void showMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("ZOR OD"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool ask(QWidget* parent, const QString& caption, const QString& text, bool yesByDefault) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> inputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                                  const QString& preset) {
    QInputDialog dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(preset);
    dialog.setInputMode(QInputDialog::TextInput);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

}  // namespace zor::dialogs
