// One catalogue page from the click on 超级按钮_搜索 to the filled series list, against a fake
// catalogue server on loopback HTTPS, in the real main window (offscreen).

#include "ui/test_catalogue_fixture.h"

#include "catalogue/catalogue_browsing.h"
#include "catalogue/catalogue_sources.h"
#include "ui/main_window.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <thread>

using namespace catalogue_testing;

namespace {

void runUntil(const std::function<bool()>& done)
{
    while (!done()) {
        QCoreApplication::processEvents();
        std::this_thread::yield();
    }
}

void BM_SearchPageClickToList(benchmark::State& state)
{
    TempProgramFolder folder;
    FakeCatalogue server("A");
    MainWindow window;
    window.show();
    MainForm& form = window.form();
    writeSetting("配置项", "线路列表", server.host());
    window.catalogue().fillRouteBox();
    window.catalogue().selectRouteEntry(0);
    int round = 0;
    for (auto _ : state) {
        // A different keyword each time, so every round's rows are new.
        const std::string keyword = "kw" + std::to_string(++round);
        form.编辑框_搜索->setText(QString::fromStdString(keyword));
        const QString first = QString::fromStdString("A:wd=" + keyword + ":p1:1");
        QTest::mouseClick(form.超级按钮_搜索, Qt::LeftButton);
        runUntil([&] {
            QTreeWidgetItem* row = form.超级列表框_列表->topLevelItem(0);
            return row != nullptr && row->text(0) == first && !form.标签提示->isVisible();
        });
    }
    waitForWorkers(window);
    state.counters["rows"] = form.超级列表框_列表->topLevelItemCount();
}
BENCHMARK(BM_SearchPageClickToList)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

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
