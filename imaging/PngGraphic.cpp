#include "imaging/PngGraphic.h"

#include <algorithm>
#include <vector>

#include "imaging/PictureFormats.h"

namespace korvane {

namespace {

// Registers the format for the life of the program.
struct PngFormatRegistration {
    PngFormatRegistration() {
        RegisterFileFormat("PNG", "PNG Format", [] { return std::make_unique<TPngGraphic>(); });
    }
    ~PngFormatRegistration() { UnregisterFileFormat("PNG"); }
};
const PngFormatRegistration registration;

// Puts the graphic's progress handler in place of the image's own for one save.
class ProgressRedirect {
public:
    ProgressRedirect(TBitmap& image, const TProgressEvent& handler)
        : FImage(image), FActive(static_cast<bool>(handler)) {
        if (FActive) {
            FSaved = std::move(FImage.OnProgress);
            FImage.OnProgress = handler;
        }
    }
    ~ProgressRedirect() {
        if (FActive) FImage.OnProgress = std::move(FSaved);
    }
    ProgressRedirect(const ProgressRedirect&) = delete;
    ProgressRedirect& operator=(const ProgressRedirect&) = delete;

private:
    TBitmap& FImage;
    bool FActive;
    TProgressEvent FSaved;
};

} // namespace

TPngGraphic::TPngGraphic() : TimeStamp(CurrentUtcTimeStamp()) {}

TPngGraphic::~TPngGraphic() = default;

void TPngGraphic::CopyFrom(const TPersistent& source) {
    FImageRef = nullptr;
    if (const auto* png = dynamic_cast<const TPngGraphic*>(&source)) {
        if (png != this) {
            FImage = png->FImage;
            FMask = png->FMask;
            FImageRef = png->FImageRef;
            FMaskRef = png->FMaskRef;
            CompressionLevel = png->CompressionLevel;
            FilterMode = png->FilterMode;
            Threads = png->Threads;
            IDATSize = png->IDATSize;
            Interlace = png->Interlace;
            Grayscale = png->Grayscale;
            Comment = png->Comment;
            BackgroundColor = png->BackgroundColor;
            TransparentColor = png->TransparentColor;
            Gamma = png->Gamma;
            SignificantBits = png->SignificantBits;
            PhysUnit = png->PhysUnit;
            PhysX = png->PhysX;
            PhysY = png->PhysY;
            UseCurrentTime = png->UseCurrentTime;
            TimeStamp = png->TimeStamp;
            Chromaticities = png->Chromaticities;
        }
    } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        FImage = *bitmap;
    } else if (dynamic_cast<const TGraphic*>(&source) != nullptr) {
        FImage.Assign(source); // another format draws itself into the bitmap, or refuses
    } else {
        AssignError(&source);
    }
    FinishAssign();
}

void TPngGraphic::TakeBitmap(TBitmap&& bitmap) {
    FImageRef = nullptr;
    FImage = std::move(bitmap);
    FinishAssign();
}

void TPngGraphic::FinishAssign() {
    SetPaletteModified(true);
    if (Transparent() != FImage.Transparent()) {
        FTransparencyGuard = true;
        try {
            SetTransparent(FImage.Transparent());
        } catch (...) {
            FTransparencyGuard = false;
            throw;
        }
        FTransparencyGuard = false;
    } else {
        Changed();
    }
}

void TPngGraphic::AssignTo(TPersistent& dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(Image());
        return;
    }
    if (auto* graphic = dynamic_cast<TGraphic*>(&dest)) {
        graphic->Assign(Image());
        return;
    }
    TGraphic::AssignTo(dest);
}

void TPngGraphic::SetEncoderValues(TPngWriteStream& encoder) const {
    encoder.Grayscale = Grayscale;
    encoder.Comment = Comment;
    encoder.BackgroundColor = BackgroundColor;
    encoder.TransparentColor = TransparentColor;
    encoder.Gamma = Gamma;
    encoder.SignificantBits = SignificantBits;
    encoder.PhysUnit = PhysUnit;
    encoder.PhysX = PhysX;
    encoder.PhysY = PhysY;
    encoder.TimeStamp = &TimeStamp;
    encoder.Chromaticities = &Chromaticities;
    encoder.GifControl = &GifControl;
    encoder.RowKey = RowKey;
}

void TPngGraphic::WriteToStream(TStream& target) {
    TBitmap& image = Image();
    TPngWriteStream encoder;
    encoder.CompressionLevel = CompressionLevel;
    encoder.FilterMode = FilterMode;
    encoder.Threads = Threads;
    encoder.SetIDATSize(IDATSize);
    encoder.Interlace = Interlace;
    SetEncoderValues(encoder);
    encoder.UseCurrentTime = UseCurrentTime;
    encoder.Clock = Clock;
    encoder.OnRowWrite = OnRowWrite;
    if (HasAlpha) encoder.AlphaBitmap = &Mask();
    encoder.ImageAlpha = ImageAlpha;
    ProgressRedirect redirect(image, OnProgress);
    encoder.SaveBitmap(image, target);
}

void TPngGraphic::WriteToFile(const std::string& path) {
    TFileStream file(path);
    WriteToStream(file);
    file.Commit();
}

void TPngGraphic::WriteData(TStream& target) {
    if (FImage.Empty()) return;
    TPngWriteStream encoder;
    SetEncoderValues(encoder);
    if (HasAlpha) encoder.AlphaBitmap = &Mask();
    encoder.SaveBitmap(FImage, target);
}

void TPngGraphic::SetWidth(int width) {
    if (!Image().Empty()) Image().SetWidth(width);
    if (!Mask().Empty()) Mask().SetWidth(width);
    Changed();
}

void TPngGraphic::SetHeight(int height) {
    if (!Image().Empty()) Image().SetHeight(height);
    if (!Mask().Empty()) Mask().SetHeight(height);
    Changed();
}

void TPngGraphic::SetPalette(std::vector<TPaletteEntry> palette) {
    Image().SetPalette(std::move(palette));
    Changed();
}

void TPngGraphic::SetTransparent(bool value) {
    if (!FTransparencyGuard && Image().Transparent() != value) Image().SetTransparent(value);
    TGraphic::SetTransparent(value);
}

void TPngGraphic::Draw(TBitmap& canvas, const TRect& rect) const {
    const TBitmap& image = Image();
    const int canvasBits = canvas.BitsPerPixel();
    if (image.Empty() || canvas.Empty() || (canvasBits != 24 && canvasBits != 32)) return;
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return;
    const std::size_t step = static_cast<std::size_t>(canvasBits / 8);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.Width()) * 3);
    int cachedRow = -1;
    for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, canvas.Height()); ++y) {
        const int sy = static_cast<int>(static_cast<std::int64_t>(y - rect.top) * image.Height() / h);
        if (sy != cachedRow) {
            RowToBGR(image, sy, row.data());
            cachedRow = sy;
        }
        std::uint8_t* out = canvas.ScanLine(y);
        for (int x = std::max(rect.left, 0); x < std::min(rect.right, canvas.Width()); ++x) {
            const auto sx =
                static_cast<std::size_t>(static_cast<std::int64_t>(x - rect.left) * image.Width() / w);
            std::copy_n(&row[sx * 3], 3, out + static_cast<std::size_t>(x) * step);
        }
    }
}

} // namespace korvane
