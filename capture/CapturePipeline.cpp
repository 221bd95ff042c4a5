#include "CapturePipeline.h"

#include "browser/Document.h"
#include "imaging/Bitmap.h"
#include "imaging/JpegImage.h"
#include "imaging/PngGraphic.h"
#include "imaging/RowGate.h"
#include "imaging/WebpImage.h"
#include "platform/Translate.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <future>
#include <limits>
#include <thread>

namespace korvane {

namespace {

// Width and height back to the resting size at once; the document, done with, is not laid out at it again.
void RestViewSize(TEngine& engine) {
    engine.RestView(kRestingViewSize, kRestingViewSize);
}

// Puts the view back to its resting size however the capture ends.
class RestingSizeGuard {
public:
    explicit RestingSizeGuard(TEngine& engine) : FEngine(engine) {}
    ~RestingSizeGuard() {
        try {
            RestViewSize(FEngine);
        } catch (...) {
            // A browser that is gone has no view to restore.
        }
    }

private:
    TEngine& FEngine;
};

// Device pixels of a side of `pixels` page pixels; sides too long for 32 bits count as too long.
std::int32_t ScaledSide(std::int32_t pixels, double scale) {
    const double device = std::round(pixels * scale);
    return device > 2147483647.0 ? std::numeric_limits<std::int32_t>::max()
                                 : static_cast<std::int32_t>(device);
}

struct TArea {
    int Left, Top, Width, Height;
};

// The element's box with its padding, in whole page pixels that hold all of it, cut to the page.
TArea ElementArea(const THtmlDocument& document, const TCaptureSettings& settings, int pageWidth,
                  int pageHeight) {
    const std::optional<TElementBox> box = document.ElementBox(settings.Selector);
    if (!box) throw ENoElementError(FormatText(Tr("no element matched %1"), {settings.Selector}));
    const double pad = settings.Padding;
    const auto clamp = [](double v, int limit) {
        return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(limit)));
    };
    const int left = clamp(std::floor(box->Left - pad), pageWidth);
    const int top = clamp(std::floor(box->Top - pad), pageHeight);
    const int right = clamp(std::ceil(box->Left + box->Width + pad), pageWidth);
    const int bottom = clamp(std::ceil(box->Top + box->Height + pad), pageHeight);
    if (right <= left || bottom <= top || box->Width <= 0 || box->Height <= 0)
        throw ENoElementError(
            FormatText(Tr("the element %1 matched has no box on the page"), {settings.Selector}));
    return {left, top, right - left, bottom - top};
}

} // namespace

TEncoding TCaptureSettings::Encoding() const {
    TEncoding encoding(Format);
    encoding.Quality = Quality;
    encoding.Transparent = Transparent;
    return encoding;
}

void WriteCapture(TBitmap& bitmap, const TEncoding& encoding, const std::string& path) {
    switch (encoding.Format) {
    case TSaveFormat::Bmp:
        bitmap.SaveToFile(path);
        return;
    case TSaveFormat::Jpg: {
        TJPEGImage jpeg;
        jpeg.SetCompressionQuality(encoding.Quality > 0 ? encoding.Quality : kDefaultJpegQuality);
        jpeg.TakeBitmap(std::move(bitmap));
        jpeg.SaveToFile(path);
        return;
    }
    case TSaveFormat::Png: {
        TPngGraphic png;
        png.ImageAlpha = encoding.Transparent;
        png.TakeBitmap(std::move(bitmap));
        png.WriteToFile(path);
        return;
    }
    case TSaveFormat::Webp:
        SaveWebpFile(bitmap, path, {encoding.Quality, 4, encoding.Transparent});
        return;
    }
}

TViewSize LoadViewSize(const TCaptureSettings& settings) {
    // A width the capture will refuse is not tried on the page either.
    const bool given =
        !settings.Width.Automatic && settings.Width.Pixels >= 1 && settings.Width.Pixels <= kMaxCaptureWidth;
    return {given ? settings.Width.Pixels : kRestingViewSize,
            std::clamp(settings.ViewHeight, 1, kMaxCaptureHeight)};
}

TCapturePicture ShootDocument(TEngine& engine, const THtmlDocument& document,
                              const TCaptureSettings& settings, const TPictureStarted& started) {
    RestingSizeGuard restore(engine);
    const int screen = LoadViewSize(settings).Height;
    const auto measureWidth = [&] {
        return settings.Width.Automatic ? settings.Width.Resolve(document.BodyProperty("scrollWidth"),
                                                                 document.DocumentScrollSize("Width"))
                                        : settings.Width.Pixels;
    };
    // First the width, measured at the width the page was loaded at (the resting width when it is
    // automatic); then both sides, laid out at that width and the screen's height, which the page has seen
    // since its first byte. A width that is given needs no first reading at all.
    int width = measureWidth();
    CheckCaptureWidth(width);
    CheckCaptureWidth(ScaledSide(width, settings.Scale));
    engine.Resize(width, screen);
    width = measureWidth();
    // A phone lays a page without a viewport meta tag out wider than its screen: it is drawn at that width,
    // all of it, as the view is then as wide as the layout.
    if (const std::int32_t laidOut = engine.WiderLayoutWidth(); laidOut > width) {
        width = laidOut;
        CheckCaptureWidth(ScaledSide(width, settings.Scale));
        engine.Resize(width, screen);
    }
    TCapturePicture picture;
    picture.Expanded = settings.ExpandScroller && engine.ExpandInnerScroller();
    std::int32_t screenPage = 0;
    int height = 0;
    const auto measureHeight = [&] {
        screenPage = document.DocumentScrollSize("Height");
        height = settings.Height.Automatic
                     ? settings.Height.Resolve(document.BodyProperty("scrollHeight"), screenPage)
                     : settings.Height.Pixels;
        if (settings.Height.Automatic && settings.MaxAutoHeight > 0)
            height = std::min(height, settings.MaxAutoHeight);
        CheckCaptureSize(width, height);
        CheckCaptureSize(ScaledSide(width, settings.Scale), ScaledSide(height, settings.Scale));
    };
    measureHeight();
    // Laid out as it is drawn: a view of the whole picture keeps what is placed against the view (fixed bars,
    // sidebars as high as the view) where the page is whole. A page that then reaches beyond that view grew
    // with it: its layout follows the view's height, so it is drawn from the screen-high view it was
    // measured in, the picture reaching below it.
    bool screenHigh = false;
    const auto layOut = [&] {
        engine.Resize(width, height);
        screenHigh = height != screen && document.DocumentScrollSize("Height") > std::max(height, screenPage);
    };
    layOut();
    if (settings.DeferredTime.count() > 0) {
        // With all of the page in view, what it defers until it is seen comes; a page that changed its size
        // meanwhile is measured again, as long as it keeps changing within a few rounds.
        const auto until = std::chrono::steady_clock::now() + settings.DeferredTime;
        for (int round = 0;; ++round) {
            const std::int32_t before = document.BodyProperty("scrollHeight");
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            picture.DeferredCut = left.count() <= 0 || !engine.SettleDeferred(left);
            if (document.BodyProperty("scrollHeight") == before) break;
            if (round == 2) {
                picture.GrowthCut = true;
                break;
            }
            engine.Resize(width, screen);
            measureHeight();
            layOut();
            if (picture.DeferredCut) break; // measured as far as it came
        }
    }
    if (screenHigh) engine.Resize(width, screen);
    const TArea area = settings.Selector.empty() ? TArea{0, 0, width, height}
                                                 : ElementArea(document, settings, width, height);
    picture.Outcome.Width = ScaledSide(area.Width, settings.Scale);
    picture.Outcome.Height = ScaledSide(area.Height, settings.Scale);
    CheckFormatSize(settings.Format, picture.Outcome.Width, picture.Outcome.Height);
    const auto begin = [&](const std::shared_ptr<const TPageShot>& shot) {
        if (!started) return;
        TCapturePicture begun = picture;
        begun.Shot = shot;
        started(begun);
    };
    picture.Shot = settings.Selector.empty()
                       ? document.Shoot(width, height, begin)
                       : document.ShootArea(area.Left, area.Top, area.Width, area.Height, begin);
    RestViewSize(engine);
    return picture;
}

void DevelopAndWrite(const TPageShot& shot, TBitmap& bitmap, const TEncoding& encoding,
                     const std::string& path, std::stop_token stop) {
    bitmap.SetPixelFormat(encoding.Transparent ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    bitmap.SetSize(shot.Width(), shot.Height());
    if (bitmap.Empty()) return WriteCapture(bitmap, encoding, path);

    TRowGate gate(bitmap.Height());
    const std::stop_callback onStop(stop, [&gate] { gate.Cancel(); });
    std::exception_ptr drawError, writeError;
    std::thread developer([&shot, &gate, &drawError, rows = bitmap.Rows()] {
        try {
            shot.DrawInto(rows, gate);
        } catch (...) {
            drawError = std::current_exception();
        }
        gate.Close();
    });
    // The encoder reads each row once it is done; the bitmap (wherever the encoder moves it) keeps its pixels
    // until the developer has stopped.
    bitmap.SetRowGate(&gate);
    try {
        WriteCapture(bitmap, encoding, path);
    } catch (...) {
        writeError = std::current_exception();
    }
    gate.Abandon(); // at once when every row is done; otherwise the developer stops at its next row
    developer.join();
    if (bitmap.RowGate() == &gate) bitmap.SetRowGate(nullptr);
    // A picture that could not be read leaves the encoder without rows: its own error says why.
    if (writeError) std::rethrow_exception(drawError ? drawError : writeError);
}

std::string CaptureFilePath(const TCaptureSettings& settings) {
    return settings.OutputFile.empty() ? CapturePath(settings.Address, settings.OutputFolder,
                                                     settings.FallbackFolder, settings.Format)
                                       : settings.OutputFile;
}

TCaptureOutcome CaptureDocument(TEngine& engine, const THtmlDocument& document, TBitmap& bitmap,
                                const TCaptureSettings& settings,
                                const std::function<void(const std::string&)>& status, std::stop_token stop) {
    status("capture......");
    const std::string path = CaptureFilePath(settings);
    // The file is made from the picture while the rest of it comes from the engine.
    std::future<void> written;
    TCapturePicture picture;
    try {
        picture = ShootDocument(engine, document, settings, [&](const TCapturePicture& begun) {
            written = std::async(std::launch::async,
                                 [&bitmap, shot = begun.Shot, encoding = settings.Encoding(), path, stop] {
                                     DevelopAndWrite(*shot, bitmap, encoding, path, stop);
                                 });
        });
    } catch (...) {
        if (written.valid()) written.wait(); // its picture did not come whole: nothing is written
        throw;
    }
    status("save......");
    if (written.valid())
        written.get();
    else
        DevelopAndWrite(*picture.Shot, bitmap, settings.Encoding(), path, stop);
    picture.Outcome.Path = path;
    return picture.Outcome;
}

} // namespace korvane
