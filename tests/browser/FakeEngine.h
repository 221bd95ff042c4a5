#pragma once
// A stand-in engine that records what its host does to it and answers with preset values.
#include <string>
#include <vector>

#include "browser/Engine.h"
#include "browser/EngineError.h"

namespace korvane::testing {

class TFakeEngine : public TEngine {
public:
    IEngineSite* Site = nullptr;
    std::vector<DISPID> AmbientChanges;
    std::vector<std::string> Navigations;
    std::vector<std::pair<int, int>> Resizes;
    int Stops = 0;
    int State = READYSTATE_UNINITIALIZED;
    std::uint64_t Document = 0;
    std::int32_t ScrollWidth = 0, ScrollHeight = 0;
    int Draws = 0;

    void SetSite(IEngineSite* site) override { Site = site; }
    void OnAmbientPropertyChange(DISPID id) override { AmbientChanges.push_back(id); }
    void Navigate(const std::string& url) override { Navigations.push_back(url); }
    void Stop() override { ++Stops; }
    int ReadyState() override { return State; }
    std::uint64_t DocumentId() override { return Document; }
    std::string NavigationError() override { return {}; }
    int HttpStatus() override { return 200; }
    std::int32_t BodyProperty(std::string_view name) override {
        if (name == "scrollWidth") return ScrollWidth;
        if (name == "scrollHeight") return ScrollHeight;
        throw EEngineError("no such property");
    }
    void Resize(int w, int h) override { Resizes.emplace_back(w, h); }
    void Draw(TBitmap&, int, int) override { ++Draws; }
};

} // namespace korvane::testing
