#include "files/TForm4.h"

#include <QLabel>
#include <QVBoxLayout>

namespace zor::files {

TForm4::TForm4(OpenSiteState& state, QWidget* parent) : QDialog(parent), state_(state) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Файл-менеджер"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QStringLiteral(
        "Копирование картинок, музыки и других файлов в сайт появится в одной из следующих версий. "
        "Пока файлы можно класть в папки mf/img, mf/music и mf/other сайта вручную."));
    note->setWordWrap(true);
    layout->addWidget(note);
    resize(420, 120);
}

}  // namespace zor::files
