#pragma once
// Failures of the browser engine: a browser that cannot start, a page command that fails or times out, a
// browser or renderer that died. The text says what happened in words a user can act on.
#include "platform/Errors.h"

namespace korvane {

class EEngineError : public Error {
public:
    using Error::Error;
};

// The browser gave no answer to a command within its time (a page busy with a script, or a browser that
// hangs: the caller may ask the browser itself to tell them apart).
class EEngineTimeout : public EEngineError {
public:
    using EEngineError::EEngineError;
};

// The browser does not do what it is asked, whatever the page: it sent nothing, not even to a question of its
// own, or (a browser elsewhere) it made no page in time. The page is not to blame; the browser is replaced.
class EEngineHung : public EEngineTimeout {
public:
    using EEngineTimeout::EEngineTimeout;
};

// The caller asked the engine to stop waiting (Abort, Close, a signal): what was under way was given up.
class EEngineStopped : public EEngineError {
public:
    EEngineStopped();
};

} // namespace korvane
