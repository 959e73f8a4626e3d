#include "platform/Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace zor::shell {

void openAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

}  // namespace zor::shell
