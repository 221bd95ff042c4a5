#include "browser/ChromiumProcess.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "browser/EngineError.h"

extern char** environ;

namespace korvane {
namespace {

// Browsers alive in this process, readable from a signal handler: process group and profile folder.
constexpr int kSlots = 32;
constexpr std::size_t kPathMax = 512;
struct TSlot {
    std::atomic<pid_t> Pid{0};
    char Profile[kPathMax] = {};
};
TSlot gSlots[kSlots];
std::mutex gSlotMutex;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};
struct sigaction gPrevious[sizeof kSignals / sizeof kSignals[0]];

// Async-signal-safe: SIGKILL to each browser's group, reap it, remove its profile with rm(1).
void KillAllFromSignal() {
    for (auto& slot : gSlots) {
        pid_t pid = slot.Pid.exchange(0);
        if (pid <= 0) continue;
        ::kill(-pid, SIGKILL);
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (slot.Profile[0] == '/') {
            pid_t rm = ::fork();
            if (rm == 0) {
                char* const argv[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"), slot.Profile,
                                      nullptr};
                ::execve("/bin/rm", argv, environ);
                ::_exit(127);
            }
            if (rm > 0)
                while (::waitpid(rm, &status, 0) < 0 && errno == EINTR) {
                }
        }
    }
}

void OnFatalSignal(int sig, siginfo_t* info, void* context) {
    const int saved = errno;
    KillAllFromSignal();
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& prev = gPrevious[i];
        if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
            prev.sa_sigaction(sig, info, context);
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
            prev.sa_handler(sig);
        } else if (prev.sa_handler == SIG_DFL) {
            ::sigaction(sig, &prev, nullptr);
            ::raise(sig); // delivered when this handler returns: the default action ends the process
        }
    }
    errno = saved;
}

void KillAllAtExit() {
    for (auto& slot : gSlots) {
        pid_t pid = slot.Pid.exchange(0);
        if (pid <= 0) continue;
        ::kill(-pid, SIGKILL);
        int status;
        ::waitpid(pid, &status, 0);
        std::error_code ec;
        if (slot.Profile[0] == '/') std::filesystem::remove_all(slot.Profile, ec);
    }
}

void InstallCleanupOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
            struct sigaction sa {};
            sa.sa_sigaction = OnFatalSignal;
            sa.sa_flags = SA_SIGINFO | SA_RESTART;
            sigemptyset(&sa.sa_mask);
            ::sigaction(kSignals[i], &sa, &gPrevious[i]);
            if (gPrevious[i].sa_handler == SIG_IGN && kSignals[i] != SIGABRT) {
                // A signal the program chose to ignore stays ignored.
                ::sigaction(kSignals[i], &gPrevious[i], nullptr);
            }
        }
        std::atexit(KillAllAtExit);
    });
}

int Register(pid_t pid, const std::string& profile) {
    std::lock_guard lock(gSlotMutex);
    for (int i = 0; i < kSlots; ++i) {
        if (gSlots[i].Pid.load() != 0) continue;
        std::strncpy(gSlots[i].Profile, profile.size() < kPathMax ? profile.c_str() : "", kPathMax - 1);
        gSlots[i].Pid.store(pid);
        return i;
    }
    return -1;
}

void Unregister(int slot) {
    if (slot < 0) return;
    std::lock_guard lock(gSlotMutex);
    gSlots[slot].Pid.store(0);
    gSlots[slot].Profile[0] = '\0';
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

[[noreturn]] void ChildFail(int statusFd, int err) {
    ssize_t ignored = ::write(statusFd, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
}

} // namespace

std::vector<std::string> TChromiumProcess::StandardArguments() {
    // One flag a line.
    // clang-format off
    std::vector<std::string> args = {"--headless",
                                     "--disable-gpu",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-breakpad",
                                     "--mute-audio",
                                     // Pages of a batch load side by side: none may be held back as hidden.
                                     "--disable-background-timer-throttling",
                                     "--disable-backgrounding-occluded-windows",
                                     "--disable-renderer-backgrounding",
                                     // Work a browser without a user does for nothing: the address bar's pop-up
                                     // pages (two renderers at every start), translation of each page, and the
                                     // background pages of built-in extensions.
                                     "--disable-features=WebUIOmniboxPopup,WebUIOmniboxAimPopup,"
                                     "WebUIOmniboxFullPopup,Translate,OptimizationHints,MediaRouter",
                                     "--disable-component-extensions-with-background-pages",
                                     "--disable-default-apps",
                                     "--remote-debugging-pipe"};
    // clang-format on
    // The sandbox cannot run as root; anyone else keeps it.
    if (::geteuid() == 0) args.push_back("--no-sandbox");
    return args;
}

std::unique_ptr<TChromiumProcess> TChromiumProcess::Start(const std::string& path,
                                                          const std::vector<std::string>& extraArguments) {
    if (::access(path.c_str(), X_OK) != 0)
        throw EEngineError("The browser " + path + " cannot be found: install the Debian package chromium");
    InstallCleanupOnce();

    std::unique_ptr<TChromiumProcess> p(new TChromiumProcess());
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "korvane-chromium-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        throw EEngineError("No temporary browser profile can be created: " +
                           std::string(std::strerror(errno)));
    p->FProfileDir = buf.data();

    int commands[2], replies[2], status[2];
    if (::pipe2(commands, O_CLOEXEC) != 0) throw EEngineError("No pipe for the browser can be made");
    if (::pipe2(replies, O_CLOEXEC) != 0) {
        ::close(commands[0]);
        ::close(commands[1]);
        throw EEngineError("No pipe for the browser can be made");
    }
    if (::pipe2(status, O_CLOEXEC) != 0) {
        for (int fd : {commands[0], commands[1], replies[0], replies[1]})
            ::close(fd);
        throw EEngineError("No pipe for the browser can be made");
    }
    // Big screenshot replies pass in fewer, larger reads.
    ::fcntl(replies[0], F_SETPIPE_SZ, 1 << 20);
    int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    std::vector<std::string> args;
    args.push_back(path);
    for (auto& a : StandardArguments())
        args.push_back(a);
    args.push_back("--user-data-dir=" + p->FProfileDir);
    for (auto& a : extraArguments)
        args.push_back(a);
    args.push_back("about:blank");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Child: only async-signal-safe calls until exec.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        sigset_t all;
        sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGABRT})
            ::signal(sig, SIG_DFL);
        // Move the pipe ends above 4 first, then onto 3 and 4: dup2 onto a different fd clears close-on-exec,
        // and no end is overwritten before it is copied.
        int in = ::fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
        int out = ::fcntl(replies[1], F_DUPFD_CLOEXEC, 10);
        if (in < 0 || out < 0 || ::dup2(in, 3) < 0 || ::dup2(out, 4) < 0) ChildFail(status[1], errno);
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
        }
        ::syscall(SYS_close_range, 5u, ~0u, 0u);
        ::execve(path.c_str(), argv.data(), environ);
        ChildFail(status[1], errno);
    }
    const int forkErrno = errno;
    ::close(commands[0]);
    ::close(replies[1]);
    ::close(status[1]);
    if (devNull >= 0) ::close(devNull);
    if (pid < 0) {
        ::close(commands[1]);
        ::close(replies[0]);
        ::close(status[0]);
        std::filesystem::remove_all(p->FProfileDir, ec);
        throw EEngineError("The browser cannot be started: " + std::string(std::strerror(forkErrno)));
    }
    ::setpgid(pid, pid); // also from this side, so that the group exists before anyone signals it
    p->FPid = pid;
    p->FSlot = Register(pid, p->FProfileDir);
    p->FReadFd = replies[0];
    p->FWriteFd = commands[1];
    ::fcntl(p->FReadFd, F_SETFL, O_NONBLOCK);
    ::fcntl(p->FWriteFd, F_SETFL, O_NONBLOCK);

    int childErr = 0;
    ssize_t n;
    while ((n = ::read(status[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    ::close(status[0]);
    if (n > 0) {
        p->Terminate();
        throw EEngineError("The browser " + path + " cannot be started (" + std::strerror(childErr) +
                           "): install the Debian package chromium");
    }
    return p;
}

TChromiumProcess::~TChromiumProcess() {
    Terminate();
}

bool TChromiumProcess::HasExited(std::string* description) {
    if (!FReaped && FPid > 0) {
        int status = 0;
        pid_t r = ::waitpid(FPid, &status, WNOHANG);
        if (r == FPid) {
            FReaped = true;
            FStatus = status;
        }
    }
    if (FReaped && description) {
        if (WIFSIGNALED(FStatus))
            *description = "signal " + std::to_string(WTERMSIG(FStatus));
        else
            *description = "exit status " + std::to_string(WEXITSTATUS(FStatus));
    }
    return FReaped;
}

namespace {

// True when a process of the group is still running (in /proc, neither a zombie nor dead).
bool GroupHasLiveMembers(pid_t group) {
    if (::kill(-group, 0) != 0) return false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // pid (comm) state ppid pgrp ...: the command may hold blanks and parentheses, so read after the last
        // ")".
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (!(rest >> state >> ppid >> pgrp)) continue;
        if (pgrp == group && state != 'Z' && state != 'X') return true;
    }
    return false;
}

} // namespace

void TChromiumProcess::Terminate() {
    CloseFd(FWriteFd);
    CloseFd(FReadFd);
    if (FPid > 0) {
        ::kill(-FPid, SIGKILL);
        if (!FReaped) {
            int status;
            while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
            }
            FReaped = true;
            FStatus = status;
        }
        // Children of the browser that outlived it are still in its group; give them a moment to go. Members
        // that are already dead but not yet reaped (by whoever adopted them) do not count.
        for (int i = 0; i < 100 && GroupHasLiveMembers(FPid); ++i) {
            ::kill(-FPid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Unregister(FSlot);
        FSlot = -1;
        FPid = -1;
    }
    if (!FProfileDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(FProfileDir, ec);
        FProfileDir.clear();
    }
}

} // namespace korvane
