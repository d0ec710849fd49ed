#pragma once

// Stopping a render from outside: Ctrl-C (SIGINT), SIGTERM (what `kill`,
// systemd and batch schedulers send) and SIGHUP (the terminal went away) all
// ask the run to stop after the step under way; it then writes that step's
// frame, the metrics and the plot as usual and exits with 128 + the signal's
// number (130, 143, 129). A second signal of the same kind ends the program
// at once.

namespace velloran {

void installInterruptHandler();

// The signal that asked the run to stop (SIGINT, SIGTERM or SIGHUP), or 0.
int interruptSignal();
bool interruptRequested();
// As if Ctrl-C had been pressed (tests; another part of the program).
void requestInterrupt();

// 128 + signal, the status a shell reports for a program the signal ended.
int interruptExitCode(int signal);
// "SIGINT", "SIGTERM", "SIGHUP".
const char *signalName(int signal);

} // namespace velloran
