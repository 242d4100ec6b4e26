#include "download/libav_owners.h"

#include <cstdio>

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int SequentialReader::read(void* opaque, uint8_t* buf, int size)
{
    auto* r = static_cast<SequentialReader*>(opaque);
    for (;;) {
        if (r->current == nullptr) {
            if (r->next >= r->files->size())
                return AVERROR_EOF;
            const RemuxFile& file = (*r->files)[r->next++];
            r->current = openUtf8File(file.path, "rb");
            if (file.segment > 0) {
                r->segment = file.segment;
                if (r->onFile)
                    r->onFile(file.segment);
            }
            if (r->current == nullptr)
                continue;
        }
        size_t got = std::fread(buf, 1, static_cast<size_t>(size), r->current.get());
        if (got > 0)
            return static_cast<int>(got);
        r->current.reset();
    }
}

Demuxer::~Demuxer()
{
    avformat_close_input(&ctx);
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}

bool Demuxer::open(const std::vector<RemuxFile>& files, std::function<void(int)> onFile,
                   std::string& error)
{
    reader.files = &files;
    reader.onFile = std::move(onFile);
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) {
        error = "内存不足";
        return false;
    }
    io = avio_alloc_context(buffer, kBufferSize, 0, &reader, &SequentialReader::read, nullptr,
                            nullptr);
    ctx = avformat_alloc_context();
    if (io == nullptr || ctx == nullptr) {
        if (io == nullptr)
            av_free(buffer);
        error = "内存不足";
        return false;
    }
    ctx->pb = io;
    int rc = avformat_open_input(&ctx, nullptr, nullptr, nullptr);
    if (rc < 0) {
        error = "无法识别分段格式: " + avError(rc);
        return false;
    }
    rc = avformat_find_stream_info(ctx, nullptr);
    if (rc < 0) {
        error = "无法读取流信息: " + avError(rc);
        return false;
    }
    return true;
}

Muxer::~Muxer()
{
    if (ctx) {
        if (!(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
}
