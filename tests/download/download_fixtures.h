#pragma once
// Shared pieces of the downloader tests: HLS media made by ffmpeg (cached in the build folder),
// a loopback server that serves a fixture folder (with byte ranges), a recording download view,
// and an MP4 check through libavformat.

#include "download/download_run.h"
#include "download/download_view.h"
#include "support/test_server.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace dltest {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const fs::path& p, const std::string& data)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << data;
}

inline fs::path u8(const std::string& s)
{
    return fs::path(std::u8string(s.begin(), s.end()));
}

inline std::string replaceAll(std::string s, const std::string& from, const std::string& to)
{
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

// A fixture folder, made once per build folder: built aside by build(folder), then moved into place
// with its "done" mark, so that test programs running at the same time never see half of one.
inline fs::path fixtureFolder(const std::string& name,
                              const std::function<bool(const fs::path&)>& build)
{
    fs::path dir = fs::path(QY_BINARY_DIR) / "download-fixtures" / name;
    if (fs::exists(dir / "done"))
        return dir;
    fs::path aside = dir;
    aside += ".part" + std::to_string(QCoreApplication::applicationPid());
    fs::remove_all(aside);
    fs::create_directories(aside);
    if (!build(aside)) {
        fs::remove_all(aside);
        return {};
    }
    writeFile(aside / "done", "");
    std::error_code ec;
    if (!fs::exists(dir / "done"))
        fs::remove_all(dir, ec); // left half-made by an older run
    fs::rename(aside, dir, ec);
    if (ec)
        fs::remove_all(aside, ec); // another program put it in place first
    return fs::exists(dir / "done") ? dir : fs::path();
}

// One fixture: a folder with index.m3u8 and its files, made once per build folder.
//   kind "ts"     TS segments of 1 s (H.264 + ADTS AAC)
//   kind "aes"    the same, encrypted with AES-128 (key.bin, IV from the sequence number)
//   kind "single" one TS file addressed by EXT-X-BYTERANGE
//   kind "fmp4"   fragmented MP4 segments with an EXT-X-MAP initialisation section
inline fs::path hlsFixture(const std::string& kind, int seconds)
{
    return fixtureFolder(kind + std::to_string(seconds), [&](const fs::path& dir) {
        std::string d = dir.string();
        std::string cmd =
            "ffmpeg -y -nostdin -loglevel error -f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi "
            "-i "
            "sine=frequency=440:sample_rate=44100 -t " +
            std::to_string(seconds) +
            " -c:v libx264 -preset ultrafast -g 25 -keyint_min 25 -sc_threshold 0 -pix_fmt yuv420p "
            "-c:a aac -b:a 64k -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod ";
        if (kind == "aes") {
            std::string key = "0123456789abcdef";
            writeFile(dir / "key.bin", key);
            writeFile(dir / "keyinfo", "key.bin\n" + d + "/key.bin\n");
            cmd += "-hls_key_info_file " + d + "/keyinfo -hls_segment_filename " + d + "/seg%d.ts ";
        } else if (kind == "single") {
            cmd += "-hls_flags single_file ";
        } else if (kind == "fmp4") {
            cmd +=
                "-hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4 -hls_segment_filename " +
                d + "/seg%d.m4s ";
        } else {
            cmd += "-hls_segment_filename " + d + "/seg%d.ts ";
        }
        cmd += d + "/index.m3u8";
        if (std::system(cmd.c_str()) != 0)
            return false;
        return true;
    });
}

// Encodes seconds of test picture and tone with ffmpeg's HLS muxer into dir as name%d.ts (1 s
// segments) and name.m3u8; extra holds further output options. False when ffmpeg fails.
inline bool encodeHls(const fs::path& dir, const std::string& name, int seconds,
                      const std::string& video, const std::string& audio, const std::string& extra)
{
    std::string d = dir.string();
    std::string cmd = "ffmpeg -y -nostdin -loglevel error -f lavfi -i " + video;
    if (!audio.empty())
        cmd += " -f lavfi -i " + audio;
    cmd +=
        " -t " + std::to_string(seconds) +
        " -c:v libx264 -preset ultrafast -g 25 -keyint_min 25 -sc_threshold 0 -pix_fmt yuv420p " +
        extra +
        " -f hls -hls_time 1 -hls_list_size 0 -hls_playlist_type vod -hls_segment_filename " + d +
        "/" + name + "%d.ts " + d + "/" + name + ".m3u8";
    return std::system(cmd.c_str()) == 0;
}

// The "#EXTINF" line and the URI of each segment of a media playlist, in order.
inline std::vector<std::pair<std::string, std::string>> segmentLines(const fs::path& playlist)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(readFile(playlist));
    std::string line, extinf;
    while (std::getline(in, line)) {
        if (line.rfind("#EXTINF", 0) == 0)
            extinf = line;
        else if (!line.empty() && line[0] != '#')
            out.emplace_back(extinf, line);
    }
    return out;
}

// Streams stitched from separate ffmpeg encodes between discontinuity tags, as servers that insert
// advertisements or idents serve them. The main encode is 160x90 with stream ids 0x100/0x101 and
// timestamps from 1.4 s, six 1 s segments (main0-5.ts).
//   inserted.m3u8  main0-2, three segments of another encode (128x72, other picture and tone,
//   stream
//                  ids 0x300/0x301, timestamps from 601.4 s), main3-5
//   late-audio.m3u8  a 2 s ident without sound (128x72), then main0-5: audio first appears in the
//                  third segment
//   foreign-audio.m3u8  main0-2, then 2 s whose sound is SMPTE 302M, which an MP4 cannot hold
// Each list separates the encodes with #EXT-X-DISCONTINUITY.
inline fs::path stitchedFixture()
{
    return fixtureFolder("stitched", [&](const fs::path& dir) {
        bool ok =
            encodeHls(dir, "main", 6, "testsrc2=size=160x90:rate=25",
                      "sine=frequency=440:sample_rate=44100", "-c:a aac -b:a 64k") &&
            encodeHls(
                dir, "ad", 3, "testsrc=size=128x72:rate=25", "sine=frequency=880:sample_rate=44100",
                "-c:a aac -b:a 48k -streamid 0:0x300 -streamid 1:0x301 -output_ts_offset 600") &&
            encodeHls(dir, "ident", 2, "rgbtestsrc=size=128x72:rate=25", "",
                      "-an -streamid 0:0x200") &&
            encodeHls(dir, "broadcast", 2, "testsrc2=size=160x90:rate=25",
                      "sine=frequency=440:sample_rate=48000",
                      "-c:a s302m -strict -2 -ac 2 -output_ts_offset 100");
        if (!ok)
            return false;
        auto main = segmentLines(dir / "main.m3u8");
        auto stitch = [&](const std::string& name,
                          const std::vector<std::vector<std::pair<std::string, std::string>>>&
                              parts) {
            std::string text =
                "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-PLAYLIST-TYPE:VOD\n";
            for (size_t p = 0; p < parts.size(); ++p) {
                if (p > 0)
                    text += "#EXT-X-DISCONTINUITY\n";
                for (const auto& [extinf, uri] : parts[p])
                    text += extinf + "\n" + uri + "\n";
            }
            writeFile(dir / name, text + "#EXT-X-ENDLIST\n");
        };
        using Lines = std::vector<std::pair<std::string, std::string>>;
        Lines head(main.begin(), main.begin() + 3), tail(main.begin() + 3, main.end());
        stitch("inserted.m3u8", {head, segmentLines(dir / "ad.m3u8"), tail});
        stitch("late-audio.m3u8", {segmentLines(dir / "ident.m3u8"), main});
        stitch("foreign-audio.m3u8", {head, segmentLines(dir / "broadcast.m3u8")});
        return true;
    });
}

// A master playlist as packagers write it, over media made by ffmpeg's HLS muxer: two video
// variants (160x90 at 400 kb/s in v0/, 96x54 at 100 kb/s in v1/) without sound, and one AAC audio
// rendition (vaudio/, DEFAULT=YES) in their audio group; 4 s in 1 s segments, TS (seg%d.ts) or
// fragmented MP4 (seg%d.m4s after an initialisation section). ffmpeg writes the master
// (master.m3u8) with a nominal BANDWIDTH only; as packagers do, BANDWIDTH becomes the measured
// peak and AVERAGE-BANDWIDTH the measured average of the segments, the audio's included.
inline fs::path masterFixture(bool fragmented)
{
    return fixtureFolder(
        fragmented ? "master-audio-fmp4" : "master-audio-ts", [&](const fs::path& dir) {
            std::string d = dir.string();
            std::string cmd =
                "ffmpeg -y -nostdin -loglevel error -f lavfi -i testsrc2=size=160x90:rate=25 -f "
                "lavfi -i "
                "sine=frequency=440:sample_rate=44100 -t 4 -map 0:v -map 0:v -map 1:a -c:v libx264 "
                "-preset "
                "ultrafast -g 25 -keyint_min 25 -sc_threshold 0 -pix_fmt yuv420p -b:v:0 400k "
                "-b:v:1 100k "
                "-s:v:1 96x54 -c:a aac -b:a 64k -f hls -hls_time 1 -hls_list_size 0 "
                "-hls_playlist_type vod "
                "-var_stream_map \"v:0,agroup:aud v:1,agroup:aud "
                "a:0,agroup:aud,default:yes,name:audio\" "
                "-master_pl_name master.m3u8 " +
                std::string(fragmented ? "-hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4 "
                                       : "") +
                "-hls_segment_filename \"" + d + "/v%v/seg%d." + (fragmented ? "m4s" : "ts") +
                "\" \"" + d + "/v%v/index.m3u8\"";
            if (std::system(cmd.c_str()) != 0)
                return false;
            // Average and peak (the largest segment's) bit rates of a media playlist.
            auto bitRates = [&](const std::string& list) {
                double seconds = 0, bytes = 0, peak = 0;
                for (const auto& [extinf, uri] : segmentLines(dir / list)) {
                    double length = std::atof(extinf.substr(extinf.find(':') + 1).c_str());
                    double size =
                        static_cast<double>(fs::file_size((dir / list).parent_path() / uri));
                    seconds += length;
                    bytes += size;
                    if (length > 0.5)
                        peak = std::max(peak, size * 8 / length);
                }
                return std::make_pair(static_cast<long>(seconds > 0 ? bytes * 8 / seconds : 0),
                                      static_cast<long>(peak));
            };
            const auto audio = bitRates("vaudio/index.m3u8");
            std::istringstream in(readFile(dir / "master.m3u8"));
            std::string line, master, pending;
            static const std::regex bandwidth("BANDWIDTH=\\d+");
            while (std::getline(in, line)) {
                if (line.rfind("#EXT-X-STREAM-INF:", 0) == 0) {
                    pending = line;
                    continue;
                }
                if (!pending.empty() && !line.empty()) {
                    auto rates = bitRates(line);
                    master +=
                        std::regex_replace(
                            pending, bandwidth,
                            "BANDWIDTH=" + std::to_string(rates.second + audio.second) +
                                ",AVERAGE-BANDWIDTH=" + std::to_string(rates.first + audio.first),
                            std::regex_constants::format_first_only) +
                        "\n";
                    pending.clear();
                }
                master += line + "\n";
            }
            writeFile(dir / "master.m3u8", master);
            if (fragmented)
                return true;
            // The same tone as packed audio (ADTS segments, each encoded by itself, whose first
            // sample's time on the transport clock is in an ID3 PRIV tag, 1.4 s as the TS media
            // start plus the segment's place), in vpacked/, named by master-packed.m3u8.
            fs::create_directories(dir / "vpacked");
            std::string list =
                "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-PLAYLIST-TYPE:VOD\n";
            for (int k = 0; k < 4; ++k) {
                const uint64_t ts = 126000 + 90000ull * k;
                std::string priv;
                for (int b = 7; b >= 0; --b) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x",
                                  static_cast<unsigned>((ts >> (8 * b)) & 0xff));
                    priv += hex;
                }
                const std::string name = "seg" + std::to_string(k) + ".aac";
                std::string packed =
                    "ffmpeg -y -nostdin -loglevel error -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100 "
                    "-ss " +
                    std::to_string(k) +
                    " -t 1 -c:a aac -b:a 64k -f adts -write_id3v2 1 "
                    "-metadata 'id3v2_priv.com.apple.streaming.transportStreamTimestamp=" +
                    priv + "' '" + (dir / "vpacked" / name).string() + "'";
                if (std::system(packed.c_str()) != 0)
                    return false;
                list += "#EXTINF:1.000000,\n" + name + "\n";
            }
            writeFile(dir / "vpacked" / "index.m3u8", list + "#EXT-X-ENDLIST\n");
            writeFile(dir / "master-packed.m3u8",
                      replaceAll(master, "vaudio/index.m3u8", "vpacked/index.m3u8"));
            return true;
        });
}

// The packets of each audio and video stream of a media file, in the order read (decoding order
// within a stream): presentation times and durations in seconds.
struct StreamTimeline {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    std::vector<double> pts;
    std::vector<double> duration;
    std::vector<size_t> order; // each packet's place among the packets of all streams
};

inline std::vector<StreamTimeline> readTimeline(const std::string& path)
{
    std::vector<StreamTimeline> out;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return out;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        out.resize(ctx->nb_streams);
        for (unsigned i = 0; i < ctx->nb_streams; ++i)
            out[i].type = ctx->streams[i]->codecpar->codec_type;
        AVPacket* pkt = av_packet_alloc();
        size_t read = 0;
        while (av_read_frame(ctx, pkt) >= 0) {
            if (pkt->stream_index < static_cast<int>(out.size())) {
                out[pkt->stream_index].order.push_back(read++);
                AVRational tb = ctx->streams[pkt->stream_index]->time_base;
                int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
                out[pkt->stream_index].pts.push_back(ts * av_q2d(tb));
                out[pkt->stream_index].duration.push_back(pkt->duration * av_q2d(tb));
            }
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
    }
    avformat_close_input(&ctx);
    return out;
}

// The timeline of the stream of that kind (the first one), or nullptr.
inline const StreamTimeline* timelineOf(const std::vector<StreamTimeline>& t, AVMediaType type)
{
    for (const auto& s : t)
        if (s.type == type)
            return &s;
    return nullptr;
}

// The longest stretch of a stream's timeline with no packet (after one packet's end and before the
// next one's start), in seconds.
inline double longestHole(const StreamTimeline& s)
{
    std::vector<std::pair<double, double>> spans;
    for (size_t i = 0; i < s.pts.size(); ++i)
        spans.emplace_back(s.pts[i], s.pts[i] + s.duration[i]);
    std::sort(spans.begin(), spans.end());
    double hole = 0, end = spans.empty() ? 0 : spans[0].second;
    for (const auto& [from, to] : spans) {
        hole = std::max(hole, from - end);
        end = std::max(end, to);
    }
    return hole;
}

// Serves a byte range of body when the request asks for one other than "bytes=0-".
inline CannedResponse rangedAnswer(const std::string& body, const RecordedRequest& req)
{
    auto range = req.header("Range");
    std::smatch m;
    std::string r = range.value_or("");
    static const std::regex form(R"(bytes=(\d+)-(\d*))");
    if (range && std::regex_match(r, m, form) && !(m[1] == "0" && m[2].str().empty())) {
        size_t from = std::stoul(m[1]);
        size_t to =
            m[2].str().empty() ? body.size() - 1 : std::min(body.size() - 1, std::stoul(m[2]));
        if (from >= body.size())
            return CannedResponse{416};
        return CannedResponse{206,
                              {"Content-Range: bytes " + std::to_string(from) + "-" +
                               std::to_string(to) + "/" + std::to_string(body.size())},
                              body.substr(from, to - from + 1)};
    }
    return CannedResponse{200, {}, body};
}

// Serves every file of dir under prefix + "/" + name, with byte ranges.
inline void serveFolder(TestServer& server, const fs::path& dir, const std::string& prefix)
{
    for (const auto& f : fs::directory_iterator(dir)) {
        std::string body = readFile(f.path());
        server.onHandler(prefix + "/" + f.path().filename().string(),
                         [body](const RecordedRequest& r, int) { return rangedAnswer(body, r); });
    }
}

// What libavformat sees in a merged file.
struct MediaInfo {
    bool opened = false;
    std::string format;
    int video = 0;
    int audio = 0;
    double duration = 0;
};

inline MediaInfo probeMedia(const std::string& path)
{
    MediaInfo info;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return info;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        info.opened = true;
        info.format = ctx->iformat->name;
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            auto t = ctx->streams[i]->codecpar->codec_type;
            info.video += t == AVMEDIA_TYPE_VIDEO;
            info.audio += t == AVMEDIA_TYPE_AUDIO;
        }
        info.duration = ctx->duration > 0 ? ctx->duration / double(AV_TIME_BASE) : 0;
    }
    avformat_close_input(&ctx);
    return info;
}

// Top-level MP4 box types in file order.
inline std::vector<std::string> mp4Boxes(const std::string& path)
{
    std::vector<std::string> boxes;
    std::string data = readFile(u8(path));
    size_t at = 0;
    while (at + 8 <= data.size()) {
        uint64_t size = (uint8_t(data[at]) << 24) | (uint8_t(data[at + 1]) << 16) |
                        (uint8_t(data[at + 2]) << 8) | uint8_t(data[at + 3]);
        boxes.push_back(data.substr(at + 4, 4));
        if (size == 1 && at + 16 <= data.size()) {
            size = 0;
            for (int i = 0; i < 8; ++i)
                size = (size << 8) | uint8_t(data[at + 8 + i]);
        }
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

// A download view that records everything the engine shows; thread-safe.
class RecordingView : public DownloadView {
public:
    struct Row {
        bool checked = false;
        std::vector<std::string> cells = std::vector<std::string>(7);
        std::vector<std::string> statuses; // every 状态 written, in order
    };

    void addRow(const std::string& address, bool checked)
    {
        std::lock_guard lock(mutex);
        Row row;
        row.checked = checked;
        row.cells[kColumnEpisode] = std::to_string(rows.size() + 1);
        row.cells[kColumnAddress] = address;
        row.cells[kColumnStatus] = "待命";
        rows.push_back(row);
    }

    int rowCount() override
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(rows.size());
    }
    bool rowChecked(int row) override
    {
        std::lock_guard lock(mutex);
        return rows.at(row).checked;
    }
    void setRowChecked(int row, bool checked) override
    {
        std::lock_guard lock(mutex);
        rows.at(row).checked = checked;
    }
    std::string cellText(int row, int column) override
    {
        std::lock_guard lock(mutex);
        return rows.at(row).cells.at(column);
    }
    void setCellText(int row, int column, const std::string& text) override
    {
        std::function<void(int, int, const std::string&)> hook;
        {
            std::lock_guard lock(mutex);
            rows.at(row).cells.at(column) = text;
            if (column == kColumnStatus)
                rows.at(row).statuses.push_back(text);
            hook = onCell;
        }
        if (hook)
            hook(row, column, text);
    }
    void selectRow(int row) override
    {
        std::lock_guard lock(mutex);
        selected.push_back(row);
    }
    void appendLog(const std::string& message, int channel) override
    {
        std::lock_guard lock(mutex);
        logs[channel].push_back(message);
    }
    void setAddressText(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        address = text;
    }
    void setProgressMaximum(int bar, int maximum) override
    {
        std::lock_guard lock(mutex);
        progressMax[bar] = maximum;
    }
    void setProgressValue(int bar, int value) override
    {
        std::lock_guard lock(mutex);
        progressValue[bar] = value;
    }
    void setRunControlsEnabled(bool enabled) override
    {
        std::lock_guard lock(mutex);
        controls.push_back(enabled);
    }
    bool deleteSegmentsChecked() override
    {
        std::lock_guard lock(mutex);
        return deleteChecked;
    }
    std::string cookieText() override { return cookie; }

    std::vector<std::string> log(int channel)
    {
        std::lock_guard lock(mutex);
        return logs[channel];
    }
    Row row(int r)
    {
        std::lock_guard lock(mutex);
        return rows.at(r);
    }
    bool logHas(int channel, const std::string& line)
    {
        auto l = log(channel);
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    int logCountPrefix(int channel, const std::string& prefix)
    {
        auto l = log(channel);
        return static_cast<int>(std::count_if(
            l.begin(), l.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
    }

    std::mutex mutex;
    std::vector<Row> rows;
    std::map<int, std::vector<std::string>> logs;
    std::string address;
    std::map<int, int> progressMax, progressValue;
    std::vector<bool> controls;
    std::vector<int> selected;
    bool deleteChecked = false;
    std::string cookie;
    // Called after every cell write (on the writing thread).
    std::function<void(int row, int column, const std::string& text)> onCell;
};

// A download run of the series "测试剧" into a temporary download folder, against the loopback
// server. A suite sets its pace and time limits in settings, then calls this SetUp.
class DownloadRunTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    TestServer server;
    std::shared_ptr<RecordingView> view = std::make_shared<RecordingView>();
    DownloadSettings settings;

    void SetUp() override
    {
        settings.downloadRoot = temp.path().toStdString() + "/下载目录";
        setSeriesFolder("测试剧");
        prepareDownloadFolders(*view, settings);
    }
    void TearDown() override { ASSERT_TRUE(waitForDownloadRun(20000)); }

    std::string seriesPath() const { return settings.downloadRoot + "/测试剧"; }
    std::string mp4(int e) const { return seriesPath() + "/" + std::to_string(e) + ".mp4"; }
    RunEnd run() { return runDownloadJobs(view, settings); }
};

} // namespace dltest
