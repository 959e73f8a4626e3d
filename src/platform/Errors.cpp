#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

namespace zor {

QString systemErrorText(int errorNumber) {
    switch (errorNumber) {
        case ENOENT:
            return QStringLiteral("файл или папка не найдены");
        case EACCES:
        case EPERM:
            return QStringLiteral("нет прав доступа");
        case ENOSPC:
        case EDQUOT:
            return QStringLiteral("на диске не осталось места");
        case EROFS:
            return QStringLiteral("диск доступен только для чтения");
        case EFBIG:
            return QStringLiteral("файл превысил допустимый размер");
        case ENOTDIR:
            return QStringLiteral("часть пути не является папкой");
        case EISDIR:
            return QStringLiteral("это папка, а не файл");
        case EEXIST:
            return QStringLiteral("файл или папка с таким именем уже есть");
        case ENAMETOOLONG:
            return QStringLiteral("слишком длинное имя");
        case ENOTEMPTY:
            return QStringLiteral("папка не пуста");
        case EBUSY:
        case ETXTBSY:
            return QStringLiteral("файл занят другой программой");
        case EIO:
            return QStringLiteral("ошибка чтения или записи на диске");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("открыто слишком много файлов");
        case ELOOP:
            return QStringLiteral("слишком много символических ссылок подряд");
        default:
            return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

QString fileErrorText(const QString& what, const QString& path, const QString& reason) {
    return QStringLiteral("%1 \u00AB%2\u00BB: %3").arg(what, path, reason);
}

QString byteCountText(qint64 bytes) {
    // Counts ending in 2, 3 or 4 take "байта", except 12 to 14; all others take "байт", which
    // is also the singular (1, 21, 101 байт).
    const qint64 lastTwo = bytes % 100;
    const qint64 last = bytes % 10;
    const bool few = last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14);
    return QStringLiteral("%1 %2").arg(bytes).arg(few ? QStringLiteral("байта")
                                                      : QStringLiteral("байт"));
}

}  // namespace zor
