#include "Options.h"
#include "platform/Translate.h"

#include "browser/DevToolsAddress.h"
#include "capture/Encoding.h"
#include "cli/CookiesFile.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/IntegerText.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <unistd.h>

namespace korvane {

int DefaultJobs(unsigned cores) {
    // More pages at once than this only make each of them slower and the machine short of memory.
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

std::int64_t DefaultMemoryBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return std::int64_t{1} << 30;
    return std::int64_t{pages} * size / 4;
}

TEngineSettings TCliOptions::EngineSettings() const {
    // What the switches mean, set directly: images on mean every page fetched fresh unless --cache keeps the
    // cache; audio always loads when media does; the browser asks no one and never downloads.
    TEngineSettings s;
    s.BlockImages = !Security.Image;
    s.NoCache = Security.Image && !Cache;
    s.BlockVideo = !Security.Video;
    s.NoScripts = !Security.Script;
    s.NoPlugins = !Security.Java || !Security.ActiveX || !Security.ActiveXDownload;
    s.Silent = true;
    s.HideScrollbars = HideScrollbars;
    return s;
}

std::vector<int> TCliOptions::ViewWidths() const {
    return Widths.empty() ? std::vector<int>{0} : Widths;
}

TSaveFormat TCliOptions::EffectiveFormat() const {
    if (Format) return *Format;
    auto dot = OutputFile.rfind('.');
    auto slash = OutputFile.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string ext = AsciiLower(OutputFile.substr(dot + 1));
        if (ext == "bmp") return TSaveFormat::Bmp;
        if (ext == "jpg" || ext == "jpeg") return TSaveFormat::Jpg;
        if (ext == "webp") return TSaveFormat::Webp;
    }
    return TSaveFormat::Png;
}

namespace {

constexpr int kMaxDelaySeconds = 3600;

// Options take plain decimal numbers: no sign, no blanks, no hexadecimal prefix.
std::optional<std::int64_t> DecimalNumber(const std::string& value) {
    std::int64_t number = 0;
    const char* end = value.data() + value.size();
    if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    auto [stop, ec] = std::from_chars(value.data(), end, number);
    if (ec != std::errc() || stop != end) return std::nullopt;
    return number;
}

int PositiveNumber(const std::string& option, const std::string& value, int min, int max) {
    auto number = DecimalNumber(value);
    if (!number || *number < min || *number > max)
        throw EUsageError(FormatText(Tr("invalid value '%1' for %2: expected a whole number from %3 to %4"),
                                     {value, option, std::to_string(min), std::to_string(max)}));
    return *number;
}

TSideChoice Side(const std::string& option, const std::string& value, int max) {
    if (value == "auto") return TSideChoice::Auto();
    try {
        return TSideChoice::Fixed(PositiveNumber(option, value, 1, max));
    } catch (const EUsageError&) {
        throw EUsageError(
            FormatText(Tr("invalid value '%1' for %2: expected auto or a number of pixels from 1 to %3"),
                       {value, option, std::to_string(max)}));
    }
}

TSaveFormat FormatNamed(const std::string& value) {
    if (value == "bmp") return TSaveFormat::Bmp;
    if (value == "jpg" || value == "jpeg") return TSaveFormat::Jpg;
    if (value == "png") return TSaveFormat::Png;
    if (value == "webp") return TSaveFormat::Webp;
    throw EUsageError(
        FormatText(Tr("invalid value '%1' for %2: expected bmp, jpg, png or webp"), {value, "--format"}));
}

// The values of a settings file of the window, each checked as the option it stands for is: a value the
// window would never write is a usage error that names its key.
class TStoredSettings {
public:
    TStoredSettings(const TMemIniFile& ini, std::string path) : FIni(ini), FPath(std::move(path)) {}

    // An integer from min to max, the default when the key is absent.
    std::int32_t Integer(const char* section, const char* key, std::int32_t def, std::int32_t min,
                         std::int32_t max) const {
        if (!FIni.ValueExists(section, key)) return def;
        const std::string text = FIni.ReadString(section, key, "");
        const auto value = ParseIntegerText(text); // the window's own rule for stored numbers
        if (!value || *value < min || *value > max)
            throw EUsageError(FormatText(Tr("settings file '%1': %2=%3 is not a whole number from %4 to %5"),
                                         {FPath, key, text, std::to_string(min), std::to_string(max)}));
        return *value;
    }
    bool Boolean(const char* section, const char* key, bool def) const {
        return Integer(section, key, def ? 1 : 0, std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max()) != 0;
    }

private:
    const TMemIniFile& FIni;
    std::string FPath;
};

// The window's list items, by stored index; -1 (no item selected) counts as "auto".
TSideChoice StoredSide(const TStoredSettings& stored, const char* indexKey, const char* anyKey,
                       std::int32_t defIndex, const int (&items)[5], std::int32_t maxPixels) {
    const std::int32_t index = stored.Integer("option", indexKey, defIndex, -1, 6);
    if (index == 1) return TSideChoice::Fixed(stored.Integer("option", anyKey, 2000, 1, maxPixels));
    if (index >= 2) return TSideChoice::Fixed(items[index - 2]);
    return TSideChoice::Auto();
}

void ApplySettingsFile(TCliOptions& o, const std::string& path) {
    if (!FileExists(path)) throw EUsageError(FormatText(Tr("settings file '%1' does not exist"), {path}));
    std::optional<TMemIniFile> read;
    try {
        read.emplace(path);
    } catch (const Error& e) {
        throw EUsageError(e.what());
    }
    const TMemIniFile& ini = *read;
    // A file of some other program (or none at all) would only give the defaults, as if they were chosen.
    if (!ini.SectionExists("option"))
        throw EUsageError(
            FormatText(Tr("settings file '%1' has no [option] section: it is no settings file of "
                          "the window"),
                       {path}));
    const TStoredSettings stored(ini, path);
    static const int widths[5] = {640, 800, 1024, 1280, 1600};
    static const int heights[5] = {480, 600, 768, 960, 1200};
    o.Width = StoredSide(stored, "capturewith", "capanywidth", 4, widths, kMaxCaptureWidth);
    o.Height = StoredSide(stored, "captureheight", "capanyheight", 0, heights, kMaxCaptureHeight);
    o.View = stored.Boolean("option", "capandview", true);
    o.HideScrollbars = stored.Boolean("option", "hidescrollbar", false);
    o.Format = static_cast<TSaveFormat>(stored.Integer("option", "saveformat", 0, 0, 2));
    o.Delay = stored.Integer("option", "delay", 1, 0, kMaxDelaySeconds);
    const std::string folder = ini.ReadString("option", "outputpath", "");
    if (DirectoryExists(folder)) o.OutputDir = folder;
    o.Security.Image = stored.Boolean("security", "image", true);
    o.Security.Video = stored.Boolean("security", "video", true);
    o.Security.Script = stored.Boolean("security", "script", true);
    o.Security.Java = stored.Boolean("security", "java", true);
    o.Security.ActiveX = stored.Boolean("security", "activex", true);
    o.Security.ActiveXDownload = stored.Boolean("security", "axdl", false);
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
    });
}

std::string Selector(const std::string& option, const std::string& value) {
    if (TrimText(value).empty()) throw EUsageError(FormatText(Tr("option %1 needs a selector"), {option}));
    return value;
}

std::pair<std::string, std::string> Header(const std::string& value) {
    static constexpr std::string_view kTokenMarks = "!#$%&'*+-.^_`|~";
    const auto colon = value.find(':');
    const std::string name(TrimText(std::string_view(value).substr(0, colon)));
    const bool token = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || kTokenMarks.find(c) != std::string_view::npos;
    });
    if (colon == std::string::npos || !token || HasControlCharacter(value))
        throw EUsageError(
            FormatText(Tr("invalid value '%1' for %2: expected NAME: VALUE"), {value, "--header"}));
    return {name, std::string(TrimText(std::string_view(value).substr(colon + 1)))};
}

std::pair<std::string, std::string> Cookie(const std::string& value) {
    const auto eq = value.find('=');
    const std::string name(TrimText(std::string_view(value).substr(0, eq)));
    const std::string content = eq == std::string::npos
                                    ? std::string()
                                    : std::string(TrimText(std::string_view(value).substr(eq + 1)));
    if (eq == std::string::npos || !IsCookieName(name) || !IsCookieValue(content))
        throw EUsageError(
            FormatText(Tr("invalid value '%1' for %2: expected NAME=VALUE"), {value, "--cookie"}));
    return {name, content};
}

TCredentials Credentials(const std::string& value) {
    const auto colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || HasControlCharacter(value))
        throw EUsageError(
            FormatText(Tr("invalid value '%1' for %2: expected USER:PASSWORD"), {value, "--auth"}));
    return {value.substr(0, colon), value.substr(colon + 1)};
}

constexpr std::size_t kMaxScriptFile = 16u << 20;

double ScaleFactor(const std::string& value) {
    double f = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), f);
    if (ec != std::errc() || end != value.data() + value.size() || !std::isfinite(f) || f < 0.1 || f > 8)
        throw EUsageError(FormatText(Tr("invalid value '%1' for %2: expected a number from %3 to %4"),
                                     {value, "--scale", "0.1", "8"}));
    return f;
}

using TFlag = std::function<void()>;
using TValued = std::function<void(const std::string&)>;

// The options without a value, each with what it sets.
std::map<std::string, TFlag> FlagOptions(TCliOptions& o) {
    return {
        {"--no-images", [&] { o.Security.Image = false; }},
        {"--no-video", [&] { o.Security.Video = false; }},
        {"--no-scripts", [&] { o.Security.Script = false; }},
        // Object and embed content ("plugins") loads only when the window's Java, ActiveX and ActiveX DL
        // switches all let it; the old names are kept as aliases.
        {"--plugins", [&] { o.Security.ActiveXDownload = true; }},
        {"--activex-download", [&] { o.Security.ActiveXDownload = true; }},
        {"--no-plugins", [&] { o.Security.Java = o.Security.ActiveX = o.Security.ActiveXDownload = false; }},
        {"--no-java", [&] { o.Security.Java = false; }},
        {"--no-activex", [&] { o.Security.ActiveX = false; }},
        {"--hide-scrollbars", [&] { o.HideScrollbars = true; }},
        {"--cache", [&] { o.Cache = true; }},
        {"--view", [&] { o.View = true; }},
        {"--wait-idle", [&] { o.WaitIdle = true; }},
        {"--lazy", [&] { o.Lazy = o.Deferred = true; }},
        {"--no-lazy", [&] { o.Lazy = o.Deferred = false; }},
        {"--no-expand", [&] { o.Expand = false; }},
        {"--strict", [&] { o.Strict = true; }},
        {"--hide-consent", [&] { o.HideConsent = true; }},
        {"--resume", [&] { o.Resume = true; }},
        {"--dark", [&] { o.Page.Dark = true; }},
        {"--omit-background", [&] { o.OmitBackground = o.Page.Transparent = true; }},
        {"--mobile", [&] { o.Page.Mobile = true; }},
        {"--reduced-motion", [&] { o.Page.ReducedMotion = true; }},
        {"--quiet", [&] { o.Quiet = true; }},
        {"-q", [&] { o.Quiet = true; }},
        {"--help", [&] { o.Help = true; }},
        {"-h", [&] { o.Help = true; }},
        {"--version", [&] { o.Version = true; }},
        {"-V", [&] { o.Version = true; }},
    };
}

// The options with a value, each with what it makes of it.
std::map<std::string, TValued> ValuedOptions(TCliOptions& o) {
    return {
        {"--input", [&](const std::string& v) { o.InputFile = v; }},
        {"-i", [&](const std::string& v) { o.InputFile = v; }},
        {"-o", [&](const std::string& v) { o.OutputFile = v; }},
        {"--output", [&](const std::string& v) { o.OutputDir = v; }},
        {"--format", [&](const std::string& v) { o.Format = FormatNamed(v); }},
        {"--width",
         [&](const std::string& v) {
             // A list, or the option repeated, gives several widths (each kept once by ParseCommandLine).
             for (std::size_t begin = 0;;) {
                 const std::size_t comma = v.find(',', begin);
                 const std::string item = v.substr(begin, comma - begin);
                 const TSideChoice side = Side("--width", item, kMaxCaptureWidth);
                 if (side.Automatic && (comma != std::string::npos || begin > 0 || !o.Widths.empty()))
                     throw EUsageError(
                         FormatText(Tr("invalid value '%1' for %2: a list of widths takes numbers of pixels"),
                                    {v, "--width"}));
                 o.Width = side;
                 if (!side.Automatic) o.Widths.push_back(side.Pixels);
                 if (comma == std::string::npos) break;
                 begin = comma + 1;
             }
         }},
        {"--height", [&](const std::string& v) { o.Height = Side("--height", v, kMaxCaptureHeight); }},
        {"--delay",
         [&](const std::string& v) { o.Delay = PositiveNumber("--delay", v, 0, kMaxDelaySeconds); }},
        {"--scale", [&](const std::string& v) { o.Scale = ScaleFactor(v); }},
        {"--quality", [&](const std::string& v) { o.Quality = PositiveNumber("--quality", v, 1, 100); }},
        {"--timeout",
         [&](const std::string& v) { o.TimeoutSeconds = PositiveNumber("--timeout", v, 1, 86400); }},
        {"--jobs", [&](const std::string& v) { o.Jobs = PositiveNumber("--jobs", v, 1, 64); }},
        {"--memory",
         [&](const std::string& v) {
             o.MemoryBytes = std::int64_t{PositiveNumber("--memory", v, 64, 1 << 24)} << 20;
         }},
        {"--settings", [&](const std::string&) {}}, // read before everything else
        {"--hide", [&](const std::string& v) { o.Hide.push_back(Selector("--hide", v)); }},
        {"--remove", [&](const std::string& v) { o.Remove.push_back(Selector("--remove", v)); }},
        {"--wait-for", [&](const std::string& v) { o.WaitFor = Selector("--wait-for", v); }},
        {"--selector", [&](const std::string& v) { o.Selector = Selector("--selector", v); }},
        {"--padding", [&](const std::string& v) { o.Padding = PositiveNumber("--padding", v, 0, 10000); }},
        {"--view-height",
         [&](const std::string& v) {
             o.ViewHeight = PositiveNumber("--view-height", v, 1, kMaxCaptureHeight);
         }},
        {"--style", [&](const std::string& v) { o.Styles.push_back(v); }},
        {"--style-file",
         [&](const std::string& v) {
             o.Styles.push_back(ReadOptionFile("--style-file", v, kMaxScriptFile));
         }},
        {"--script", [&](const std::string& v) { o.Scripts.push_back(v); }},
        {"--script-file",
         [&](const std::string& v) {
             o.Scripts.push_back(ReadOptionFile("--script-file", v, kMaxScriptFile));
         }},
        {"--header", [&](const std::string& v) { o.Page.Headers.push_back(Header(v)); }},
        {"--user-agent",
         [&](const std::string& v) {
             if (TrimText(v).empty() || HasControlCharacter(v))
                 throw EUsageError(
                     FormatText(Tr("invalid value '%1' for %2: expected the text of a user agent"),
                                {v, "--user-agent"}));
             o.Page.UserAgent = v;
         }},
        {"--cookie", [&](const std::string& v) { o.Page.HostCookies.push_back(Cookie(v)); }},
        {"--cookies",
         [&](const std::string& v) {
             for (auto& cookie : ReadCookiesFile(v))
                 o.Page.Cookies.push_back(std::move(cookie));
         }},
        {"--auth", [&](const std::string& v) { o.Page.Credentials = Credentials(v); }},
        {"--manifest", [&](const std::string& v) { o.ManifestFile = v; }},
        {"--report", [&](const std::string& v) { o.ReportFile = v; }},
        {"--browser",
         [&](const std::string& v) {
             std::string why;
             if (!ParseDevToolsAddress(v, &why))
                 throw EUsageError(FormatText(Tr("invalid value '%1' for %2: %3"), {v, "--browser", why}));
             o.Browsers.push_back(v);
         }},
        {"--proxy",
         [&](const std::string& v) {
             std::string why;
             const auto proxy = ParseProxyAddress(v, why);
             if (!proxy || HasControlCharacter(v))
                 throw EUsageError(FormatText(Tr("invalid value '%1' for %2: %3"), {v, "--proxy", why}));
             const std::string bypass = o.Page.Proxy.Bypass;
             o.Page.Proxy = *proxy;
             o.Page.Proxy.Bypass = bypass;
         }},
        {"--proxy-bypass",
         [&](const std::string& v) {
             if (TrimText(v).empty() || HasControlCharacter(v) || v.find_first_of(" \t") != std::string::npos)
                 throw EUsageError(FormatText(
                     Tr("invalid value '%1' for %2: expected hosts separated by commas, without blanks"),
                     {v, "--proxy-bypass"}));
             o.Page.Proxy.Bypass = v;
         }},
        {"--browsers",
         [&](const std::string& v) { o.LocalBrowsers = PositiveNumber("--browsers", v, 1, 8); }},
        {"--shard",
         [&](const std::string& v) {
             const auto slash = v.find('/');
             const std::int64_t index = DecimalNumber(v.substr(0, slash)).value_or(-1);
             const std::int64_t count =
                 slash == std::string::npos ? -1 : DecimalNumber(v.substr(slash + 1)).value_or(-1);
             if (index < 0 || count < 1 || count > 1000000 || index >= count)
                 throw EUsageError(FormatText(Tr("invalid value '%1' for %2: expected K/N with N from 1 to "
                                                 "1000000 and K from 0 to N-1"),
                                              {v, "--shard"}));
             o.ShardIndex = static_cast<int>(index);
             o.ShardCount = static_cast<int>(count);
         }},
    };
}

// The settings file goes first so that every option given beside it wins.
void ReadSettingsFirst(const std::vector<std::string>& args, TCliOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") break;
        if (args[i] == "--settings" && i + 1 < args.size())
            o.SettingsFile = args[i + 1];
        else if (args[i].rfind("--settings=", 0) == 0)
            o.SettingsFile = args[i].substr(11);
    }
    if (!o.SettingsFile.empty()) ApplySettingsFile(o, o.SettingsFile);
}

// The options whose value names a file or folder.
const std::set<std::string> kPathOptions = {
    "--input",       "-i",        "-o",         "--output", "--settings", "--style-file",
    "--script-file", "--cookies", "--manifest", "--report"};

// The options and URLs in their order; "--" ends the options.
void TakeArguments(const std::vector<std::string>& args, TCliOptions& o) {
    const std::map<std::string, TFlag> flags = FlagOptions(o);
    const std::map<std::string, TValued> valued = ValuedOptions(o);
    bool onlyUrls = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyUrls || arg.empty() || arg[0] != '-' || arg == "-") {
            if (arg.empty()) throw EUsageError(Tr("an empty URL was given"));
            if (!IsValidUtf8(arg))
                throw EUsageError(FormatText(Tr("URL %1 of the command line is not UTF-8 text"),
                                             {std::to_string(o.Urls.size() + 1)}));
            o.Urls.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyUrls = true;
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        if (auto f = flags.find(name); f != flags.end()) {
            if (inlineValue) throw EUsageError(FormatText(Tr("option %1 takes no value"), {name}));
            f->second();
        } else if (auto v = valued.find(name); v != valued.end()) {
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    throw EUsageError(FormatText(Tr("option %1 needs a value"), {name}));
                value = args[++i];
            }
            // Texts that reach the page are UTF-8 (file names are the system's bytes).
            if (!kPathOptions.count(name) && !IsValidUtf8(value))
                throw EUsageError(FormatText(Tr("the value of %1 is not UTF-8 text"), {name}));
            v->second(value);
        } else {
            throw EUsageError(FormatText(Tr("unknown option '%1'"), {arg}));
        }
    }
}

// The list of --input joined to the URLs given; then what cannot work is said before any page loads: options
// that need each other, and files and folders.
void CompleteAndCheck(TCliOptions& o) {
    if (!o.InputFile.empty())
        for (auto& url : ReadUrlList(o.InputFile))
            o.Urls.push_back(std::move(url));
    if (o.Urls.empty()) throw EUsageError(Tr("no URL given"));
    if (!o.OutputFile.empty() && o.Urls.size() != 1)
        throw EUsageError(Tr("-o names one file: give exactly one URL"));
    if (!o.OutputFile.empty() && !o.OutputDir.empty() && o.OutputFile.find('/') == std::string::npos)
        o.OutputFile = IncludeTrailingPathDelimiter(o.OutputDir) + o.OutputFile;
    if (!o.OutputFile.empty()) {
        // Known before any page loads: the file cannot be made where -o says.
        const std::string folder =
            ExtractFilePath(o.OutputFile).empty() ? "." : ExtractFilePath(o.OutputFile);
        if (DirectoryExists(o.OutputFile))
            throw EUsageError(FormatText(Tr("-o names the folder '%1': give a file name"), {o.OutputFile}));
        if (!DirectoryExists(folder))
            throw EUsageError(FormatText(Tr("the folder of '%1' does not exist"), {o.OutputFile}));
        if (!IsWritableDirectory(folder))
            throw EUsageError(FormatText(Tr("the folder of '%1' is not writable"), {o.OutputFile}));
    }
    if (!o.Page.Proxy.Bypass.empty() && o.Page.Proxy.Server.empty())
        throw EUsageError(Tr("--proxy-bypass lists what does not go through the proxy: give --proxy"));
    if (o.LocalBrowsers > 1 && !o.Browsers.empty())
        throw EUsageError(Tr("--browsers starts browsers of our own, --browser uses browsers that run "
                             "elsewhere: give one of them"));
    if (o.Resume && o.ManifestFile.empty())
        throw EUsageError(Tr("--resume reads the manifest of the run before: give --manifest"));
    if (!o.ReportFile.empty() && DirectoryExists(o.ReportFile))
        throw EUsageError(FormatText(Tr("--report names the folder '%1': give a file name"), {o.ReportFile}));
    if (!o.ManifestFile.empty() && DirectoryExists(o.ManifestFile))
        throw EUsageError(
            FormatText(Tr("--manifest names the folder '%1': give a file name"), {o.ManifestFile}));
    // A pipe or a device would hold the run up (reading it, or writing once nobody reads).
    std::error_code error;
    if (!o.ManifestFile.empty() && std::filesystem::exists(o.ManifestFile, error) &&
        !std::filesystem::is_regular_file(o.ManifestFile, error))
        throw EUsageError(
            FormatText(Tr("--manifest names '%1', which is not a regular file"), {o.ManifestFile}));
    if (o.Padding > 0 && o.Selector.empty())
        throw EUsageError(Tr("--padding is the room around the element of --selector: give --selector"));
    if (o.Delay >= o.TimeoutSeconds)
        throw EUsageError(
            FormatText(Tr("--delay %1 leaves no time of --timeout %2 for the page: give a longer "
                          "--timeout"),
                       {std::to_string(o.Delay), std::to_string(o.TimeoutSeconds)}));
    const TSaveFormat format = o.EffectiveFormat();
    if (o.Quality > 0 && format != TSaveFormat::Jpg && format != TSaveFormat::Webp)
        throw EUsageError(
            FormatText(Tr("--quality is for jpg and webp; this run writes %1"), {ExtensionOf(format) + 1}));
    if (o.OmitBackground && !HoldsTransparency(format))
        throw EUsageError(FormatText(Tr("--omit-background needs png or webp: %1 has no transparency"),
                                     {ExtensionOf(format) + 1}));
    {
        // A size that is known now and that the format cannot hold is refused before any page loads.
        const auto device = [&](const TSideChoice& side) {
            return side.Automatic ? 0 : std::llround(std::min<double>(side.Pixels * o.Scale, 1e9));
        };
        try {
            TSideChoice widest = o.Width;
            for (const int width : o.Widths)
                widest.Pixels = std::max(widest.Pixels, width);
            CheckFormatSize(format, static_cast<std::int32_t>(device(widest)),
                            static_cast<std::int32_t>(device(o.Height)));
        } catch (const EFormatLimitError& e) {
            throw EUsageError(e.what());
        }
    }
    if (!o.OutputDir.empty() && !DirectoryExists(o.OutputDir))
        throw EUsageError(FormatText(Tr("output folder '%1' does not exist"), {o.OutputDir}));
    if (!o.OutputDir.empty() && !IsWritableDirectory(o.OutputDir))
        throw EUsageError(FormatText(Tr("output folder '%1' is not writable"), {o.OutputDir}));
}

} // namespace

TCliOptions ParseCommandLine(const std::vector<std::string>& args) {
    TCliOptions o;
    o.Jobs = DefaultJobs(std::thread::hardware_concurrency());
    o.MemoryBytes = DefaultMemoryBudget();
    ReadSettingsFirst(args, o);
    TakeArguments(args, o);
    // A phone's page is as wide as a phone, unless a width is given.
    const bool widthGiven =
        !o.SettingsFile.empty() || std::any_of(args.begin(), args.end(), [](const auto& a) {
            return a == "--width" || a.rfind("--width=", 0) == 0;
        });
    if (o.Page.Mobile && !widthGiven) o.Width = TSideChoice::Fixed(kMobileWidth);
    // Each width once, in the order given; one width is the run's Width alone.
    std::vector<int> widths;
    for (const int width : o.Widths)
        if (std::find(widths.begin(), widths.end(), width) == widths.end()) widths.push_back(width);
    if (!widths.empty()) o.Width = TSideChoice::Fixed(widths.front());
    o.Widths = widths.size() > 1 ? widths : std::vector<int>{};
    if (o.Help || o.Version) return o;
    CompleteAndCheck(o);
    return o;
}

} // namespace korvane
