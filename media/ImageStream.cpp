#include "media/ImageStream.h"

#include <png.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstring>

namespace Quorvane {
namespace Core {

namespace {

// libpng and libjpeg report errors by a long jump back into the call that
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

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    bool cutShort = false;
};

class JpegStream : public ImageStream {
public:
    explicit JpegStream(FILE* file) : file_(file) {
        cinfo_.err = jpeg_std_error(&error_.manager);
        error_.manager.error_exit = [](j_common_ptr cinfo) {
            longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
        };
        // A file that ends early is filled up by the library with a warning:
        // here it is a broken file. Only an end met while the last two rows
        // of blocks are decoded (the decoder reads one ahead) may be a file
        // that lacks no more than its end marker, which is still whole.
        error_.manager.emit_message = [](j_common_ptr cinfo, int level) {
            if (level >= 0 || cinfo->err->msg_code != JWRN_JPEG_EOF || cinfo->is_decompressor == FALSE) return;
            const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
            const JDIMENSION blockRows = static_cast<JDIMENSION>(d->max_v_samp_factor * DCTSIZE) * 2;
            if (d->progressive_mode || d->output_height == 0 || d->output_scanline + blockRows < d->output_height)
                reinterpret_cast<JpegError*>(cinfo->err)->cutShort = true;
        };
    }
    ~JpegStream() override {
        if (created_) jpeg_destroy_decompress(&cinfo_);
    }

    bool start() {
        if (setjmp(error_.jump)) return false;
        jpeg_create_decompress(&cinfo_);
        created_ = true;
        jpeg_stdio_src(&cinfo_, file_);
        jpeg_read_header(&cinfo_, TRUE);
        if (cinfo_.jpeg_color_space == JCS_CMYK || cinfo_.jpeg_color_space == JCS_YCCK) return false;
        cinfo_.out_color_space = JCS_EXT_RGBA;
        width_ = static_cast<int>(cinfo_.image_width);
        height_ = static_cast<int>(cinfo_.image_height);
        return width_ > 0 && height_ > 0;
    }

    bool readRow(unsigned char* rgba) override {
        if (failed_ || setjmp(error_.jump)) {
            failed_ = true;
            return false;
        }
        // The decoder's buffers (for a progressive file, every coefficient
        // of the picture) are made at the first row, once the size has
        // been allowed.
        if (!decompressing_) {
            jpeg_start_decompress(&cinfo_);
            decompressing_ = true;
            if (cinfo_.output_width != static_cast<JDIMENSION>(width_) ||
                cinfo_.output_height != static_cast<JDIMENSION>(height_) || cinfo_.output_components != 4) {
                failed_ = true;
                return false;
            }
        }
        JSAMPROW row = rgba;
        if (jpeg_read_scanlines(&cinfo_, &row, 1) != 1 || error_.cutShort) failed_ = true;
        return !failed_;
    }

private:
    FILE* file_;
    jpeg_decompress_struct cinfo_{};
    JpegError error_{};
    bool created_ = false;
    bool decompressing_ = false;
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
    } else if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) {
        auto stream = std::make_unique<JpegStream>(file);
        if (stream->start()) return stream;
    }
    return nullptr;
}

}  // namespace Core
}  // namespace Quorvane
