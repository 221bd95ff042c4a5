#include "cli/Options.h"
#include "cli/CookiesFile.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace korvane;
namespace fs = std::filesystem;

namespace {
TCliOptions Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

struct Scratch : korvane::testing::TempFolder {
    Scratch() : TempFolder("korvane-cli") {}
    const fs::path dir = Dir();
};
} // namespace

TEST(CliOptions, DefaultsMatchAFreshWindow) {
    const auto o = Parse({"http://127.0.0.1/"});
    EXPECT_EQ(o.Urls, std::vector<std::string>{"http://127.0.0.1/"});
    EXPECT_EQ(o.Width, TSideChoice::Fixed(1024));
    EXPECT_EQ(o.Height, TSideChoice::Auto());
    EXPECT_EQ(o.Delay, 1);
    EXPECT_EQ(o.EffectiveFormat(), TSaveFormat::Png);
    EXPECT_EQ(o.Security, TSecuritySwitches{});
    EXPECT_FALSE(o.HideScrollbars);
    EXPECT_FALSE(o.View);
    EXPECT_FALSE(o.Cache);
    EXPECT_EQ(o.TimeoutSeconds, 60);
    EXPECT_GE(o.Jobs, 1);
    EXPECT_EQ(o.Scale, 1.0);
    EXPECT_EQ(o.ViewHeight, 768);
    EXPECT_TRUE(o.Deferred);
    EXPECT_FALSE(o.Lazy);
}

TEST(CliOptions, ValuesInBothSpellingsAndSwitches) {
    const auto o = Parse({"--width=auto",
                          "--height",
                          "3000",
                          "--delay",
                          "0",
                          "--format=jpg",
                          "--no-images",
                          "--no-video",
                          "--no-scripts",
                          "--no-java",
                          "--no-activex",
                          "--activex-download",
                          "--hide-scrollbars",
                          "--view",
                          "--jobs",
                          "2",
                          "--timeout=5",
                          "--scale",
                          "2",
                          "--wait-idle",
                          "--lazy",
                          "--cache",
                          "-q",
                          "a.html",
                          "--",
                          "--not-an-option"});
    EXPECT_EQ(o.Width, TSideChoice::Auto());
    EXPECT_EQ(o.Height, TSideChoice::Fixed(3000));
    EXPECT_EQ(o.Delay, 0);
    EXPECT_EQ(o.EffectiveFormat(), TSaveFormat::Jpg);
    EXPECT_EQ(o.Security, (TSecuritySwitches{false, false, false, false, false, true}));
    EXPECT_TRUE(o.HideScrollbars && o.View && o.WaitIdle && o.Lazy && o.Cache && o.Quiet);
    EXPECT_EQ(o.Jobs, 2);
    EXPECT_EQ(o.TimeoutSeconds, 5);
    EXPECT_EQ(o.Scale, 2.0);
    EXPECT_EQ(o.Urls, (std::vector<std::string>{"a.html", "--not-an-option"}));
}

TEST(CliOptions, FormatFollowsTheOutputNameUnlessGiven) {
    auto format = [](const char* file, std::optional<TSaveFormat> given = std::nullopt) {
        TCliOptions o;
        o.OutputFile = file;
        o.Format = given;
        return o.EffectiveFormat();
    };
    EXPECT_EQ(format("/tmp/x.BMP"), TSaveFormat::Bmp);
    EXPECT_EQ(format("/tmp/x.jpeg"), TSaveFormat::Jpg);
    EXPECT_EQ(format("/tmp/x"), TSaveFormat::Png);
    EXPECT_EQ(format("/tmp.d/x"), TSaveFormat::Png);
    EXPECT_EQ(format("/tmp/x.bmp", TSaveFormat::Png), TSaveFormat::Png);
    EXPECT_EQ(Parse({"-o", "/tmp/x.BMP", "u"}).EffectiveFormat(), TSaveFormat::Bmp);
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong) {
    auto message = [](std::vector<std::string> args) {
        try {
            ParseCommandLine(args);
        } catch (const EUsageError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message({"--frobnicate", "u"}), "unknown option '--frobnicate'");
    EXPECT_EQ(message({"u", "--width"}), "option --width needs a value");
    EXPECT_EQ(message({"--width", "0", "u"}),
              "invalid value '0' for --width: expected auto or a number of pixels from 1 to 16384");
    EXPECT_NE(message({"--width", "abc", "u"}).find("invalid value 'abc' for --width"), std::string::npos);
    EXPECT_NE(message({"--height", "-3", "u"}).find("invalid value '-3' for --height"), std::string::npos);
    EXPECT_NE(message({"--format", "gif", "u"}).find("expected bmp, jpg, png or webp"), std::string::npos);
    EXPECT_NE(message({"--scale", "nan", "u"}).find("--scale"), std::string::npos);
    EXPECT_NE(message({"--jobs", "0", "u"}).find("--jobs"), std::string::npos);
    EXPECT_EQ(message({"--lazy=1", "u"}), "option --lazy takes no value");
    EXPECT_EQ(message({}), "no URL given");
    EXPECT_EQ(message({"-o", "x.png", "a", "b"}), "-o names one file: give exactly one URL");
    EXPECT_EQ(message({"--output", "/nonexistent-korvane", "u"}),
              "output folder '/nonexistent-korvane' does not exist");
    EXPECT_EQ(message({"--input", "/nonexistent-korvane.txt"}),
              "cannot read the URL list '/nonexistent-korvane.txt'");
    EXPECT_EQ(message({"--help"}), "accepted");
    // Plain decimal numbers: the window's hexadecimal forms and blanks are no numbers here.
    for (const char* notDecimal : {"x10", "$10", "0x10", " 10", "+10", "10 ", "1e3", "99999999999999999999"})
        EXPECT_NE(message({"--width", notDecimal, "u"}).find("invalid value"), std::string::npos)
            << notDecimal;
    EXPECT_EQ(Parse({"--width", "010", "u"}).Width, TSideChoice::Fixed(10));
    EXPECT_NE(message({"--memory", "10", "u"}).find("--memory"), std::string::npos);
    EXPECT_NE(message({"--format", "jpg", "--height", "65501", "u"}).find("65500"), std::string::npos);
    EXPECT_NE(message({"--format", "jpg", "--scale", "2", "--height", "40000", "u"}).find("65500"),
              std::string::npos);
    EXPECT_EQ(message({"--format", "png", "--height", "70000", "u"}), "accepted");
}

TEST(CliOptions, PluginsByWhatTheyDoWithTheOldNamesAsAliases) {
    // Object and embed content loads only when all three of the window's switches let it.
    EXPECT_TRUE(Parse({"--plugins", "u"}).Security.ActiveXDownload);
    EXPECT_EQ(Parse({"--plugins", "u"}).Security, Parse({"--activex-download", "u"}).Security);
    const auto none = Parse({"--plugins", "--no-plugins", "u"}).Security;
    EXPECT_FALSE(none.Java || none.ActiveX || none.ActiveXDownload);
    EXPECT_FALSE(Parse({"--no-java", "u"}).Security.Java);
    EXPECT_FALSE(Parse({"--no-activex", "u"}).Security.ActiveX);
    const std::string help = UsageText();
    EXPECT_NE(help.find("--plugins"), std::string::npos);
    EXPECT_NE(help.find("--no-plugins"), std::string::npos);
}

TEST(CliOptions, WhatEachPageMayLoadAndHowItIsShown) {
    // By default: everything but object and embed content, fetched fresh, no scroll bars hidden, no prompts.
    const TEngineSettings plain = Parse({"u"}).EngineSettings();
    EXPECT_FALSE(plain.BlockImages || plain.BlockVideo || plain.BlockAudio || plain.NoScripts);
    EXPECT_TRUE(plain.NoPlugins && plain.NoCache && plain.Silent);
    EXPECT_FALSE(plain.HideScrollbars || plain.NoFrames || plain.Offline);
    // Pages are fetched fresh only while images load; --cache keeps the cache either way.
    EXPECT_TRUE(Parse({"--no-images", "u"}).EngineSettings().BlockImages);
    EXPECT_FALSE(Parse({"--no-images", "u"}).EngineSettings().NoCache);
    EXPECT_FALSE(Parse({"--cache", "u"}).EngineSettings().NoCache);
    EXPECT_FALSE(Parse({"--cache", "--no-images", "u"}).EngineSettings().NoCache);
    // Video and audio are one switch: audio is never blocked alone.
    const TEngineSettings noVideo = Parse({"--no-video", "u"}).EngineSettings();
    EXPECT_TRUE(noVideo.BlockVideo);
    EXPECT_FALSE(noVideo.BlockAudio);
    EXPECT_TRUE(Parse({"--no-scripts", "u"}).EngineSettings().NoScripts);
    EXPECT_TRUE(Parse({"--hide-scrollbars", "u"}).EngineSettings().HideScrollbars);
    // Object and embed content loads with --plugins alone; each of the window's three switches keeps it out.
    EXPECT_FALSE(Parse({"--plugins", "u"}).EngineSettings().NoPlugins);
    for (const char* off : {"--no-plugins", "--no-java", "--no-activex"})
        EXPECT_TRUE(Parse({"--plugins", off, "u"}).EngineSettings().NoPlugins) << off;
}

TEST(CliOptions, JobsAndMemoryDefaultsAreBounded) {
    EXPECT_EQ(DefaultJobs(0), 1);
    EXPECT_EQ(DefaultJobs(2), 2);
    EXPECT_EQ(DefaultJobs(64), 8);
    const auto o = Parse({"u"});
    EXPECT_EQ(o.Jobs, DefaultJobs(std::thread::hardware_concurrency()));
    EXPECT_EQ(o.MemoryBytes, DefaultMemoryBudget());
    EXPECT_GT(o.MemoryBytes, 0);
    EXPECT_EQ(Parse({"--memory", "512", "u"}).MemoryBytes, 512ll << 20);
    EXPECT_EQ(Parse({"--jobs", "16", "u"}).Jobs, 16); // asked for, not capped
}

TEST(CliOptions, UrlListsSkipCommentsAndBlanksAndRefuseBinary) {
    Scratch s;
    const auto list =
        s.Put("urls.txt", "# pages\r\nhttp://127.0.0.1/a\r\n\r\n   \n  http://127.0.0.1/b  \n#x\n");
    EXPECT_EQ(Parse({"first", "--input", list}).Urls,
              (std::vector<std::string>{"first", "http://127.0.0.1/a", "http://127.0.0.1/b"}));
    const auto binary = s.Put("bin.txt", std::string("http://a\0\x01\xff", 11));
    EXPECT_THROW(Parse({"--input", binary}), EUsageError);
    std::string many;
    for (int i = 0; i < 10000; ++i)
        many += "http://127.0.0.1/" + std::to_string(i % 100) + "\n";
    EXPECT_EQ(ReadUrlList(s.Put("many.txt", many)).size(), 10000u);
}

TEST(CliOptions, SettingsFileGivesDefaultsThatOptionsOverride) {
    Scratch s;
    const auto ini =
        s.Put("k.ini", "[option]\r\ncapturewith=1\r\ncapanywidth=300\r\ncaptureheight=3\r\n"
                       "saveformat=1\r\ndelay=0x0A\r\ncapandview=0\r\nhidescrollbar=1\r\noutputpath=" +
                           s.dir.string() + "\r\n[security]\r\nimage=0\r\naxdl=1\r\n");
    auto o = Parse({"--settings", ini, "u"});
    EXPECT_EQ(o.Width, TSideChoice::Fixed(300));
    EXPECT_EQ(o.Height, TSideChoice::Fixed(600));
    EXPECT_EQ(o.EffectiveFormat(), TSaveFormat::Jpg);
    EXPECT_EQ(o.Delay, 10);
    EXPECT_FALSE(o.View);
    EXPECT_TRUE(o.HideScrollbars);
    EXPECT_EQ(o.OutputDir, s.dir.string());
    EXPECT_FALSE(o.Security.Image);
    EXPECT_TRUE(o.Security.ActiveXDownload);
    o = Parse({"--width", "800", "--format", "png", "u", "--settings=" + ini});
    EXPECT_EQ(o.Width, TSideChoice::Fixed(800));
    EXPECT_EQ(o.EffectiveFormat(), TSaveFormat::Png);
    // No item selected (-1, as the window writes it) counts as "auto".
    o = Parse({"--settings", s.Put("none.ini", "[option]\r\ncapturewith=-1\r\n"), "u"});
    EXPECT_EQ(o.Width, TSideChoice::Auto());
}

// A settings file is checked as the options are: a value no option takes is an error that names its key, and
// a file without an [option] section (another program's, or random bytes) is no settings file.
TEST(CliOptions, SettingsFilesAreCheckedLikeOptions) {
    Scratch s;
    auto message = [&](const std::string& text) {
        try {
            ParseCommandLine({"--settings", s.Put("checked.ini", text), "u"});
        } catch (const EUsageError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(message("[option]\r\ndelay=2147483647\r\n").find("delay=2147483647"), std::string::npos);
    EXPECT_NE(message("[option]\r\ncapturewith=9\r\n").find("capturewith=9"), std::string::npos);
    EXPECT_NE(message("[option]\r\nsaveformat=5\r\n").find("saveformat=5"), std::string::npos);
    EXPECT_NE(message("[option]\r\ncapturewith=1\r\ncapanywidth=0\r\n").find("capanywidth=0"),
              std::string::npos);
    EXPECT_NE(message("[option]\r\ncapandview=yes\r\n").find("capandview=yes"), std::string::npos);
    EXPECT_NE(message("[security]\r\nimage=x\r\n").find("[option]"), std::string::npos);
    EXPECT_NE(message(std::string("\x7f\x45\x4c\x46\x02\x01\x01\0garbage", 16)).find("[option]"),
              std::string::npos);
    EXPECT_EQ(message("[option]\r\ndelay=0x0A\r\ncapturewith=1\r\ncapanywidth=16384\r\n"), "accepted");
    // Unused values are not looked at: the "any" width of a list set to a fixed item.
    EXPECT_EQ(message("[option]\r\ncapturewith=4\r\ncapanywidth=0\r\n"), "accepted");
}

namespace {
std::string UsageMessage(std::vector<std::string> args) {
    try {
        ParseCommandLine(args);
    } catch (const EUsageError& e) {
        return e.what();
    }
    return "accepted";
}
} // namespace

TEST(CliOptions, TheScreenPagesSeeAndWhatTheyDefer) {
    const auto o = Parse({"--view-height", "1080", "--no-lazy", "--no-expand", "u"});
    EXPECT_EQ(o.ViewHeight, 1080);
    EXPECT_FALSE(o.Expand);
    EXPECT_TRUE(Parse({"u"}).Expand);
    EXPECT_FALSE(o.Deferred || o.Lazy);
    // The last of --lazy and --no-lazy holds.
    EXPECT_TRUE(Parse({"--no-lazy", "--lazy", "u"}).Deferred);
    EXPECT_FALSE(Parse({"--lazy", "--no-lazy", "u"}).Deferred);
    EXPECT_NE(UsageMessage({"--view-height", "0", "u"}).find("--view-height"), std::string::npos);
    EXPECT_NE(UsageMessage({"--view-height", "200000", "u"}).find("--view-height"), std::string::npos);
}

TEST(CliOptions, PageOptionsAreTakenAsGivenAndBadOnesRefused) {
    Scratch s;
    const std::string script = (s.dir / "script.js").string(), style = (s.dir / "style.css").string();
    std::ofstream(script) << "window.done = 1;";
    std::ofstream(style) << "p{color:red}";
    const auto o = Parse({"--hide",
                          ".a",
                          "--hide",
                          ".b",
                          "--remove",
                          "#c",
                          "--hide-consent",
                          "--style",
                          "x{}",
                          "--style-file",
                          style,
                          "--script",
                          "1",
                          "--script-file",
                          script,
                          "--wait-for",
                          "#w",
                          "--selector",
                          "main",
                          "--padding",
                          "8",
                          "--header",
                          "X-One:  a: b ",
                          "--user-agent",
                          "Agent/1",
                          "--cookie",
                          "k=v=w",
                          "--auth",
                          "ann:p:w",
                          "--dark",
                          "--reduced-motion",
                          "u"});
    EXPECT_EQ(o.Hide, (std::vector<std::string>{".a", ".b"}));
    EXPECT_EQ(o.Remove, std::vector<std::string>{"#c"});
    EXPECT_TRUE(o.HideConsent);
    EXPECT_EQ(o.Styles, (std::vector<std::string>{"x{}", "p{color:red}"}));
    EXPECT_EQ(o.Scripts, (std::vector<std::string>{"1", "window.done = 1;"}));
    EXPECT_EQ(o.WaitFor, "#w");
    EXPECT_EQ(o.Selector, "main");
    EXPECT_EQ(o.Padding, 8);
    EXPECT_EQ(o.Page.Headers, (std::vector<std::pair<std::string, std::string>>{{"X-One", "a: b"}}));
    EXPECT_EQ(o.Page.UserAgent, "Agent/1");
    EXPECT_EQ(o.Page.HostCookies, (std::vector<std::pair<std::string, std::string>>{{"k", "v=w"}}));
    ASSERT_TRUE(o.Page.Credentials);
    EXPECT_EQ(o.Page.Credentials->User, "ann");
    EXPECT_EQ(o.Page.Credentials->Password, "p:w");
    EXPECT_TRUE(o.Page.Dark && o.Page.ReducedMotion);

    EXPECT_EQ(UsageMessage({"--header", "NoColon", "u"}),
              "invalid value 'NoColon' for --header: expected NAME: VALUE");
    EXPECT_NE(UsageMessage({"--header", "Bad Name: v", "u"}).find("--header"), std::string::npos);
    EXPECT_NE(UsageMessage({"--header", "X: a\r\nInjected: b", "u"}).find("--header"), std::string::npos);
    EXPECT_EQ(UsageMessage({"--cookie", "novalue", "u"}),
              "invalid value 'novalue' for --cookie: expected NAME=VALUE");
    EXPECT_NE(UsageMessage({"--cookie", "a=b; c=d", "u"}).find("--cookie"), std::string::npos);
    EXPECT_NE(UsageMessage({"--auth", "nocolon", "u"}).find("USER:PASSWORD"), std::string::npos);
    EXPECT_EQ(UsageMessage({"--hide", " ", "u"}), "option --hide needs a selector");
    EXPECT_NE(UsageMessage({"--padding", "4", "u"}).find("--selector"), std::string::npos);
    const std::string missing = (s.dir / "missing.js").string();
    EXPECT_EQ(UsageMessage({"--script-file", missing, "u"}),
              "cannot read '" + missing + "' for --script-file (No such file or directory)");
    EXPECT_EQ(UsageMessage({"--style-file", s.dir.string(), "u"}),
              "cannot read '" + s.dir.string() + "' for --style-file (a folder)");
    const std::string large = (s.dir / "large.js").string();
    std::filesystem::resize_file(s.Put("large.js", ""), (16u << 20) + 1);
    EXPECT_EQ(UsageMessage({"--script-file", large, "u"}),
              "cannot read '" + large + "' for --script-file (larger than 16 MB)");
}

TEST(CliOptions, TextsThatAreNotUtf8AreRefusedNamingTheirOption) {
    Scratch s;
    for (const char* option : {"--hide", "--remove", "--wait-for", "--selector", "--style", "--script",
                               "--header", "--user-agent", "--cookie", "--auth"})
        EXPECT_EQ(UsageMessage({option, "#\xff", "u"}),
                  std::string("the value of ") + option + " is not UTF-8 text");
    EXPECT_EQ(UsageMessage({"--hide=caf\xe9", "u"}), "the value of --hide is not UTF-8 text");
    const auto latin1 = s.Put("latin1.css", "p::after{content:'caf\xe9'}");
    EXPECT_EQ(UsageMessage({"--style-file", latin1, "u"}),
              "'" + latin1 + "' for --style-file is not UTF-8 text");
    EXPECT_EQ(UsageMessage({"--script-file", latin1, "u"}),
              "'" + latin1 + "' for --script-file is not UTF-8 text");
    EXPECT_EQ(UsageMessage({"http://127.0.0.1/a", "http://127.0.0.1/\xff"}),
              "URL 2 of the command line is not UTF-8 text");
    const auto list = s.Put("urls.txt", "# list\nhttp://127.0.0.1/a\r\nhttp://127.0.0.1/caf\xe9\n");
    EXPECT_EQ(UsageMessage({"-i", list}), "line 3 of the URL list '" + list + "' is not UTF-8 text");
    // Names of files are the system's bytes; texts in any script are taken.
    const auto named = s.Put("caf\xe9.css", "p::after{content:'\xe6\x97\xa5'}");
    EXPECT_EQ(Parse({"--style-file", named, "--hide", "#\xe6\x97\xa5", "u"}).Styles.size(), 1u);
}

TEST(CliOptions, CookiesFilesInTheNetscapeFormat) {
    const auto cookies = ParseCookiesText("# Netscape HTTP Cookie File\r\n"
                                          "\n"
                                          ".Example.org\tTRUE\t/\tTRUE\t1900000000\tsid\tabc\r\n"
                                          "#HttpOnly_host.test\tFALSE\t/app\tFALSE\t0\tonly\t\n",
                                          "c.txt");
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0], (TCookie{"sid", "abc", "example.org", false, "/", true, false, 1900000000}));
    EXPECT_EQ(cookies[1], (TCookie{"only", "", "host.test", true, "/app", false, true, 0}));

    auto message = [](std::string_view text) {
        try {
            ParseCookiesText(text, "c.txt");
        } catch (const EUsageError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message("# comment\nexample.org TRUE / FALSE 0 a b\n").substr(0, 28),
              "cookies file 'c.txt', line 2");
    EXPECT_NE(message("a.test\tYES\t/\tFALSE\t0\tn\tv\n").find("'YES' is neither TRUE nor FALSE"),
              std::string::npos);
    EXPECT_NE(message("a.test\tTRUE\t/\tFALSE\tsoon\tn\tv\n").find("expiry"), std::string::npos);
    EXPECT_NE(message("a.test\tTRUE\tnoslash\tFALSE\t0\tn\tv\n").find("path"), std::string::npos);
    EXPECT_NE(message("a.test\tTRUE\t/\tFALSE\t0\tn;x\tv\n").find("cookie name"), std::string::npos);
    EXPECT_EQ(message("ok.test\tTRUE\t/\tFALSE\t0\tn\tv\nbad"),
              "cookies file 'c.txt', line 2: expected 7 "
              "fields separated by tabs (domain, subdomains, "
              "path, secure, expiry, name, value)");
    Scratch s;
    const std::string missing = (s.dir / "none.txt").string();
    EXPECT_EQ(UsageMessage({"--cookies", missing, "u"}),
              "cannot read '" + missing + "' for --cookies (No such file or directory)");
    std::string many;
    for (int i = 0; i <= 10000; ++i)
        many += "a.test\tTRUE\t/\tFALSE\t0\tn" + std::to_string(i) + "\tv\n";
    EXPECT_EQ(message(many), "cookies file 'c.txt' holds more than 10000 cookies");
    many.resize(many.rfind("a.test"));
    EXPECT_EQ(ParseCookiesText(many, "c.txt").size(), 10000u);
}

TEST(CliOptions, EveryOptionOfTheHelpIsTakenAndInTheManualPage) {
    const std::string help = UsageText();
    const std::string manual = korvane::ReadWholeFile(KORVANE_SOURCE_DIR "/packaging/korvane-capture.1.in");
    std::set<std::string> names;
    for (std::size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        const std::size_t end = help.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2);
        names.insert(help.substr(at, end - at));
    }
    EXPECT_GE(names.size(), 40u);
    // Options line up in their column: a short option at 2 blanks, a long one alone at 6.
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos || line[indent] != '-' || indent >= 26) continue;
        EXPECT_EQ(indent, line[indent + 1] == '-' ? 6u : 2u) << line;
    }
    for (const auto& name : names) {
        EXPECT_EQ(UsageMessage({name}).find("unknown option"), std::string::npos) << name;
        std::string escaped;
        for (const char c : name)
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(manual.find(escaped), std::string::npos) << name << " is not in the manual page";
    }
}

TEST(CliOptions, ShardsAndResumingRuns) {
    const auto o = Parse({"--shard", "2/5", "--manifest", "m.jsonl", "--resume", "u"});
    EXPECT_EQ(o.ShardIndex, 2);
    EXPECT_EQ(o.ShardCount, 5);
    EXPECT_EQ(o.ManifestFile, "m.jsonl");
    EXPECT_TRUE(o.Resume);
    for (const char* bad : {"4/4", "-1/3", "x", "1/0", "1", "1/", "/3", "0/3/4"})
        EXPECT_NE(UsageMessage({"--shard", bad, "u"}).find("invalid value"), std::string::npos) << bad;
    EXPECT_EQ(UsageMessage({"--resume", "u"}),
              "--resume reads the manifest of the run before: give --manifest");
    Scratch s;
    EXPECT_NE(UsageMessage({"--manifest", s.dir.string(), "u"}).find("folder"), std::string::npos);
    const std::string fifo = (s.dir / "run.jsonl").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(UsageMessage({"--manifest", fifo, "u"}),
              "--manifest names '" + fifo + "', which is not a regular file");
}

TEST(CliOptions, BrowsersThatRunElsewhereAndTheReport) {
    const auto o = Parse({"--browser", "ws://127.0.0.1:9222/devtools/browser/a", "--browser",
                          "http://10.0.0.2:9222", "--report", "run.html", "u"});
    EXPECT_EQ(o.Browsers,
              (std::vector<std::string>{"ws://127.0.0.1:9222/devtools/browser/a", "http://10.0.0.2:9222"}));
    EXPECT_EQ(o.ReportFile, "run.html");
    for (const char* bad : {"127.0.0.1:9222", "https://h:1", "ws://h:99999/", "ftp://h"})
        EXPECT_NE(UsageMessage({"--browser", bad, "u"})
                      .find("invalid value '" + std::string(bad) + "' for --browser"),
                  std::string::npos)
            << bad;
    Scratch s;
    EXPECT_NE(UsageMessage({"--report", s.dir.string(), "u"}).find("folder"), std::string::npos);
}

TEST(CliOptions, WidthsQualityTransparencyAndPhones) {
    // A list, the option repeated, each width once in the order given; the first is the run's Width.
    const auto several = Parse({"--width", "375,768", "--width", "1280", "--width", "768", "u"});
    EXPECT_EQ(several.Widths, (std::vector<int>{375, 768, 1280}));
    EXPECT_EQ(several.Width, TSideChoice::Fixed(375));
    EXPECT_EQ(several.ViewWidths(), (std::vector<int>{375, 768, 1280}));
    // One width is no list: names and manifest lines stay as they were.
    EXPECT_TRUE(Parse({"--width", "800,800", "u"}).Widths.empty());
    EXPECT_EQ(Parse({"--width", "800", "u"}).ViewWidths(), std::vector<int>{0});
    EXPECT_THROW(Parse({"--width", "375,", "u"}), EUsageError);
    EXPECT_THROW(Parse({"--width", "auto", "--width", "375,auto", "u"}), EUsageError);
    // The format's limit holds for the widest.
    EXPECT_THROW(Parse({"--format", "webp", "--width", "800,16384", "u"}), EUsageError);

    EXPECT_EQ(Parse({"-o", "/tmp/x.webp", "u"}).EffectiveFormat(), TSaveFormat::Webp);
    EXPECT_EQ(Parse({"--quality", "55", "--format", "webp", "u"}).Quality, 55);
    EXPECT_EQ(Parse({"--quality", "100", "-o", "/tmp/x.jpg", "u"}).Quality, 100);
    for (const char* bad : {"0", "101", "high"})
        EXPECT_THROW(Parse({"--quality", bad, "--format", "jpg", "u"}), EUsageError) << bad;
    EXPECT_THROW(Parse({"--quality", "50", "u"}), EUsageError); // png has no quality
    const auto clear = Parse({"--omit-background", "--format", "webp", "u"});
    EXPECT_TRUE(clear.OmitBackground && clear.Page.Transparent);
    EXPECT_THROW(Parse({"--omit-background", "-o", "/tmp/x.bmp", "u"}), EUsageError);

    // A phone is 390 wide unless a width is given.
    const auto phone = Parse({"--mobile", "u"});
    EXPECT_TRUE(phone.Page.Mobile);
    EXPECT_EQ(phone.Width, TSideChoice::Fixed(kMobileWidth));
    EXPECT_EQ(Parse({"--mobile", "--width=412", "u"}).Width, TSideChoice::Fixed(412));
    EXPECT_EQ(MobileUserAgent("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                              "HeadlessChrome/156.0.7412.3 Safari/537.36"),
              "Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/156.0.7412.3 "
              "Mobile Safari/537.36");
    EXPECT_EQ(MobileUserAgent("Other/1.0"), "Other/1.0");
}
