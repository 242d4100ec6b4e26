// Start-up to the ready line: the main window is created and the start-up sequence runs (single
// instance, update check without a link, notice window shown and closed at once, bootstrap
// started, position and ready line). The browser bridge is left out: it loads the browser engine,
// which is measured where the bridge is.

#include "app/paths.h"
#include "app/startup.h"
#include "catalogue/catalogue_sources.h"
#include "ui/header_clock.h"
#include "ui/main_form.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

void BM_StartupToReadyLine(benchmark::State& state)
{
    for (auto _ : state) {
        MainWindow window;
        MainForm& form = window.form();
        std::atomic<bool> bootstrapDone{false};
        StartupSteps steps;
        steps.showNoticeWindow = [] {
            NoticeWindow notice;
            QTimer::singleShot(0, &notice, &QDialog::accept);
            notice.exec();
        };
        steps.fillRouteBox = [&window] { window.catalogue().fillRouteBox(); };
        steps.selectRoute = [&window](int value) { window.catalogue().selectRouteEntry(value); };
        steps.placeMainWindow = [&window] { window.move(10, 10); };
        steps.fillDateLabels = [&form](const QDate& today) { fillHeaderDates(form, today); };
        steps.bootstrapFinished = [&bootstrapDone] { bootstrapDone = true; };
        onMainWindowCreated(steps);
        if (!form.编辑框_状态->toPlainText().contains(QStringLiteral("准备就绪")))
            state.SkipWithError("no ready line");

        state.PauseTiming();
        while (!bootstrapDone)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToReadyLine)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir folder;
    // The program folder and the single-instance marker of the run live in a temporary folder.
    qputenv("TMPDIR", folder.path().toLocal8Bit());
    QApplication app(argc, argv);
    setProgramFolderForTesting(folder.path().toStdString());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setProgramFolderForTesting("");
    return 0;
}
