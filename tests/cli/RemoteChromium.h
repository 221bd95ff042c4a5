#pragma once
// A Chromium of the test's own that listens for DevTools on an ephemeral port of 127.0.0.1, as a browser
// service would: started with the program's usual arguments (so that its pictures are those of the pipe),
// its port read from the DevToolsActivePort file it writes, ended with its whole process group.
#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumProcess.h"
#include "tests/support/FolderWatch.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace korvane::testing {

class TRemoteChromium {
public:
    TRemoteChromium() {
        std::vector<std::string> args{"/usr/bin/chromium"};
        for (const auto& a : TChromiumProcess::StandardArguments())
            if (a != "--remote-debugging-pipe") args.push_back(a);
        args.push_back("--remote-debugging-address=127.0.0.1");
        args.push_back("--remote-debugging-port=0");
        args.push_back("--user-data-dir=" + FProfile.Path());
        args.push_back("about:blank");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&FPid, argv[0], &actions, &attributes, argv.data(), environ) != 0) FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        // The file is written once the server listens: its first line is the port, its second the path of
        // the browser's WebSocket.
        const std::string file = FProfile.Path("DevToolsActivePort");
        WaitForFolder(FProfile.Path(), [&] {
            std::ifstream in(file);
            std::string port, path;
            if (!std::getline(in, port) || !std::getline(in, path) || path.empty()) return false;
            FPort = port;
            FPath = path;
            return true;
        });
    }
    ~TRemoteChromium() { Kill(); }
    TRemoteChromium(const TRemoteChromium&) = delete;
    TRemoteChromium& operator=(const TRemoteChromium&) = delete;

    bool Listening() const { return FPid > 0 && !FPort.empty(); }
    std::string WebSocket() const { return "ws://127.0.0.1:" + FPort + FPath; }
    std::string Http() const { return "http://127.0.0.1:" + FPort; }

    // The browser and its renderers, at once.
    void Kill() {
        if (FPid <= 0) return;
        ::kill(-FPid, SIGKILL);
        int status;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
    }

    // What the browser holds besides its own first page: the contexts and the page targets in it.
    struct TContents {
        std::size_t Contexts = 0, Pages = 0;
    };
    TContents Contents() const {
        TChromiumBrowser::TOptions options;
        options.Endpoint = WebSocket();
        TChromiumBrowser browser(options);
        browser.Start();
        TContents contents;
        const auto contexts = browser.Call("Target.getBrowserContexts", nlohmann::json::object());
        contents.Contexts = contexts.Params.value("browserContextIds", nlohmann::json::array()).size();
        const auto targets = browser.Call("Target.getTargets", nlohmann::json::object());
        for (const auto& info : targets.Params.value("targetInfos", nlohmann::json::array()))
            if (info.value("type", "") == "page") ++contents.Pages;
        return contents;
    }

private:
    TempFolder FProfile{"korvane-remote-chromium"};
    pid_t FPid = -1;
    std::string FPort, FPath;
};

} // namespace korvane::testing
