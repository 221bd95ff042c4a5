#pragma once
// The window's program from start to end.
#include "browser/Engine.h"

#include <functional>
#include <memory>

namespace korvane {

class TfrmKorvane;
struct TAppPaths;

// Shows the window and runs the event loop until the program is told to end: by Close, by the window's
// frame, or by SIGINT, SIGTERM or SIGHUP, which count as Close (the job stops, the settings are written, the
// browser ends). `started` runs once the window is shown. Returns the event loop's exit status; a signal
// that ended it is then in TerminationSignal().
int RunWindow(const TAppPaths& paths, std::unique_ptr<TEngine> engine = {},
              const std::function<void(TfrmKorvane&)>& started = {});

} // namespace korvane
