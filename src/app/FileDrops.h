#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace zor::app {

// Files dragged onto a window, wherever they land in it (text boxes included): the first
// dropped file is handed on, the others are ignored. Accepting starts at construction and ends
// at destruction.
class FileDrops : public QObject {
    Q_OBJECT
public:
    // onDrop gets the local path of the first file, as the drop gave it. It runs once the drop
    // itself has finished, so the program the file came from is not kept waiting meanwhile.
    FileDrops(QWidget& window, std::function<void(const QString& path)> onDrop);
    ~FileDrops() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    std::function<void(const QString&)> onDrop_;
};

}  // namespace zor::app
