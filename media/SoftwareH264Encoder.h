// A software H.264 encoder behind the interface of the GPU encoder the video
// writer was built for: it takes a GL texture per frame and returns one Annex B
// access unit per frame, encoded with libavcodec's libx264.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

// Opaque encoder handle.
struct NvPipe;

enum NvPipe_Format : int {
    NVPIPE_FORMAT_RGBA32 = 0,  // 8 bits per channel, bytes R, G, B, A
};

enum NvPipe_Codec : int {
    NVPIPE_CODEC_H264 = 0,
};

enum NvPipe_Compression : int {
    NVPIPE_COMPRESSION_LOSSY = 0,
};

// Null on failure; NvPipe_GetError(nullptr) then tells why. 4:2:0 pictures
// have even sides: a picture of an odd width or height is encoded one column
// or row larger, its last column or row repeated, so that every pixel of it
// stays in the video.
NvPipe* NvPipe_CreateEncoder(NvPipe_Format format, NvPipe_Codec codec, NvPipe_Compression compression,
                             uint64_t bitrate, uint32_t targetFps, uint32_t width, uint32_t height);
// The same at a rate of fpsNum / fpsDen frames a second (30000 / 1001 for
// 29.97), so that the stream's timing matches the frame count.
NvPipe* NvPipe_CreateEncoder(NvPipe_Format format, NvPipe_Codec codec, NvPipe_Compression compression,
                             uint64_t bitrate, uint32_t fpsNum, uint32_t fpsDen, uint32_t width,
                             uint32_t height);
// The size a picture of that width or height is encoded at.
inline uint32_t NvPipe_CodedSide(uint32_t side) {
    return side + (side & 1u);
}

// Replaces the vector's content with the sequence and picture parameter sets
// (Annex B, with start codes). False when the encoder is null. Once a frame
// is encoded they are the ones its access unit carried in band; before, a
// second encoder of the same settings is opened once to learn them.
bool NvPipe_GetSequenceParams(NvPipe* encoder, std::vector<uint8_t>& params);

// Reads the texture (bound to target, GL_TEXTURE_2D) back through the GL context
// current on the calling thread, encodes it and writes the access unit into dst.
// Texture row 0 is the top line of the picture. Returns the number of bytes
// written, 0 on error (including an access unit larger than dstSize).
uint64_t NvPipe_EncodeTexture(NvPipe* encoder, uint32_t texture, uint32_t target, void* dst, uint64_t dstSize,
                              uint32_t width, uint32_t height, bool forceKeyFrame);

// The two halves of NvPipe_EncodeTexture, for callers that encode on another
// thread than the one that draws. NvPipe_ReadTexture reads the texture back
// through the GL context current on the calling thread into rgba, which holds
// NvPipe_FrameBytes bytes; false (with the reason in error) when it cannot.
// NvPipe_EncodeFrame needs no GL context: it encodes such a picture like
// NvPipe_EncodeTexture. Neither may run at the same time as another call for
// the same encoder, except that one read-back may overlap one conversion and
// one encode (below).
size_t NvPipe_FrameBytes(const NvPipe* encoder);
// Processor time, in clock() ticks, of the threads the encoding library
// started for this encoder (its slice threads).
clock_t NvPipe_ThreadTicks(const NvPipe* encoder);
bool NvPipe_ReadTexture(NvPipe* encoder, uint32_t texture, uint32_t target, uint8_t* rgba,
                        std::string* error);
uint64_t NvPipe_EncodeFrame(NvPipe* encoder, const uint8_t* rgba, void* dst, uint64_t dstSize,
                            bool forceKeyFrame);
// The two halves of NvPipe_EncodeFrame, for a caller that converts the next
// picture on one thread while another encodes this one: the colour conversion
// of a read-back picture into one of the encoder's slots, and the encoding of
// a slot's picture. One conversion may overlap one encode of the other slot;
// the encode takes the slots' pictures in the order they are to appear.
constexpr int kNvPipePictureSlots = 2;
bool NvPipe_ConvertFrame(NvPipe* encoder, const uint8_t* rgba, int slot, std::string* error);
uint64_t NvPipe_EncodeConverted(NvPipe* encoder, int slot, void* dst, uint64_t dstSize, bool forceKeyFrame);

// The last error of the encoder, or of the last failed creation when null.
const char* NvPipe_GetError(NvPipe* encoder);

void NvPipe_Destroy(NvPipe* encoder);

}  // namespace Core
}  // namespace Quorvane
