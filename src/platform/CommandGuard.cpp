#include "platform/CommandGuard.h"

#include <QScopeGuard>
#include <QString>
#include <QWidget>
#include <exception>

#include "platform/Dialogs.h"
#include "platform/Errors.h"

namespace zor {
namespace {

// What ended a command, as the user reads it.
void showFailure(QWidget* parent, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CommandRefused& e) {
        dialogs::showMessage(parent, e.text());
    } catch (const Cancelled&) {
        // Stopped by the user, who needs no message.
    } catch (const ZorError& e) {
        dialogs::showError(parent, e.text());
    } catch (const std::exception& e) {
        dialogs::showError(parent, QString::fromUtf8(e.what()));
    }
}

}  // namespace

bool runGuarded(QWidget* parent, const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const std::exception&) {
        showFailure(parent, std::current_exception());
    }
    return false;
}

bool CommandRunner::run(QWidget* window, const ProgressWindow::Setup& setup,
                        const std::function<void(ProgressWindow&)>& command) {
    if (busy_) {
        return false;
    }
    std::exception_ptr failure;
    {
        busy_ = true;
        const auto done = qScopeGuard([this] { busy_ = false; });
        ProgressWindow progress(window, setup);
        try {
            command(progress);
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        showFailure(window, failure);
        return false;
    }
    return true;
}

}  // namespace zor
