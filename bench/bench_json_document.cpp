// Reading one catalogue page: parse a 20-item listing (about 40 KB, Chinese texts) and read the
// counts and five fields per item, through JsonDocument paths and, for comparison, through a bare
// nlohmann parse with the same reads.
#include "net/json_document.h"

#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

namespace {

std::string episodeList(int item, int episodes, const char* host)
{
    std::string out;
    for (int e = 1; e <= episodes; ++e) {
        if (e > 1)
            out += '#';
        char label[16];
        std::snprintf(label, sizeof label, "第%02d集", e);
        out += label;
        out += "$https://";
        out += host;
        out += "/20240" + std::to_string(item % 9 + 1) + "/" +
               std::to_string(10000 + item * 97 + e) + "_a1b2c3d4/index.m3u8";
    }
    return out;
}

// A page shaped as the catalogue servers send it, with the usual fields of every item.
std::string cataloguePage()
{
    nlohmann::ordered_json page;
    page["code"] = 1;
    page["msg"] = "数据列表";
    page["page"] = 1;
    page["pagecount"] = 12;
    page["limit"] = "20";
    page["total"] = 231;
    auto& list = page["list"] = nlohmann::ordered_json::array();
    const char* names[] = {"山河长歌", "繁花似锦",   "长安十二时辰", "人世间", "大江大河",
                           "觉醒年代", "漫长的季节", "狂飙",         "梦华录", "苍兰诀"};
    for (int i = 0; i < 20; ++i) {
        nlohmann::ordered_json item;
        item["vod_id"] = 50000 + i;
        item["type_id"] = 13;
        item["type_id_1"] = 2;
        item["group_id"] = 0;
        item["vod_name"] = std::string(names[i % 10]) + "第" + std::to_string(i / 10 + 1) + "季";
        item["vod_sub"] = "又名：" + std::string(names[(i + 3) % 10]);
        item["vod_en"] = "shanhechangge" + std::to_string(i);
        item["vod_status"] = 1;
        item["vod_letter"] = "S";
        item["vod_color"] = "";
        item["vod_tag"] = "剧情,古装,历史";
        item["vod_class"] = "国产剧,剧情,古装";
        item["vod_pic"] = "https://img.example-cdn.cn/upload/vod/20240" +
                          std::to_string(i % 9 + 1) + "/" + std::to_string(i) + "f3e2d1c0b9a8.jpg";
        item["vod_pic_thumb"] = "";
        item["vod_pic_slide"] = "";
        item["vod_actor"] = "张三,李四,王五,赵六,钱七,孙八,周九,吴十";
        item["vod_director"] = "郑导演";
        item["vod_writer"] = "冯编剧";
        item["vod_behind"] = "";
        item["vod_blurb"] =
            "　　故事讲述了在风云变幻的年代里，一群普通人在命运的洪流中彼此扶持、砥砺前行，"
            "最终找到各自人生方向的故事。";
        item["vod_remarks"] = "更新至40集";
        item["vod_pubdate"] = "2024-0" + std::to_string(i % 9 + 1) + "-01";
        item["vod_total"] = 40;
        item["vod_serial"] = "40";
        item["vod_tv"] = "";
        item["vod_weekday"] = "";
        item["vod_area"] = "大陆";
        item["vod_lang"] = "国语";
        item["vod_year"] = "2024";
        item["vod_version"] = "";
        item["vod_state"] = "";
        item["vod_author"] = "";
        item["vod_jumpurl"] = "";
        item["vod_tpl"] = "";
        item["vod_level"] = 0;
        item["vod_hits"] = 1234 + i;
        item["vod_score"] = "8.5";
        item["vod_time"] = "2024-06-0" + std::to_string(i % 9 + 1) + " 12:00:00";
        item["vod_time_add"] = 1717200000 + i;
        item["vod_content"] =
            "<p>　　故事讲述了在风云变幻的年代里，一群普通人在命运的洪流中彼此扶持、"
            "砥砺前行。他们经历了离别与重逢、失去与获得，在时代的浪潮里守住了初心，"
            "也找到了属于自己的位置。</p>";
        item["vod_play_from"] = "ffm3u8$$$lzm3u8";
        item["vod_play_server"] = "no$$$no";
        item["vod_play_note"] = "$$$";
        item["vod_play_url"] = episodeList(i, 5, "play.example-cdn.cn") + "$$$" +
                               episodeList(i, 5, "m3u8.example-cdn.cn");
        item["vod_down_url"] = "";
        item["type_name"] = "国产剧";
        list.push_back(std::move(item));
    }
    return page.dump();
}

const std::string& pageText()
{
    static const std::string text = cataloguePage();
    return text;
}

const char* const fields[] = {"vod_name", "type_name", "vod_blurb", "vod_play_url", "vod_pic"};

void BM_JsonDocumentPage(benchmark::State& state)
{
    const std::string& text = pageText();
    for (auto _ : state) {
        JsonDocument doc;
        doc.parse(text);
        std::size_t bytes = doc.getText("total").size() + doc.getText("pagecount").size();
        for (int i = 0; i < 20; ++i) {
            const std::string item = "list[" + std::to_string(i) + "]['";
            for (const char* field : fields)
                bytes += doc.getText(item + field + "']").size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["page_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_JsonDocumentPage);

template <typename Json>
void bareNlohmannPage(benchmark::State& state)
{
    const std::string& text = pageText();
    for (auto _ : state) {
        Json doc = Json::parse(text, nullptr, false);
        std::size_t bytes = doc["total"].dump().size() + doc["pagecount"].dump().size();
        const Json& list = doc["list"];
        for (int i = 0; i < 20; ++i)
            for (const char* field : fields)
                bytes +=
                    list[static_cast<std::size_t>(i)][field].template get<std::string>().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_NlohmannJsonPage(benchmark::State& state)
{
    bareNlohmannPage<nlohmann::json>(state);
}
BENCHMARK(BM_NlohmannJsonPage);

void BM_NlohmannOrderedJsonPage(benchmark::State& state)
{
    bareNlohmannPage<nlohmann::ordered_json>(state);
}
BENCHMARK(BM_NlohmannOrderedJsonPage);

// The reads alone, on a page parsed once: path parsing and lookups.
void BM_JsonDocumentReadsOnly(benchmark::State& state)
{
    JsonDocument doc;
    doc.parse(pageText());
    for (auto _ : state) {
        std::size_t bytes = 0;
        for (int i = 0; i < 20; ++i) {
            const std::string item = "list[" + std::to_string(i) + "]['";
            for (const char* field : fields)
                bytes += doc.getText(item + field + "']").size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 100));
}
BENCHMARK(BM_JsonDocumentReadsOnly);

void BM_NlohmannReadsOnly(benchmark::State& state)
{
    const auto doc = nlohmann::json::parse(pageText());
    for (auto _ : state) {
        std::size_t bytes = 0;
        const auto& list = doc["list"];
        for (std::size_t i = 0; i < 20; ++i)
            for (const char* field : fields)
                bytes += list[i][field].get<std::string>().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 100));
}
BENCHMARK(BM_NlohmannReadsOnly);

void BM_JsonDocumentSerialise(benchmark::State& state)
{
    JsonDocument doc;
    doc.parse(pageText());
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.text());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pageText().size()));
}
BENCHMARK(BM_JsonDocumentSerialise);

} // namespace

BENCHMARK_MAIN();
