// The list of consent dialogs that --hide-consent hides: the platforms it names, and selectors that the
// browser takes, every one of them (a rule the browser cannot parse would hide nothing).
#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumEngine.h"
#include "cli/PageTweaks.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace korvane;

TEST(ConsentList, NamesTheCommonPlatformsWithSelectorsTheBrowserTakes) {
    const std::vector<std::string> platforms = ConsentPlatforms();
    for (const char* name :
         {"OneTrust", "Cookiebot", "Didomi", "Quantcast Choice", "TrustArc", "Usercentrics", "Osano",
          "Complianz", "CookieYes", "Klaro", "Iubenda", "Borlabs Cookie", "Sourcepoint"})
        EXPECT_NE(std::find(platforms.begin(), platforms.end(), name), platforms.end()) << name;
    const std::vector<std::string> selectors = ConsentSelectors();
    EXPECT_GE(selectors.size(), platforms.size());
    for (const auto& s : selectors)
        EXPECT_FALSE(s.empty() || s.rfind("# ", 0) == 0) << s; // no comment taken for a selector

    auto browser = std::make_shared<TChromiumBrowser>();
    {
        TChromiumEngine engine(browser);
        EXPECT_EQ(engine.InvalidSelectors(selectors), std::vector<std::string>{});
        // The check itself tells a selector the browser cannot parse.
        EXPECT_EQ(engine.InvalidSelectors({"#fine", "div[", ":nonsense(1)"}),
                  (std::vector<std::string>{"div[", ":nonsense(1)"}));
    }
    browser->Shutdown();
}
