#pragma once
// What korvane-capture does to a page once it has loaded, as scripts run in the page: the style sheet of
// --hide, --remove, --hide-consent and --style, the scroll lock of consent dialogs undone, the --script
// texts, the test of --wait-for, and the animations finished for --reduced-motion.
#include "cli/Options.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane {

// The text of the list of consent dialogs (consent-selectors.txt), and its selectors.
std::string_view ConsentSelectorsText();
std::vector<std::string> ConsentSelectors();
// The consent platforms the list names, in its order.
std::vector<std::string> ConsentPlatforms();

// The style sheet the options add to each page; empty when they add none.
std::string PageStyleSheet(const TCliOptions& options);
// Scripts to run in each page in this order, each once the one before has ended (a promise it gives settled):
// the style sheet first, then the --script texts. Empty when there is nothing to do.
std::vector<std::string> PreparationScripts(const TCliOptions& options);
// A script whose value is true once an element matches the selector and has a box of some size.
std::string ElementShownScript(const std::string& selector);
// Finishes every animation and transition with an end, and puts those without one back to their start.
std::string FinishAnimationsScript();
// Every selector the options give, with the option that gave it, to be checked before any page loads.
std::vector<std::pair<std::string, std::string>> SelectorsToCheck(const TCliOptions& options);

} // namespace korvane
