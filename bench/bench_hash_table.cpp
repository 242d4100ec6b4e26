// HashTable against std::unordered_map: inserting and looking up 100,000 text keys.
#include "util/hash_table.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kKeys = 100000;

const std::vector<std::string>& keys()
{
    static const std::vector<std::string> all = [] {
        std::vector<std::string> out;
        out.reserve(kKeys);
        for (int i = 0; i < kKeys; ++i)
            out.push_back("WebView2Plus-" + std::to_string(i) + ".so");
        return out;
    }();
    return all;
}

void BM_HashTablePut(benchmark::State& state)
{
    for (auto _ : state) {
        HashTable table;
        table.createTextInteger();
        for (const auto& k : keys())
            table.put(k, 1);
        benchmark::DoNotOptimize(table.count());
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_HashTablePut)->Unit(benchmark::kMillisecond);

void BM_UnorderedMapPut(benchmark::State& state)
{
    for (auto _ : state) {
        std::unordered_map<std::string, int32_t> map;
        for (const auto& k : keys())
            map[k] = 1;
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_UnorderedMapPut)->Unit(benchmark::kMillisecond);

void BM_HashTableContains(benchmark::State& state)
{
    HashTable table;
    table.createTextInteger();
    for (const auto& k : keys())
        table.put(k, 1);
    for (auto _ : state) {
        int found = 0;
        for (const auto& k : keys())
            found += table.contains(k);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_HashTableContains)->Unit(benchmark::kMillisecond);

void BM_UnorderedMapContains(benchmark::State& state)
{
    std::unordered_map<std::string, int32_t> map;
    for (const auto& k : keys())
        map[k] = 1;
    for (auto _ : state) {
        int found = 0;
        for (const auto& k : keys())
            found += map.count(k) != 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_UnorderedMapContains)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
