#include "tests/support/ModernPages.h"

#include "tests/support/TestHttpServer.h"

#include <fstream>
#include <iterator>

namespace korvane::testing {
namespace {

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00,
                        kMagenta = 0xFF00FF, kCyan = 0x00FFFF, kWhite = 0xFFFFFF, kGrey = 0xDDDDDD;

std::string Document(const std::string& style, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset='utf-8'><style>body{margin:0}" + style +
           "</style></head><body>" + body + "</body></html>";
}

// `count` blocks `height` px high, coloured even and odd in turn and the last one apart.
std::string Blocks(int count, int height, const char* even, const char* odd, const char* last) {
    std::string blocks;
    for (int i = 0; i < count; ++i)
        blocks += "<div style='height:" + std::to_string(height) + "px;background:" +
                  (i == count - 1 ? last
                   : i % 2        ? odd
                                  : even) +
                  "'></div>";
    return blocks;
}

// Three sections of 400 px below the first screen.
const std::string kBelow = "<div style='height:400px;background:#0f0'></div>"
                           "<div style='height:400px;background:#00f'></div>"
                           "<div style='height:400px;background:#ff0'></div>";

// A first screen (red) as high as the view, and the sections below it, each where it belongs.
TModernPage Landing(std::string path, std::string what, const std::string& heroStyle,
                    const std::string& script = "") {
    return {std::move(path),
            Document("#hero{background:#f00;" + heroStyle + "}", "<div id='hero'></div>" + kBelow + script),
            std::move(what),
            768 + 1200 + 30,
            {{500, 10, kRed},
             {500, 760, kRed},
             {500, 968, kGreen},
             {500, 1368, kBlue},
             {500, 1768, kYellow},
             {500, 1990, kWhite}}};
}

std::vector<TModernPage> MakePages() {
    std::vector<TModernPage> pages;
    pages.push_back(Landing("/vh-height.html", "a first screen of height: 100vh", "height:100vh"));
    pages.push_back(
        Landing("/vh-min-height.html", "a first screen of min-height: 100vh", "min-height:100vh"));
    pages.push_back(Landing("/script-height.html", "a first screen a script sizes to innerHeight", "",
                            "<script>function fit(){document.getElementById('hero').style.height="
                            "innerHeight+'px'}fit();addEventListener('load',fit);"
                            "addEventListener('resize',fit)</script>"));
    pages.push_back({"/viewport-units.html",
                     Document("", "<div style='height:100svh;background:#f00'></div>"
                                  "<div style='height:100dvh;background:#f0f'></div>"
                                  "<div style='height:100lvh;background:#0ff'></div>" +
                                      kBelow),
                     "screens of 100svh, 100dvh and 100lvh",
                     3 * 768 + 1200 + 30,
                     {{500, 384, kRed},
                      {500, 1152, kMagenta},
                      {500, 1920, kCyan},
                      {500, 2504, kGreen},
                      {500, 2904, kBlue},
                      {500, 3304, kYellow}}});
    // Documentation pages: a sidebar that sticks to the top, at most as high as the view, scrolling on its
    // own. Drawn whole, its last entry is in the picture.
    const std::string entries = Blocks(30, 100, "#00f", "#0f0", "#f00");
    pages.push_back({"/sticky-sidebar.html",
                     Document("body{display:flex}nav{position:sticky;top:0;align-self:flex-start;max-height:"
                              "100vh;overflow:auto;width:200px}main{flex:1;height:4000px;background:#ddd}",
                              "<nav>" + entries + "</nav><main></main>"),
                     "a sticky sidebar of max-height: 100vh",
                     4030,
                     {{100, 50, kBlue}, {100, 1550, kGreen}, {100, 2950, kRed}, {600, 2000, kGrey}}});
    // A bar fixed at the top and one at the bottom: each drawn once, where the page has it.
    pages.push_back({"/fixed-bars.html",
                     Document("header{position:fixed;top:0;left:0;right:0;height:50px;background:#f00}"
                              "footer{position:fixed;bottom:0;left:0;right:0;height:40px;background:#00f}"
                              "main{height:3000px;background:#ddd}",
                              "<header></header><main></main><footer></footer>"),
                     "bars fixed at the top and the bottom",
                     3030,
                     {{500, 25, kRed},
                      {500, 60, kGrey},
                      {500, 748, kGrey},
                      {500, 793, kGrey},
                      {500, 2980, kGrey},
                      {500, 3010, kBlue}}});
    // Images far below the first screen that load only when seen: by the browser (loading=lazy), or by a
    // script that watches them (the source put in place when they are seen).
    std::string lazy, watched;
    TModernPage lazyPage{"/lazy-images.html", "", "images that load when seen", 12 * 1200 + 30, {}};
    for (int i = 0; i < 12; ++i) {
        const std::string gap = "<div style='height:1000px'></div>";
        const std::string picture = "/green.svg?" + std::to_string(i);
        lazy +=
            gap + "<img loading='lazy' src='" + picture + "' width='200' height='200' style='display:block'>";
        watched += gap + "<img data-src='" + picture + "w' width='200' height='200' style='display:block'>";
        lazyPage.Probes.push_back({100, 1000 + i * 1200 + 100, kGreen});
    }
    lazyPage.Html = Document("", lazy);
    pages.push_back(lazyPage);
    TModernPage watchedPage = lazyPage;
    watchedPage.Path = "/watched-images.html";
    watchedPage.What = "images a script puts in place when they are seen";
    watchedPage.Html =
        Document("", watched + "<script>var o=new IntersectionObserver(function(es){es.forEach("
                               "function(e){if(e.isIntersecting){e.target.src=e.target.dataset."
                               "src;o.unobserve(e.target)}})});document.querySelectorAll("
                               "'img[data-src]').forEach(function(i){o.observe(i)})</script>");
    pages.push_back(watchedPage);
    // Blocks that fade and slide in when they are seen.
    std::string blocks;
    TModernPage reveal{"/reveal.html", "", "blocks that fade in when seen", 8 * 1000 + 30, {}};
    for (int i = 0; i < 8; ++i) {
        blocks += "<div style='height:700px'></div><div class='reveal'></div>";
        reveal.Probes.push_back({500, i * 1000 + 700 + 150, kBlue});
    }
    reveal.Html =
        Document(".reveal{height:300px;background:#00f;opacity:0;transform:translateY(80px);"
                 "transition:opacity 1.5s,transform 1.5s}.reveal.shown{opacity:1;transform:none}",
                 blocks + "<script>var o=new IntersectionObserver(function(es){es.forEach(function(e){"
                          "if(e.isIntersecting)e.target.classList.add('shown')})});document."
                          "querySelectorAll('.reveal').forEach(function(b){o.observe(b)})</script>");
    pages.push_back(reveal);
    // An app-like page: the document does not scroll, its main element fills the view below a header and
    // scrolls. Its whole content is drawn; a small scrolling panel on another page is left as it is.
    const std::string content = Blocks(20, 300, "#0f0", "#00f", "#ff0");
    pages.push_back({"/inner-scroller.html",
                     Document("html,body{height:100%;overflow:hidden}body{display:flex;flex-direction:column}"
                              "header{height:60px;flex:none;background:#f00}main{flex:1;min-height:0;"
                              "overflow:auto}",
                              "<header></header><main>" + content + "</main>"),
                     "a page that scrolls inside its main element",
                     60 + 20 * 300 + 30,
                     {{500, 30, kRed}, {500, 210, kGreen}, {500, 3210, kGreen}, {500, 5910, kYellow}}});
    pages.push_back({"/small-panel.html",
                     Document("", "<div style='width:300px;height:300px;overflow:auto'><div style='height:"
                                  "300px;background:#00f'></div><div style='height:1700px;background:#f00'>"
                                  "</div></div>"),
                     "a small scrolling panel",
                     330,
                     {{150, 150, kBlue}, {150, 320, kWhite}}});
    // A short page with a dialog that a script centres in the view: the dialog lies below the body and is
    // in the picture; a tall box that its container clips is not.
    pages.push_back({"/centred-dialog.html",
                     Document("#d{position:absolute;left:412px;width:200px;height:200px;background:#00f}",
                              "<div style='height:100px;background:#0f0'></div><div style='position:relative;"
                              "overflow:hidden;height:100px'><div style='position:absolute;width:10px;"
                              "height:3000px;background:#f00'></div></div><div id='d'></div><script>document."
                              "getElementById('d').style.top=(innerHeight-200)/2+'px'</script>"),
                     "a dialog centred in the view of a short page",
                     484,
                     {{500, 50, kGreen}, {5, 150, kRed}, {500, 300, kBlue}, {500, 480, kBlue}}});
    // Without a doctype the body reports the view's height: the picture of a short page is as high as what
    // it holds, and 30 px.
    pages.push_back({"/quirks-short.html",
                     "<html><body style='margin:0'><div style='height:300px;background:#0f0'></div>"
                     "<p style='margin:0 0 40px;height:20px;background:#00f'></p></body></html>",
                     "a short page without a doctype",
                     390,
                     {{500, 150, kGreen}, {500, 310, kBlue}, {500, 385, kWhite}}});
    // Text in a web font that the page asks for only once it has loaded (and shows only in that font).
    pages.push_back(
        {"/late-font.html",
         Document("#t{font-size:200px;line-height:1;height:200px;overflow:hidden;color:#fff}",
                  "<div id='t'>IIIIII</div><script>addEventListener('load',function(){var s=document."
                  "createElement('style');s.textContent=\"@font-face{font-family:Late;src:url(/late."
                  "ttf);font-display:block}#t{font-family:Late;color:#000}\";document.head."
                  "appendChild(s)})</script>"),
         "text in a web font that comes after the load",
         230,
         {},
         {{0, 0, 1024, 200}}});
    return pages;
}

} // namespace

const char* const kGreenSvg = "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='200'>"
                              "<rect width='200' height='200' fill='#0f0'/></svg>";

const std::vector<TModernPage>& ModernPages() {
    static const std::vector<TModernPage> pages = MakePages();
    return pages;
}

void ServeModernPages(TTestHttpServer& server) {
    server.Route("/green.svg", MakeResponse(200, "image/svg+xml", kGreenSvg));
    std::ifstream font(kLateFontFile, std::ios::binary);
    THttpResponse late = MakeResponse(200, "font/ttf", std::string(std::istreambuf_iterator<char>(font), {}));
    late.Delay = std::chrono::milliseconds(1500);
    server.Route("/late.ttf", late);
    for (const TModernPage& page : ModernPages())
        server.Route(page.Path, MakeResponse(200, "text/html", page.Html));
}

} // namespace korvane::testing
