#pragma once

#include <QObject>
#include <functional>
#include <type_traits>

#include "platform/ProgressWindow.h"

class QWidget;

namespace zor {

// Runs one command. An error thrown by it ends the command and its text is shown in a message
// box (a CommandRefused as a message, a Cancelled not at all); nothing ever crosses the event
// loop. Returns false when the command failed.
bool runGuarded(QWidget* parent, const std::function<void()>& command);

// Runs the long commands of a window, one at a time: each under its progress window, inside
// the guard. While one runs nothing may switch, change or close the open site, nor start
// another long command; the windows ask busy() before they do.
class CommandRunner {
public:
    bool busy() const { return busy_; }
    // Runs `command` with a progress window over `window`, unless another command runs. Its
    // failure is shown once the progress window is gone. True when the command finished; false
    // when it was refused, cancelled or failed.
    bool run(QWidget* window, const ProgressWindow::Setup& setup,
             const std::function<void(ProgressWindow&)>& command);

private:
    bool busy_ = false;
};

// Connects a signal to a command that runs inside the guard. The command may take the signal's
// arguments or none.
template <typename Sender, typename Signal, typename Receiver, typename Fn>
QMetaObject::Connection connectGuarded(Sender* sender, Signal signal, Receiver* receiver, Fn fn) {
    return QObject::connect(sender, signal, receiver, [receiver, fn](auto&&... args) {
        runGuarded(receiver, [&] {
            if constexpr (std::is_invocable_v<const Fn&, decltype(args)...>) {
                fn(args...);
            } else {
                fn();
            }
        });
    });
}

}  // namespace zor
