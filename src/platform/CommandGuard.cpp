#include "platform/CommandGuard.h"

#include <QString>
#include <QWidget>
#include <exception>

#include "platform/Dialogs.h"
#include "platform/Errors.h"

namespace zor {

bool runGuarded(QWidget* parent, const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const ZorError& e) {
        dialogs::showError(parent, e.text());
    } catch (const std::exception& e) {
        dialogs::showError(parent, QString::fromUtf8(e.what()));
    }
    return false;
}

}  // namespace zor
