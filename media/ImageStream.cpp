#include "media/ImageStream.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace Quorvane {
namespace Core {

namespace {

// libpng reports errors by a long jump back into the call that
// failed; no object with a destructor lives between the two.
class PngStream : public ImageStream {
public:
    explicit PngStream(FILE* file) : file_(file) {}
    ~PngStream() override { png_destroy_read_struct(&png_, &info_, nullptr); }

    bool start() {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, warning);
        if (!png_) return false;
        info_ = png_create_info_struct(png_);
        if (!info_ || setjmp(png_jmpbuf(png_))) return false;
        png_init_io(png_, file_);
        // Sizes are checked against the engine's own budget, not libpng's
        // default limit of a million pixels per side.
        png_set_user_limits(png_, 0x7fffffff, 0x7fffffff);
        png_read_info(png_, info_);
        png_uint_32 w = 0, h = 0;
        int depth = 0, colour = 0, interlace = 0;
        png_get_IHDR(png_, info_, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
        // Interlaced rows come in passes over the whole picture.
        if (interlace != PNG_INTERLACE_NONE || w > 0x7fffffffu || h > 0x7fffffffu) return false;
        // The same conversions stb_image makes: palettes and grey to RGB,
        // a transparent colour to alpha, 16 bits to their high byte, opaque
        // alpha where the file has none.
        const bool transparentColour = png_get_valid(png_, info_, PNG_INFO_tRNS) != 0;
        if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
        if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png_);
        if (transparentColour) png_set_tRNS_to_alpha(png_);
        if (depth == 16) png_set_strip_16(png_);
        if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png_);
        if (!(colour & PNG_COLOR_MASK_ALPHA) && !transparentColour) png_set_filler(png_, 0xFF, PNG_FILLER_AFTER);
        png_read_update_info(png_, info_);
        if (png_get_rowbytes(png_, info_) != static_cast<size_t>(w) * 4) return false;
        width_ = static_cast<int>(w);
        height_ = static_cast<int>(h);
        return true;
    }

    bool readRow(unsigned char* rgba) override {
        if (failed_ || setjmp(png_jmpbuf(png_))) {
            failed_ = true;
            return false;
        }
        png_read_row(png_, rgba, nullptr);
        return true;
    }

private:
    static void warning(png_structp, png_const_charp) {}

    FILE* file_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<ImageStream> ImageStream::open(FILE* file) {
    if (!file) return nullptr;
    unsigned char magic[8] = {0};
    const size_t got = fread(magic, 1, sizeof magic, file);
    if (fseek(file, 0, SEEK_SET) != 0) return nullptr;
    if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) {
        auto stream = std::make_unique<PngStream>(file);
        if (stream->start()) return stream;
    }
    return nullptr;
}

}  // namespace Core
}  // namespace Quorvane
