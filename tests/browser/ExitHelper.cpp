// Starts a browser, loads the page given as argument, prints "<browser pid> <profile folder>" and then ends
// as asked once a line arrives on stdin: "exit" returns from main, "exception" lets an exception escape main;
// "wait" waits to be signalled.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

#include "browser/BrowserHost.h"
#include "browser/ChromiumEngine.h"

int main(int argc, char** argv) {
    using namespace korvane;
    if (argc != 3) return 2;
    auto browser = TChromiumBrowser::Shared();
    TBrowserHost host(std::make_unique<TChromiumEngine>(browser));
    host.Navigate(argv[2]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (host.ReadyState() != READYSTATE_COMPLETE && std::chrono::steady_clock::now() < deadline)
        browser->WaitIncoming(std::chrono::milliseconds(50));
    if (!host.Document()) return 3;
    std::printf("%d %s\n", static_cast<int>(browser->ProcessId()), browser->ProfileDir().c_str());
    std::fflush(stdout);
    if (std::strcmp(argv[1], "wait") != 0) std::getchar(); // the test looks at the running browser first
    if (std::strcmp(argv[1], "exception") == 0) throw std::runtime_error("escaped");
    if (std::strcmp(argv[1], "wait") == 0)
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    return 0;
}
