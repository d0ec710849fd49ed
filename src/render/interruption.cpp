#include "interruption.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

namespace velloran {

namespace {

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onStopSignal(int signal) {
    g_signal.store(signal, std::memory_order_relaxed);
}

} // namespace

void installInterruptHandler() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        // A second signal falls back to the default action and ends the program.
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

int interruptSignal() {
    return g_signal.load(std::memory_order_relaxed);
}

bool interruptRequested() {
    return interruptSignal() != 0;
}

void requestInterrupt() {
    g_signal.store(SIGINT, std::memory_order_relaxed);
}

int interruptExitCode(int signal) {
    return 128 + signal;
}

const char *signalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "SIGINT";
    }
}

} // namespace velloran
