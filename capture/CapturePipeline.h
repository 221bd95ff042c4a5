#pragma once
// The steps of one capture that need no window: size the view to the page (measured twice), draw it into
// the 24-bit capture bitmap, build the path and write the file. The window and the command-line tool both
// call this.
#include "capture/CaptureSize.h"
#include "capture/Encoding.h"
#include "capture/OutputPath.h"

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace korvane {

class TBitmap;
class TEngine;
class THtmlDocument;
class TPageShot;

struct TCaptureSettings {
    TSideChoice Width = TSideChoice::Fixed(1024);
    TSideChoice Height = TSideChoice::Auto();
    TSaveFormat Format = TSaveFormat::Bmp;
    int Quality = 0;          // TEncoding::Quality
    bool Transparent = false; // TEncoding::Transparent (the page must be loaded to leave its background out)
    std::string Address;      // as typed: the file name is made from it
    std::string OutputFolder; // the chosen folder, used when it exists
    std::string FallbackFolder;     // otherwise this one (ends in "/")
    std::string OutputFile;         // when not empty, the exact path to write instead
    double Scale = 1.0;             // device pixels per page pixel: the image is the capture size times this
    std::int32_t MaxAutoHeight = 0; // an automatic height above this is cut to it (0: no cut)
    // When not empty, the image is only the first element this CSS selector matches, laid out as the whole
    // page would be, with Padding page pixels around it (as far as the page goes).
    std::string Selector;
    int Padding = 0;
    int ViewHeight = 768; // the view's height while the page loads, is measured and is drawn: a screen's
    // At most this long, what the page defers until it is seen is brought in before it is measured for the
    // picture (TEngine::SettleDeferred); 0: the page is drawn as it is.
    std::chrono::milliseconds DeferredTime{10000};
    bool ExpandScroller = true; // an app-like page's main scrolling element is drawn whole

    TEncoding Encoding() const;
};

// A page without the element the capture is to show.
class ENoElementError : public Error {
public:
    using Error::Error;
};

struct TCaptureOutcome {
    std::string Path;
    int Width = 0, Height = 0; // of the image, in pixels
};

// The view's size between captures.
inline constexpr int kRestingViewSize = 100;

// The view a page is loaded in for a capture of these settings: the capture's width (the resting width when
// the width is automatic, as the page's own width is read at it) and the settings' screen height. What the
// page's scripts see at load, and what its viewport-relative heights are laid out at.
struct TViewSize {
    int Width = kRestingViewSize, Height = kRestingViewSize;
};
TViewSize LoadViewSize(const TCaptureSettings& settings);

struct TCapturePicture {
    TCaptureOutcome Outcome;               // the image's size; no path yet
    bool DeferredCut = false;              // what the page defers had not all come when its time was up
    bool GrowthCut = false;                // the page kept growing as it came: measured as it was then
    bool Expanded = false;                 // the page's main scrolling element was laid out whole
    std::shared_ptr<const TPageShot> Shot; // the picture, to be put into the bitmap
};
// Called with the picture as soon as the engine has begun to take it.
using TPictureStarted = std::function<void(const TCapturePicture&)>;

// Measures the page in a view of the capture's width and the screen's height (the width measured twice),
// takes the picture of the document and puts the view back to its resting size (also when a step fails): the
// document is done with then (TEngine::RestView) and the next capture needs a new load. The page is drawn
// with the view sized to the whole picture, unless it grows with its view (a first screen of 100vh, a height
// a script sets from the view's): then the view keeps the screen's height and the picture reaches beyond it.
// `started` gets the picture as soon as it is begun, so that the file can be made while the rest comes.
// Throws ECaptureSizeError before anything is drawn for a size out of bounds, EFormatLimitError for one the
// format cannot hold, and ENoElementError when the settings' selector matches no element with a box on the
// page.
TCapturePicture ShootDocument(TEngine& engine, const THtmlDocument& document,
                              const TCaptureSettings& settings, const TPictureStarted& started = {});

// Puts the picture into the (24-bit) bitmap and writes the file as the format says, at once: while one thread
// fills the bitmap, the encoder takes its rows as they are done. The target is replaced only when the whole
// file is written; a picture that cannot be read throws its own error and writes nothing. May run on any
// thread; the bitmap may be empty afterwards (see WriteCapture).
// A stop requested meanwhile ends it early with EIncompletePicture: no file, the old one kept.
// A transparent encoding puts it into a 32-bit bitmap, alpha kept.
void DevelopAndWrite(const TPageShot& shot, TBitmap& bitmap, const TEncoding& encoding,
                     const std::string& path, std::stop_token stop = {});

// The file a capture of these settings goes to.
std::string CaptureFilePath(const TCaptureSettings& settings);

// Runs the capture of the loaded document. Status texts ("capture......", "save......") go to status.
// The view is back at its resting size afterwards, also when a step fails; the bitmap keeps the picture
// until the caller empties it. Throws ECaptureSizeError before anything is drawn for a size out of bounds,
// and the encoders' errors when the file cannot be written (no file is then left behind).
// A stop requested meanwhile ends the encoding as in DevelopAndWrite (the engine's own waits end through
// the token the engine was given).
TCaptureOutcome CaptureDocument(TEngine& engine, const THtmlDocument& document, TBitmap& bitmap,
                                const TCaptureSettings& settings,
                                const std::function<void(const std::string&)>& status,
                                std::stop_token stop = {});

// Writes the bitmap as the encoding says; the target is replaced only when the whole file is written. The
// JPEG and PNG encoders take the pixels over instead of copying them, so the bitmap may be empty afterwards.
void WriteCapture(TBitmap& bitmap, const TEncoding& encoding, const std::string& path);

} // namespace korvane
