#pragma once
// An engine for window tests: loads finish on a timer of the event loop, pages have preset scroll sizes,
// drawing paints a pattern that tells rows and columns apart.
#include "browser/Engine.h"
#include "browser/EngineError.h"
#include "imaging/Bitmap.h"

#include <QTimer>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace korvane::test {

struct TScriptedPage {
    int ScrollWidth = 1000;
    int ScrollHeight = 2000;
    int NarrowExtraHeight = 300; // laid out narrower than 500 pixels the page grows by this much
    int LoadMs = 5;
    bool NeverLoads = false;
    std::string Error; // the load fails with this text
};

class TScriptedEngine final : public TEngine {
public:
    std::map<std::string, TScriptedPage> Pages; // by URL; others get DefaultPage
    TScriptedPage DefaultPage;
    std::vector<std::string> Navigations;
    std::vector<std::pair<int, int>> Resizes;
    int Stops = 0, Draws = 0;
    IEngineSite* Site = nullptr;

    void SetSite(IEngineSite* site) override { Site = site; }
    void OnAmbientPropertyChange(DISPID) override {}

    void Navigate(const std::string& url) override {
        Navigations.push_back(url);
        const TScriptedPage page = Pages.count(url) ? Pages[url] : DefaultPage;
        state_ = READYSTATE_LOADING;
        document_ = 0;
        error_.clear();
        current_ = page;
        const auto generation = ++generation_;
        if (Site) Site->StatusTextChange("loading " + url);
        if (page.NeverLoads) return;
        QTimer::singleShot(page.LoadMs, [this, generation, alive = alive_] {
            if (!*alive || generation != generation_) return;
            state_ = READYSTATE_COMPLETE;
            if (current_.Error.empty()) document_ = generation;
            error_ = current_.Error;
            if (Site) Site->StatusTextChange(error_.empty() ? "Done" : error_);
        });
    }
    void Stop() override {
        ++Stops;
        ++generation_; // a load under way never finishes
    }
    int ReadyState() override { return state_; }
    std::uint64_t DocumentId() override { return document_; }
    std::string NavigationError() override { return error_; }
    int HttpStatus() override { return document_ ? 200 : 0; }
    std::int32_t BodyProperty(std::string_view name) override {
        if (!document_) throw EEngineError("no document");
        if (name == "scrollWidth") return current_.ScrollWidth;
        if (name == "scrollHeight") return current_.ScrollHeight + (width_ < 500 ? current_.NarrowExtraHeight : 0);
        throw EEngineError("no such property");
    }
    void Resize(int width, int height) override {
        if (width < 1 || height < 1) return;
        width_ = width;
        height_ = height;
        Resizes.emplace_back(width, height);
    }
    void Draw(TBitmap& bitmap, int width, int height) override {
        ++Draws;
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                row[3 * x] = static_cast<std::uint8_t>(x);     // blue: the column
                row[3 * x + 1] = static_cast<std::uint8_t>(y); // green: the row
                row[3 * x + 2] = 0x80;
            }
        }
    }
    // The loaded document goes away, as when the page is navigated elsewhere behind the job's back.
    void DropDocument() { document_ = 0; }

    ~TScriptedEngine() override { *alive_ = false; }

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int state_ = READYSTATE_UNINITIALIZED;
    std::uint64_t document_ = 0, generation_ = 0;
    std::string error_;
    TScriptedPage current_;
    int width_ = 100, height_ = 100;
};

} // namespace korvane::test
