// Writes the pages of ModernPages() into a folder, with modern.json (each page's path, what it imitates, the
// height of a right picture and its pixel probes), for the peer benchmark.
#include "tests/support/ModernPages.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: modern_pages DIR\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    nlohmann::json list = nlohmann::json::array();
    for (const auto& page : korvane::testing::ModernPages()) {
        std::ofstream(dir / page.Path.substr(1)) << page.Html;
        nlohmann::json probes = nlohmann::json::array();
        for (const auto& p : page.Probes)
            probes.push_back({p.X, p.Y, p.Colour});
        nlohmann::json inked = nlohmann::json::array();
        for (const auto& a : page.Inked)
            inked.push_back({a.Left, a.Top, a.Width, a.Height});
        list.push_back({{"path", page.Path},
                        {"what", page.What},
                        {"height", page.Height},
                        {"probes", probes},
                        {"inked", inked}});
    }
    std::ofstream(dir / "green.svg") << korvane::testing::kGreenSvg;
    std::filesystem::copy_file(korvane::testing::kLateFontFile, dir / "late.ttf",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(dir / "modern.json") << list.dump(1) << "\n";
    return 0;
}
