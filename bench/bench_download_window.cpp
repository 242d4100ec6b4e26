// The download window's logs: lines put on top of 编辑框_状态 one by one, as the run writes them,
// up to 10,000 lines, from the GUI thread and from a worker thread (queued to the GUI thread, as
// the run's threads do); and, for comparison, the same lines written the way that copies the whole
// log text for every line.
#include "app/status_log.h"
#include "download/download_view.h"
#include "ui/download_window.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>

#include <thread>

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_download_window";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

void BM_LogLinesOnTop(benchmark::State& state)
{
    application();
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        DownloadWindow window;
        window.show();
        auto view = window.view();
        state.ResumeTiming();
        for (int i = 0; i < lines; ++i)
            view->appendLog("提交下载_" + std::to_string(i) + " seg" + std::to_string(i) + ".ts",
                            kStatusLog);
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (window.编辑框_状态->document()->blockCount() != lines + 1)
            state.SkipWithError("lines were lost");
        state.ResumeTiming();
    }
    state.counters["lines"] = lines;
}

void BM_LogLinesOnTopFromAWorker(benchmark::State& state)
{
    application();
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        DownloadWindow window;
        window.show();
        auto view = window.view();
        state.ResumeTiming();
        std::thread writer([view, lines] {
            for (int i = 0; i < lines; ++i)
                view->appendLog("已下载 " + std::to_string(i) + " / 300 = seg" + std::to_string(i) +
                                    ".ts",
                                kMergeLog);
        });
        while (window.编辑框_转换->document()->blockCount() < lines + 1)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        writer.join();
    }
    state.counters["lines"] = lines;
}

// The log written by reading the whole text, putting the line in front and writing it all back.
void BM_LogLinesRewritingTheWholeText(benchmark::State& state)
{
    application();
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QPlainTextEdit box;
        box.show();
        state.ResumeTiming();
        for (int i = 0; i < lines; ++i) {
            const QString line = QString::fromStdString(
                statusLine("提交下载_" + std::to_string(i) + " seg" + std::to_string(i) + ".ts"));
            box.setPlainText(line + box.toPlainText());
        }
        QCoreApplication::processEvents();
    }
    state.counters["lines"] = lines;
}

} // namespace

BENCHMARK(BM_LogLinesOnTop)
    ->Arg(1000)
    ->Arg(2500)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LogLinesOnTopFromAWorker)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LogLinesRewritingTheWholeText)
    ->Arg(1000)
    ->Arg(2500)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
