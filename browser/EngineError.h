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

// The caller asked the engine to stop waiting (Abort, Close, a signal): what was under way was given up.
class EEngineStopped : public EEngineError {
public:
    EEngineStopped();
};

} // namespace korvane
