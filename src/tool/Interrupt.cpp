#include "tool/Interrupt.h"

#include <csignal>
#include <initializer_list>

namespace zor::tool {
namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void noteSignal(int number) {
    caught = number;
}

}  // namespace

void installInterruptHandlers() {
    for (const int number : {SIGINT, SIGTERM}) {
        struct sigaction previous {};
        ::sigaction(number, nullptr, &previous);
        // A job started with the signal ignored (in the background of a shell) keeps ignoring it.
        if (previous.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = noteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(number, &action, nullptr);
    }
    // Output into a closed pipe ("| head") fails as a write, instead of killing the upload.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

int caughtSignal() {
    return caught;
}

}  // namespace zor::tool
