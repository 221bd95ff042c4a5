#include "imaging/JpegImage.h"
#include "platform/Translate.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "imaging/GraphicErrors.h"
#include "imaging/PixelUtils.h"
#include "platform/Files.h"

namespace korvane {

namespace {

// libjpeg is C: a fatal error leaves it through longjmp back to RunCompress, which has no objects with
// destructors; the C++ exception is raised only after the compression object is destroyed.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void ErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}
extern "C" void EmitMessage(j_common_ptr, int) {} // warnings and trace messages are dropped
extern "C" void OutputMessage(j_common_ptr) {}

// A growable memory destination whose buffer belongs to us whatever happens.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    unsigned char* data;
    std::size_t capacity;
    std::size_t size;
};

constexpr std::size_t InitialCapacity = 65536;

extern "C" void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    if (dest->data == nullptr) {
        dest->data = static_cast<unsigned char*>(std::malloc(InitialCapacity));
        if (dest->data == nullptr) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
        dest->capacity = InitialCapacity;
    }
    dest->pub.next_output_byte = dest->data;
    dest->pub.free_in_buffer = dest->capacity;
}

extern "C" boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    const std::size_t grown = dest->capacity * 2;
    auto* data = static_cast<unsigned char*>(std::realloc(dest->data, grown));
    if (data == nullptr) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = data + dest->capacity;
    dest->pub.free_in_buffer = grown - dest->capacity;
    dest->data = data;
    dest->capacity = grown;
    return TRUE;
}

extern "C" void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    dest->size = dest->capacity - dest->pub.free_in_buffer;
}

struct CompressJob {
    const TBitmap* bitmap;
    unsigned char* convertedRow; // for bitmaps that are not 24 bits, else null
    int quality;
    bool grayscale;
    bool progressive;
};

// Returns 0, or libjpeg's message code of a fatal error.
// RunCompress's result when a row of a bitmap that is still being drawn never came.
constexpr int kRowsMissing = -2;

int RunCompress(jpeg_compress_struct* cinfo, ErrorManager* errors, MemoryDestination* dest,
                const CompressJob* job) {
    cinfo->err = jpeg_std_error(&errors->pub);
    errors->pub.error_exit = ErrorExit;
    errors->pub.emit_message = EmitMessage;
    errors->pub.output_message = OutputMessage;
    if (setjmp(errors->jump) != 0) {
        const int code = errors->pub.msg_code;
        jpeg_destroy_compress(cinfo);
        return code == 0 ? -1 : code;
    }
    jpeg_create_compress(cinfo);
    dest->pub.init_destination = InitDestination;
    dest->pub.empty_output_buffer = EmptyOutputBuffer;
    dest->pub.term_destination = TermDestination;
    cinfo->dest = &dest->pub;

    const TBitmap& bitmap = *job->bitmap;
    if (bitmap.Width() > 0 && bitmap.Height() > 0) {
        cinfo->image_width = static_cast<JDIMENSION>(bitmap.Width());
        cinfo->image_height = static_cast<JDIMENSION>(bitmap.Height());
        cinfo->input_components = 3;
        // The bitmap's own byte order: blue, green, red; libjpeg-turbo converts it without a swap.
        cinfo->in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(cinfo);
        cinfo->dct_method = JDCT_FLOAT;
        jpeg_set_quality(cinfo, job->quality, TRUE);
        if (job->grayscale) jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
        if (job->progressive) jpeg_simple_progression(cinfo);
        jpeg_start_compress(cinfo, TRUE);
        while (cinfo->next_scanline < cinfo->image_height) {
            const int y = static_cast<int>(cinfo->next_scanline);
            const std::uint8_t* ready = bitmap.ReadyScanLine(y);
            if (ready == nullptr) {
                jpeg_destroy_compress(cinfo);
                return kRowsMissing;
            }
            JSAMPROW row;
            if (job->convertedRow != nullptr) {
                RowToBGR(bitmap, y, job->convertedRow);
                row = job->convertedRow;
            } else {
                row = const_cast<JSAMPROW>(ready);
            }
            jpeg_write_scanlines(cinfo, &row, 1);
        }
        jpeg_finish_compress(cinfo);
    }
    jpeg_destroy_compress(cinfo);
    return 0;
}

struct FreeDeleter {
    void operator()(unsigned char* p) const noexcept { std::free(p); }
};

} // namespace

EJPEG::EJPEG(int code)
    : EInvalidGraphic(FormatText(Tr("JPEG error #%1"), {std::to_string(code)})), FCode(code) {}

void TJPEGImage::Discard() {
    FData.clear();
    FData.shrink_to_fit();
    FCompressed = false;
}

void TJPEGImage::Assign(const TPersistent& source) {
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        FBitmap = *bitmap;
        Discard();
        Changed();
        return;
    }
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source)) {
        if (jpeg != this) {
            FBitmap = jpeg->FBitmap;
            FQuality = jpeg->FQuality;
            FGrayscale = jpeg->FGrayscale;
            FProgressive = jpeg->FProgressive;
            FData = jpeg->FData;
            FCompressed = jpeg->FCompressed;
            Changed();
        }
        return;
    }
    TGraphic::Assign(source);
}

void TJPEGImage::TakeBitmap(TBitmap&& bitmap) {
    FBitmap = std::move(bitmap);
    Discard();
    Changed();
}

void TJPEGImage::AssignTo(TPersistent& dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(FBitmap);
        return;
    }
    TGraphic::AssignTo(dest);
}

void TJPEGImage::SetCompressionQuality(int quality) {
    quality = std::clamp(quality, 1, 100);
    if (quality != FQuality) {
        FQuality = quality;
        Discard();
    }
}

void TJPEGImage::SetGrayscale(bool value) {
    if (value != FGrayscale) {
        FGrayscale = value;
        Discard();
    }
}

void TJPEGImage::SetProgressiveEncoding(bool value) {
    if (value != FProgressive) {
        FProgressive = value;
        Discard();
    }
}

void TJPEGImage::SetWidth(int width) {
    FBitmap.SetWidth(width);
    Discard();
    Changed();
}

void TJPEGImage::SetHeight(int height) {
    FBitmap.SetHeight(height);
    Discard();
    Changed();
}

void TJPEGImage::Compress() {
    if (FCompressed) return;
    const bool direct = FBitmap.BitsPerPixel() == 24;
    std::vector<unsigned char> converted(direct ? 0 : static_cast<std::size_t>(FBitmap.Width()) * 3);
    const CompressJob job{&FBitmap, direct ? nullptr : converted.data(), FQuality, FGrayscale, FProgressive};
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    MemoryDestination dest{};
    const int code = RunCompress(&cinfo, &errors, &dest, &job);
    std::unique_ptr<unsigned char, FreeDeleter> buffer(dest.data);
    if (code == kRowsMissing) throw EIncompletePicture();
    if (code != 0) throw EJPEG(code);
    FData.assign(dest.data, dest.data + (dest.data ? dest.size : 0));
    FCompressed = true;
}

void TJPEGImage::SaveToStream(TStream& target) {
    Compress();
    if (!FData.empty()) target.WriteBuffer(FData.data(), FData.size());
}

void TJPEGImage::SaveToFile(const std::string& path) {
    AtomicFile file(path);
    Compress();
    if (!FData.empty()) file.Write(FData.data(), FData.size());
    file.Commit();
}

} // namespace korvane
