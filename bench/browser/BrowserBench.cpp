// Engine start to first page ready, and measure + resize + draw of a 1024 x 3000 and an 800 x 40000 page,
// through TBrowserHost and TChromiumEngine, against direct_devtools.py doing the same DevTools calls on the
// same browser binary in the same run. Runs alternate; medians are reported.
//
// Usage: browser_bench [repetitions] [path of direct_devtools.py]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "browser/BrowserHost.h"
#include "browser/ChromiumEngine.h"
#include "imaging/Bitmap.h"
#include "tests/support/TestHttpServer.h"

#ifndef DIRECT_DEVTOOLS_SCRIPT
#define DIRECT_DEVTOOLS_SCRIPT "direct_devtools.py"
#endif

using namespace korvane;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string Page(int width, int height) {
    std::string html = "<meta charset=utf-8><body style='margin:0;font:16px sans-serif'><div style='width:" +
                       std::to_string(width - 40) + "px;padding:0 20px'>";
    int y = 0, i = 0;
    while (y < height) {
        html += "<h2 style='margin:0;height:40px;background:hsl(" + std::to_string((i * 37) % 360) +
                ",60%,70%)'>Section " + std::to_string(i) +
                "</h2><p style='margin:0;height:160px;overflow:hidden'>";
        for (int w = 0; w < 40; ++w)
            html += "lorem ipsum dolor " + std::to_string(i * 40 + w) + " ";
        html += "</p>";
        y += 200;
        ++i;
    }
    return html + "</div></body>";
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string script = argc > 2 ? argv[2] : DIRECT_DEVTOOLS_SCRIPT;
    testing::TTestHttpServer server;
    testing::THttpResponse r;
    r.Body = "<body>first</body>";
    server.Route("/first.html", r);
    r.Body = Page(1024, 3000);
    server.Route("/p1024.html", r);
    r.Body = Page(800, 40000);
    server.Route("/p800.html", r);
    const std::vector<std::pair<std::string, int>> pages = {{server.Url("/p1024.html"), 1024},
                                                            {server.Url("/p800.html"), 800}};
    std::map<std::string, std::vector<double>> ours, peer;
    std::string sizes;

    for (int rep = 0; rep < reps; ++rep) {
        {
            const auto t0 = Clock::now();
            auto browser = std::make_shared<TChromiumBrowser>();
            TBrowserHost host(std::make_unique<TChromiumEngine>(browser));
            auto load = [&](const std::string& url) {
                host.Navigate(url);
                while (host.ReadyState() != READYSTATE_COMPLETE)
                    browser->WaitIncoming(std::chrono::milliseconds(100));
                if (!host.Document()) throw std::runtime_error("load failed: " + host.NavigationError());
            };
            load(server.Url("/first.html"));
            ours["start"].push_back(Ms(t0, Clock::now()));
            for (const auto& [url, width] : pages) {
                host.SetBounds(0, 0, 100, 100);
                load(url);
                const auto t = Clock::now();
                auto doc = host.Document();
                doc->BodyProperty("scrollWidth");
                int h = doc->BodyProperty("scrollHeight") + 30;
                host.SetBounds(0, 0, width, h);
                doc->BodyProperty("scrollWidth");
                h = doc->BodyProperty("scrollHeight") + 30;
                host.SetBounds(0, 0, width, h);
                TBitmap bmp;
                bmp.SetPixelFormat(TPixelFormat::pf24bit);
                bmp.SetSize(width, h);
                doc->Draw(bmp, width, h);
                ours[std::to_string(width)].push_back(Ms(t, Clock::now()));
                if (rep == 0) sizes += " " + std::to_string(width) + "x" + std::to_string(h);
            }
            browser->Shutdown();
        }
        {
            std::string cmd = "python3 " + script + " /usr/bin/chromium " + server.Url("/first.html");
            for (const auto& [url, width] : pages)
                cmd += " " + url + ":" + std::to_string(width);
            FILE* p = popen(cmd.c_str(), "r");
            if (!p) return 1;
            char line[512];
            while (std::fgets(line, sizeof line, p)) {
                std::istringstream in(line);
                std::string kind;
                in >> kind;
                if (kind == "start") {
                    double ms;
                    in >> ms;
                    peer["start"].push_back(ms);
                } else if (kind == "capture") {
                    std::string url, size;
                    double ms;
                    in >> url >> size >> ms;
                    peer[size.substr(0, size.find('x'))].push_back(ms);
                }
            }
            if (pclose(p) != 0) std::fprintf(stderr, "direct_devtools.py failed\n");
        }
    }
    std::printf("capture sizes:%s; %d runs each, alternating; medians\n", sizes.c_str(), reps);
    std::printf("%-28s %10s %10s %8s\n", "", "ours ms", "direct ms", "ratio");
    for (const auto& [key, label] :
         std::vector<std::pair<std::string, std::string>>{{"start", "start to first page ready"},
                                                          {"1024", "measure+resize+draw 1024"},
                                                          {"800", "measure+resize+draw 800"}}) {
        const double a = Median(ours[key]), b = Median(peer[key]);
        std::printf("%-28s %10.1f %10.1f %8.3f\n", label.c_str(), a, b, b > 0 ? a / b : 0.0);
    }
    return 0;
}
