#include "publish/ProgressText.h"

#include "platform/Errors.h"

namespace zor::publish {

QString stageText(Stage stage, int k, int n) {
    QString what;
    switch (stage) {
        case Stage::Checking:
            what = QStringLiteral("Проверка файлов: %1 из %2");
            break;
        case Stage::Sending:
            what = QStringLiteral("Отправка файлов: %1 из %2");
            break;
        case Stage::Receiving:
            what = QStringLiteral("Скачивание файлов: %1 из %2");
            break;
        case Stage::Retrying:
            what = QStringLiteral("Повтор %1 из %2");
            break;
        case Stage::Deleting:
            what = QStringLiteral("Удаление файлов с сервера: %1 из %2");
            break;
        case Stage::Verifying:
            what = QStringLiteral("Проверка сайта: страница %1 из %2");
            break;
        case Stage::Packing:
            what = QStringLiteral("Упаковка: %1 из %2");
            break;
        case Stage::SendingArchive:
            what = QStringLiteral("Отправка архива: %1 из %2");
            break;
        case Stage::Unpacking:
            what = QStringLiteral("Распаковка на сервере: %1 из %2");
            break;
        case Stage::Confirming:
            what = QStringLiteral("Проверка: %1 из %2");
            break;
    }
    return what.arg(k).arg(n);
}

QString plainConnectionNote(bool tlsRefused) {
    return tlsRefused ? QStringLiteral(
                            "Соединение не зашифровано: сервер не поддерживает "
                            "защищённое соединение, пароль и файлы передаются "
                            "открытым текстом.")
                      : QStringLiteral("Соединение не зашифровано.");
}

QString sizeText(qint64 bytes) {
    if (bytes < 1024) {
        return byteCountText(bytes);
    }
    const char* units[] = {"КБ", "МБ", "ГБ"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 2) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(QString::number(value, 'f', 1).replace(u'.', u','),
                                       QString::fromUtf8(units[unit]));
}

void ProgressItem::set(Stage s, int itemK, int itemN, const QString& itemName, qint64 itemSize) {
    reported = true;
    stage = s;
    k = itemK;
    n = itemN;
    name = itemName;
    size = itemSize;
    done = 0;
}

QString ProgressItem::stageText() const {
    return publish::stageText(stage, k, n);
}

QString ProgressItem::bytesText() const {
    return size >= 0 ? sizeText(done) + QStringLiteral(" из ") + sizeText(size) : sizeText(done);
}

}  // namespace zor::publish
