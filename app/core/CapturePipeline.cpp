#include "CapturePipeline.h"

#include "browser/BrowserHost.h"
#include "browser/Document.h"
#include "imaging/Bitmap.h"
#include "imaging/JpegImage.h"
#include "imaging/PngGraphic.h"

#include <cmath>
#include <limits>

namespace korvane {

namespace {

// Width and height back to the resting size at once: the engine lays the page out once, not twice.
void RestViewSize(TBrowserHost& host) {
    host.SetBounds(host.Left(), host.Top(), kRestingViewSize, kRestingViewSize);
}

// Puts the view back to its resting size however the capture ends.
class RestingSizeGuard {
public:
    explicit RestingSizeGuard(TBrowserHost& host) : host_(host) {}
    ~RestingSizeGuard() {
        try {
            RestViewSize(host_);
        } catch (...) {
            // A browser that is gone has no view to restore.
        }
    }

private:
    TBrowserHost& host_;
};

// Device pixels of a side of `pixels` page pixels; sides too long for 32 bits count as too long.
std::int32_t ScaledSide(std::int32_t pixels, double scale) {
    const double device = std::round(pixels * scale);
    return device > 2147483647.0 ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(device);
}

} // namespace

void WriteCapture(TBitmap& bitmap, TSaveFormat format, const std::string& path) {
    switch (format) {
    case TSaveFormat::Bmp: bitmap.SaveToFile(path); return;
    case TSaveFormat::Jpg: {
        TJPEGImage jpeg;
        jpeg.SetCompressionQuality(90);
        jpeg.TakeBitmap(std::move(bitmap));
        jpeg.SaveToFile(path);
        return;
    }
    case TSaveFormat::Png: {
        TPngGraphic png;
        png.TakeBitmap(std::move(bitmap));
        png.WriteToFile(path);
        return;
    }
    }
}

TCaptureOutcome DrawDocument(TBrowserHost& host, const THtmlDocument& document, TBitmap& bitmap,
                             const TCaptureSettings& settings) {
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(10, 10);

    RestingSizeGuard restore(host);
    int width = 0, height = 0;
    // First measured at the resting size, then again laid out at the width the first pass found. The view
    // keeps its resting height until the end: a page whose body reports at least the view's height (as pages
    // without a doctype do) would otherwise measure as tall as its narrow first layout.
    for (int pass = 0; pass < 2; ++pass) {
        width = settings.Width.Automatic ? settings.Width.Resolve(document.BodyProperty("scrollWidth"))
                                         : settings.Width.Pixels;
        height = settings.Height.Automatic ? settings.Height.Resolve(document.BodyProperty("scrollHeight"))
                                           : settings.Height.Pixels;
        // The first height comes from the narrow resting layout and is not the capture's: only the last counts.
        const std::int32_t checkedHeight = pass == 0 ? 1 : height;
        CheckCaptureSize(width, checkedHeight);
        CheckCaptureSize(ScaledSide(width, settings.Scale), ScaledSide(checkedHeight, settings.Scale));
        host.SetWidth(width);
    }
    host.SetHeight(height);

    TCaptureOutcome outcome;
    outcome.Width = ScaledSide(width, settings.Scale);
    outcome.Height = ScaledSide(height, settings.Scale);
    bitmap.SetSize(outcome.Width, outcome.Height);
    document.Draw(bitmap, width, height);
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    RestViewSize(host);
    return outcome;
}

std::string CaptureFilePath(const TCaptureSettings& settings) {
    return settings.OutputFile.empty()
               ? CapturePath(settings.Address, settings.OutputFolder, settings.FallbackFolder, settings.Format)
               : settings.OutputFile;
}

TCaptureOutcome CaptureDocument(TBrowserHost& host, const THtmlDocument& document, TBitmap& bitmap,
                                const TCaptureSettings& settings,
                                const std::function<void(const std::string&)>& status) {
    status("capture......");
    TCaptureOutcome outcome = DrawDocument(host, document, bitmap, settings);
    status("save......");
    outcome.Path = CaptureFilePath(settings);
    WriteCapture(bitmap, settings.Format, outcome.Path);
    return outcome;
}

} // namespace korvane
