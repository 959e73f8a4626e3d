#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace zor::test {

// What an open-file dialog looked like when it came up.
struct SeenFileDialog {
    QString title;
    QStringList nameFilters;  // as the dialog shows them
    QStringList patterns;     // what its file list matches
    QString preselected;      // the file it offered, empty when none
};

// Answers a real (widget) open-file dialog as a user would: picks path and confirms, or cancels
// when path is empty. Returns what the dialog showed; nullopt when modal is no file dialog (it
// is then left alone).
std::optional<SeenFileDialog> answerFileDialog(QWidget* modal, const QString& path);

// Wraps a handler for DialogDriver::onOtherModal so that it runs a moment later in the modal
// window's own loop rather than inside the driver: the boxes it opens are then answered too.
std::function<void(QWidget*)> later(std::function<void(QWidget*)> handler);

}  // namespace zor::test
