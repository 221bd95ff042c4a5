#include "platform/Signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korvane {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction gPrevious[kSignalCount];

constexpr int kMaxHooks = 8;
std::atomic<TEmergencyHook> gHooks[kMaxHooks];

std::atomic<int> gWatchFd{-1};
std::atomic<int> gReceived{0};

bool IsTermination(int sig) {
    return sig == SIGINT || sig == SIGTERM || sig == SIGHUP;
}

// Only async-signal-safe calls from here on.
void OnSignal(int sig, siginfo_t* info, void* context) {
    const int saved = errno;
    const int fd = gWatchFd.load();
    if (IsTermination(sig) && fd >= 0) {
        int expected = 0;
        if (gReceived.compare_exchange_strong(expected, sig)) {
            const unsigned long long one = 1;
            ssize_t ignored = ::write(fd, &one, sizeof one);
            (void)ignored;
            errno = saved;
            return;
        }
    }
    for (auto& hook : gHooks)
        if (TEmergencyHook h = hook.load()) h();
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& prev = gPrevious[i];
        if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
            prev.sa_sigaction(sig, info, context);
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
            prev.sa_handler(sig);
        } else {
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            sigemptyset(&dfl.sa_mask);
            ::sigaction(sig, &dfl, nullptr);
            ::raise(sig); // delivered when this handler returns: the default action ends the process
        }
    }
    errno = saved;
}

void InstallOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int i = 0; i < kSignalCount; ++i) {
            struct sigaction sa {};
            sa.sa_sigaction = OnSignal;
            sa.sa_flags = SA_SIGINFO | SA_RESTART;
            sigemptyset(&sa.sa_mask);
            ::sigaction(kSignals[i], &sa, &gPrevious[i]);
            // A signal the program chose to ignore stays ignored.
            if (gPrevious[i].sa_handler == SIG_IGN && kSignals[i] != SIGABRT)
                ::sigaction(kSignals[i], &gPrevious[i], nullptr);
        }
    });
}

} // namespace

void AddEmergencyHook(TEmergencyHook hook) {
    InstallOnce();
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    for (auto& slot : gHooks) {
        if (slot.load() == hook) return;
        if (!slot.load()) {
            slot.store(hook);
            return;
        }
    }
}

int WatchTerminationSignals() {
    static std::once_flag once;
    std::call_once(once, [] { gWatchFd.store(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); });
    InstallOnce();
    return gWatchFd.load();
}

int TerminationSignal() {
    return gReceived.load();
}

void RaiseDefault(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
}

} // namespace korvane
