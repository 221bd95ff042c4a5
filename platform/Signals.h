#pragma once
// What the program does when it is told to end by a signal.
//
// A program that watches the termination signals (SIGINT, SIGTERM, SIGHUP) gets a file descriptor that
// becomes readable when one arrives and ends on its normal path: files finished or removed, settings
// written, child processes ended. A second such signal, or any of them in a program that does not watch,
// and SIGQUIT or SIGABRT always, end the program at once: the emergency hooks run (they may only make
// async-signal-safe calls, such as kill(2)) and the signal takes its default course.
namespace korvane {

using TEmergencyHook = void (*)() noexcept;

// Installs the handlers (once; a signal the program ignores stays ignored) and adds a hook. At most 8 hooks.
void AddEmergencyHook(TEmergencyHook hook);

// From now on the first termination signal only makes the returned descriptor readable (it stays readable).
// Installs the handlers when not done yet. The same descriptor is returned on every call.
int WatchTerminationSignals();
// The first termination signal that arrived while watched, 0 before any.
int TerminationSignal();
// Ends the process as the signal would have, after the normal path has cleaned up: the default action of
// `signal` is restored and the signal raised. Returns only when the signal does not end the process.
void RaiseDefault(int signal);

} // namespace korvane
