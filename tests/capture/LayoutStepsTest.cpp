// A capture lays the page out as few times as it can. What it draws must still be what the plain sequence
// draws: the page loaded in a view of the width (the resting width when automatic) and a screen's height,
// every side read, the width set, every side read again, the height set, the picture drawn and the view put
// back to the resting size.
#include "capture/CapturePipeline.h"
#include "tests/browser/ChromiumFixture.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::testing {
namespace {

// A text whose layout differs at the resting width (another colour and size below 300 pixels), which writes
// the view's size into the page when the page has loaded and each time the view is resized.
const char* const kTextPage = R"html(<!doctype html><html><head><style>
body { margin: 12px; font: 15px sans-serif; background: #fdfdf0; }
p { margin: 0 0 10px; }
#size { position: absolute; top: 0; right: 0; background: #204080; color: #fff; padding: 2px 6px; }
@media (max-width: 300px) { body { background: #f0d0d0; font-size: 22px; } }
</style></head><body><div id="size"></div><script>
const show = (when) => { document.getElementById('size').textContent =
    when + ' ' + innerWidth + ' x ' + innerHeight; };
show('loaded at');
addEventListener('resize', () => show('resized to'));
const words = 'the quick brown fox jumps over a lazy dog while the capture lays it out '.repeat(9);
for (let i = 0; i < 60; ++i) {
    const p = document.createElement('p');
    p.textContent = i + ': ' + words;
    document.body.appendChild(p);
}
</script></body></html>)html";

// No doctype: the body reports at least the view's height, and the box overflows the view on both sides.
const char* const kQuirksBox = R"html(<html><body style="margin:20px;background:#fff">
<div style="width:1500px;height:600px;background:linear-gradient(90deg,#c00,#00c);border:3px solid #080">
</div><p style="font:14px serif">below the box</p></body></html>)html";

// As wide as the view and 400 pixels more: its automatic width is not the same in the two passes.
const char* const kWiderThanView = R"html(<!doctype html><html><body style="margin:0;background:#eef">
<div style="width:calc(100vw + 400px);height:900px;background:repeating-linear-gradient(45deg,#ffa 0 20px,#aaf 20px 40px)">
</div></body></html>)html";

constexpr int kScreen = 768;

struct TReference {
    int Width = 0, Height = 0;
    TBitmap Pixels;
};

class LayoutStepsTest : public ChromiumFixture {
protected:
    // The page captured in the plain sequence, in a host and page of its own.
    TReference StepByStep(const std::string& url, const TSideChoice& widthChoice,
                          const TSideChoice& heightChoice) {
        std::unique_ptr<TBrowserHost> h = MakeHost(nullptr, nullptr);
        const int loadWidth = widthChoice.Automatic ? kRestingViewSize : widthChoice.Pixels;
        h->SetBounds(0, 0, loadWidth, kScreen);
        TReference r;
        if (!Load(*h, url)) {
            ADD_FAILURE() << "no document: " << url;
            return r;
        }
        const THtmlDocument document = *h->Document();
        for (int pass = 0; pass < 2; ++pass) {
            const std::int32_t bodyWidth = document.BodyProperty("scrollWidth");
            const std::int32_t pageWidth = document.DocumentScrollSize("Width");
            const std::int32_t bodyHeight = document.BodyProperty("scrollHeight");
            const std::int32_t pageHeight = document.DocumentScrollSize("Height");
            r.Width = widthChoice.Resolve(bodyWidth, pageWidth);
            r.Height = heightChoice.Resolve(bodyHeight, pageHeight);
            h->SetWidth(r.Width);
        }
        h->SetHeight(r.Height);
        r.Pixels = Capture(*h, r.Width, r.Height);
        h->SetBounds(0, 0, kRestingViewSize, kRestingViewSize);
        return r;
    }

    // The number of pixels of the file that differ from the reference, and where the first one is.
    static std::string Differences(const TDecodedImage& image, const TBitmap& reference) {
        int count = 0;
        std::string first;
        for (int y = 0; y < image.Height; ++y)
            for (int x = 0; x < image.Width; ++x) {
                const auto [b, g, r] = Pixel(reference, x, y);
                const std::uint32_t want = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
                if (image.Pixel(x, y) == want) continue;
                if (count++ == 0)
                    first = " first at " + std::to_string(x) + "," + std::to_string(y) + ": " +
                            std::to_string(image.Pixel(x, y)) + " instead of " + std::to_string(want);
            }
        return count == 0 ? std::string() : std::to_string(count) + " pixels differ;" + first;
    }
};

TEST_F(LayoutStepsTest, ACaptureHasTheSizeAndPixelsOfThePlainSequenceAlsoAfterAnotherPage) {
    Route("/text.html", kTextPage);
    Route("/quirks-box.html", kQuirksBox);
    Route("/wider.html", kWiderThanView);
    struct TCase {
        const char* Path;
        TSideChoice Width, Height;
    };
    // One host captures them in turn, so that each page after the first is loaded where another was
    // captured before it.
    const TCase cases[] = {{"/text.html", TSideChoice::Fixed(1024), TSideChoice::Auto()},
                           {"/quirks-box.html", TSideChoice::Auto(), TSideChoice::Auto()},
                           {"/wider.html", TSideChoice::Auto(), TSideChoice::Auto()},
                           {"/text.html", TSideChoice::Auto(), TSideChoice::Fixed(700)}};
    TempFolder folder;
    host->SetBounds(0, 0, kRestingViewSize, kRestingViewSize);
    int index = 0;
    for (const TCase& c : cases) {
        const std::string url = server->Url(c.Path);
        SCOPED_TRACE(url);
        const TReference reference = StepByStep(url, c.Width, c.Height);
        ASSERT_GT(reference.Width, 0);

        engine->Resize(c.Width.Automatic ? kRestingViewSize : c.Width.Pixels, kScreen);
        ASSERT_TRUE(Load(url));
        TCaptureSettings settings;
        settings.Width = c.Width;
        settings.Height = c.Height;
        settings.Format = TSaveFormat::Bmp;
        settings.OutputFile = folder.Path("capture" + std::to_string(index++) + ".bmp");
        TBitmap bitmap;
        const TCaptureOutcome outcome =
            CaptureDocument(*engine, *host->Document(), bitmap, settings, [](const std::string&) {}, {});
        EXPECT_EQ(engine->ViewWidth(), kRestingViewSize);
        EXPECT_EQ(engine->ViewHeight(), kRestingViewSize);

        const TDecodedImage image = DecodeImageFile(outcome.Path);
        ASSERT_TRUE(image.Ok()) << image.Error;
        ASSERT_EQ(image.Width, reference.Width);
        ASSERT_EQ(image.Height, reference.Height);
        EXPECT_EQ(Differences(image, reference.Pixels), "");
    }
}

} // namespace
} // namespace korvane::testing
