#pragma once
// A small PNG of solid colour, made with libspng, for pages that need an image.
#include <cstdlib>
#include <spng.h>
#include <string>
#include <vector>

namespace korvane::testing {

inline std::string TestPng(int w, int h) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w * h * 3), 0x80);
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<unsigned>(w);
    ihdr.height = static_cast<unsigned>(h);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t size = 0;
    int err = 0;
    void* data = spng_get_png_buffer(ctx, &size, &err);
    std::string out(static_cast<const char*>(data), size);
    std::free(data);
    spng_ctx_free(ctx);
    return out;
}

} // namespace korvane::testing
