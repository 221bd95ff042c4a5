#include "cli/Manifest.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Translate.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {

namespace {

using nlohmann::json;

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

double Milliseconds(double seconds) {
    return static_cast<double>(static_cast<std::int64_t>(seconds * 1000 + 0.5));
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
}

} // namespace

std::string ManifestKey(const std::string& url, int viewWidth) {
    return viewWidth > 0 ? url + " @ " + std::to_string(viewWidth) + "px" : url;
}

TManifestContents ReadManifest(const std::string& path) {
    if (!FileExists(path)) return {};
    return ParseManifest(ReadWholeFile(path, std::size_t{1} << 31), path);
}

TManifestContents ParseManifest(std::string_view text, const std::string& path) {
    TManifestContents contents;
    std::size_t pos = 0;
    for (int number = 1; pos < text.size(); ++number) {
        std::size_t end = text.find('\n', pos);
        const bool finished = end != std::string::npos;
        if (!finished) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const json entry = json::parse(line, nullptr, false);
        const auto field = [&](const char* key) {
            auto it = entry.is_object() ? entry.find(key) : entry.end();
            return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
        };
        if (entry.is_discarded() || field("url").empty() || field("outcome").empty()) {
            contents.Warnings.push_back(FormatText(finished
                                                       ? Tr("line %1 of the manifest '%2' is no page's line")
                                                       : Tr("line %1 of the manifest '%2' was not finished"),
                                                   {std::to_string(number), path}));
            continue;
        }
        const auto integer = [&](const char* key) {
            auto it = entry.find(key);
            return it != entry.end() && it->is_number_integer() ? it->get<std::int64_t>() : std::int64_t{-1};
        };
        // Numbers of any size, in the range a page's field holds.
        const auto count = [&](const char* key) {
            return static_cast<int>(
                std::clamp<std::int64_t>(integer(key), 0, std::numeric_limits<int>::max()));
        };
        const int viewWidth = count("view_width");
        TManifestEntry& page = contents.Pages[ManifestKey(field("url"), viewWidth)];
        if (page.Order == 0) page.Order = static_cast<int>(contents.Pages.size());
        page.Url = field("url");
        page.ViewWidth = viewWidth;
        page.Outcome = field("outcome");
        page.File = field("file");
        page.Bytes = integer("bytes");
        if (page.Outcome != "skipped") {
            page.Width = count("width");
            page.Height = count("height");
            page.HttpStatus = count("http_status");
            page.Error = field("error");
        }
    }
    return contents;
}

bool AlreadyCaptured(const TManifestContents& manifest, const std::string& url, int viewWidth) {
    const auto it = manifest.Pages.find(ManifestKey(url, viewWidth));
    if (it == manifest.Pages.end()) return false;
    const TManifestEntry& page = it->second;
    return (page.Outcome == "captured" || page.Outcome == "skipped") && page.Bytes >= 0 &&
           FileSize(page.File) == page.Bytes;
}

TManifestWriter::TManifestWriter(const std::string& path, std::string shard)
    : FPath(path), FShard(std::move(shard)) {
    // Through the user's own links; a link another may have placed is replaced by a file of ours.
    const std::string target = WriteTarget(path);
    if (IsForeignLink(target)) ::unlink(target.c_str());
    FFd = ::open(target.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW,
                 0644);
    if (FFd < 0) throw EFCreateError(path, errno);
    // Only a regular file: writes to a pipe nobody reads would wait for ever.
    struct stat status {};
    if (::fstat(FFd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(FFd);
        FFd = -1;
        throw Error(FormatText(Tr("the manifest '%1' is not a regular file"), {path}));
    }
    ::fcntl(FFd, F_SETFL, O_APPEND);
    // A line a killed run did not finish is ended, not overwritten.
    const off_t size = ::lseek(FFd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(FFd, &last, 1, size - 1) == 1 && last != '\n') Write("\n");
}

TManifestWriter::~TManifestWriter() {
    if (FFd >= 0) ::close(FFd);
}

void TManifestWriter::Write(const std::string& line) {
    // One write for the whole line: lines of processes that share the file do not mix.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(FFd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EWriteError(errno);
        done += static_cast<std::size_t>(n);
    }
}

void TManifestWriter::Append(const TPageResult& r, const std::string& outcome, const std::string& format) {
    const bool captured = outcome == "captured";
    // A later run, from any folder, finds the file by this name.
    std::error_code error;
    const std::string file = captured ? std::filesystem::absolute(r.Path, error).string() : std::string();
    json line = {{"url", r.Argument},
                 {"final_url", r.Url},
                 {"file", captured ? json(file) : json(nullptr)},
                 {"format", format},
                 {"width", captured ? json(r.Width) : json(nullptr)},
                 {"height", captured ? json(r.Height) : json(nullptr)},
                 {"bytes", captured ? json(FileSize(r.Path)) : json(nullptr)},
                 {"http_status", r.HttpStatus > 0 ? json(r.HttpStatus) : json(nullptr)},
                 {"outcome", outcome},
                 {"error", r.Reason.empty() ? json(nullptr) : json(r.Reason)},
                 {"timings_ms",
                  {{"load", Milliseconds(r.LoadSeconds)},
                   {"capture", Milliseconds(r.CaptureSeconds)},
                   {"write", Milliseconds(r.WriteSeconds)},
                   {"total", Milliseconds(r.Seconds)}}},
                 {"shard", FShard.empty() ? json(nullptr) : json(FShard)},
                 {"browser", r.Browser.empty() ? std::string("local") : r.Browser},
                 {"time", UtcNow()}};
    if (r.ViewWidth > 0) line["view_width"] = r.ViewWidth;
    Write(line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

void TManifestWriter::AppendSkipped(const TManifestEntry& earlier) {
    json line = {{"url", earlier.Url},     {"file", earlier.File},
                 {"bytes", earlier.Bytes}, {"outcome", "skipped"},
                 {"error", nullptr},       {"shard", FShard.empty() ? json(nullptr) : json(FShard)},
                 {"time", UtcNow()}};
    if (earlier.ViewWidth > 0) line["view_width"] = earlier.ViewWidth;
    Write(line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

} // namespace korvane
