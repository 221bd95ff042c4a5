#include "browser/ChromiumProcess.h"
#include "platform/Translate.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/magic.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "browser/EngineError.h"
#include "platform/ScopedFd.h"
#include "platform/Signals.h"

extern char** environ;

namespace korvane {
namespace {

// Browsers alive in this process, readable from a signal handler: their process groups, and their profile
// folders for the exit path.
constexpr int kSlots = 32;
constexpr std::size_t kPathMax = 512;
struct TSlot {
    std::atomic<pid_t> Pid{0};
    char Profile[kPathMax] = {};
};
TSlot gSlots[kSlots];
std::mutex gSlotMutex;

// SIGKILL to the browser's group, and the browser reaped (both async-signal-safe). False for a free slot.
bool KillSlot(TSlot& slot) noexcept {
    const pid_t pid = slot.Pid.exchange(0);
    if (pid <= 0) return false;
    ::kill(-pid, SIGKILL);
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

// A signal ends the program at once: every browser is killed. The profile folders stay behind; the next
// start removes them (RemoveStaleProfiles).
void KillAllFromSignal() noexcept {
    for (auto& slot : gSlots)
        KillSlot(slot);
}

void InstallCleanupOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        AddEmergencyHook(KillAllFromSignal);
        std::atexit(KillAllBrowsers);
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

constexpr const char* kProfilePrefix = "korvane-chromium-";

// The program's environment, with the browser's home, configuration, cache and temporary folders inside its
// profile: whatever it writes there (crash reports, caches, its own temporary files) goes with the profile.
std::vector<std::string> BrowserEnvironment(const std::string& profile) {
    const std::vector<std::pair<std::string, std::string>> own = {
        {"HOME", profile + "/home"},
        {"XDG_CONFIG_HOME", profile + "/home/.config"},
        {"XDG_CACHE_HOME", profile + "/home/.cache"},
        {"XDG_DATA_HOME", profile + "/home/.local/share"},
        {"TMPDIR", profile + "/tmp"}};
    std::error_code ec;
    for (const auto& [name, folder] : own)
        std::filesystem::create_directories(folder, ec);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::none_of(own.begin(), own.end(), [&](const auto& o) { return o.first == name; }))
            environment.push_back(entry);
    }
    for (const auto& [name, folder] : own)
        environment.push_back(name + "=" + folder);
    return environment;
}

[[noreturn]] void ChildFail(int statusFd, int err) {
    ssize_t ignored = ::write(statusFd, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
}

} // namespace

void KillAllBrowsers() noexcept {
    for (auto& slot : gSlots) {
        if (!KillSlot(slot)) continue;
        std::error_code ec;
        if (slot.Profile[0] == '/') std::filesystem::remove_all(slot.Profile, ec);
    }
}

namespace {

// Free room a folder in memory must have to take profiles.
constexpr std::uint64_t kMemoryFolderRoom = std::uint64_t{1} << 30;
// The most a browser's cache may keep in a profile in memory. The browser sizes its cache by the free room
// it sees, which in memory would let a long run with the cache on hold a few hundred megabytes of RAM.
constexpr std::uint64_t kMemoryCacheBytes = std::uint64_t{128} << 20;

// The free bytes of a tmpfs folder; none for a folder elsewhere.
std::optional<std::uint64_t> TmpfsRoom(const char* folder) {
    struct statfs fs {};
    if (::statfs(folder, &fs) != 0 || fs.f_type != TMPFS_MAGIC) return std::nullopt;
    return static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_bsize);
}

// A tmpfs folder that we may write in and that has the room above.
bool IsRoomyMemoryFolder(const char* folder) {
    if (!folder || folder[0] != '/' || TmpfsRoom(folder).value_or(0) < kMemoryFolderRoom) return false;
    struct stat st {};
    return ::stat(folder, &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder, W_OK | X_OK) == 0;
}

std::string SystemTemporaryFolder() {
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    // A variable that names no folder: the system's own, rather than the current folder.
    return ec || temp.empty() ? std::string("/tmp") : temp.string();
}

} // namespace

std::string ProfileFolder() {
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value) return SystemTemporaryFolder();
    }
    for (const char* candidate : {static_cast<const char*>(std::getenv("XDG_RUNTIME_DIR")), "/dev/shm"})
        if (IsRoomyMemoryFolder(candidate)) return candidate;
    return SystemTemporaryFolder();
}

std::size_t RemoveStaleProfiles(const std::string& folder) {
    // "korvane-chromium-<pid>-XXXXXX": a folder of ours whose process no longer runs.
    std::size_t removed = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kProfilePrefix, 0) != 0) continue;
        const std::string rest = name.substr(std::strlen(kProfilePrefix));
        const auto dash = rest.find('-');
        if (dash == std::string::npos || dash == 0 || rest.find_first_not_of("0123456789") != dash) continue;
        const long pid = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
        // Only a process that does not exist at all has left its folder behind.
        if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        std::error_code removeError;
        if (std::filesystem::remove_all(entry.path(), removeError) > 0 && !removeError) ++removed;
    }
    return removed;
}

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
                                     // pages (two renderers at every start), translation of each page, the
                                     // background pages of built-in extensions, and asking a server elsewhere
                                     // for the time (seen through a proxy: at every start).
                                     "--disable-features=WebUIOmniboxPopup,WebUIOmniboxAimPopup,"
                                     "WebUIOmniboxFullPopup,Translate,OptimizationHints,MediaRouter,"
                                     "NetworkTimeServiceQuerying",
                                     "--disable-component-extensions-with-background-pages",
                                     "--disable-default-apps",
                                     "--remote-debugging-pipe"};
    // clang-format on
    // The sandbox cannot run as root; anyone else keeps it.
    if (::geteuid() == 0) args.push_back("--no-sandbox");
    return args;
}

std::string TChromiumProcess::DefaultPath() {
    if (const char* given = std::getenv("KORVANE_CHROMIUM"); given && *given) return given;
    // A relative folder of PATH (an empty entry is the current one) would run whatever lies where the
    // program happens to be started: only absolute ones are looked in.
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') continue;
        const std::string candidate = std::string(folder) + "/chromium";
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "/usr/bin/chromium";
}

std::unique_ptr<TChromiumProcess> TChromiumProcess::Start(const std::string& path,
                                                          const std::vector<std::string>& extraArguments) {
    if (::access(path.c_str(), X_OK) != 0) {
        // A browser named by the variable is the user's choice: installing Debian's would not help.
        const char* given = std::getenv("KORVANE_CHROMIUM");
        if (given && path == given)
            throw EEngineError(FormatText(
                Tr("The browser %1 that KORVANE_CHROMIUM names cannot be found: name one that is there, or "
                   "unset the variable to use Debian's chromium"),
                {path}));
        throw EEngineError(
            FormatText(Tr("The browser %1 cannot be found: install the Debian package chromium"), {path}));
    }
    InstallCleanupOnce();
    const std::filesystem::path temp = ProfileFolder();
    static std::once_flag staleOnce;
    std::call_once(staleOnce, [&] {
        // Also where profiles went before, when the choice was another one.
        RemoveStaleProfiles(temp.string());
        if (const std::string system = SystemTemporaryFolder(); system != temp) RemoveStaleProfiles(system);
    });

    std::unique_ptr<TChromiumProcess> p(new TChromiumProcess());
    std::string pattern = (temp / (kProfilePrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw EEngineError(
            FormatText(Tr("No temporary browser profile can be made: %1"), {std::strerror(errno)}));
    p->FProfileDir = pattern; // removed by the destructor from here on

    std::optional<TPipe> commands, replies, status;
    try {
        commands.emplace(O_CLOEXEC);
        replies.emplace(O_CLOEXEC);
        status.emplace(O_CLOEXEC);
    } catch (const std::system_error& e) {
        throw EEngineError(
            FormatText(Tr("No pipe for the browser can be made: %1"), {std::strerror(e.code().value())}));
    }
    // Big screenshot replies pass in fewer, larger reads.
    ::fcntl(replies->Read.Get(), F_SETPIPE_SZ, 1 << 20);
    TScopedFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));

    std::vector<std::string> args;
    args.push_back(path);
    for (auto& a : StandardArguments())
        args.push_back(a);
    args.push_back("--user-data-dir=" + p->FProfileDir);
    if (TmpfsRoom(p->FProfileDir.c_str()).has_value())
        args.push_back("--disk-cache-size=" + std::to_string(kMemoryCacheBytes));
    for (auto& a : extraArguments)
        args.push_back(a);
    args.push_back("about:blank");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = BrowserEnvironment(p->FProfileDir);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const int commandsIn = commands->Read.Get(), repliesOut = replies->Write.Get();
    const int statusOut = status->Write.Get(), nullFd = devNull.Get();
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
        // Move the pipe ends above 5 first, then onto 3 and 4, and the status end onto 5: dup2 onto a
        // different fd clears close-on-exec, and no end is overwritten before it is copied. The status end
        // keeps close-on-exec, so a successful exec closes it and a failed one can still say why.
        int in = ::fcntl(commandsIn, F_DUPFD_CLOEXEC, 10);
        int out = ::fcntl(repliesOut, F_DUPFD_CLOEXEC, 10);
        int report = ::fcntl(statusOut, F_DUPFD_CLOEXEC, 10);
        if (report < 0) ::_exit(127);
        if (in < 0 || out < 0 || ::dup2(in, 3) < 0 || ::dup2(out, 4) < 0) ChildFail(report, errno);
        if (::dup3(report, 5, O_CLOEXEC) < 0) ChildFail(report, errno);
        report = 5;
        if (nullFd >= 0) {
            ::dup2(nullFd, 0);
            ::dup2(nullFd, 1);
            ::dup2(nullFd, 2);
        }
        ::syscall(SYS_close_range, 6u, ~0u, 0u);
        ::execve(path.c_str(), argv.data(), envp.data());
        ChildFail(report, errno);
    }
    const int forkErrno = errno;
    commands->Read.Reset();
    replies->Write.Reset();
    status->Write.Reset();
    devNull.Reset();
    if (pid < 0)
        throw EEngineError(FormatText(Tr("The browser cannot be started: %1"), {std::strerror(forkErrno)}));
    ::setpgid(pid, pid); // also from this side, so that the group exists before anyone signals it
    p->FPid = pid;
    p->FSlot = Register(pid, p->FProfileDir);
    p->FRead = std::move(replies->Read);
    p->FWrite = std::move(commands->Write);
    ::fcntl(p->FRead.Get(), F_SETFL, O_NONBLOCK);
    ::fcntl(p->FWrite.Get(), F_SETFL, O_NONBLOCK);

    // The status pipe closes without a word when the exec succeeded; otherwise it carries the child's errno.
    int childErr = 0;
    ssize_t n;
    while ((n = ::read(status->Read.Get(), &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    if (n > 0)
        throw EEngineError(
            FormatText(Tr("The browser %1 cannot be started (%2): install the Debian package chromium"),
                       {path, std::strerror(childErr)})); // the destructor reaps the child
    return p;
}

TChromiumProcess::~TChromiumProcess() {
    Terminate();
}

bool TChromiumProcess::HasExited(std::string* description) {
    if (!FReaped && FPid > 0) {
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(FPid, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (r == FPid) {
            FReaped = true;
            FStatus = status;
        } else if (r < 0) {
            FReaped = true; // reaped by someone else (ECHILD): how it ended is not known
            FStatus = -1;
        }
    }
    if (FReaped && description) {
        if (FStatus == -1)
            *description = "ended";
        else if (WIFSIGNALED(FStatus))
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
    FWrite.Reset();
    FRead.Reset();
    if (FPid > 0) {
        ::kill(-FPid, SIGKILL);
        if (!FReaped) {
            int status = 0;
            pid_t r;
            while ((r = ::waitpid(FPid, &status, 0)) < 0 && errno == EINTR) {
            }
            FReaped = true;
            FStatus = r == FPid ? status : -1; // -1: reaped by someone else
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
