#pragma once

#include <QString>

#include "publish/PublishSession.h"

// How the progress of a publishing command reads, in the window and on a terminal alike.
namespace zor::publish {

// "Проверка файлов: 3 из 12", "Отправка файлов: …", "Скачивание файлов: …".
QString stageText(Stage stage, int k, int n);
// "512 байт", "1,2 КБ", "3,4 МБ", "1,0 ГБ".
QString sizeText(qint64 bytes);

}  // namespace zor::publish
