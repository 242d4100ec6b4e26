// Wide JSON objects: parse an object of 20,000, 40,000 or 80,000 members and look up its last
// member (and, in the second set, every member), through JsonDocument and, for comparison,
// through nlohmann's json (members in a std::map) and ordered_json (members in a vector searched
// from the front, whose parse and lookups grow with the square of the width).
#include "net/json_document.h"

#include <string>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

namespace {

std::string memberName(int i)
{
    return "key_" + std::to_string(i);
}

std::string wideObject(int members)
{
    std::string text = "{";
    for (int i = 0; i < members; ++i) {
        if (i > 0)
            text += ',';
        text += '"' + memberName(i) + "\":\"value " + std::to_string(i) + '"';
    }
    text += '}';
    return text;
}

void setCounters(benchmark::State& state, const std::string& text)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["members"] = static_cast<double>(state.range(0));
}

void BM_WideObjectJsonDocument(benchmark::State& state)
{
    const int members = static_cast<int>(state.range(0));
    const std::string text = wideObject(members);
    const std::string last = memberName(members - 1);
    for (auto _ : state) {
        JsonDocument doc;
        doc.parse(text);
        benchmark::DoNotOptimize(doc.getText(last));
    }
    setCounters(state, text);
}

template <typename Json>
void wideObjectNlohmann(benchmark::State& state)
{
    const int members = static_cast<int>(state.range(0));
    const std::string text = wideObject(members);
    const std::string last = memberName(members - 1);
    for (auto _ : state) {
        const Json doc = Json::parse(text, nullptr, false);
        auto it = doc.find(last);
        benchmark::DoNotOptimize(
            it == doc.end() ? 0 : it->template get_ref<const std::string&>().size());
    }
    setCounters(state, text);
}

void BM_WideObjectNlohmannJson(benchmark::State& state)
{
    wideObjectNlohmann<nlohmann::json>(state);
}

void BM_WideObjectNlohmannOrderedJson(benchmark::State& state)
{
    wideObjectNlohmann<nlohmann::ordered_json>(state);
}

// Parse, then every member once by name.
void BM_WideObjectEveryMemberJsonDocument(benchmark::State& state)
{
    const int members = static_cast<int>(state.range(0));
    const std::string text = wideObject(members);
    for (auto _ : state) {
        JsonDocument doc;
        doc.parse(text);
        std::size_t bytes = 0;
        for (int i = 0; i < members; ++i)
            bytes += doc.getText(memberName(i)).size();
        benchmark::DoNotOptimize(bytes);
    }
    setCounters(state, text);
}

template <typename Json>
void everyMemberNlohmann(benchmark::State& state)
{
    const int members = static_cast<int>(state.range(0));
    const std::string text = wideObject(members);
    for (auto _ : state) {
        const Json doc = Json::parse(text, nullptr, false);
        std::size_t bytes = 0;
        for (int i = 0; i < members; ++i)
            bytes += doc.find(memberName(i))->template get_ref<const std::string&>().size();
        benchmark::DoNotOptimize(bytes);
    }
    setCounters(state, text);
}

void BM_WideObjectEveryMemberNlohmannJson(benchmark::State& state)
{
    everyMemberNlohmann<nlohmann::json>(state);
}

void BM_WideObjectEveryMemberNlohmannOrderedJson(benchmark::State& state)
{
    everyMemberNlohmann<nlohmann::ordered_json>(state);
}

#define WIDTHS ->Arg(20000)->Arg(40000)->Arg(80000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_WideObjectJsonDocument) WIDTHS;
BENCHMARK(BM_WideObjectNlohmannJson) WIDTHS;
BENCHMARK(BM_WideObjectNlohmannOrderedJson) WIDTHS->Iterations(1);
BENCHMARK(BM_WideObjectEveryMemberJsonDocument) WIDTHS;
BENCHMARK(BM_WideObjectEveryMemberNlohmannJson) WIDTHS;
BENCHMARK(BM_WideObjectEveryMemberNlohmannOrderedJson) WIDTHS->Iterations(1);
#undef WIDTHS

} // namespace

BENCHMARK_MAIN();
