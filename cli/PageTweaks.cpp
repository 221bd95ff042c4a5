#include "cli/PageTweaks.h"

#include "platform/Text.h"

#include <nlohmann/json.hpp>

namespace korvane {

namespace {

template <typename Each> void ForEachListLine(Each each) {
    std::string_view text = ConsentSelectorsText();
    while (!text.empty()) {
        const auto end = text.find('\n');
        each(TrimText(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

std::string Quoted(const std::string& text) {
    return nlohmann::json(text).dump();
}

} // namespace

std::vector<std::string> ConsentSelectors() {
    std::vector<std::string> selectors;
    // "#" begins a comment only when a blank or another "#" follows it: "#id" is a selector.
    ForEachListLine([&](std::string_view line) {
        if (line.empty() || line.substr(0, 2) == "# " || line.substr(0, 2) == "##" || line == "#") return;
        selectors.emplace_back(line);
    });
    return selectors;
}

std::vector<std::string> ConsentPlatforms() {
    std::vector<std::string> names;
    ForEachListLine([&](std::string_view line) {
        if (line.substr(0, 2) == "##") names.emplace_back(TrimText(line.substr(2)));
    });
    return names;
}

std::string PageStyleSheet(const TCliOptions& o) {
    std::string css;
    // Each selector has rules of its own: a selector the browser cannot use then costs only its own rule.
    for (const auto& s : o.Hide)
        css += s + "{visibility:hidden!important}\n:is(" + s + ") *{visibility:hidden!important}\n";
    for (const auto& s : o.Remove)
        css += s + "{display:none!important}\n";
    if (o.HideConsent)
        for (const auto& s : ConsentSelectors())
            css += s + "{display:none!important}\n";
    for (const auto& sheet : o.Styles)
        css += sheet + "\n";
    return css;
}

std::vector<std::string> PreparationScripts(const TCliOptions& o) {
    std::vector<std::string> scripts;
    const std::string css = PageStyleSheet(o);
    if (!css.empty()) {
        // A constructed sheet is not subject to the page's content security policy. The consent dialogs
        // are also hidden by their own style attribute, which wins over any !important rule of the page;
        // the scroll lock they leave on the root and the body (no vertical overflow, a fixed body) is
        // undone the same way.
        std::string script = "(function(css,consent){var s=new CSSStyleSheet();s.replaceSync(css);"
                             "document.adoptedStyleSheets=document.adoptedStyleSheets.concat([s]);";
        if (o.HideConsent)
            script += "try{document.querySelectorAll(consent).forEach(function(e){"
                      "e.style.setProperty('display','none','important')})}catch(x){}"
                      "[document.documentElement,document.body].forEach(function(e){if(!e)return;"
                      "var c=getComputedStyle(e);if(c.overflowY==='hidden'||c.overflowY==='clip')"
                      "e.style.setProperty('overflow-y','visible','important');if(c.position==='fixed'){"
                      "e.style.setProperty('position','static','important');"
                      "e.style.setProperty('top','auto','important')}});";
        // One look-up for the whole list (the browser takes every selector of it, a test makes sure).
        std::string consent;
        if (o.HideConsent)
            for (const auto& s : ConsentSelectors())
                consent += (consent.empty() ? "" : ",") + s;
        script += "return 0})(" + Quoted(css) + "," + Quoted(consent) + ")";
        scripts.push_back(std::move(script));
    }
    scripts.insert(scripts.end(), o.Scripts.begin(), o.Scripts.end());
    return scripts;
}

std::string ElementShownScript(const std::string& selector) {
    return "Array.prototype.some.call(document.querySelectorAll(" + Quoted(selector) +
           "),function(e){var r=e.getBoundingClientRect();return r.width>0&&r.height>0})";
}

std::string FinishAnimationsScript() {
    return "(function(){document.getAnimations().forEach(function(a){try{var t=a.effect&&"
           "a.effect.getComputedTiming();if(t&&t.endTime===Infinity)a.cancel();else a.finish()}catch(e){"
           "try{a.cancel()}catch(f){}}});return 0})()";
}

std::vector<std::pair<std::string, std::string>> SelectorsToCheck(const TCliOptions& o) {
    std::vector<std::pair<std::string, std::string>> list;
    for (const auto& s : o.Hide)
        list.emplace_back("--hide", s);
    for (const auto& s : o.Remove)
        list.emplace_back("--remove", s);
    if (!o.WaitFor.empty()) list.emplace_back("--wait-for", o.WaitFor);
    if (!o.Selector.empty()) list.emplace_back("--selector", o.Selector);
    return list;
}

} // namespace korvane
