#pragma once
// Scripts run in a page through its DevTools session: values read from it, scripts of the caller's with their
// results, elements looked up; and the ending of a script that keeps the page from answering.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/Engine.h"

namespace korvane {

class TDevToolsSession;

// What a script run in the page gave.
struct TScriptResult {
    bool Ok = false;
    nlohmann::json Value; // its value, when Ok
    std::string Error;    // what it threw (the first line of the error's text), or why it could not run
};

namespace PageScripts {

// An integer the expression gives; `what` names it in errors. A page that does not answer has its script
// ended (EEngineTimeout then still says it timed out, so that the caller may ask whether the browser hangs).
// Throws EEngineError.
// With afterFrame, read after the page's next frame.
std::int32_t Integer(TDevToolsSession& session, const std::string& what, const std::string& expression,
                     bool afterFrame = false);
// Whether a body property may be read by this name (a plain identifier).
bool IsPropertyName(std::string_view name);
// body.<name>, for a name IsPropertyName takes.
std::int32_t BodyProperty(TDevToolsSession& session, std::string_view name, bool afterFrame = false);
// TEngine::DocumentScrollSize.
std::int32_t DocumentScrollSize(TDevToolsSession& session, std::string_view side, bool afterFrame = false);
// TEngine::SettleDeferred in the page; false when the budget ran out first.
bool SettleDeferred(TDevToolsSession& session, std::chrono::milliseconds budget);
// TEngine::ExpandInnerScroller in the page.
bool ExpandInnerScroller(TDevToolsSession& session);
// The number an expression gives; 0 when it gives none.
double Number(TDevToolsSession& session, const std::string& expression);

// Runs the script and hands its completion value to `done` (once a promise it gives has settled, when
// `awaitPromise`); never blocks. Nothing comes once the session has gone.
void Evaluate(TDevToolsSession& session, const std::string& script, bool awaitPromise,
              std::function<void(TScriptResult)> done);
// Runs the script and waits for its value (not for a promise).
TScriptResult EvaluateNow(TDevToolsSession& session, const std::string& script);
// The selectors the browser cannot parse, each checked on its own.
std::vector<std::string> InvalidSelectors(TDevToolsSession& session,
                                          const std::vector<std::string>& selectors);
// The box of the first element the selector matches, in page pixels.
std::optional<TElementBox> ElementBox(TDevToolsSession& session, const std::string& selector);

// Ends whatever script the page runs (one that never yields keeps the page from answering).
void EndScript(TDevToolsSession& session);
// Ends the page's script only when the page does not answer: ending a script that does not run would end the
// next one to start.
void EndBusyScript(TDevToolsSession& session);

} // namespace PageScripts
} // namespace korvane
