#pragma once
// Response bodies of a catalogue server, shared by the catalogue tests and benchmarks.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace catalogue_pages {

using Json = nlohmann::ordered_json;

inline Json item(const std::string& name, const std::string& type = "动作片",
                 const std::string& blurb = "简介",
                 const std::string& play = "第01集$https://v/1.m3u8",
                 const std::string& pic = "http://127.0.0.1:1/p.jpg")
{
    return Json{{"vod_name", name},
                {"type_name", type},
                {"vod_blurb", blurb},
                {"vod_play_url", play},
                {"vod_pic", pic}};
}

// count items named prefix + 1 ... prefix + count.
inline std::vector<Json> items(const std::string& prefix, int count)
{
    std::vector<Json> list;
    for (int i = 1; i <= count; ++i)
        list.push_back(item(prefix + std::to_string(i)));
    return list;
}

inline std::string page(const Json& total, const Json& pagecount, const std::vector<Json>& list)
{
    Json body{{"code", 1},     {"msg", "数据列表"}, {"page", 1},   {"pagecount", pagecount},
              {"limit", "20"}, {"total", total},    {"list", list}};
    return body.dump();
}

} // namespace catalogue_pages
