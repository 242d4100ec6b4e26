// Downloader throughput and memory: a 300-segment stream from a loopback server that adds 50 ms to
// every answer, over HTTP and over HTTPS, fetched by this engine at the default pace and at
// 下载间隔 = 0 with 下载并发 = 16, by `yt-dlp -N 16` with its native HLS downloader, and by
// `ffmpeg -i URL -c copy`; and the merge of about 1 GB of segments against `cat`.
// Peak memory is the process's (or the child's) high-water mark of resident memory; the engine's
// includes the loopback server, which holds the whole stream in memory.
//
// A long film in 1 s segments (3,000 of them) behind a server that answers every request 20 ms
// late, fetched at 下载间隔 = 0 with no 下载并发 set (the built-in cap) and by `yt-dlp -N 16`; the
// engine's case also reports the most threads the process had while it ran.
//
// Run one case at a time so each peak is its own:
//   bench_download --benchmark_filter=Engine/DefaultPace
// or all the comparisons in one run:
//   bench_download --benchmark_filter='Interval0|YtDlp|Ffmpeg'
//   bench_download --benchmark_filter=LongEpisode
#include "download/download_run.h"
#include "download/merge_segments.h"
#include "support/test_server.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

fs::path benchFolder()
{
    fs::path dir = fs::read_symlink("/proc/self/exe").parent_path() / "bench-download";
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// ffmpeg-made HLS media, cached beside the benchmark.
fs::path makeStream(const std::string& name, const std::string& args)
{
    fs::path dir = benchFolder() / name;
    if (fs::exists(dir / "done"))
        return dir;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string cmd = "ffmpeg -y -nostdin -loglevel error " + args +
                      " -f hls -hls_time 1 -hls_list_size 0 "
                      "-hls_playlist_type vod -hls_segment_filename " +
                      (dir / "seg%d.ts").string() + " " + (dir / "index.m3u8").string();
    if (std::system(cmd.c_str()) != 0)
        return {};
    std::ofstream(dir / "done") << "";
    return dir;
}

// High-water mark of this process's resident memory in MB, reset by resetPeak().
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}
double statusMb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atof(line.c_str() + prefix.size()) / 1024.0;
    return 0;
}
double peakMb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// Runs a shell command and returns the peak resident memory of the command in MB (-1 on failure);
// cpuSeconds gets the user and system time of the command and its children.
// The peak is taken by GNU time around the command: a process started from this (large) one keeps
// this one's peak in its own accounting even after it runs another program, so wait4's figure would
// be this process's; the command that time starts begins clean.
double runChild(const std::string& cmd, double* cpuSeconds = nullptr)
{
    const std::string peakFile = (benchFolder() / "child-peak.txt").string();
    const bool timed = fs::exists("/usr/bin/time");
    std::vector<std::string> args;
    if (timed)
        args = {"/usr/bin/time", "-f", "%M", "-o", peakFile};
    args.insert(args.end(), {"/bin/sh", "-c", cmd});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    if (cpuSeconds)
        *cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                      usage.ru_stime.tv_usec / 1e6;
    if (!timed)
        return usage.ru_maxrss / 1024.0;
    std::ifstream in(peakFile);
    double kb = -1;
    in >> kb;
    return kb < 0 ? -1 : kb / 1024.0;
}

class QuietView : public DownloadView {
public:
    explicit QuietView(std::string address) : address_(std::move(address)) {}
    int rowCount() override { return 1; }
    bool rowChecked(int) override { return checked_; }
    void setRowChecked(int, bool c) override { checked_ = c; }
    std::string cellText(int, int column) override
    {
        std::lock_guard lock(mutex_);
        if (column == kColumnEpisode)
            return "1";
        if (column == kColumnAddress)
            return address_;
        return column == kColumnStatus ? status_ : std::string();
    }
    void setCellText(int, int column, const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        if (column == kColumnStatus)
            status_ = text;
    }
    void selectRow(int) override {}
    void appendLog(const std::string& message, int) override
    {
        // The merge starts with this line: what comes before it is the download.
        if (message == "准备执行 TS 合并 MP4") {
            std::lock_guard lock(mutex_);
            mergeStart_ = std::chrono::steady_clock::now();
        }
    }
    std::chrono::steady_clock::time_point mergeStart()
    {
        std::lock_guard lock(mutex_);
        return mergeStart_;
    }
    void setAddressText(const std::string&) override {}
    void setProgressMaximum(int, int) override {}
    void setProgressValue(int, int) override {}
    void setRunControlsEnabled(bool) override {}
    bool deleteSegmentsChecked() override { return false; }
    std::string status()
    {
        std::lock_guard lock(mutex_);
        return status_;
    }

private:
    std::mutex mutex_;
    std::string address_;
    std::string status_;
    std::chrono::steady_clock::time_point mergeStart_;
    std::atomic<bool> checked_{true};
};

// The 300-segment stream behind a server that answers every request 50 ms late.
struct SlowStream {
    TestServer server;
    fs::path dir;
    bool ok = false;
    explicit SlowStream(TestServer::Scheme scheme) : server(scheme)
    {
        dir =
            makeStream("stream300",
                       "-f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi -i "
                       "sine=frequency=440:sample_rate=44100 -t 300 -c:v libx264 -preset ultrafast "
                       "-g 25 -keyint_min 25 -sc_threshold 0 -pix_fmt yuv420p -c:a aac -b:a 64k");
        if (dir.empty())
            return;
        for (const auto& f : fs::directory_iterator(dir))
            server.on("/s/" + f.path().filename().string(),
                      CannedResponse{200, {}, readFile(f.path())}.after(50ms));
        ok = true;
    }
    std::string url() { return server.url("/s/index.m3u8"); }
};

SlowStream& slowStream(bool https = false)
{
    static SlowStream plain(TestServer::Scheme::Http);
    static SlowStream secure(TestServer::Scheme::Https);
    return https ? secure : plain;
}

void engineRun(benchmark::State& state, int intervalMs, int maxConcurrent, bool https = false)
{
    SlowStream& stream = slowStream(https);
    if (!stream.ok) {
        state.SkipWithError("ffmpeg could not make the stream");
        return;
    }
    fs::path root = benchFolder() / "engine-root";
    DownloadSettings settings;
    settings.downloadRoot = root.string();
    settings.pace = DownloadPace{intervalMs, maxConcurrent};
    // The loopback server's certificate is self-signed: trusted here as a user would install it.
    settings.caFile = TestServer::certificateFile();
    setSeriesFolder("bench");
    double peak = 0, before = 0, downloadMs = 0, mergeMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(root);
        fs::create_directories(root / "bench");
        resetPeak();
        before = statusMb("VmRSS");
        auto view = std::make_shared<QuietView>(stream.url());
        state.ResumeTiming();
        const auto began = std::chrono::steady_clock::now();
        runDownloadJobs(view, settings);
        const auto ended = std::chrono::steady_clock::now();
        state.PauseTiming();
        downloadMs = std::chrono::duration<double, std::milli>(view->mergeStart() - began).count();
        mergeMs = std::chrono::duration<double, std::milli>(ended - view->mergeStart()).count();
        peak = std::max(peak, peakMb());
        if (view->status() != "完成")
            state.SkipWithError(("run ended with " + view->status()).c_str());
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peak;
    state.counters["segments"] = 300;
    state.counters["rss_before_MB"] =
        before; // the loopback servers with both streams, the libraries
    state.counters["download_ms"] = downloadMs;
    state.counters["merge_ms"] = mergeMs;
}

void BM_EngineDefaultPace(benchmark::State& state)
{
    engineRun(state, 300, 0);
}
void BM_EngineNoIntervalSixteenAtOnce(benchmark::State& state)
{
    engineRun(state, 0, 16, state.range(0) != 0);
}

// The most threads this process has, sampled every 2 ms from /proc/self/status while it runs.
class ThreadPeak {
public:
    ThreadPeak()
            : sampler_([this] {
                  while (!done_) {
                      most_ = std::max(most_.load(), count());
                      std::this_thread::sleep_for(2ms);
                  }
              })
    {}
    ~ThreadPeak() { stop(); }
    int stop()
    {
        done_ = true;
        if (sampler_.joinable())
            sampler_.join();
        return most_;
    }
    static int count()
    {
        std::ifstream in("/proc/self/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("Threads:", 0) == 0)
                return std::atoi(line.c_str() + 8);
        return 0;
    }

private:
    std::atomic<bool> done_{false};
    std::atomic<int> most_{0};
    std::thread sampler_;
};

// The 3,000-segment film behind a server that answers every request 20 ms late.
struct LongEpisode {
    TestServer server;
    fs::path dir;
    bool ok = false;
    LongEpisode()
    {
        dir = makeStream(
            "stream3000",
            "-f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi -i "
            "sine=frequency=440:sample_rate=44100 -t 3000 -c:v libx264 -preset ultrafast "
            "-g 25 -keyint_min 25 -sc_threshold 0 -pix_fmt yuv420p -c:a aac -b:a 64k");
        if (dir.empty())
            return;
        for (const auto& f : fs::directory_iterator(dir))
            server.on("/l/" + f.path().filename().string(),
                      CannedResponse{200, {}, readFile(f.path())}.after(20ms));
        ok = true;
    }
    std::string url() { return server.url("/l/index.m3u8"); }
};

LongEpisode& longEpisode()
{
    static LongEpisode e;
    return e;
}

void BM_EngineLongEpisode(benchmark::State& state)
{
    LongEpisode& episode = longEpisode();
    if (!episode.ok) {
        state.SkipWithError("ffmpeg could not make the stream");
        return;
    }
    fs::path root = benchFolder() / "engine-long-root";
    DownloadSettings settings;
    settings.downloadRoot = root.string();
    settings.pace = DownloadPace{0, 0};
    setSeriesFolder("bench");
    double peak = 0, before = 0, downloadMs = 0, mergeMs = 0;
    int threadsBefore = 0, threadsPeak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(root);
        fs::create_directories(root / "bench");
        resetPeak();
        before = statusMb("VmRSS");
        threadsBefore = ThreadPeak::count();
        auto view = std::make_shared<QuietView>(episode.url());
        state.ResumeTiming();
        ThreadPeak threads;
        const auto began = std::chrono::steady_clock::now();
        runDownloadJobs(view, settings);
        const auto ended = std::chrono::steady_clock::now();
        state.PauseTiming();
        threadsPeak = std::max(threadsPeak, threads.stop());
        downloadMs = std::chrono::duration<double, std::milli>(view->mergeStart() - began).count();
        mergeMs = std::chrono::duration<double, std::milli>(ended - view->mergeStart()).count();
        peak = std::max(peak, peakMb());
        if (view->status() != "完成")
            state.SkipWithError(("run ended with " + view->status()).c_str());
        state.ResumeTiming();
    }
    state.counters["segments"] = 3000;
    state.counters["peak_MB"] = peak;         // the loopback server holds the whole film as well
    state.counters["rss_before_MB"] = before; // the loopback server with the film, the libraries
    state.counters["peak_threads"] = threadsPeak; // the loopback server's included
    state.counters["threads_before"] = threadsBefore;
    state.counters["download_ms"] = downloadMs;
    state.counters["merge_ms"] = mergeMs;
}

// A child program that fetches the stream into out; its peak memory is reported.
void childRun(benchmark::State& state, const std::string& cmd, const fs::path& out)
{
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ec;
        fs::remove_all(out.parent_path(), ec);
        fs::create_directories(out.parent_path(), ec);
        state.ResumeTiming();
        double cpu = 0;
        double p = runChild(cmd, &cpu);
        if (p < 0 || !fs::exists(out))
            state.SkipWithError(("failed: " + cmd).c_str());
        peak = std::max(peak, p);
        state.counters["cpu_s"] = cpu;
    }
    state.counters["peak_MB"] = peak;
}

void BM_FfmpegCopy(benchmark::State& state)
{
    SlowStream& stream = slowStream(state.range(0) != 0);
    if (!stream.ok) {
        state.SkipWithError("ffmpeg could not make the stream");
        return;
    }
    fs::path out = benchFolder() / "ffmpeg-out" / "copy.mp4";
    childRun(state,
             "ffmpeg -y -nostdin -loglevel error -i '" + stream.url() + "' -c copy '" +
                 out.string() + "'",
             out);
}

// yt-dlp with 16 fragments at once and its own HLS downloader (not ffmpeg's), into an MP4 (its
// fix-up remuxes the joined TS with ffmpeg, as this program's merge does).
void BM_YtDlp(benchmark::State& state)
{
    SlowStream& stream = slowStream(state.range(0) != 0);
    if (!stream.ok) {
        state.SkipWithError("ffmpeg could not make the stream");
        return;
    }
    if (std::system("yt-dlp --version > /dev/null 2>&1") != 0) {
        state.SkipWithError("yt-dlp is not installed (apt-get install yt-dlp)");
        return;
    }
    fs::path out = benchFolder() / "yt-dlp-out" / "video.mp4";
    childRun(state,
             "yt-dlp -q --no-warnings --no-progress -N 16 --downloader native --hls-prefer-native "
             "--no-check-certificates --no-part --no-cache-dir -o '" +
                 out.string() + "' '" + stream.url() + "'",
             out);
}

void BM_YtDlpLongEpisode(benchmark::State& state)
{
    LongEpisode& episode = longEpisode();
    if (!episode.ok) {
        state.SkipWithError("ffmpeg could not make the stream");
        return;
    }
    if (std::system("yt-dlp --version > /dev/null 2>&1") != 0) {
        state.SkipWithError("yt-dlp is not installed (apt-get install yt-dlp)");
        return;
    }
    fs::path out = benchFolder() / "yt-dlp-long-out" / "video.mp4";
    childRun(state,
             "yt-dlp -q --no-warnings --no-progress -N 16 --downloader native --hls-prefer-native "
             "--no-part --no-cache-dir -o '" +
                 out.string() + "' '" + episode.url() + "'",
             out);
}

// About 1 GB of segments: a 20-second high-rate clip repeated, numbered 1 … n in one folder.
struct BigEpisode {
    fs::path series, episode;
    int count = 0;
    bool ok = false;
    BigEpisode()
    {
        fs::path clip = makeStream(
            "clip720", "-f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi -i "
                       "sine=frequency=440:sample_rate=44100 -t 20 -c:v mpeg2video -q:v 1 "
                       "-g 25 -c:a aac -b:a 128k");
        if (clip.empty())
            return;
        series = benchFolder() / "merge-series";
        episode = series / "1";
        fs::create_directories(episode);
        uintmax_t total = 0;
        std::vector<SegmentListEntry> list;
        while (total < (1ull << 30)) {
            fs::path src = clip / ("seg" + std::to_string(count % 20) + ".ts");
            ++count;
            fs::path dst = episode / (std::to_string(count) + ".ts");
            if (!fs::exists(dst))
                fs::copy_file(src, dst);
            total += fs::file_size(dst);
            list.push_back(SegmentListEntry{count, 1.0, {}, count % 20 == 1 && count > 1});
        }
        ok = writeSegmentList(episode.string(), list);
    }
};

BigEpisode& bigEpisode()
{
    static BigEpisode e;
    return e;
}

void BM_Merge1GB(benchmark::State& state)
{
    BigEpisode& e = bigEpisode();
    if (!e.ok) {
        state.SkipWithError("could not make the segments");
        return;
    }
    QuietView view("");
    double peak = 0, before = 0;
    for (auto _ : state) {
        resetPeak();
        before = statusMb("VmRSS");
        MergeReport report = mergeSegments(view, 0, "1", e.series.string());
        peak = std::max(peak, peakMb());
        if (!report.remuxed)
            state.SkipWithError("remux failed");
    }
    state.counters["peak_MB"] = peak;
    state.counters["rss_before_MB"] = before;
    state.counters["segments"] = e.count;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(fs::file_size(e.series / "1.mp4")));
}

void BM_Cat1GB(benchmark::State& state)
{
    BigEpisode& e = bigEpisode();
    if (!e.ok) {
        state.SkipWithError("could not make the segments");
        return;
    }
    std::string cmd = "cat";
    for (int i = 1; i <= e.count; ++i)
        cmd += " '" + (e.episode / (std::to_string(i) + ".ts")).string() + "'";
    cmd += " > '" + (e.series / "cat.ts").string() + "'";
    double peak = 0;
    for (auto _ : state) {
        double p = runChild(cmd);
        if (p < 0)
            state.SkipWithError("cat failed");
        peak = std::max(peak, p);
    }
    state.counters["peak_MB"] = peak;
}

} // namespace

BENCHMARK(BM_EngineDefaultPace)
    ->Name("Engine/DefaultPace")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
// Argument 0: HTTP, 1: HTTPS.
// One iteration each: a second one of the engine would find its connections already open.
BENCHMARK(BM_EngineNoIntervalSixteenAtOnce)
    ->Name("Engine/Interval0Concurrency16")
    ->ArgName("https")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime() // every thread of the engine (and of the loopback server)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YtDlp)
    ->Name("YtDlp/N16Native")
    ->ArgName("https")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegCopy)
    ->Name("Ffmpeg/CopyToMp4")
    ->ArgName("https")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineLongEpisode)
    ->Name("Engine/LongEpisodeInterval0")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YtDlpLongEpisode)
    ->Name("YtDlp/LongEpisodeN16Native")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Merge1GB)
    ->Name("Merge/Remux1GB")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Cat1GB)->Name("Merge/Cat1GB")->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
