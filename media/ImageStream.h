// Still images decoded one row at a time, so that a large picture is never
// held whole in memory beside the texture it goes to: PNG (not interlaced),
// whose rows come out bit for bit as stb_image gives them. JPEG and every
// other file are decoded whole by stb_image: another JPEG decoder rounds its
// transform and colour conversion differently, and templates' photos must
// keep the pixels they always had.
#pragma once

#include <cstdio>
#include <memory>

namespace Quorvane {
namespace Core {

class ImageStream {
public:
    // Reads the header of the open file (left at any position); null when the
    // file is none of the kinds above. The file must stay open while the
    // stream is used.
    static std::unique_ptr<ImageStream> open(FILE* file);
    virtual ~ImageStream() = default;

    int width() const { return width_; }
    int height() const { return height_; }
    // Decodes the next row as RGBA (width x 4 bytes); false once the file is
    // broken or ends before its last row.
    virtual bool readRow(unsigned char* rgba) = 0;

protected:
    int width_ = 0;
    int height_ = 0;
};

}  // namespace Core
}  // namespace Quorvane
