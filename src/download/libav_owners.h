#pragma once
// Owners of the libav objects the remuxer works with: each frees what it holds when it goes, so no
// early return of the remux leaks a context, a packet or a buffer.

#include "download/remux.h"
#include "util/utf8_path.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <functional>
#include <memory>
#include <string>
#include <vector>

// libav's text for an error code.
std::string avError(int code);

// Reads the files of one input one after the other as one stream.
struct SequentialReader {
    const std::vector<RemuxFile>* files = nullptr;
    std::function<void(int segment)> onFile;
    size_t next = 0;
    int segment = 0; // segment number of the file being read
    UniqueFile current;

    // The read callback of an AVIOContext whose opaque is the reader.
    static int read(void* opaque, uint8_t* buf, int size);
};

// One demuxer over the files of one input, with its stream information read.
struct Demuxer {
    SequentialReader reader;
    AVFormatContext* ctx = nullptr;
    AVIOContext* io = nullptr;

    Demuxer() = default;
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;
    ~Demuxer();

    // Opens the files as one input and reads its stream information. False with error (as the
    // merge log says it) when they cannot be read.
    bool open(const std::vector<RemuxFile>& files, std::function<void(int)> onFile,
              std::string& error);
};

// The output file's context: its file is closed and the context freed when it goes.
struct Muxer {
    AVFormatContext* ctx = nullptr;

    Muxer() = default;
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;
    ~Muxer();
};

struct ParametersFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, ParametersFree>;

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
