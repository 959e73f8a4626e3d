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

}  // namespace zor
