#pragma once
// What a page may load, as the six "Security" switches of both programs say.
namespace korvane {

struct TSecuritySwitches {
    bool Image = true, Video = true, Script = true, Java = true, ActiveX = true, ActiveXDownload = false;
    bool operator==(const TSecuritySwitches&) const = default;
};

} // namespace korvane
