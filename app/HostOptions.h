#pragma once
// The window's switches as the browser control `wb` takes them before each navigation: the download-control
// set and the scroll-bar flag.
#include "capture/SecuritySwitches.h"

namespace korvane {

class TBrowserHost;

// Changes the host's download-control set member by member, one switch after the other (each assignment
// notifies the engine); members no switch governs keep their value. "Image" also governs the no-cache
// request.
void ApplyDownloadOptions(TBrowserHost& host, const TSecuritySwitches& switches);

// Hiding the scroll bars sets SCROLL_NO; showing them clears it. No other member is touched.
void ApplyScrollBarOption(TBrowserHost& host, bool hideScrollBars);

} // namespace korvane
