#include "cli/Report.h"

#include "cli/Addresses.h"
#include "cli/Thumbnail.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Translate.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace korvane {
namespace {

namespace fs = std::filesystem;

std::string Html(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The file as the report links it: relative to the report's folder, so that the two can move together.
std::string LinkTo(const fs::path& file, const fs::path& folder) {
    std::error_code error;
    const fs::path relative = fs::relative(file, folder, error);
    if (error || relative.empty()) return "file://" + PercentEncodePath(fs::absolute(file).generic_string());
    return PercentEncodePath(relative.generic_string());
}

std::string Bytes(std::int64_t bytes) {
    if (bytes < 0) return {};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const double kb = static_cast<double>(bytes) / 1024;
    char text[32];
    std::snprintf(text, sizeof text, kb < 1024 ? "%.0f KB" : "%.1f MB", kb < 1024 ? kb : kb / 1024);
    return text;
}

constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:0;background:#f4f4f4;color:#222}
header{position:sticky;top:0;background:#fff;border-bottom:1px solid #ccc;padding:8px 16px;display:flex;
flex-wrap:wrap;gap:8px 24px;align-items:center;z-index:1}
h1{font-size:16px;margin:0}
ol{list-style:none;margin:0;padding:16px;display:grid;grid-template-columns:repeat(auto-fill,minmax(260px,1fr));
gap:16px}
li{background:#fff;border:1px solid #ccc;border-radius:4px;padding:10px;overflow-wrap:anywhere}
li.failed{border-color:#c00;background:#fff4f4}
.thumb{display:block;text-align:center;background:#eee;min-height:40px}
.thumb img{max-width:100%;height:auto;vertical-align:top}
.url{font-weight:600;display:block;margin-top:6px}
.outcome{font-weight:600}.failed .outcome{color:#c00}
.error{color:#900;margin:4px 0 0}
)";

constexpr const char* kScript = R"(
(function () {
  var list = document.getElementById('pages'), items = [].slice.call(list.children);
  var filter = document.getElementById('filter'), outcome = document.getElementById('outcome'),
      sort = document.getElementById('sort'), shown = document.getElementById('shown');
  function key(li) {
    var d = li.dataset;
    if (sort.value === 'url') return d.url;
    if (sort.value === 'failed') return (d.outcome === 'failed' ? 0 : 1) * 1e9 + Number(d.order);
    if (sort.value === 'order') return Number(d.order);
    return -Number(d[sort.value]);
  }
  function apply() {
    var words = filter.value.toLowerCase(), count = 0;
    items.sort(function (a, b) {
      var x = key(a), y = key(b);
      return x < y ? -1 : x > y ? 1 : Number(a.dataset.order) - Number(b.dataset.order);
    });
    items.forEach(function (li) {
      li.hidden = (outcome.value !== '' && li.dataset.outcome !== outcome.value) ||
                  (words !== '' && li.textContent.toLowerCase().indexOf(words) < 0);
      if (!li.hidden) ++count;
      list.appendChild(li);
    });
    shown.textContent = count;
  }
  filter.addEventListener('input', apply);
  outcome.addEventListener('change', apply);
  sort.addEventListener('change', apply);
})();
)";

} // namespace

std::vector<TReportPage> ReportPagesOf(const std::vector<TPageResult>& results) {
    std::vector<TReportPage> pages;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const TPageResult& r = results[i];
        TManifestEntry entry;
        entry.Outcome = r.Captured ? "captured" : "failed";
        entry.File = r.Captured ? r.Path : std::string();
        std::error_code error;
        const auto size = r.Captured ? std::filesystem::file_size(r.Path, error) : 0;
        entry.Bytes = r.Captured && !error ? static_cast<std::int64_t>(size) : -1;
        entry.Width = r.Width;
        entry.Height = r.Height;
        entry.Error = r.Reason;
        entry.HttpStatus = r.HttpStatus;
        entry.Order = static_cast<int>(i + 1);
        entry.Url = r.Argument;
        entry.ViewWidth = r.ViewWidth;
        pages.push_back({ManifestKey(r.Argument, r.ViewWidth), entry});
    }
    return pages;
}

std::string ThumbnailFolder(const std::string& reportPath) {
    fs::path path(reportPath);
    return (path.parent_path() / (path.stem().string() + "-thumbnails")).string();
}

namespace {

// A captured page's thumbnail, made unless one newer than its image is there: its link from the report's
// folder (empty when it could not be made: the warning says why) and its size (0 when it was there already).
struct TPageThumbnail {
    std::string Link;
    TThumbnailSize Size;
};
TPageThumbnail Thumbnail(const fs::path& image, const fs::path& thumbnails, const fs::path& folder,
                         std::vector<std::string>& warnings) {
    TPageThumbnail thumbnail;
    const fs::path jpeg = thumbnails / (image.filename().string() + ".jpg");
    std::error_code error;
    try {
        const bool fresh = !IsForeignLink(jpeg.string()) && fs::exists(jpeg, error) &&
                           fs::last_write_time(jpeg, error) >= fs::last_write_time(image, error) && !error;
        if (!fresh) {
            fs::create_directories(thumbnails, error);
            if (auto warning = ForeignLinkWarning(jpeg.string()); !warning.empty())
                warnings.push_back(std::move(warning));
            thumbnail.Size = WriteThumbnail(image.string(), jpeg.string());
        }
        thumbnail.Link = LinkTo(jpeg, folder);
    } catch (const std::exception& x) {
        warnings.push_back(MessageWithCause(x));
    }
    return thumbnail;
}

// The page's item of the list.
std::string PageItem(const TReportPage& page, bool captured, const TPageThumbnail& thumbnail,
                     const fs::path& folder) {
    const TManifestEntry& e = page.Entry;
    const std::string outcome = captured ? "captured" : "failed";
    std::string item = "<li class=\"" + outcome + "\" data-outcome=\"" + outcome + "\" data-url=\"" +
                       Html(page.Url) + "\" data-order=\"" + std::to_string(e.Order) + "\" data-height=\"" +
                       std::to_string(e.Height) + "\" data-bytes=\"" +
                       std::to_string(std::max<std::int64_t>(0, e.Bytes)) + "\">";
    if (captured) {
        item += "<a class=\"thumb\" href=\"" + Html(LinkTo(e.File, folder)) + "\">";
        if (!thumbnail.Link.empty()) {
            item += "<img src=\"" + Html(thumbnail.Link) + "\" alt=\"\" loading=\"lazy\"";
            if (thumbnail.Size.Width > 0)
                item += " width=\"" + std::to_string(thumbnail.Size.Width) + "\" height=\"" +
                        std::to_string(thumbnail.Size.Height) + "\"";
            item += ">";
        } else {
            item += Html(fs::path(e.File).filename().string());
        }
        item += "</a>";
    }
    item += "<span class=\"url\">" + Html(page.Url) + "</span>";
    if (captured)
        item += "<span class=\"size\">" + std::to_string(e.Width) + " \xC3\x97 " + std::to_string(e.Height) +
                " px, " + Bytes(e.Bytes) + "</span> \xC2\xB7 ";
    item += "<span class=\"outcome\">" + outcome + "</span>";
    if (e.HttpStatus > 0)
        item += " \xC2\xB7 <span class=\"status\">HTTP " + std::to_string(e.HttpStatus) + "</span>";
    if (!e.Error.empty()) item += "<p class=\"error\">" + Html(e.Error) + "</p>";
    return item + "</li>\n";
}

// The whole page around the items.
std::string ReportHtml(const std::string& items, std::size_t total, std::size_t failed) {
    const std::string pages = std::to_string(total);
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self' file:; "
           "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
           "<meta name=\"viewport\" content=\"width=device-width\">\n<title>korvane-capture: " +
           pages + " pages</title>\n<style>" + kStyle + "</style></head><body>\n<header><h1>" + pages +
           " pages: " + std::to_string(total - failed) + " captured, " + std::to_string(failed) +
           " failed</h1>\n<label>Filter <input id=\"filter\" type=\"search\" placeholder=\"URL or "
           "error\"></label>\n"
           "<label>Show <select id=\"outcome\"><option value=\"\">all</option><option>failed</option>"
           "<option>captured</option></select></label>\n<label>Sort <select id=\"sort\"><option "
           "value=\"failed\">failed "
           "first</option><option value=\"order\">as run</option><option value=\"url\">URL</option><option "
           "value=\"height\">tallest</option><option value=\"bytes\">largest file</option></select></label>\n"
           "<span><span id=\"shown\">" +
           pages + "</span> shown</span></header>\n<ol id=\"pages\">\n" + items + "</ol>\n<script>" +
           kScript + "</script>\n</body></html>\n";
}

} // namespace

std::vector<std::string> WriteReport(const std::string& path, std::vector<TReportPage> pages) {
    std::vector<std::string> warnings;
    const fs::path report = fs::absolute(path);
    const fs::path folder = report.parent_path();
    const fs::path thumbnails = ThumbnailFolder(report.string());
    // The thumbnails' folder is ours: a link another may have placed there is replaced by a folder.
    if (auto warning = ForeignLinkWarning(thumbnails.string()); !warning.empty()) {
        warnings.push_back(std::move(warning));
        ::unlink(thumbnails.c_str());
    }
    // Failed pages first, then in the order they came in the run.
    for (auto& page : pages)
        if (page.Entry.Outcome == "skipped") page.Entry.Outcome = "captured"; // by a run before
    std::stable_sort(pages.begin(), pages.end(), [](const TReportPage& a, const TReportPage& b) {
        const bool af = a.Entry.Outcome == "failed", bf = b.Entry.Outcome == "failed";
        return af != bf ? af : a.Entry.Order < b.Entry.Order;
    });
    std::size_t failed = 0;
    std::string items;
    for (const auto& page : pages) {
        const bool captured = page.Entry.Outcome == "captured" && !page.Entry.File.empty();
        failed += !captured;
        const TPageThumbnail thumbnail =
            captured ? Thumbnail(page.Entry.File, thumbnails, folder, warnings) : TPageThumbnail{};
        items += PageItem(page, captured, thumbnail, folder);
    }
    if (auto warning = ForeignLinkWarning(report.string()); !warning.empty())
        warnings.push_back(std::move(warning));
    WriteFileAtomically(report.string(), ReportHtml(items, pages.size(), failed));
    return warnings;
}

} // namespace korvane
