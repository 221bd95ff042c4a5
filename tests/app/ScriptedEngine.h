#pragma once
// An engine for window tests: loads finish on a timer of the event loop (of the thread the engine runs on),
// pages have preset scroll sizes, drawing paints a pattern that tells rows and columns apart. It can be told
// to hold a drawing, or the development of its picture, until the job is stopped.
#include "browser/Engine.h"
#include "browser/EngineError.h"
#include "imaging/Bitmap.h"
#include "imaging/RowGate.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace korvane::test {

struct TScriptedPage {
    int ScrollWidth = 1000;
    int ScrollHeight = 2000;
    int NarrowExtraHeight = 300; // laid out narrower than 500 pixels the page grows by this much
    int LoadMs = 5;
    bool NeverLoads = false;
    bool NeverCompletes = false; // its document comes, its load never ends
    std::string Error;           // the load fails with this text
};

class TScriptedEngine final : public TEngine {
public:
    std::map<std::string, TScriptedPage> Pages; // by URL; others get DefaultPage
    TScriptedPage DefaultPage;
    std::vector<std::string> Navigations;
    std::vector<std::pair<int, int>> Resizes;
    int Stops = 0, Draws = 0;
    IEngineSite* Site = nullptr;
    // Draw waits until the job's stop (then throws EEngineStopped); the picture of Shoot is developed
    // halfway and then waits until the reader stops it.
    bool HoldDrawing = false, HoldDeveloping = false;
    std::atomic<bool> Holding{false}; // a drawing or a development is being held now
    std::shared_ptr<std::atomic<bool>> ShutDown = std::make_shared<std::atomic<bool>>(false);

    void SetSite(IEngineSite* site) override { Site = site; }
    void SetStopToken(std::stop_token token) override { FStop = std::move(token); }
    void Shutdown() override { *ShutDown = true; }
    void OnAmbientPropertyChange(DISPID) override {}

    void Navigate(const std::string& url) override {
        Navigations.push_back(url);
        const TScriptedPage page = Pages.count(url) ? Pages[url] : DefaultPage;
        FState = READYSTATE_LOADING;
        FDocument = 0;
        FError.clear();
        FCurrent = page;
        const auto generation = ++FGeneration;
        if (Site) Site->StatusTextChange("loading " + url);
        if (page.NeverLoads) return;
        QTimer::singleShot(page.LoadMs, [this, generation, alive = FAlive] {
            if (!*alive || generation != FGeneration) return;
            if (FCurrent.NeverCompletes) {
                FState = READYSTATE_INTERACTIVE;
                FDocument = generation;
                if (Site) Site->StatusTextChange("interactive");
                return;
            }
            FState = READYSTATE_COMPLETE;
            if (FCurrent.Error.empty()) FDocument = generation;
            FError = FCurrent.Error;
            if (Site) Site->StatusTextChange(FError.empty() ? "Done" : FError);
        });
    }
    void Stop() override {
        ++Stops;
        ++FGeneration; // a load under way never finishes
    }
    int ReadyState() override { return FState; }
    std::uint64_t DocumentId() override { return FDocument; }
    std::string NavigationError() override { return FError; }
    int HttpStatus() override { return FDocument ? 200 : 0; }
    std::int32_t BodyProperty(std::string_view name) override {
        if (!FDocument) throw EEngineError("no document");
        if (name == "scrollWidth") return FCurrent.ScrollWidth;
        if (name == "scrollHeight")
            return FCurrent.ScrollHeight + (FWidth < 500 ? FCurrent.NarrowExtraHeight : 0);
        throw EEngineError("no such property");
    }
    void Resize(int width, int height) override {
        if (width < 1 || height < 1) return;
        FWidth = width;
        FHeight = height;
        Resizes.emplace_back(width, height);
    }
    void Draw(TBitmap& bitmap, int width, int height) override {
        ++Draws;
        if (HoldDrawing) {
            std::mutex mutex;
            std::condition_variable_any stopped;
            std::unique_lock lock(mutex);
            Holding = true;
            stopped.wait_for(lock, FStop, std::chrono::seconds(60), [] { return false; });
            Holding = false;
            throw EEngineStopped();
        }
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                row[3 * x] = static_cast<std::uint8_t>(x);     // blue: the column
                row[3 * x + 1] = static_cast<std::uint8_t>(y); // green: the row
                row[3 * x + 2] = 0x80;
            }
        }
    }
    std::shared_ptr<const TPageShot> Shoot(int width, int height, const TShotStarted& started) override {
        auto shot = TEngine::Shoot(width, height, {});
        if (HoldDeveloping) shot = std::make_shared<THeldShot>(std::move(shot), Holding, FStop);
        if (started) started(shot);
        return shot;
    }

    // The loaded document goes away, as when the page is navigated elsewhere behind the job's back.
    void DropDocument() { FDocument = 0; }

    ~TScriptedEngine() override { *FAlive = false; }

private:
    // Develops the upper half of the picture, then waits until the job is stopped (which also makes its
    // reader give up on it).
    class THeldShot final : public TPageShot {
    public:
        THeldShot(std::shared_ptr<const TPageShot> shot, std::atomic<bool>& holding, std::stop_token stop)
            : FShot(std::move(shot)), FHolding(holding), FStop(std::move(stop)) {}
        int Width() const override { return FShot->Width(); }
        int Height() const override { return FShot->Height(); }
        void DrawInto(const TBitmapRows& rows, TRowGate& gate) const override {
            TRowGate half(rows.Height);
            FShot->DrawInto(rows, half);
            gate.Publish(rows.Height / 2);
            std::mutex mutex;
            std::condition_variable_any stopped;
            std::unique_lock lock(mutex);
            FHolding = true;
            stopped.wait_for(lock, FStop, std::chrono::seconds(60), [] { return false; });
            FHolding = false;
        }

    private:
        std::shared_ptr<const TPageShot> FShot;
        std::atomic<bool>& FHolding;
        std::stop_token FStop;
    };

    std::stop_token FStop;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    int FState = READYSTATE_UNINITIALIZED;
    std::uint64_t FDocument = 0, FGeneration = 0;
    std::string FError;
    TScriptedPage FCurrent;
    int FWidth = 100, FHeight = 100;
};

} // namespace korvane::test
