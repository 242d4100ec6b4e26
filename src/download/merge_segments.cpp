#include "download/merge_segments.h"

#include "app/paths.h"
#include "download/hls_playlist.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

fs::path u8path(const std::string& s)
{
    return fs::path(std::u8string(s.begin(), s.end()));
}

bool isSegmentName(const std::string& name, int& number)
{
    if (name.size() < 4 || name.compare(name.size() - 3, 3, ".ts") != 0)
        return false;
    std::string digits = name.substr(0, name.size() - 3);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0')
        return false;
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    number = std::stoi(digits);
    return true;
}

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Reads the files one after the other as one stream.
struct SequentialReader {
    const std::vector<std::string>* files = nullptr;
    const std::function<void(size_t)>* onFile = nullptr;
    size_t next = 0;
    FILE* current = nullptr;

    ~SequentialReader()
    {
        if (current)
            std::fclose(current);
    }

    static int read(void* opaque, uint8_t* buf, int size)
    {
        auto* r = static_cast<SequentialReader*>(opaque);
        for (;;) {
            if (r->current == nullptr) {
                if (r->next >= r->files->size())
                    return AVERROR_EOF;
                size_t i = r->next++;
                r->current = std::fopen((*r->files)[i].c_str(), "rb");
                if (r->onFile && *r->onFile)
                    (*r->onFile)(i);
                if (r->current == nullptr)
                    continue;
            }
            size_t got = std::fread(buf, 1, static_cast<size_t>(size), r->current);
            if (got > 0)
                return static_cast<int>(got);
            std::fclose(r->current);
            r->current = nullptr;
        }
    }
};

// Keeps one stream's decoding timestamps rising across segment joins and discontinuities: a jump
// back, or forward by more than ten seconds, continues from the last timestamp instead.
struct TimestampTrack {
    bool started = false;
    int64_t offset = 0;
    int64_t lastDts = 0;
    int64_t lastDuration = 0;
    int64_t bigJump = 0;

    void fix(AVPacket* pkt)
    {
        if (pkt->dts == AV_NOPTS_VALUE)
            pkt->dts = pkt->pts;
        if (pkt->dts == AV_NOPTS_VALUE) {
            pkt->dts = started ? lastDts + std::max<int64_t>(lastDuration, 1) - offset : 0;
        }
        if (pkt->pts == AV_NOPTS_VALUE)
            pkt->pts = pkt->dts;
        int64_t dts = pkt->dts + offset;
        if (started) {
            int64_t step = std::max<int64_t>(lastDuration, 1);
            if (dts < lastDts || dts > lastDts + bigJump) {
                offset += lastDts + step - dts;
                dts = lastDts + step;
            } else if (dts == lastDts) {
                offset += 1;
                dts += 1;
            }
        }
        int64_t pts = pkt->pts + offset;
        if (pts < dts)
            pts = dts;
        if (started && pkt->duration <= 0)
            lastDuration = dts - lastDts;
        else if (pkt->duration > 0)
            lastDuration = pkt->duration;
        lastDts = dts;
        started = true;
        pkt->dts = dts;
        pkt->pts = pts;
    }
};

struct InputOwner {
    AVFormatContext* ctx = nullptr;
    AVIOContext* io = nullptr;
    ~InputOwner()
    {
        avformat_close_input(&ctx);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

struct OutputOwner {
    AVFormatContext* ctx = nullptr;
    ~OutputOwner()
    {
        if (ctx) {
            if (!(ctx->oformat->flags & AVFMT_NOFILE))
                avio_closep(&ctx->pb);
            avformat_free_context(ctx);
        }
    }
};

struct PacketOwner {
    AVPacket* pkt = av_packet_alloc();
    ~PacketOwner() { av_packet_free(&pkt); }
};

bool writeFileAtomically(const std::string& path, const std::string& text)
{
    std::string temp = path + ".part";
    {
        std::ofstream out(u8path(temp), std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(u8path(temp), u8path(path), ec);
    return !ec;
}

} // namespace

bool writeSegmentList(const std::string& episodeFolder, const std::vector<SegmentListEntry>& entries)
{
    std::ostringstream out;
    out << "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-PLAYLIST-TYPE:VOD\n";
    std::string map;
    for (const auto& e : entries) {
        if (e.discontinuity)
            out << "#EXT-X-DISCONTINUITY\n";
        if (e.mapFile != map) {
            map = e.mapFile;
            if (!map.empty())
                out << "#EXT-X-MAP:URI=\"" << map << "\"\n";
        }
        out << "#EXTINF:" << e.duration << ",\n" << e.index << ".ts\n";
    }
    out << "#EXT-X-ENDLIST\n";
    return writeFileAtomically(episodeFolder + pathSeparator() + kSegmentListName, out.str());
}

std::vector<SegmentListEntry> readSegmentList(const std::string& episodeFolder)
{
    std::vector<SegmentListEntry> entries;
    std::ifstream in(u8path(episodeFolder + pathSeparator() + kSegmentListName), std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        HlsPlaylist list = parseHlsPlaylist(text.str(), "");
        for (const auto& seg : list.segments) {
            SegmentListEntry e;
            if (!isSegmentName(seg.uri, e.index))
                continue;
            e.duration = seg.duration;
            e.discontinuity = seg.discontinuity;
            if (seg.mapIndex >= 0)
                e.mapFile = list.maps[seg.mapIndex].uri;
            entries.push_back(e);
        }
        if (!entries.empty())
            return entries;
    }
    // No list (a folder from elsewhere): every number up to the highest segment file.
    int highest = 0;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(u8path(episodeFolder), ec)) {
        int n = 0;
        auto name = item.path().filename().u8string();
        if (item.is_regular_file() && isSegmentName(std::string(name.begin(), name.end()), n))
            highest = std::max(highest, n);
    }
    for (int i = 1; i <= highest; ++i)
        entries.push_back(SegmentListEntry{i, 0, {}, false});
    return entries;
}

bool holdsSegmentFiles(const std::string& episodeFolder)
{
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(u8path(episodeFolder), ec)) {
        int n = 0;
        auto name = item.path().filename().u8string();
        if (item.is_regular_file() && isSegmentName(std::string(name.begin(), name.end()), n))
            return true;
    }
    return false;
}

bool remuxToMp4(const std::vector<std::string>& files, const std::string& outPath, std::string& error,
                const std::function<void(size_t)>& onFile)
{
    // libavformat's notes (such as the faststart second pass) are not for the user's terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    SequentialReader reader;
    reader.files = &files;
    reader.onFile = &onFile;

    InputOwner in;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) {
        error = "内存不足";
        return false;
    }
    in.io = avio_alloc_context(buffer, kBufferSize, 0, &reader, &SequentialReader::read, nullptr, nullptr);
    in.ctx = avformat_alloc_context();
    if (in.io == nullptr || in.ctx == nullptr) {
        if (in.io == nullptr)
            av_free(buffer);
        error = "内存不足";
        return false;
    }
    in.ctx->pb = in.io;
    int rc = avformat_open_input(&in.ctx, nullptr, nullptr, nullptr);
    if (rc < 0) {
        error = "无法识别分段格式: " + avError(rc);
        return false;
    }
    rc = avformat_find_stream_info(in.ctx, nullptr);
    if (rc < 0) {
        error = "无法读取流信息: " + avError(rc);
        return false;
    }

    OutputOwner out;
    rc = avformat_alloc_output_context2(&out.ctx, nullptr, "mp4", outPath.c_str());
    if (rc < 0 || out.ctx == nullptr) {
        error = "无法创建MP4: " + avError(rc);
        return false;
    }
    std::vector<int> mapping(in.ctx->nb_streams, -1);
    std::vector<TimestampTrack> tracks;
    int64_t start = in.ctx->start_time == AV_NOPTS_VALUE ? 0 : in.ctx->start_time;
    for (unsigned i = 0; i < in.ctx->nb_streams; ++i) {
        AVStream* src = in.ctx->streams[i];
        auto type = src->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (src->codecpar->codec_id == AV_CODEC_ID_NONE)
            continue;
        AVStream* dst = avformat_new_stream(out.ctx, nullptr);
        if (dst == nullptr || avcodec_parameters_copy(dst->codecpar, src->codecpar) < 0) {
            error = "无法复制流参数";
            return false;
        }
        dst->codecpar->codec_tag = 0;
        dst->time_base = src->time_base;
        mapping[i] = static_cast<int>(tracks.size());
        TimestampTrack t;
        t.offset = -av_rescale_q(start, AV_TIME_BASE_Q, src->time_base);
        t.bigJump = av_rescale_q(10, AVRational{1, 1}, src->time_base);
        tracks.push_back(t);
    }
    if (tracks.empty()) {
        error = "分段中没有音视频流";
        return false;
    }
    rc = avio_open(&out.ctx->pb, outPath.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        error = "无法写入MP4: " + avError(rc);
        return false;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(out.ctx, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = "无法写入MP4头: " + avError(rc);
        return false;
    }
    PacketOwner packet;
    AVPacket* pkt = packet.pkt;
    int64_t packets = 0;
    while ((rc = av_read_frame(in.ctx, pkt)) >= 0) {
        int target = pkt->stream_index < static_cast<int>(mapping.size()) ? mapping[pkt->stream_index] : -1;
        if (target < 0) {
            av_packet_unref(pkt);
            continue;
        }
        AVStream* src = in.ctx->streams[pkt->stream_index];
        tracks[target].fix(pkt);
        pkt->stream_index = target;
        pkt->pos = -1;
        av_packet_rescale_ts(pkt, src->time_base, out.ctx->streams[target]->time_base);
        rc = av_interleaved_write_frame(out.ctx, pkt);
        av_packet_unref(pkt);
        if (rc < 0) {
            error = "写入MP4失败: " + avError(rc);
            return false;
        }
        ++packets;
    }
    if (rc != AVERROR_EOF) {
        error = "读取分段失败: " + avError(rc);
        return false;
    }
    if (packets == 0) {
        error = "分段中没有数据";
        return false;
    }
    rc = av_write_trailer(out.ctx);
    if (rc < 0) {
        error = "写入MP4失败: " + avError(rc);
        return false;
    }
    return true;
}

bool joinFiles(const std::vector<std::string>& files, const std::string& outPath,
               const std::function<void(size_t)>& onFile)
{
    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr)
        return false;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (size_t i = 0; i < files.size() && ok; ++i) {
        if (onFile)
            onFile(i);
        FILE* in = std::fopen(files[i].c_str(), "rb");
        if (in == nullptr)
            continue;
        size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            if (std::fwrite(buffer.data(), 1, got, out) != got) {
                ok = false;
                break;
            }
        }
        std::fclose(in);
    }
    if (std::fclose(out) != 0)
        ok = false;
    return ok;
}

MergeReport mergeSegments(DownloadView& view, int row, const std::string& episode, const std::string& seriesPath)
{
    const std::string sep = pathSeparator();
    const std::string episodeFolder = seriesPath + sep + episode;
    const std::string outPath = seriesPath + sep + episode + ".mp4";
    MergeReport report;

    view.appendLog("准备执行 TS 合并 MP4", kMergeLog);
    view.appendLog("创建MP4文件完成", kMergeLog);
    view.setCellText(row, kColumnStatus, "合并中");

    std::vector<SegmentListEntry> entries = readSegmentList(episodeFolder);
    report.expected = static_cast<int>(entries.size());
    const int n = report.expected;
    view.setProgressMaximum(1, n);

    // The input files in order: each initialisation section before the first segment it serves;
    // segments without a file are left out and named afterwards.
    std::vector<std::string> files;
    std::vector<int> segmentOfFile; // segment number of each input, 0 for a section
    std::string map;
    std::error_code ec;
    for (const auto& e : entries) {
        std::string path = episodeFolder + sep + std::to_string(e.index) + ".ts";
        if (!fs::is_regular_file(u8path(path), ec)) {
            report.missing.push_back(e.index);
            continue;
        }
        if (!e.mapFile.empty() && e.mapFile != map) {
            map = e.mapFile;
            files.push_back(episodeFolder + sep + map);
            segmentOfFile.push_back(0);
        }
        files.push_back(path);
        segmentOfFile.push_back(e.index);
        ++report.merged;
    }
    int position = 0;
    auto onFile = [&](size_t i) {
        if (segmentOfFile[i] == 0)
            return;
        ++position;
        view.appendLog("正在合并 " + std::to_string(segmentOfFile[i]) + ".ts / " + std::to_string(n), kMergeLog);
        view.setProgressValue(1, position);
    };

    const std::string tempPath = outPath + ".part";
    if (report.merged > 0) {
        std::string why;
        report.remuxed = remuxToMp4(files, tempPath, why, onFile);
        if (!report.remuxed) {
            position = 0;
            report.written = joinFiles(files, tempPath, onFile);
            view.appendLog("转换MP4失败(" + why + ")," +
                               (report.written ? "已按字节顺序拼接TS分段" : "按字节拼接也未能写入文件"),
                           kMergeLog);
        } else {
            report.written = true;
        }
        if (report.written) {
            fs::rename(u8path(tempPath), u8path(outPath), ec);
            report.written = !ec;
        }
        if (!report.written)
            fs::remove(u8path(tempPath), ec);
    }

    const bool complete = report.written && report.missing.empty() && n > 0;
    view.setCellText(row, kColumnDownloaded, std::to_string(report.merged));
    if (complete) {
        view.setCellText(row, kColumnStatus, "完成");
    } else if (!report.missing.empty()) {
        view.setCellText(row, kColumnStatus, "缺" + std::to_string(report.missing.size()) + "段");
        std::string names;
        for (size_t i = 0; i < report.missing.size(); ++i) {
            if (i == 20) {
                names += " …";
                break;
            }
            names += (i ? ", " : "") + std::to_string(report.missing[i]) + ".ts";
        }
        view.appendLog("第 " + episode + " 集缺少 " + std::to_string(report.missing.size()) + " 个分段: " + names,
                       kMergeLog);
    } else {
        view.setCellText(row, kColumnStatus, n == 0 ? "无分段" : "合并失败");
    }
    if (complete && view.deleteSegmentsChecked())
        fs::remove_all(u8path(episodeFolder), ec);
    view.appendLog("第 " + episode + " 集合并完成", kMergeLog);
    // A finished episode leaves the next run's selection; one with gaps stays ticked, so the next
    // run fetches only what is missing.
    if (complete)
        view.setRowChecked(row, false);
    return report;
}
