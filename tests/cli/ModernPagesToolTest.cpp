// korvane-capture with its defaults on pages that do what today's sites do, all in one run as a user's list
// would be: every picture as high as the page and every part of it where the page has it.
#include "tests/cli/ToolProcess.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ModernPages.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

using namespace korvane::testing;

namespace {

class ModernPagesTool : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    TTestHttpServer server;
    TempFolder folder{"korvane-modern"};

    // The file each URL's picture went to, from the run's manifest.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        std::ifstream manifest(folder.Path("run.jsonl"));
        for (std::string line; std::getline(manifest, line);) {
            const auto entry = nlohmann::json::parse(line);
            if (entry["file"].is_string()) files[entry["url"]] = entry["file"];
        }
        return files;
    }
};

TEST_F(ModernPagesTool, EveryPageIsDrawnWholeWithItsFirstScreenOneScreenHigh) {
    ServeModernPages(server);
    std::vector<std::string> args = {"-q",          "--delay",    "0",
                                     "--format",    "bmp",        "--output",
                                     folder.Path(), "--manifest", folder.Path("run.jsonl")};
    for (const TModernPage& page : ModernPages())
        args.push_back(server.Url(page.Path));
    const Outcome o = Run(args);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto files = Files();
    for (const TModernPage& page : ModernPages()) {
        SCOPED_TRACE(page.What);
        const auto file = files.find(server.Url(page.Path));
        ASSERT_NE(file, files.end());
        const TDecodedImage image = DecodeImageFile(file->second);
        ASSERT_TRUE(image.Ok()) << image.Error;
        EXPECT_EQ(image.Width, 1024);
        EXPECT_EQ(image.Height, page.Height);
        for (const TPixelProbe& probe : page.Probes)
            EXPECT_EQ(image.Pixel(probe.X, probe.Y), probe.Colour) << "at " << probe.X << "," << probe.Y;
        for (const auto& area : page.Inked)
            EXPECT_TRUE(HasInk(area, [&](int x, int y) { return image.Pixel(x, y); }))
                << "nothing drawn at " << area.Left << "," << area.Top;
    }
}

} // namespace
