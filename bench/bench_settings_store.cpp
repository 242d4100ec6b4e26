// The settings store with a full watch history (100 entries, over 20 KB) in the file: reading and
// writing the history value, and reading a small flag from the same file.
#include "app/paths.h"
#include "app/settings_store.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string historyValue(int generation)
{
    std::string out = "{\"data\":[";
    for (int i = 0; i < 100; ++i) {
        if (i)
            out += ",";
        out += "{\"名\":\"一部名字相当长的连续剧第" + std::to_string(i) + "部\",\"集\":\"第" +
               std::to_string(generation % 40 + 1) +
               "集\",\"URL\":\"https://vod.example.com/share/0123456789abcdef" + std::to_string(i) +
               "/index.m3u8\",\"m3u8\":\"https://vod.example.com/20240101/abcdef" +
               std::to_string(i) + "/700kb/hls/index.m3u8\"}";
    }
    return out + "]}";
}

class StoreFixture : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override
    {
        dir_ = std::make_unique<QTemporaryDir>();
        setProgramFolderForTesting(dir_->path().toStdString());
        ensureDataFolder();
        ensureSettingsFile();
        writeSetting("配置项", "窗口大小", "800|600|10|20");
        writeSetting("观看历史", "数据", historyValue(0));
    }
    void TearDown(const benchmark::State&) override
    {
        setProgramFolderForTesting("");
        dir_.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

BENCHMARK_F(StoreFixture, ReadHistory)(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readSetting("观看历史", "数据"));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(historyValue(0).size()));
}

BENCHMARK_F(StoreFixture, WriteHistory)(benchmark::State& state)
{
    const std::string values[] = {historyValue(1), historyValue(2)};
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(writeSetting("观看历史", "数据", values[i++ & 1]));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(values[0].size()));
}

BENCHMARK_F(StoreFixture, ReadFlagBesideHistory)(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readFlag("配置项", "连播"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
