#include "publish/SftpProtocol.h"

#include <QDateTime>

#include "publish/SftpClient.h"

namespace zor::publish {
namespace sftp {
namespace {

QString permissionsText(const Attributes& a) {
    QString t;
    const quint32 kind = a.permissions & 0170000;
    t += kind == 0040000 ? u'd' : kind == 0120000 ? u'l' : u'-';
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        t += (a.permissions >> (8 - i)) & 1 ? QChar::fromLatin1(letters[i]) : u'-';
    }
    return t;
}

}  // namespace

int replyCodeOf(quint32 status) {
    switch (status) {
        case FxNoSpace:
        case FxQuotaExceeded:
            return 552;
        case FxFileExists:
            return 553;
        default:
            return 550;
    }
}

QString listingLine(const QString& name, const Attributes& a) {
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime t = QDateTime::fromSecsSinceEpoch(a.mtime, Qt::UTC);
    return QStringLiteral("%1    1 %2 %3 %4 %5 %6 %7:%8 %9")
        .arg(a.flags & AttrPermissions ? permissionsText(a) : QStringLiteral("-rw-r--r--"))
        .arg(a.uid, -8)
        .arg(a.gid, -8)
        .arg(a.size, 12)
        .arg(QLatin1String(months[t.date().month() - 1]))
        .arg(t.date().day(), 2)
        .arg(t.time().hour(), 2, 10, QChar(u'0'))
        .arg(t.time().minute(), 2, 10, QChar(u'0'))
        .arg(name);
}

}  // namespace sftp

using namespace sftp;

QString sftpStatusText(quint32 code) {
    switch (code) {
        case FxEof:
            return QStringLiteral("файл кончился раньше");
        case FxNoSuchFile:
        case FxNoSuchPath:
            return QStringLiteral("нет такого файла или папки");
        case FxPermissionDenied:
            return QStringLiteral("доступ запрещён");
        case FxFailure:
            return QStringLiteral(
                "сервер не смог выполнить операцию (папка уже есть, не пуста "
                "или на диске нет места)");
        case 5:
            return QStringLiteral("сервер не понял запрос");
        case 6:
        case 7:
            return QStringLiteral("соединение потеряно");
        case 8:
            return QStringLiteral("сервер не умеет этого");
        case FxFileExists:
            return QStringLiteral("файл уже есть");
        case FxWriteProtect:
            return QStringLiteral("диск сервера защищён от записи");
        case FxNoSpace:
            return QStringLiteral("на сервере нет места");
        case FxQuotaExceeded:
            return QStringLiteral("превышена квота на сервере");
        case 18:
            return QStringLiteral("папка не пуста");
        case 19:
            return QStringLiteral("это не папка");
        case 20:
            return QStringLiteral("недопустимое имя");
        default:
            return QStringLiteral("ошибка SFTP %1").arg(code);
    }
}

}  // namespace zor::publish
