#include "browser/PageScripts.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "browser/DevToolsSession.h"
#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "platform/Translate.h"

namespace korvane::PageScripts {
namespace {

using nlohmann::json;

// How long a page may take to answer before it counts as kept busy by a script.
constexpr std::chrono::milliseconds kBusyProbeTimeout{500};

json Expression(const std::string& expression) {
    return {{"expression", expression}, {"returnByValue", true}, {"silent", true}};
}

// The text of what a script threw: the first line of an error's description ("Error: message"), else the
// thrown value, else the browser's summary.
std::string ExceptionText(const json& details) {
    const json& exception = Obj(details, "exception");
    std::string text = Str(exception, "description");
    if (text.empty()) {
        auto value = exception.find("value");
        if (value != exception.end() && !value->is_null())
            text = value->is_string() ? value->get<std::string>() : value->dump();
    }
    if (text.empty()) text = Str(details, "text");
    return text.substr(0, text.find('\n'));
}

TScriptResult ScriptResultOf(const TDevToolsMessage& reply) {
    TScriptResult result;
    if (reply.Error) {
        result.Error = *reply.Error;
    } else if (reply.Params.contains("exceptionDetails")) {
        result.Error = ExceptionText(Obj(reply.Params, "exceptionDetails"));
        if (result.Error.empty()) result.Error = Tr("the script failed");
    } else {
        result.Ok = true;
        const json& value = Obj(reply.Params, "result");
        if (auto it = value.find("value"); it != value.end()) result.Value = *it;
    }
    return result;
}

} // namespace

std::int32_t Integer(TDevToolsSession& session, const std::string& what, const std::string& expression,
                     bool afterFrame) {
    TDevToolsMessage reply;
    try {
        // After the page's next frame (or a tenth of a second, for a page that makes none): the handlers of
        // a resize of the view run in that frame.
        json params =
            Expression(afterFrame ? "new Promise(function(r){var d=false,f=function(){if(!d){d=true;"
                                    "r(" +
                                        expression +
                                        ")}};requestAnimationFrame(f);"
                                        "setTimeout(f,100)})"
                                  : expression);
        if (afterFrame) params["awaitPromise"] = true;
        reply = session.Call("Runtime.evaluate", std::move(params));
    } catch (const EEngineStopped&) {
        throw;
    } catch (const EEngineTimeout& e) {
        // A script that never yields keeps the page from answering: end it so the page can be used again.
        // The failure stays a timeout: the caller may ask whether the browser itself hangs.
        EndScript(session);
        throw EEngineTimeout(FormatText(Tr("Reading %1 failed: %2"), {what, e.what()}));
    } catch (const EEngineError& e) {
        EndScript(session);
        throw EEngineError(FormatText(Tr("Reading %1 failed: %2"), {what, e.what()}));
    }
    if (reply.Params.contains("exceptionDetails"))
        throw EEngineError(FormatText(Tr("Reading %1 failed: %2"),
                                      {what, Str(Obj(reply.Params, "exceptionDetails"), "text")}));
    const json& result = Obj(reply.Params, "result");
    auto value = result.find("value");
    if (value == result.end() || !value->is_number()) {
        if (value != result.end() && value->is_string() && value->get<std::string>() == "no body")
            throw EEngineError(Tr("The document has no body"));
        throw EEngineError(FormatText(Tr("%1 is no number"), {what}));
    }
    const double v = value->get<double>();
    if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0)
        throw EEngineError(FormatText(Tr("%1 is out of range"), {what}));
    return static_cast<std::int32_t>(std::lround(v));
}

bool IsPropertyName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!(std::isalpha(c) || c == '_' || (i > 0 && std::isdigit(c)))) return false;
    }
    return true;
}

std::int32_t BodyProperty(TDevToolsSession& session, std::string_view name, bool afterFrame) {
    const std::string n(name);
    // Without a doctype the body is at least as high as the view: a page that fits in the view gives the
    // height of what it holds instead (its last block's margin included), its own margin and padding below.
    const std::string quirks =
        name == "scrollHeight"
            ? "var e=document.scrollingElement;if(document.compatMode!='CSS1Compat'&&e&&e.scrollHeight<="
              "e.clientHeight){var g=document.createRange();g.selectNodeContents(b);var "
              "c=getComputedStyle(b);"
              "var y=g.getBoundingClientRect().bottom,l=b.lastElementChild;if(l)y=Math.max(y,l."
              "getBoundingClientRect().bottom+(parseFloat(getComputedStyle(l).marginBottom)||0));return Math."
              "ceil(Math.max(0,y+scrollY)+(parseFloat(c.paddingBottom)||0)+(parseFloat(c.marginBottom)||0))}"
            : "";
    return Integer(session, FormatText(Tr("body.%1"), {n}),
                   "(function(){var b=document.body;if(!b)return 'no body';" + quirks + "var v=b['" + n +
                       "'];return typeof v==='number'?v:'no number';})()",
                   afterFrame);
}

std::int32_t DocumentScrollSize(TDevToolsSession& session, std::string_view side, bool afterFrame) {
    const std::string s(side);
    // A page that fits in the view scrolls no further than the view: then its extent is read from its boxes
    // (the root's margin box below, the body's scroll width from its left edge across), which a page without
    // a doctype makes as large as the view and so cannot tell. Below, absolutely placed boxes count as the
    // page's overflow counts them (a dialog centred in the view lies outside the body): each up to the first
    // ancestor that clips it; boxes fixed to the view do not.
    const std::string fits =
        side == "Height"
            ? "var r=document.documentElement,b=r.getBoundingClientRect().bottom+(parseFloat("
              "getComputedStyle(r).marginBottom)||0);document.querySelectorAll('body *').forEach("
              "function(e){var c=getComputedStyle(e);if(c.position!='absolute'||c.visibility=="
              "'hidden')return;var q=e.getBoundingClientRect(),y=q.bottom;if(q.height<=0||y<=b)"
              "return;for(var a=e.parentElement;a&&a!=document.body;a=a.parentElement)if("
              "getComputedStyle(a).overflowY!='visible'){y=Math.min(y,a.getBoundingClientRect()"
              ".bottom);break}b=Math.max(b,y)});return Math.ceil(b+scrollY);"
            : "var b=document.body;if(!b)return 0;return Math.ceil(b.getBoundingClientRect()"
              ".left+scrollX+b.scrollWidth);";
    return Integer(session, FormatText(Tr("the document's scroll%1"), {s}),
                   "(function(){var e=document.scrollingElement||document.documentElement;if(!e)"
                   "return 0;var s=e.scroll" +
                       s + ",c=e.client" + s +
                       ";if(s>c)return s;if(document.compatMode!='CSS1Compat')return 0;" + fits + "})()",
                   afterFrame);
}

bool SettleDeferred(TDevToolsSession& session, std::chrono::milliseconds budget) {
    // Rounds of: two frames (observers see what is in view and swap their images in), then the images that
    // are still coming. Lazy images and frames are made eager; skipped sections are rendered.
    static const char* const kScript =
        "(async function(budget){var end=performance.now()+budget,left=function(){return Math.max(0,"
        "end-performance.now())};var within=function(p,ms){return Promise.race([p,new Promise(function(r){"
        "setTimeout(r,Math.min(ms,left()))})])};var frames=function(){return within(new Promise(function(r){"
        "requestAnimationFrame(function(){requestAnimationFrame(r)})}),200)};var s=document.createElement("
        "'style');s.textContent='*{content-visibility:visible!important}';(document.head||document."
        "documentElement).appendChild(s);document.querySelectorAll('img[loading=lazy],iframe[loading=lazy]')"
        ".forEach(function(e){e.loading='eager'});for(var round=0;round<8&&left()>0;++round){await frames();"
        "var waiting=Array.prototype.filter.call(document.images,function(i){return!i.complete});if(!waiting."
        "length)break;await within(Promise.all(waiting.map(function(i){return new Promise(function(r){i."
        "addEventListener('load',r,{once:true});i.addEventListener('error',r,{once:true})})})),left())}"
        "if(document.fonts)await within(document.fonts.ready,left());await frames();document.getAnimations()"
        ".forEach(function(a){try{var t=a.effect&&a.effect.getComputedTiming();if(t&&isFinite(t.endTime)&&"
        "a.playState!=='finished')a.finish()}catch(e){}});return left()>0})(";
    const auto ms = std::max<std::int64_t>(0, budget.count());
    TDevToolsMessage reply;
    try {
        reply = session.Call("Runtime.evaluate",
                             {{"expression", kScript + std::to_string(ms) + ")"},
                              {"returnByValue", true},
                              {"awaitPromise", true},
                              {"silent", true}},
                             std::chrono::milliseconds(ms) + std::chrono::seconds(5));
    } catch (const EEngineTimeout&) {
        EndScript(session);
        throw;
    }
    const json& result = Obj(reply.Params, "result");
    const auto value = result.find("value");
    return value != result.end() && value->is_boolean() && value->get<bool>();
}

bool ExpandInnerScroller(TDevToolsSession& session) {
    // A small scrolling panel (a chat, a code block) is never the one: it must cover half of the view.
    static const char* const kScript =
        "(function(){var d=document.scrollingElement||document.documentElement;if(!d||!document.body||"
        "d.scrollHeight>d.clientHeight+1)return 0;var vw=innerWidth,vh=innerHeight,best=null,most=0;"
        "document.body.querySelectorAll('*').forEach(function(e){if(e.scrollHeight<=e.clientHeight+1)return;"
        "var o=getComputedStyle(e).overflowY;if(o!=='auto'&&o!=='scroll'&&o!=='overlay')return;var r=e."
        "getBoundingClientRect(),w=Math.min(r.right,vw)-Math.max(r.left,0),h=Math.min(r.bottom,vh)-Math.max("
        "r.top,0);var a=w>0&&h>0?w*h:0;if(a*2>=vw*vh&&a>most){best=e;most=a}});if(!best)return 0;for(var n="
        "best;n;n=n.parentElement){var "
        "s=n.style,p=getComputedStyle(n).position;s.setProperty('height','auto',"
        "'important');s.setProperty('max-height','none','important');s.setProperty('overflow','visible',"
        "'important');if(p==='fixed'||p==='absolute'){s.setProperty('position','absolute','important');s."
        "setProperty('bottom','auto','important')}}return 1})()";
    return Number(session, kScript) == 1;
}

double Number(TDevToolsSession& session, const std::string& expression) {
    const TDevToolsMessage reply = session.Call("Runtime.evaluate", Expression(expression));
    const json& result = Obj(reply.Params, "result");
    auto value = result.find("value");
    return value != result.end() && value->is_number() ? value->get<double>() : 0.0;
}

void Evaluate(TDevToolsSession& session, const std::string& script, bool awaitPromise,
              std::function<void(TScriptResult)> done) {
    session.Send("Runtime.evaluate",
                 {{"expression", script}, {"returnByValue", true}, {"awaitPromise", awaitPromise}},
                 [done = std::move(done)](TDevToolsMessage& reply) { done(ScriptResultOf(reply)); });
}

TScriptResult EvaluateNow(TDevToolsSession& session, const std::string& script) {
    TDevToolsMessage reply;
    try {
        reply = session.Call("Runtime.evaluate", {{"expression", script}, {"returnByValue", true}});
    } catch (const EEngineError&) {
        // A script that never yields keeps the page from answering: end it so the page can be used again.
        EndScript(session);
        throw;
    }
    return ScriptResultOf(reply);
}

std::vector<std::string> InvalidSelectors(TDevToolsSession& session,
                                          const std::vector<std::string>& selectors) {
    // Parsed against a fragment of whatever page there is: nothing of it is matched.
    const TDevToolsMessage reply = session.Call(
        "Runtime.evaluate",
        {{"expression", "(function(l){var f=document.createDocumentFragment();return l.filter(function(s){"
                        "try{f.querySelector(s);return false}catch(e){return true}})})(" +
                            json(selectors).dump() + ")"},
         {"returnByValue", true}});
    const TScriptResult result = ScriptResultOf(reply);
    if (!result.Ok || !result.Value.is_array())
        throw EEngineError(FormatText(Tr("The browser could not check the selectors: %1"), {result.Error}));
    std::vector<std::string> invalid;
    for (const auto& s : result.Value)
        if (s.is_string()) invalid.push_back(s.get<std::string>());
    return invalid;
}

std::optional<TElementBox> ElementBox(TDevToolsSession& session, const std::string& selector) {
    const TScriptResult result = EvaluateNow(
        session,
        "(function(s){var e=document.querySelector(s);if(!e)return null;var r=e.getBoundingClientRect();"
        "return [r.left+scrollX,r.top+scrollY,r.width,r.height]})(" +
            json(selector).dump() + ")");
    const auto failed = [&](const std::string& why) {
        return EEngineError(FormatText(Tr("Looking up %1 failed: %2"), {selector, why}));
    };
    if (!result.Ok) throw failed(result.Error);
    if (result.Value.is_null()) return std::nullopt;
    if (!result.Value.is_array() || result.Value.size() != 4 ||
        !std::all_of(result.Value.begin(), result.Value.end(), [](const auto& v) { return v.is_number(); }))
        throw failed(Tr("no box"));
    return TElementBox{result.Value[0].get<double>(), result.Value[1].get<double>(),
                       result.Value[2].get<double>(), result.Value[3].get<double>()};
}

void EndScript(TDevToolsSession& session) {
    if (session.Open()) session.Send("Runtime.terminateExecution");
}

void EndBusyScript(TDevToolsSession& session) {
    try {
        session.Call("Runtime.evaluate", Expression("0"), kBusyProbeTimeout);
    } catch (const EEngineError&) {
        EndScript(session);
    }
}

} // namespace korvane::PageScripts
