#pragma once
// What a page may load, as the six "Security" switches say, and whether it shows scroll bars: both applied
// to the browser host before each navigation.
namespace korvane {

class TBrowserHost;

struct TSecuritySwitches {
    bool Image = true, Video = true, Script = true, Java = true, ActiveX = true, ActiveXDownload = false;
    bool operator==(const TSecuritySwitches&) const = default;
};

// Changes the host's download-control set member by member, one switch after the other (each assignment
// notifies the engine); members no switch governs keep their value. "Image" also governs the no-cache
// request.
void ApplyDownloadOptions(TBrowserHost& host, const TSecuritySwitches& switches);

// Hiding the scroll bars sets SCROLL_NO; showing them clears it. No other member is touched.
void ApplyScrollBarOption(TBrowserHost& host, bool hideScrollBars);

} // namespace korvane
