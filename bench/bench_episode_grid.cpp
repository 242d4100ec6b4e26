// The episode grid of the real main window filled with 2,000 episodes, and how long the event
// loop went unserved meanwhile (longest gap between two turns of a zero-interval timer).

#include "playback/episode_list.h"
#include "ui/main_window.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

namespace {

std::vector<Episode> episodes(int count)
{
    std::vector<Episode> list;
    for (int i = 1; i <= count; ++i)
        list.push_back({std::to_string(i), "https://a.example/" + std::to_string(i) + "/index.m3u8",
                        "https://b.example/" + std::to_string(i) + "/index.m3u8"});
    return list;
}

void BM_FillEpisodeGrid(benchmark::State& state)
{
    MainWindow window;
    window.show();
    const std::vector<Episode> list = episodes(static_cast<int>(state.range(0)));

    QElapsedTimer clock;
    qint64 lastTurn = 0;
    qint64 longestGap = 0;
    long long turns = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTurn);
        lastTurn = now;
        ++turns;
    });
    for (auto _ : state) {
        clock.start();
        lastTurn = 0;
        probe.start();
        window.views().showEpisodes(list);
        probe.stop();
        longestGap = std::max(longestGap, clock.nsecsElapsed() - lastTurn);
    }
    state.counters["rows"] = window.form().高级表格_剧集->rowCount();
    state.counters["loop_turns"] =
        benchmark::Counter(static_cast<double>(turns), benchmark::Counter::kAvgIterations);
    state.counters["longest_gap_ms"] = static_cast<double>(longestGap) / 1e6;
}
BENCHMARK(BM_FillEpisodeGrid)->Arg(2000)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
