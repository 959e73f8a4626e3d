#include "support/FileDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

namespace zor::test {

std::optional<SeenFileDialog> answerFileDialog(QWidget* modal, const QString& path) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) {
        return std::nullopt;
    }
    SeenFileDialog seen{dialog->windowTitle(), dialog->nameFilters(), {}, {}};
    if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        seen.nameFilters.clear();
        for (int i = 0; i < types->count(); ++i) {
            seen.nameFilters.append(types->itemText(i));
        }
    }
    if (auto* files = dialog->findChild<QFileSystemModel*>()) {
        seen.patterns = files->nameFilters();
    }
    // The file name box holds the preselected file; the list may not have loaded yet.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        if (!name->text().isEmpty()) {
            seen.preselected = dialog->directory().absoluteFilePath(name->text());
        }
    }
    if (path.isEmpty()) {
        dialog->reject();
    } else {
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();  // the dialog's own check of the file runs
    }
    return seen;
}

std::function<void(QWidget*)> later(std::function<void(QWidget*)> handler) {
    return [handler](QWidget* modal) {
        QTimer::singleShot(0, modal, [handler, modal = QPointer<QWidget>(modal)] {
            if (modal) {
                handler(modal);
            }
        });
    };
}

}  // namespace zor::test
