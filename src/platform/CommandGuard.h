#pragma once

#include <QObject>
#include <functional>
#include <type_traits>

class QWidget;

namespace zor {

// Runs one command. An error thrown by it ends the command and its text is shown in a message
// box; nothing ever crosses the event loop. Returns false when the command failed.
bool runGuarded(QWidget* parent, const std::function<void()>& command);

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
