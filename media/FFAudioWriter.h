// Encoding mixed audio frames to AAC in a file whose container the path names
// (".aac" gives an ADTS stream).
#pragma once

#include <string>

#include "core/FileWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Quorvane {
namespace Core {

class FFAudioWriter {
public:
    explicit FFAudioWriter(const char* path);
    ~FFAudioWriter();
    FFAudioWriter(const FFAudioWriter&) = delete;
    FFAudioWriter& operator=(const FFAudioWriter&) = delete;

    bool addAudioInput(long bitRate, int sampleRate, int channels, AVRational timeBase,
                       AVSampleFormat format);
    // For copying packets that are already encoded.
    bool addAudioInput(AVCodecParameters* params);
    bool start();

    // Encodes one frame (null drains). Returns the write result, or whether a
    // packet came out when none was written; -1 without an encoder.
    int writeAudioFrame(AVFrame* frame, long pts, int* gotPacket);
    int writeAudioPacket(AVPacket* packet, AVStream* from);
    int flush();
    int close();
    // Whether any encoded audio reached the file.
    bool wroteAudio() const { return mNumPacket > 0; }

    static void rescalePacketTs(AVStream* from, AVStream* to, AVPacket* packet);
    static void rescalePacketTs(AVCodecContext* from, AVStream* to, AVPacket* packet);

    AVCodecContext* audioCodecContext() const { return mAudioCodecContext; }

    // Shared by the writers that own an AAC stream.
    // Adds an AAC stream to the output and opens its encoder; logs and returns
    // null on failure (the stream, if added, stays in the output).
    static AVCodecContext* openAacStream(AVFormatContext* output, AVStream** stream, long bitRate,
                                         int sampleRate, int channels, AVRational timeBase,
                                         AVSampleFormat format);
    // Sends one frame (null drains) and writes every packet that comes out.
    // A drain of an encoder that is already drained gives no packet and no
    // error. Returns the last write result, or whether a packet came out.
    static int encodeAndWrite(AVCodecContext* encoder, AVStream* stream, AVFormatContext* output,
                              AVFrame* frame, int* gotPacket, bool* drained, int* packetCount,
                              const char* encodeError, const char* writeError);
    // The output context for a path, its container guessed from the name; logs
    // and returns null on failure.
    static AVFormatContext* allocOutput(const std::string& path);
    // Frees an output context with its file (removed unless committed, in
    // Replace mode); null is fine.
    static void freeOutput(AVFormatContext** output);
    // Adds a stream that takes already encoded packets with these parameters;
    // logs and returns null on failure.
    static AVStream* addCopyStream(AVFormatContext* output, AVCodecParameters* params);
    // Creates the output file through a FileWriter in `mode` and settles the
    // container on the path's name, ready for the header.
    static bool openOutputFile(AVFormatContext* output, const std::string& path, FileWriter::Mode mode);
    // Completes the file after the trailer (see FileWriter::commit); false
    // when any of it was not written.
    static bool commitOutputFile(AVFormatContext* output);
    // Writes one already encoded packet of `from` as a packet of `to`.
    static int writeCopiedPacket(AVFormatContext* output, AVStream* from, AVStream* to, AVPacket* packet);
    static void rescalePacketTs(AVRational from, AVStream* to, AVPacket* packet);
    // The end of close(): logs a failed flush, writes the trailer of an output
    // whose header was written (logging as `who`) and commits its file. 0 on
    // success, 1 on failure.
    static int finishOutput(AVFormatContext* output, bool* headerWritten, int flushResult, const char* who,
                            int packetCount);

private:
    int mWriterKind = 0;
    std::string mPath;
    int mNumPacket = 0;
    bool mHasVideo = false;
    bool mHasAudio = false;
    AVStream* mAudioStream = nullptr;
    AVCodecContext* mAudioCodecContext = nullptr;
    AVFormatContext* mOutput = nullptr;
    bool mDrained = false;
    bool mHeaderWritten = false;
};

}  // namespace Core
}  // namespace Quorvane
