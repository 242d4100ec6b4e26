#include "download/remux.h"

#include "download/libav_owners.h"
#include "util/utf8_path.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// A timestamp step larger than this (back or forward) within a run is a discontinuity.
constexpr int64_t kJumpUs = AV_TIME_BASE / 2;
constexpr int kIgnored = -1;  // not audio or video (timed metadata and the like)
constexpr int kUnplaced = -2; // media without a track

// One track of the MP4, fed by a stream of each run that carries its kind of media.
struct Track {
    CodecParametersPtr par;
    AVRational timeBase{1, 90000};
    AVStream* out = nullptr;
    int usedInRun = -1;
    bool started = false;
    int epoch = -1;           // the timeline of its last packet
    int64_t lastDts = 0;      // output time base
    int64_t lastDuration = 0; // output time base
    int64_t skew = 0;         // output time base: nudges that keep its timestamps rising
    int64_t lastDtsUs = 0;
    int64_t lastEndUs = 0;
};

// The clock of one input: the offset (µs) that puts its timestamps onto the output's timeline, and
// the offset before the last jump, for packets that still belong to the old timeline.
struct InputClock {
    bool pending = false; // no start known: the first packet sets the offset
    int epoch = 0;
    int64_t offsetUs = 0;
    bool hasPrev = false;
    int prevEpoch = 0;
    int64_t prevOffsetUs = 0;
};

bool usableForMp4(const AVCodecParameters* par)
{
    if (par->codec_id == AV_CODEC_ID_NONE)
        return false;
    if (avformat_query_codec(av_guess_format("mp4", nullptr, nullptr), par->codec_id,
                             FF_COMPLIANCE_NORMAL) != 1)
        return false;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
        return par->width > 0 && par->height > 0;
    return par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
}

// Whether a stream with parameters p can continue a track made from t.
bool continues(const AVCodecParameters* t, const AVCodecParameters* p)
{
    if (t->codec_type != p->codec_type || t->codec_id != p->codec_id)
        return false;
    if (t->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (p->sample_rate > 0 && p->sample_rate != t->sample_rate)
            return false;
        if (p->ch_layout.nb_channels > 0 && p->ch_layout.nb_channels != t->ch_layout.nb_channels)
            return false;
    }
    return true;
}

std::string mediaKind(AVMediaType type)
{
    return type == AVMEDIA_TYPE_VIDEO ? "视频" : "音频";
}

// The timestamp (90 kHz) of a packed audio segment's first sample: the ID3 PRIV frame
// "com.apple.streaming.transportStreamTimestamp" at the start of the file. AV_NOPTS_VALUE when
// the file does not start with one.
int64_t packedAudioTimestamp(const std::string& path)
{
    UniqueFile f = openUtf8File(path, "rb");
    if (f == nullptr)
        return AV_NOPTS_VALUE;
    unsigned char head[10];
    std::string tag;
    if (std::fread(head, 1, 10, f.get()) == 10 && head[0] == 'I' && head[1] == 'D' &&
        head[2] == '3') {
        const size_t size = (head[6] & 0x7f) << 21 | (head[7] & 0x7f) << 14 |
                            (head[8] & 0x7f) << 7 | (head[9] & 0x7f);
        tag.resize(std::min<size_t>(size, 1 << 16));
        tag.resize(std::fread(tag.data(), 1, tag.size(), f.get()));
    }
    f.reset();
    const int version = tag.empty() ? 0 : head[3];
    static const std::string owner = "com.apple.streaming.transportStreamTimestamp";
    for (size_t at = 0; at + 10 <= tag.size();) {
        auto byte = [&](size_t i) { return static_cast<unsigned char>(tag[at + i]); };
        const size_t length = version >= 4
                                  ? (byte(4) & 0x7f) << 21 | (byte(5) & 0x7f) << 14 |
                                        (byte(6) & 0x7f) << 7 | (byte(7) & 0x7f)
                                  : size_t(byte(4)) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7);
        if (length == 0 || at + 10 + length > tag.size())
            break;
        if (tag.compare(at, 4, "PRIV") == 0 && length >= owner.size() + 1 + 8 &&
            tag.compare(at + 10, owner.size() + 1, owner.c_str(), owner.size() + 1) == 0) {
            int64_t ts = 0;
            for (size_t i = 0; i < 8; ++i)
                ts = ts << 8 | static_cast<unsigned char>(tag[at + 10 + owner.size() + 1 + i]);
            return ts & ((int64_t(1) << 33) - 1);
        }
        at += 10 + length;
    }
    return AV_NOPTS_VALUE;
}

// Whether a demuxer reads a raw audio stream, whose timestamps only count samples from its start.
bool rawAudio(const AVFormatContext* ctx)
{
    const std::string name = ctx->iformat->name;
    return name == "aac" || name == "mp3" || name == "ac3" || name == "eac3";
}

class Remuxer {
public:
    Remuxer(const std::vector<RemuxRun>& runs, const std::string& outPath, RemuxOutcome& outcome,
            const std::function<void(size_t, int)>& onFile)
            : runs_(runs), outPath_(outPath), outcome_(outcome), onFile_(onFile)
    {}

    bool run()
    {
        if (!planTracks() || !openOutput())
            return false;
        for (size_t r = 0; r < runs_.size(); ++r)
            if (!writeRun(r))
                return false;
        if (packets_ == 0)
            return fail("分段中没有数据");
        int rc = av_write_trailer(out_.ctx);
        if (rc < 0)
            return fail("写入MP4失败: " + avError(rc));
        return true;
    }

private:
    using Plan = std::vector<int>; // track of each stream of an input

    const std::vector<RemuxRun>& runs_;
    const std::string& outPath_;
    RemuxOutcome& outcome_;
    const std::function<void(size_t, int)>& onFile_;
    Muxer out_;
    bool headerWritten_ = false;
    std::vector<Track> tracks_;
    std::vector<std::vector<Plan>> plans_; // [run][input]
    std::vector<std::vector<std::vector<bool>>>
        atStart_; // [run][input][stream]: in the first segment
    std::set<std::string> leftOutSeen_;
    int64_t endUs_ = 0; // where the output's timeline has got to
    int epochs_ = 0;
    int64_t packets_ = 0;

    bool fail(const std::string& why)
    {
        outcome_.error = why;
        return false;
    }

    std::function<void(int)> progress(size_t input) const
    {
        if (!onFile_)
            return {};
        return [this, input](int segment) { onFile_(input, segment); };
    }

    // The track a stream goes to: one of its kind and codec that this run has not fed yet, else a
    // new one. A stream that turns up after the start of its run (a new program map without a
    // discontinuity tag) takes over a track of its kind and codec when there is one. Once the
    // header is written no track can be added.
    int place(const AVCodecParameters* par, AVRational timeBase, int run, bool late)
    {
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO)
            return kIgnored;
        if (par->codec_id == AV_CODEC_ID_NONE)
            return kUnplaced;
        for (size_t t = 0; t < tracks_.size(); ++t) {
            if (tracks_[t].usedInRun != run && continues(tracks_[t].par.get(), par)) {
                tracks_[t].usedInRun = run;
                return static_cast<int>(t);
            }
        }
        if (late || headerWritten_) {
            for (size_t t = 0; t < tracks_.size(); ++t)
                if (continues(tracks_[t].par.get(), par))
                    return static_cast<int>(t);
        }
        if (headerWritten_ || !usableForMp4(par))
            return kUnplaced;
        Track t;
        t.par.reset(avcodec_parameters_alloc());
        if (!t.par || avcodec_parameters_copy(t.par.get(), par) < 0)
            return kUnplaced;
        t.usedInRun = run;
        t.timeBase = timeBase;
        tracks_.push_back(std::move(t));
        return static_cast<int>(tracks_.size()) - 1;
    }

    // Reads every run's stream information (as the writing will read it again) to learn the tracks
    // the MP4 needs before anything is written; the streams of a run's first segment are the ones
    // it starts with.
    bool planTracks()
    {
        plans_.resize(runs_.size());
        atStart_.resize(runs_.size());
        for (size_t r = 0; r < runs_.size(); ++r) {
            for (size_t i = 0; i < runs_[r].inputs.size(); ++i) {
                const auto& files = runs_[r].inputs[i].files;
                std::vector<RemuxFile> head;
                for (const auto& f : files) {
                    head.push_back(f);
                    if (f.segment > 0)
                        break;
                }
                std::set<int> startIds;
                if (head.size() < files.size()) {
                    Demuxer first;
                    std::string ignored;
                    if (first.open(head, nullptr, ignored))
                        for (unsigned k = 0; k < first.ctx->nb_streams; ++k)
                            startIds.insert(first.ctx->streams[k]->id);
                }
                Demuxer d;
                std::string why;
                if (!d.open(files, nullptr, why)) {
                    // The first input must be readable; a later run that is not is left out.
                    if (r == 0 && i == 0)
                        return fail(why);
                    noteLeftOut(LostMedia::Content,
                                firstSegmentText(runs_[r].inputs[i], i) + "起的内容 (" + why + ")");
                    plans_[r].emplace_back();
                    atStart_[r].emplace_back();
                    continue;
                }
                Plan plan(d.ctx->nb_streams, kIgnored);
                std::vector<bool> atStart(d.ctx->nb_streams, true);
                for (unsigned k = 0; k < d.ctx->nb_streams; ++k) {
                    AVStream* st = d.ctx->streams[k];
                    atStart[k] = head.size() == files.size() || startIds.count(st->id) > 0;
                    plan[k] = place(st->codecpar, st->time_base, static_cast<int>(r), !atStart[k]);
                }
                plans_[r].push_back(std::move(plan));
                atStart_[r].push_back(std::move(atStart));
            }
        }
        if (tracks_.empty())
            return fail("分段中没有音视频流");
        return true;
    }

    bool openOutput()
    {
        int rc = avformat_alloc_output_context2(&out_.ctx, nullptr, "mp4", outPath_.c_str());
        if (rc < 0 || out_.ctx == nullptr)
            return fail("无法创建MP4: " + avError(rc));
        for (auto& t : tracks_) {
            t.out = avformat_new_stream(out_.ctx, nullptr);
            if (t.out == nullptr || avcodec_parameters_copy(t.out->codecpar, t.par.get()) < 0)
                return fail("无法复制流参数");
            t.out->codecpar->codec_tag = 0;
            t.out->time_base = t.timeBase;
        }
        rc = avio_open(&out_.ctx->pb, outPath_.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0)
            return fail("无法写入MP4: " + avError(rc));
        AVDictionary* options = nullptr;
        av_dict_set(&options, "movflags", "+faststart", 0);
        rc = avformat_write_header(out_.ctx, &options);
        av_dict_free(&options);
        if (rc < 0)
            return fail("无法写入MP4头: " + avError(rc));
        headerWritten_ = true;
        return true;
    }

    // "第 5 段" or "分离音轨第 5 段".
    static std::string segmentText(size_t input, int segment)
    {
        return (input == 0 ? "" : "分离音轨") + std::string("第 ") + std::to_string(segment) +
               " 段";
    }
    static std::string firstSegmentText(const RemuxInput& input, size_t index)
    {
        for (const auto& f : input.files)
            if (f.segment > 0)
                return segmentText(index, f.segment);
        return segmentText(index, 0);
    }

    void noteLeftOut(LostMedia kind, const std::string& what)
    {
        if (leftOutSeen_.insert(what).second)
            outcome_.leftOut.push_back(LeftOut{kind, what});
    }

    struct Slot {
        std::unique_ptr<Demuxer> demuxer;
        Demuxer* d = nullptr;
        size_t input = 0;
        Plan plan;
        InputClock clock;
        // Packed audio: where its sample count starts on the transport clock (µs), and whether it
        // has a clock of its own at all (it has not without its ID3 timestamp).
        int64_t baseUs = 0;
        bool ownClock = true;
        PacketPtr pkt;
        bool has = false;
        bool done = false;
    };

    bool fill(Slot& s, int run)
    {
        while (!s.done && !s.has) {
            int rc = av_read_frame(s.d->ctx, s.pkt.get());
            if (rc == AVERROR_EOF) {
                s.done = true;
                break;
            }
            if (rc < 0)
                return fail("读取分段失败: " + avError(rc));
            const int index = s.pkt->stream_index;
            AVStream* st = s.d->ctx->streams[index];
            // A stream that appears within the run (a new program map) is placed now.
            while (static_cast<int>(s.plan.size()) <= index) {
                AVStream* added = s.d->ctx->streams[s.plan.size()];
                s.plan.push_back(place(added->codecpar, added->time_base, run, true));
            }
            int track = s.plan[index];
            if (track == kUnplaced) {
                // A stream the run starts with is named from the run's first segment; one that
                // turns up later from about where it was read.
                const auto& atStart = atStart_[run][s.input];
                const bool fromStart = index < static_cast<int>(atStart.size()) && atStart[index];
                noteLeftOut(st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? LostMedia::Video
                                                                           : LostMedia::Audio,
                            mediaKind(st->codecpar->codec_type) + "流 " +
                                avcodec_get_name(st->codecpar->codec_id) + " (" +
                                (fromStart ? firstSegmentText(runs_[run].inputs[s.input], s.input)
                                           : segmentText(s.input, s.d->reader.segment)) +
                                "起)");
            }
            if (track < 0 || (s.pkt->dts == AV_NOPTS_VALUE && s.pkt->pts == AV_NOPTS_VALUE &&
                              !tracks_[track].started)) {
                av_packet_unref(s.pkt.get());
                continue;
            }
            if (s.baseUs != 0) {
                const int64_t base = av_rescale_q(s.baseUs, kMicroseconds, st->time_base);
                if (s.pkt->pts != AV_NOPTS_VALUE)
                    s.pkt->pts += base;
                if (s.pkt->dts != AV_NOPTS_VALUE)
                    s.pkt->dts += base;
            }
            s.has = true;
        }
        return true;
    }

    // Where the slot's packet would land on the output's timeline (µs), to interleave inputs.
    int64_t landing(const Slot& s) const
    {
        AVStream* st = s.d->ctx->streams[s.pkt->stream_index];
        int64_t ts = s.pkt->dts != AV_NOPTS_VALUE ? s.pkt->dts : s.pkt->pts;
        if (ts == AV_NOPTS_VALUE)
            return INT64_MIN;
        return av_rescale_q(ts, st->time_base, kMicroseconds) +
               (s.clock.pending ? 0 : s.clock.offsetUs);
    }

    bool writeRun(size_t r)
    {
        const RemuxRun& run = runs_[r];
        std::vector<std::unique_ptr<Slot>> slots;
        for (size_t i = 0; i < run.inputs.size(); ++i) {
            if (plans_[r][i].empty())
                continue; // unreadable, already named
            auto s = std::make_unique<Slot>();
            s->demuxer = std::make_unique<Demuxer>();
            std::string why;
            if (!s->demuxer->open(run.inputs[i].files, progress(i), why))
                return fail(why);
            s->d = s->demuxer.get();
            s->input = i;
            s->plan = plans_[r][i];
            if (rawAudio(s->d->ctx)) {
                // Packed audio carries the time of its first sample in an ID3 tag; without one it
                // can only start with the run.
                int64_t ts = AV_NOPTS_VALUE;
                for (const auto& f : run.inputs[i].files)
                    if (f.segment > 0) {
                        ts = packedAudioTimestamp(f.path);
                        break;
                    }
                s->ownClock = ts != AV_NOPTS_VALUE;
                s->baseUs = s->ownClock ? av_rescale_q(ts, AVRational{1, 90000}, kMicroseconds) : 0;
            }
            s->pkt.reset(av_packet_alloc());
            if (s->pkt == nullptr)
                return fail("内存不足");
            slots.push_back(std::move(s));
        }
        // The run starts, on one clock for all of its inputs, where the output has got to: its
        // earliest stream (of those it starts with) at the end of what came before.
        auto startOf = [&](const Slot& s) {
            int64_t start = AV_NOPTS_VALUE;
            const auto& atStart = atStart_[r][s.input];
            for (size_t k = 0; k < s.plan.size() && k < s.d->ctx->nb_streams; ++k) {
                AVStream* st = s.d->ctx->streams[k];
                if (s.plan[k] < 0 || !atStart[k] || st->start_time == AV_NOPTS_VALUE)
                    continue;
                int64_t at = av_rescale_q(st->start_time, st->time_base, kMicroseconds) + s.baseUs;
                start = start == AV_NOPTS_VALUE ? at : std::min(start, at);
            }
            return start;
        };
        int64_t start = AV_NOPTS_VALUE;
        for (const auto& s : slots) {
            int64_t at = s->ownClock ? startOf(*s) : AV_NOPTS_VALUE;
            if (at != AV_NOPTS_VALUE)
                start = start == AV_NOPTS_VALUE ? at : std::min(start, at);
        }
        ++epochs_;
        for (auto& s : slots) {
            s->clock = InputClock{};
            s->clock.epoch = epochs_;
            // An input without a clock of its own starts with the run.
            const int64_t from = s->ownClock ? start : startOf(*s);
            s->clock.pending = from == AV_NOPTS_VALUE;
            s->clock.offsetUs = from == AV_NOPTS_VALUE ? 0 : endUs_ - from;
        }
        for (;;) {
            Slot* next = nullptr;
            for (size_t i = 0; i < slots.size(); ++i) {
                if (!fill(*slots[i], static_cast<int>(r)))
                    return false;
                if (slots[i]->has && (next == nullptr || landing(*slots[i]) < landing(*next)))
                    next = slots[i].get();
            }
            if (next == nullptr)
                return true;
            if (!writePacket(*next))
                return false;
            next->has = false;
        }
    }

    bool writePacket(Slot& s)
    {
        AVPacket* pkt = s.pkt.get();
        AVStream* in = s.d->ctx->streams[pkt->stream_index];
        Track& t = tracks_[s.plan[pkt->stream_index]];
        const AVRational tbIn = in->time_base;
        const AVRational tbOut = t.out->time_base;
        InputClock& c = s.clock;

        int64_t dts = 0, pts = 0;
        bool newTimeline = false;
        int64_t duration = pkt->duration > 0 ? av_rescale_q(pkt->duration, tbIn, tbOut) : 0;
        if (pkt->dts == AV_NOPTS_VALUE && pkt->pts == AV_NOPTS_VALUE) {
            // No time at all: right after the track's last packet.
            dts = pts = t.lastDts + std::max<int64_t>(t.lastDuration, 1);
        } else {
            if (pkt->dts == AV_NOPTS_VALUE)
                pkt->dts = pkt->pts;
            if (pkt->pts == AV_NOPTS_VALUE)
                pkt->pts = pkt->dts;
            const int64_t rawDtsUs = av_rescale_q(pkt->dts, tbIn, kMicroseconds);
            const int64_t rawPtsUs = av_rescale_q(pkt->pts, tbIn, kMicroseconds);
            if (c.pending) {
                c.pending = false;
                c.offsetUs = endUs_ - rawPtsUs;
            }
            auto jumped = [&](int64_t offsetUs) {
                int64_t at = rawDtsUs + offsetUs;
                return at < t.lastDtsUs - kJumpUs || at > t.lastEndUs + kJumpUs;
            };
            int64_t offsetUs = c.offsetUs;
            int epoch = c.epoch;
            if (t.started && t.epoch == c.epoch) {
                if (jumped(c.offsetUs)) {
                    // The timestamps jumped: the input's streams move on together from the end of
                    // what has been written.
                    c.prevOffsetUs = c.offsetUs;
                    c.prevEpoch = c.epoch;
                    c.hasPrev = true;
                    c.epoch = ++epochs_;
                    c.offsetUs = endUs_ - rawPtsUs;
                    offsetUs = c.offsetUs;
                    epoch = c.epoch;
                }
            } else if (t.started && c.hasPrev && t.epoch == c.prevEpoch &&
                       !jumped(c.prevOffsetUs)) {
                // A late packet of the timeline before the jump.
                offsetUs = c.prevOffsetUs;
                epoch = c.prevEpoch;
            }
            if (t.epoch != epoch) {
                t.skew = 0;
                newTimeline = true;
            }
            t.epoch = epoch;
            const int64_t offset = av_rescale_q(offsetUs, kMicroseconds, tbOut);
            dts = av_rescale_q(pkt->dts, tbIn, tbOut) + offset + t.skew;
            pts = av_rescale_q(pkt->pts, tbIn, tbOut) + offset + t.skew;
        }
        if (t.started) {
            // Decoding times keep rising within a track: a small step back is nudged forward.
            if (dts < t.lastDts) {
                int64_t moved = t.lastDts + std::max<int64_t>(t.lastDuration, 1) - dts;
                t.skew += moved;
                dts += moved;
                pts += moved;
            } else if (dts == t.lastDts) {
                t.skew += 1;
                dts += 1;
                pts += 1;
            }
        }
        if (pts < dts)
            pts = dts;
        // Without a duration, the packet is taken to last as long as the one before it.
        const int64_t length = duration > 0 ? duration : t.lastDuration;
        if (duration > 0)
            t.lastDuration = duration;
        else if (t.started && dts > t.lastDts && !newTimeline)
            t.lastDuration = dts - t.lastDts;
        t.lastDts = dts;
        t.lastDtsUs = av_rescale_q(dts, tbOut, kMicroseconds);
        const int64_t endUs = av_rescale_q(pts + length, tbOut, kMicroseconds);
        t.lastEndUs = t.started && !newTimeline ? std::max(t.lastEndUs, endUs) : endUs;
        t.started = true;
        endUs_ = std::max(endUs_, endUs);

        pkt->dts = dts;
        pkt->pts = pts;
        pkt->duration = duration;
        pkt->stream_index = t.out->index;
        pkt->pos = -1;
        int rc = av_interleaved_write_frame(out_.ctx, pkt);
        av_packet_unref(pkt);
        if (rc < 0)
            return fail("写入MP4失败: " + avError(rc));
        ++packets_;
        return true;
    }
};

} // namespace

bool remuxToMp4(const std::vector<RemuxRun>& runs, const std::string& outPath,
                RemuxOutcome& outcome, const std::function<void(size_t, int)>& onFile)
{
    // libavformat's notes (such as the faststart second pass) are not for the user's terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    if (runs.empty() || runs[0].inputs.empty()) {
        outcome.error = "没有分段";
        return false;
    }
    Remuxer remuxer(runs, outPath, outcome, onFile);
    return remuxer.run();
}
