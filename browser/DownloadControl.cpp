#include "browser/DownloadControl.h"

#include "platform/Text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace korvane {

TEngineSettings SettingsFromWords(std::uint32_t dl, std::uint32_t flags, const std::string& userAgentToken) {
    TEngineSettings s;
    s.BlockImages = (dl & DLCTL_DLIMAGES) == 0;
    s.BlockVideo = (dl & DLCTL_VIDEOS) == 0;
    s.BlockAudio = (dl & DLCTL_BGSOUNDS) == 0;
    s.NoScripts = (dl & DLCTL_NO_SCRIPTS) != 0;
    s.NoPlugins = (dl & (DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS)) != 0;
    s.NoCache = (dl & (DLCTL_PRAGMA_NO_CACHE | DLCTL_RESYNCHRONIZE)) != 0;
    s.NoFrames = (dl & DLCTL_NO_FRAMEDOWNLOAD) != 0;
    s.Offline = (dl & (DLCTL_FORCEOFFLINE | DLCTL_OFFLINE)) != 0;
    s.Silent = (dl & DLCTL_SILENT) != 0;
    s.HideScrollbars = (flags & DOCHOSTUIFLAG_SCROLL_NO) != 0;
    s.UserAgentToken = userAgentToken;
    return s;
}

bool LooksLikeAudioUrl(const std::string& url) {
    std::string_view path(url);
    path = path.substr(0, std::min(path.find('?'), path.find('#')));
    std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return false;
    const std::string ext = AsciiLower(path.substr(dot + 1));
    static constexpr std::array<std::string_view, 10> kAudio = {"mp3", "ogg", "oga",  "opus", "wav",
                                                                "m4a", "aac", "flac", "mid",  "midi"};
    return std::find(kAudio.begin(), kAudio.end(), ext) != kAudio.end();
}

} // namespace korvane
