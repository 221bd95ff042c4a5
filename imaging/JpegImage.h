#pragma once
// The JPEG picture object: keeps its own copy of a bitmap and compresses it on demand with libjpeg
// (standard error manager, float DCT, the quality with forced baseline, blue-green-red input rows).
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"
#include "imaging/Streams.h"

namespace korvane {

// A fatal libjpeg error: "JPEG エラー #<libjpeg message code>".
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int code);
    int Code() const { return FCode; }

private:
    int FCode;
};

class TJPEGImage : public TGraphic {
public:
    TJPEGImage() = default;

    std::string ClassName() const override { return "TJPEGImage"; }

    // A bitmap or another TJPEGImage; anything else throws EConvertError. Discards the compressed stream.
    void Assign(const TPersistent& source) override;

    // As Assign with a bitmap, but takes the bitmap's pixels over instead of copying them (the source is left
    // empty): a large capture is then never held twice.
    void TakeBitmap(TBitmap&& bitmap);

    int CompressionQuality() const { return FQuality; }
    void SetCompressionQuality(int quality); // kept within 1 to 100; discards the compressed stream
    bool Grayscale() const { return FGrayscale; }
    void SetGrayscale(bool value);
    bool ProgressiveEncoding() const { return FProgressive; }
    void SetProgressiveEncoding(bool value);

    // Makes the compressed stream unless it is already held; throws EJPEG. Empty for an empty picture.
    void Compress();
    const std::vector<std::uint8_t>& Data() const { return FData; }
    const TBitmap& Bitmap() const { return FBitmap; }

    void SaveToStream(TStream& target);
    // The file is created first (EFCreateError), then the picture is compressed and written with one write;
    // path is replaced only when all of it is written.
    void SaveToFile(const std::string& path);

    int Width() const override { return FBitmap.Width(); }
    int Height() const override { return FBitmap.Height(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    bool Empty() const override { return FBitmap.Empty(); }
    const std::vector<TPaletteEntry>& Palette() const override { return FBitmap.Palette(); }
    void SetPalette(std::vector<TPaletteEntry>) override {} // a JPEG has no palette

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Discard();

    TBitmap FBitmap;
    int FQuality = 90;
    bool FGrayscale = false;
    bool FProgressive = false;
    bool FCompressed = false;
    std::vector<std::uint8_t> FData;
};

} // namespace korvane
