#pragma once
// A catalogue server on loopback HTTPS answering /api.php/provide/vod/ as a MacCMS v10 site with
// the stock type layout does, from the API's documented fields: "ac=list" gives the type list
// ("class": type_id, type_pid, type_name) beside a short listing; "ac=detail" lists records with
// "t" (one type id, matched exactly: a parent type does not list its children's records), "wd"
// (part of the name), "pg" and "pagesize" (up to 100; the site's own size, 30 here, without it).
// Answers carry code, msg, page, pagecount, limit (a text), total and list. A closed API answers
// the plain text "closed".

#include "support/test_server.h"

#include <nlohmann/json.hpp>

#include <QString>
#include <QUrlQuery>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace maccms {

using Json = nlohmann::ordered_json;

struct Type {
    int id;
    int parent;
    std::string name;
};

// The stock layout: four top types and the children of 电影 and 连续剧.
inline std::vector<Type> stockTypes()
{
    return {{1, 0, "电影"},    {2, 0, "连续剧"},  {3, 0, "综艺"},    {4, 0, "动漫"},
            {6, 1, "动作片"},  {7, 1, "喜剧片"},  {8, 1, "爱情片"},  {9, 1, "科幻片"},
            {10, 1, "恐怖片"}, {11, 1, "剧情片"}, {12, 1, "战争片"}, {13, 2, "国产剧"},
            {14, 2, "港台剧"}, {15, 2, "日韩剧"}, {16, 2, "欧美剧"}};
}

struct Record {
    int id = 0;
    std::string name;
    int type = 0;
    std::string blurb;
    std::string content;
    std::string pic;
    std::string playUrl = "第01集$https://v.example/1.m3u8";
};

class Server {
public:
    Server() : types_(stockTypes())
    {
        server.onHandler("/api.php/provide/vod/",
                         [this](const RecordedRequest& r, int) { return answer(r); });
    }

    std::string host() const { return server.hostPort(); }

    // count records of type, named prefix + 1 ... prefix + count.
    void addRecords(int type, const std::string& prefix, int count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = 1; i <= count; ++i) {
            Record r;
            r.id = static_cast<int>(records_.size()) + 1;
            r.name = prefix + std::to_string(i);
            r.type = type;
            r.blurb = r.name + "的简介";
            r.pic = "https://img.example/" + std::to_string(r.id) + ".jpg";
            records_.push_back(r);
        }
    }
    void addRecord(Record r)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        r.id = static_cast<int>(records_.size()) + 1;
        records_.push_back(std::move(r));
    }
    void setTypes(std::vector<Type> types)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        types_ = std::move(types);
    }
    // The page size the site uses when the request names none.
    void setSitePageSize(int size)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sitePageSize_ = size;
    }
    // An older site that takes no "pagesize" from the request.
    void ignorePageSizeParameter(bool ignore)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ignorePageSize_ = ignore;
    }
    // The admin has not opened the API.
    void close(bool closed)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = closed;
    }

    // Request targets of the listing ("ac=detail") and of the type list ("ac=list").
    std::vector<std::string> listingTargets() const { return targetsWith("ac=detail"); }
    std::vector<std::string> typeListTargets() const { return targetsWith("ac=list"); }

    TestServer server{TestServer::Scheme::Https};

private:
    std::vector<std::string> targetsWith(const std::string& part) const
    {
        std::vector<std::string> list;
        for (const RecordedRequest& r : server.requests())
            if (r.target.find(part) != std::string::npos)
                list.push_back(r.target);
        return list;
    }

    std::string typeName(int id) const
    {
        for (const Type& t : types_)
            if (t.id == id)
                return t.name;
        return {};
    }

    Json row(const Record& r) const
    {
        return Json{{"vod_id", r.id},
                    {"type_id", r.type},
                    {"type_id_1", 0},
                    {"vod_name", r.name},
                    {"type_name", typeName(r.type)},
                    {"vod_pic", r.pic},
                    {"vod_remarks", "HD"},
                    {"vod_blurb", r.blurb},
                    {"vod_content", r.content},
                    {"vod_play_from", "m3u8"},
                    {"vod_play_url", r.playUrl}};
    }

    CannedResponse answer(const RecordedRequest& r)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return CannedResponse{200, {"Content-Type: text/html; charset=utf-8"}, "closed"};
        const auto question = r.target.find('?');
        const QUrlQuery query(QString::fromStdString(
            question == std::string::npos ? std::string() : r.target.substr(question + 1)));
        auto value = [&](const char* name) {
            return query.queryItemValue(QString::fromUtf8(name), QUrl::FullyDecoded).toStdString();
        };
        const std::string ac = value("ac");
        int size = sitePageSize_;
        if (!ignorePageSize_ && query.hasQueryItem(QStringLiteral("pagesize")))
            size = std::clamp(std::stoi("0" + value("pagesize")), 1, 100);
        const int pg = std::max(1, std::atoi(value("pg").c_str()));

        std::vector<const Record*> matched;
        const bool byType = query.hasQueryItem(QStringLiteral("t")) && !value("t").empty();
        const int t = std::atoi(value("t").c_str());
        const std::string wd = value("wd");
        for (const Record& rec : records_) {
            if (byType && rec.type != t)
                continue;
            if (!wd.empty() && rec.name.find(wd) == std::string::npos)
                continue;
            matched.push_back(&rec);
        }
        const int total = static_cast<int>(matched.size());
        Json list = Json::array();
        for (int i = (pg - 1) * size; i < std::min(total, pg * size); ++i)
            list.push_back(row(*matched[static_cast<std::size_t>(i)]));
        Json body{{"code", 1},
                  {"msg", "数据列表"},
                  {"page", pg},
                  {"pagecount", (total + size - 1) / size},
                  {"limit", std::to_string(size)},
                  {"total", total},
                  {"list", list}};
        if (ac == "list") {
            Json classes = Json::array();
            for (const Type& type : types_)
                classes.push_back(Json{
                    {"type_id", type.id}, {"type_pid", type.parent}, {"type_name", type.name}});
            body["class"] = classes;
        }
        return CannedResponse{200, {"Content-Type: application/json; charset=utf-8"}, body.dump()};
    }

    mutable std::mutex mutex_;
    std::vector<Type> types_;
    std::vector<Record> records_;
    int sitePageSize_ = 30;
    bool ignorePageSize_ = false;
    bool closed_ = false;
};

} // namespace maccms
