#pragma once
// korvane-capture run as a program by the tests: its arguments, environment and standard streams, its exit
// status and what it wrote.
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sstream>

#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace korvane::testing {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// The file's bytes; nothing for a file that was never made.
inline std::string Slurp(const std::filesystem::path& p) {
    return std::filesystem::exists(p) ? korvane::ReadWholeFile(p.string()) : std::string();
}

// The text's lines that are not empty.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

class TToolProcess {
public:
    // Starts the tool with its output in files of the test folder (outside the output folder `dir`), with
    // the default action for every signal whatever this process ignores.
    // `input` is the file for standard input (none: the test's own); `output`, when 0 or more, is the
    // descriptor standard output goes to instead of the log file.
    pid_t Start(std::vector<std::string> args, const std::vector<std::string>& environment = {},
                const std::string& input = {}, int output = -1) const {
        args.insert(args.begin(), KORVANE_CAPTURE_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (output >= 0)
            posix_spawn_file_actions_adddup2(&actions, output, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, StdoutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0644);
        if (!input.empty()) posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, StderrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = -1;
        // The environment with the given NAME=value entries in place of those of the same name.
        std::vector<std::string> entries;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& given : environment)
                replaced |= entry.substr(0, entry.find('=') + 1) == given.substr(0, given.find('=') + 1);
            if (!replaced) entries.push_back(entry);
        }
        entries.insert(entries.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (auto& e : entries)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // Waits for the tool; a signal that ended it counts as 128 + its number.
    Outcome Wait(pid_t pid) const {
        Outcome o;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
            o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        o.out = Slurp(StdoutPath());
        o.err = Slurp(StderrPath());
        return o;
    }
    Outcome Run(std::vector<std::string> args, const std::vector<std::string>& environment = {},
                const std::string& input = {}) const {
        return Wait(Start(std::move(args), environment, input));
    }
    std::string StdoutPath() const { return logs.Path("stdout.txt"); }
    std::string StderrPath() const { return logs.Path("stderr.txt"); }

protected:
    TempFolder logs{"korvane-tool-logs"}; // where the streams go
};

} // namespace korvane::testing
