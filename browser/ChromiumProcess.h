#pragma once
// One running Chromium: the child process in a process group of its own, the two pipe ends of its DevTools
// connection and its temporary profile folder. Ending it (destructor, exit()) kills the whole process group
// and removes the profile. A signal that ends the program at once (see platform/Signals.h) kills the group
// from the handler; the profile folder it cannot remove there goes at the next start. The child also gets
// SIGKILL when the thread that started it dies (PR_SET_PDEATHSIG), so no browser outlives the program. That
// signal follows the starting *thread*: start the browser from a thread that lives as long as the browser is
// used (the window's engine thread, or main() of the command-line tool). A SIGKILL of the program itself
// leaves the profile folder behind too; the browser still dies with it.
#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/ScopedFd.h"

namespace korvane {

class TChromiumProcess {
public:
    // Starts `path` headless with the DevTools pipe on fds 3 (commands) and 4 (replies). Throws EEngineError
    // when the program is missing or cannot be started.
    static std::unique_ptr<TChromiumProcess> Start(const std::string& path,
                                                   const std::vector<std::string>& extraArguments);
    ~TChromiumProcess();
    TChromiumProcess(const TChromiumProcess&) = delete;
    TChromiumProcess& operator=(const TChromiumProcess&) = delete;

    pid_t Pid() const { return FPid; }
    int ReadFd() const { return FRead.Get(); }   // replies and events, non-blocking, close-on-exec
    int WriteFd() const { return FWrite.Get(); } // commands, non-blocking, close-on-exec
    const std::string& ProfileDir() const { return FProfileDir; }

    // True once the browser process has ended; `description` then says how ("exit status 1", "signal 9").
    bool HasExited(std::string* description = nullptr);
    // Kills the process group, reaps the browser and removes the profile. Idempotent.
    void Terminate();

    // The arguments the browser gets besides the pipe and the profile (for the record and for peers).
    static std::vector<std::string> StandardArguments();

    // The browser to start: $KORVANE_CHROMIUM when set, else the first executable `chromium` in an absolute
    // folder of $PATH, else /usr/bin/chromium (whose absence Start reports).
    static std::string DefaultPath();

private:
    TChromiumProcess() = default;
    pid_t FPid = -1;
    TScopedFd FRead, FWrite;
    bool FReaped = false;
    int FStatus = 0;
    std::string FProfileDir;
    int FSlot = -1;
};

// Kills every browser of this process and removes their profiles (at exit, or when the program must end
// now and its own threads cannot do it).
void KillAllBrowsers() noexcept;
// The folder the browsers' throwaway profiles are made in. The one $TMPDIR (or TMP, TEMP, TEMPDIR) names
// when it is set; otherwise a folder in memory (the user's runtime folder, else /dev/shm) when it is a tmpfs
// with room, since a browser starting on a disk waits for hundreds of synchronised writes to a profile that
// is thrown away; otherwise the system's temporary folder.
std::string ProfileFolder();
// Removes the profile folders in `folder` that browsers of processes no longer running left behind (a
// program killed by a signal cannot remove its own); returns how many. Run once at the first start.
std::size_t RemoveStaleProfiles(const std::string& folder);

} // namespace korvane
