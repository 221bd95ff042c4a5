#pragma once
// The PNG picture object: an owned (or referenced) image bitmap and mask, the PNG property values, and saving
// itself through a fresh TPngWriteStream. Registered with the picture formats as "PNG" / "PNG Format".
#include <cstdint>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"
#include "imaging/PixelUtils.h"
#include "imaging/PngWriteStream.h"
#include "imaging/Streams.h"

namespace korvane {

class TPngGraphic : public TGraphic {
public:
    TPngGraphic();
    ~TPngGraphic() override;
    TPngGraphic(const TPngGraphic&) = delete;
    TPngGraphic& operator=(const TPngGraphic&) = delete;

    std::string ClassName() const override { return "TPngGraphic"; }

    // Takes the picture (and from another TPngGraphic its PNG values) of a graphic; any other object throws
    // EConvertError, and then only the image reference has been cleared.
    void CopyFrom(const TPersistent& source);
    void Assign(const TPersistent& source) override { CopyFrom(source); }
    // As CopyFrom with a bitmap, but takes the bitmap's pixels over instead of copying them (the source is
    // left empty): a large capture is then never held twice.
    void TakeBitmap(TBitmap&& bitmap);

    void WriteToStream(TStream& target);
    // Replaces path only once the whole file is written; on any error path is as it was.
    void WriteToFile(const std::string& path);
    // The picture kept inside other stored data: a PNG of the owned image, written with the encoder's own
    // defaults for IDATSize, CompressionLevel, FilterMode, Interlace, UseCurrentTime and the row hook.
    void WriteData(TStream& target);

    int Width() const override { return Image().Width(); }
    int Height() const override { return Image().Height(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    bool Empty() const override { return Image().Empty(); }
    const std::vector<TPaletteEntry>& Palette() const override { return Image().Palette(); }
    void SetPalette(std::vector<TPaletteEntry> palette) override;
    void SetTransparent(bool value) override;
    // Nearest-neighbour stretch of the image into rect of a 24- or 32-bit canvas (clipped to the canvas).
    void Draw(TBitmap& canvas, const TRect& rect) const;

    // The effective image and mask: the references when set, else the owned bitmaps.
    TBitmap& Image() { return FImageRef ? *FImageRef : FImage; }
    const TBitmap& Image() const { return FImageRef ? *FImageRef : FImage; }
    TBitmap& Mask() { return FMaskRef ? *FMaskRef : FMask; }
    const TBitmap& Mask() const { return FMaskRef ? *FMaskRef : FMask; }
    TBitmap& OwnedImage() { return FImage; }
    TBitmap& OwnedMask() { return FMask; }
    TBitmap* ImageReference() const { return FImageRef; }
    TBitmap* MaskReference() const { return FMaskRef; }
    // Bitmaps owned elsewhere, used in place of the owned ones while set; never released here.
    void SetImageReference(TBitmap* image) { FImageRef = image; }
    void SetMaskReference(TBitmap* mask) { FMaskRef = mask; }

    int IDATSize = 32768;
    int CompressionLevel = -1;
    std::uint8_t FilterMode = 1;
    int Threads = 0; // the encoder's cores: 0 one a core, 1 one stream (TPngWriteStream::Threads)
    std::uint8_t Interlace = 0;
    bool Grayscale = false;
    bool HasAlpha = false;   // the mask's inverted bytes are the alpha
    bool ImageAlpha = false; // a 32-bit image's fourth bytes are the alpha (TPngWriteStream::ImageAlpha)
    TColor BackgroundColor = clNone;
    TColor TransparentColor = clNone;
    std::string Comment;
    double Gamma = 0.45455;
    std::string RowKey;
    int SignificantBits = 0;
    std::uint8_t PhysUnit = 0;
    int PhysX = 0, PhysY = 0;
    bool UseCurrentTime = true;
    TClock Clock;            // what "current" means; empty: the system clock
    TPngTimeStamp TimeStamp; // the clock's UTC time at construction
    TPngChromaticities Chromaticities{};
    TPngGifControl GifControl{};
    TPngRowWriteEvent OnRowWrite;

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void FinishAssign();
    void SetEncoderValues(TPngWriteStream& encoder) const;

    bool FTransparencyGuard = false;
    TBitmap* FMaskRef = nullptr;
    TBitmap FMask;
    TBitmap* FImageRef = nullptr;
    TBitmap FImage;
};

} // namespace korvane
