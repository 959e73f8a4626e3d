#pragma once

#include <QString>

#include "publish/PublishSession.h"

// How the progress of a publishing command is kept and how it reads, in the window and on a
// terminal alike.
namespace zor::publish {

// The item a command reported last, and how far its transfer has gone.
struct ProgressItem {
    bool reported = false;
    Stage stage = Stage::Checking;
    int k = 0, n = 0;
    QString name;
    qint64 size = -1;  // -1: not known
    qint64 done = 0;

    // A report of the command: a new item, nothing of it moved yet.
    void set(Stage s, int itemK, int itemN, const QString& itemName, qint64 itemSize);
    // "Отправка файлов: 3 из 12" for this item.
    QString stageText() const;
    // "1,2 КБ из 4,0 КБ", or "1,2 КБ" while the size is not known.
    QString bytesText() const;
};

// "Проверка файлов: 3 из 12", "Отправка файлов: …", "Скачивание файлов: …".
QString stageText(Stage stage, int k, int n);
// What the progress says of a session that is not encrypted: the server refused TLS
// (`tlsRefused`) or the site is set to go without it.
QString plainConnectionNote(bool tlsRefused);
// "512 байт", "44 байта", "1,2 КБ", "3,4 МБ", "1,0 ГБ".
QString sizeText(qint64 bytes);

}  // namespace zor::publish
