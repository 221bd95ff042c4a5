#pragma once
// The download-control bits and host-information flags the host reports to the engine, and what they make
// the Chromium engine do before a navigation.
#include <cstdint>
#include <string>

namespace korvane {

inline constexpr std::uint32_t DLCTL_DLIMAGES = 0x10;
inline constexpr std::uint32_t DLCTL_VIDEOS = 0x20;
inline constexpr std::uint32_t DLCTL_BGSOUNDS = 0x40;
inline constexpr std::uint32_t DLCTL_NO_SCRIPTS = 0x80;
inline constexpr std::uint32_t DLCTL_NO_JAVA = 0x100;
inline constexpr std::uint32_t DLCTL_NO_RUNACTIVEXCTLS = 0x200;
inline constexpr std::uint32_t DLCTL_NO_DLACTIVEXCTLS = 0x400;
inline constexpr std::uint32_t DLCTL_DOWNLOADONLY = 0x800;
inline constexpr std::uint32_t DLCTL_NO_FRAMEDOWNLOAD = 0x1000;
inline constexpr std::uint32_t DLCTL_RESYNCHRONIZE = 0x2000;
inline constexpr std::uint32_t DLCTL_PRAGMA_NO_CACHE = 0x4000;
inline constexpr std::uint32_t DLCTL_NO_BEHAVIORS = 0x8000;
inline constexpr std::uint32_t DLCTL_NO_METACHARSET = 0x10000;
inline constexpr std::uint32_t DLCTL_URL_ENCODING_DISABLE_UTF8 = 0x20000;
inline constexpr std::uint32_t DLCTL_URL_ENCODING_ENABLE_UTF8 = 0x40000;
inline constexpr std::uint32_t DLCTL_FORCEOFFLINE = 0x10000000;
inline constexpr std::uint32_t DLCTL_NO_CLIENTPULL = 0x20000000;
inline constexpr std::uint32_t DLCTL_SILENT = 0x40000000;
inline constexpr std::uint32_t DLCTL_OFFLINE = 0x80000000;

inline constexpr std::uint32_t DOCHOSTUIFLAG_SCROLL_NO = 0x8;

// What the Chromium engine sets up for one navigation. Bits without an entry here (DOWNLOADONLY,
// NO_BEHAVIORS, NO_METACHARSET, the two URL_ENCODING bits, NO_CLIENTPULL) have no counterpart in this engine
// and no effect.
struct TEngineSettings {
    bool BlockImages = false; // DLCTL_DLIMAGES clear: image requests fail
    bool BlockVideo = false;  // DLCTL_VIDEOS clear: media requests that are not audio fail
    bool BlockAudio = false;  // DLCTL_BGSOUNDS clear: media requests that are audio fail
    bool NoScripts = false;   // DLCTL_NO_SCRIPTS: page scripts do not run
    bool NoPlugins = false;   // DLCTL_NO_JAVA / NO_RUNACTIVEXCTLS / NO_DLACTIVEXCTLS: object/embed not loaded
    bool NoCache = false;     // DLCTL_PRAGMA_NO_CACHE / DLCTL_RESYNCHRONIZE: cache bypassed
    bool NoFrames = false;    // DLCTL_NO_FRAMEDOWNLOAD: sub-frame documents fail
    bool Offline = false;     // DLCTL_FORCEOFFLINE / DLCTL_OFFLINE: network emulated offline
    bool Silent = false; // DLCTL_SILENT: downloads denied, permissions refused (dialogs are always answered)
    bool HideScrollbars = false; // host flag SCROLL_NO
    std::string UserAgentToken;  // appended to the engine's user agent when not empty

    bool operator==(const TEngineSettings&) const = default;
};

TEngineSettings SettingsFromWords(std::uint32_t downloadControl, std::uint32_t hostInfoFlags,
                                  const std::string& userAgentToken);

// Media requests cannot say which element asked for them; audio is told from video by the file name.
bool LooksLikeAudioUrl(const std::string& url);

} // namespace korvane
