// The bundled demo server, started as built (build/bin/qy_demo_server) on ports of its own
// choosing, checked over loopback: the catalogue API, the HLS media, the player pages in the
// real browser engine, and its command line and signals.
#include "support/demo_process.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using json = nlohmann::json;

const QString kPlayerCheck = QStringLiteral(QY_BINARY_DIR "/bin/qy_demo_playercheck");

class DemoServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(QFile::exists(kDemoServer)) << "build the target qy_demo_server first";
        ASSERT_TRUE(QFile::exists(kDemoRoot + QStringLiteral("/media/tls/server.crt")))
            << "run tools/demo/prepare.sh first";
        server_ = new DemoProcess();
        ASSERT_TRUE(server_->waitListening()) << server_->errors().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    static std::string httpsBase()
    {
        return "https://127.0.0.1:" + std::to_string(server_->httpsPort);
    }
    static std::string httpBase()
    {
        return "http://127.0.0.1:" + std::to_string(server_->httpPort);
    }

    static httplib::Result get(const std::string& base, const std::string& target,
                               const httplib::Headers& headers = {})
    {
        httplib::Client client(base);
        client.set_ca_cert_path(kDemoCertificate);
        client.set_read_timeout(10, 0);
        return client.Get(target.c_str(), headers);
    }
    // The downloader fetches playlists with an empty POST.
    static httplib::Result post(const std::string& base, const std::string& target)
    {
        httplib::Client client(base);
        client.set_ca_cert_path(kDemoCertificate);
        return client.Post(target.c_str(), "", "application/x-www-form-urlencoded");
    }
    // GET of a whole address such as "http://127.0.0.1:port/media/1/1/index.m3u8".
    static httplib::Result getUrl(const std::string& url)
    {
        const auto slash = url.find('/', url.find("//") + 2);
        return get(url.substr(0, slash), url.substr(slash));
    }

    static json listing(const std::string& query)
    {
        auto res = get(httpsBase(), "/api.php/provide/vod/?ac=detail" + query);
        if (!res || res->status != 200)
            return json();
        return json::parse(res->body, nullptr, false);
    }

    // Every item of the catalogue, walked through the latest listing page by page.
    static std::vector<json> allItems()
    {
        std::vector<json> items;
        for (int pg = 1;; ++pg) {
            json page = listing("&pg=" + std::to_string(pg));
            if (!page.is_object() || page["list"].empty())
                break;
            for (auto& item : page["list"])
                items.push_back(item);
        }
        return items;
    }

    static DemoProcess* server_;
};

DemoProcess* DemoServerTest::server_ = nullptr;

std::vector<std::string> split(const std::string& text, const std::string& sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(sep, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + sep.size();
    }
}

std::vector<std::string> lines(const std::string& text)
{
    auto parts = split(text, "\n");
    if (!parts.empty() && parts.back().empty())
        parts.pop_back();
    return parts;
}

// Category ids whose listing includes an item of the given type (the type itself and, for the
// sub-categories, their top category).
const std::map<int, int> kTopCategory = {
    {6, 1},   {8, 1},   {9, 1},   {10, 1},  {11, 1},  {20, 1},  {21, 1},  {38, 1},  {39, 1},
    {40, 1},  {41, 1},  {22, 3},  {5, 3},   {30, 3},  {4, 3},   {23, 3},  {35, 3},  {36, 3},
    {26, 25}, {27, 25}, {28, 25}, {29, 25}, {31, 24}, {32, 24}, {33, 24}, {34, 24},
};

TEST_F(DemoServerTest, ListingsHaveTheCatalogueShapeAndPageBy20)
{
    const std::vector<json> all = allItems();
    ASSERT_GE(all.size(), 45u);
    const int total = static_cast<int>(all.size());

    struct Case {
        const char* name;
        std::string query;
        std::function<bool(const json&)> selects; // which items of the catalogue the listing holds
        int page;
    };
    const std::string mountain = "&wd=%E5%B1%B1%E6%B5%B7"; // 山海
    const std::vector<Case> cases = {
        {"latest page 1", "&pg=1", [](const json&) { return true; }, 1},
        {"latest page 2", "&pg=2", [](const json&) { return true; }, 2},
        {"latest last page", "&pg=" + std::to_string((total + 19) / 20),
         [](const json&) { return true; }, (total + 19) / 20},
        {"beyond the last page", "&pg=99", [](const json&) { return true; }, 99},
        {"film category with its sub-categories", "&t=1&pg=1",
         [](const json& i) {
             return i["type_id"] == 1 ||
                    (kTopCategory.count(i["type_id"]) && kTopCategory.at(i["type_id"]) == 1);
         },
         1},
        {"film category page 2", "&t=1&pg=2",
         [](const json& i) {
             return i["type_id"] == 1 ||
                    (kTopCategory.count(i["type_id"]) && kTopCategory.at(i["type_id"]) == 1);
         },
         2},
        {"sub-category 喜剧片", "&t=20&pg=1", [](const json& i) { return i["type_id"] == 20; }, 1},
        {"series category", "&t=3&pg=1",
         [](const json& i) {
             return kTopCategory.count(i["type_id"]) && kTopCategory.at(i["type_id"]) == 3;
         },
         1},
        {"keyword 山海", mountain + "&pg=1",
         [](const json& i) {
             return i["vod_name"].get<std::string>().find("山海") != std::string::npos;
         },
         1},
        {"keyword and category", mountain + "&t=22&pg=1",
         [](const json& i) {
             return i["type_id"] == 22 &&
                    i["vod_name"].get<std::string>().find("山海") != std::string::npos;
         },
         1},
        {"the placeholder finds nothing",
         "&wd=%E8%AF%B7%E8%BE%93%E5%85%A5%E5%89%A7%E5%90%8D%E6%90%9C%E7%B4%A2&pg=1",
         [](const json&) { return false; }, 1},
        {"unknown category", "&t=999&pg=1", [](const json&) { return false; }, 1},
        {"page 0 is page 1", "&pg=0", [](const json&) { return true; }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> expected;
        for (const json& item : all)
            if (c.selects(item))
                expected.push_back(item["vod_id"]);
        const json body = listing(c.query);
        ASSERT_TRUE(body.is_object());
        EXPECT_EQ(body["code"], 1);
        EXPECT_EQ(body["msg"], "数据列表");
        EXPECT_EQ(body["limit"], "20");
        EXPECT_EQ(body["page"], c.page);
        EXPECT_EQ(body["total"], static_cast<int>(expected.size()));
        EXPECT_EQ(body["pagecount"], static_cast<int>((expected.size() + 19) / 20));
        std::vector<int> got;
        for (const json& item : body["list"])
            got.push_back(item["vod_id"]);
        const size_t from = std::min(expected.size(), static_cast<size_t>(c.page - 1) * 20);
        const size_t to = std::min(expected.size(), from + 20);
        EXPECT_EQ(got, std::vector<int>(expected.begin() + static_cast<long>(from),
                                        expected.begin() + static_cast<long>(to)));
    }

    // Newest first, and every item carries the fields of such servers in their order.
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_GT(all[i - 1]["vod_id"], all[i]["vod_id"]);
    const std::vector<std::string> keys = {
        "vod_id",    "type_id",     "type_name",   "vod_name",      "vod_pic",
        "vod_blurb", "vod_content", "vod_remarks", "vod_play_from", "vod_play_url"};
    auto raw = get(httpsBase(), "/api.php/provide/vod/?ac=detail&pg=1");
    ASSERT_TRUE(raw);
    const auto ordered = nlohmann::ordered_json::parse(raw->body);
    std::vector<std::string> firstKeys;
    for (auto it = ordered["list"][0].begin(); it != ordered["list"][0].end(); ++it)
        firstKeys.push_back(it.key());
    EXPECT_EQ(firstKeys, keys);
    EXPECT_NE(raw->body.find("http:\\/\\/127.0.0.1"), std::string::npos)
        << "slashes written as \\/";
    EXPECT_NE(raw->get_header_value("Content-Type").find("application/json"), std::string::npos);
}

TEST_F(DemoServerTest, CatalogueOffersEveryKindOfItemTheProgramHandles)
{
    const std::vector<json> all = allItems();
    std::set<int> categories;
    bool emptyPlayText = false, oneSource = false, twoSources = false, longSeries = false;
    bool blurbOnlySpaces = false, blurbIdeographicSpace = false, blurbAsciiSpace = false;
    for (const json& item : all) {
        SCOPED_TRACE(item["vod_name"].get<std::string>());
        categories.insert(item["type_id"].get<int>());
        EXPECT_FALSE(item["type_name"].get<std::string>().empty());
        const std::string blurb = item["vod_blurb"];
        if (blurb.find("\xE3\x80\x80") != std::string::npos)
            blurbIdeographicSpace = true;
        if (blurb.find(' ') != std::string::npos)
            blurbAsciiSpace = true;
        std::string stripped = blurb;
        for (const std::string& space : {std::string(" "), std::string("\xE3\x80\x80")})
            for (size_t at; (at = stripped.find(space)) != std::string::npos;)
                stripped.erase(at, space.size());
        if (!blurb.empty() && stripped.empty())
            blurbOnlySpaces = true;

        const std::string playText = item["vod_play_url"];
        const std::string from = item["vod_play_from"];
        if (playText.empty()) {
            emptyPlayText = true;
            continue;
        }
        const auto sources = split(playText, "$$$");
        ASSERT_EQ(sources.size(), split(from, "$$$").size());
        ASSERT_LE(sources.size(), 2u);
        std::vector<std::vector<std::string>> episodes;
        for (const std::string& source : sources) {
            episodes.emplace_back();
            for (const std::string& episode : split(source, "#")) {
                const auto labelAndAddress = split(episode, "$");
                ASSERT_EQ(labelAndAddress.size(), 2u) << episode;
                EXPECT_FALSE(labelAndAddress[0].empty());
                episodes.back().push_back(labelAndAddress[1]);
            }
        }
        // The last source holds the .m3u8 addresses; a first of two holds share pages.
        for (const std::string& address : episodes.back())
            EXPECT_EQ(address.rfind(httpBase() + "/media/", 0), 0u) << address;
        for (const std::string& address : episodes.back())
            EXPECT_NE(address.find("index.m3u8"), std::string::npos) << address;
        if (sources.size() == 2) {
            twoSources = true;
            EXPECT_EQ(episodes[0].size(), episodes[1].size());
            for (const std::string& address : episodes[0])
                EXPECT_EQ(address.rfind(httpBase() + "/share/", 0), 0u) << address;
        } else {
            oneSource = true;
        }
        if (episodes.back().size() >= 120)
            longSeries = true;
    }
    EXPECT_GE(categories.size(), 8u);
    EXPECT_TRUE(emptyPlayText);
    EXPECT_TRUE(oneSource);
    EXPECT_TRUE(twoSources);
    EXPECT_TRUE(longSeries);
    EXPECT_TRUE(blurbOnlySpaces);
    EXPECT_TRUE(blurbIdeographicSpace);
    EXPECT_TRUE(blurbAsciiSpace);
}

// Follows an episode address the way the downloader does: the master playlist, its first
// variant, then every segment; returns the segment bodies.
struct Followed {
    std::vector<std::string> variants;
    std::vector<std::string> mediaLines;
    std::vector<std::string> segments;
};

Followed follow(
    const std::string& base, const std::string& masterPath,
    std::function<httplib::Result(const std::string&, const std::string&)> fetchPlaylist,
    std::function<httplib::Result(const std::string&, const std::string&)> fetchSegment)
{
    Followed f;
    auto master = fetchPlaylist(base, masterPath);
    if (!master || master->status != 200)
        return f;
    for (const std::string& line : lines(master->body))
        if (!line.empty() && line[0] == '/')
            f.variants.push_back(line);
    if (f.variants.empty())
        return f;
    auto media = fetchPlaylist(base, f.variants[0]);
    if (!media || media->status != 200)
        return f;
    f.mediaLines = lines(media->body);
    for (const std::string& line : f.mediaLines) {
        if (line.empty() || line[0] == '#')
            continue;
        auto seg = fetchSegment(base, line);
        f.segments.push_back(seg && (seg->status == 200 || seg->status == 206) ? seg->body
                                                                               : std::string());
    }
    return f;
}

TEST_F(DemoServerTest, EpisodeAddressesLeadToPlayableMedia)
{
    auto postPlaylist = [](const std::string& b, const std::string& p) { return post(b, p); };
    auto rangeGet = [](const std::string& b, const std::string& p) {
        return get(b, p, {{"Range", "bytes=0-"}});
    };
    struct Case {
        const char* name;
        int id, episode;
        size_t variants;
        bool encrypted;
    };
    const Case cases[] = {
        {"two-source series", 5, 7, 1, false},
        {"last episode of the long series", 22, 120, 1, false},
        {"one-source item", 3, 1, 1, false},
        {"master playlist with two variants", 20, 1, 2, false},
        {"AES-128 clip", 14, 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/media/" + std::to_string(c.id) + "/" + std::to_string(c.episode);
        Followed f = follow(httpBase(), path + "/index.m3u8", postPlaylist, rangeGet);
        ASSERT_EQ(f.variants.size(), c.variants);
        EXPECT_EQ(f.variants[0], path + "/hls/index.m3u8");
        ASSERT_FALSE(f.segments.empty());
        int extinf = 0;
        for (const std::string& line : f.mediaLines)
            if (line.rfind("#EXTINF:", 0) == 0)
                ++extinf;
        EXPECT_EQ(extinf, static_cast<int>(f.segments.size()));
        EXPECT_EQ(f.mediaLines.back(), "#EXT-X-ENDLIST");
        // Segments are named by absolute path under the episode's own address.
        for (const std::string& line : f.mediaLines) {
            if (!line.empty() && line[0] != '#') {
                EXPECT_EQ(line.rfind(path + "/hls/seg", 0), 0u) << line;
            }
        }
        for (const std::string& seg : f.segments) {
            ASSERT_GT(seg.size(), 1000u);
            if (c.encrypted) {
                EXPECT_EQ(seg.size() % 16, 0u) << "whole cipher blocks";
            } else {
                EXPECT_EQ(seg.size() % 188, 0u) << "whole transport-stream packets";
                EXPECT_EQ(seg[0], '\x47') << "transport-stream sync byte";
            }
        }
        if (c.encrypted) {
            std::string keyLine;
            for (const std::string& line : f.mediaLines)
                if (line.rfind("#EXT-X-KEY:METHOD=AES-128,URI=\"", 0) == 0)
                    keyLine = line;
            ASSERT_FALSE(keyLine.empty());
            const std::string uri = split(keyLine, "\"")[1];
            EXPECT_EQ(uri.find('/'), std::string::npos) << "a relative key URI";
            auto key = get(httpBase(), path + "/hls/" + uri);
            ASSERT_TRUE(key);
            EXPECT_EQ(key->status, 200);
            EXPECT_EQ(key->body.size(), 16u);
            EXPECT_NE(f.segments[0][0], '\x47') << "the clip is really encrypted";
        }
        if (c.variants == 2) {
            auto low = get(httpBase(), f.variants[1]);
            ASSERT_TRUE(low);
            EXPECT_EQ(low->status, 200);
            EXPECT_NE(low->body.find(path + "/lo/seg000.ts"), std::string::npos);
        }
    }

    // An https:// continuation of an http:// media address reaches the same media on the same port.
    auto tlsGet = [](const std::string& b, const std::string& p) { return get(b, p); };
    const std::string tlsOnHttpPort = "https://127.0.0.1:" + std::to_string(server_->httpPort);
    Followed overTls = follow(tlsOnHttpPort, "/media/5/7/index.m3u8", postPlaylist, tlsGet);
    Followed plain = follow(httpBase(), "/media/5/7/index.m3u8", tlsGet, tlsGet);
    ASSERT_FALSE(overTls.segments.empty());
    EXPECT_EQ(overTls.segments, plain.segments);
}

TEST_F(DemoServerTest, UnknownOrUnsafeAddressesAreNotFound)
{
    const char* const paths[] = {
        "/media/999/1/index.m3u8",  // no such item
        "/media/24/1/index.m3u8",   // the item without a play text
        "/media/22/121/index.m3u8", // past the last episode
        "/media/22/0/index.m3u8",   // episodes count from 1
        "/media/5/1/lo/index.m3u8", // a variant the episode does not have
        "/media/5/1/hls/..%2F..%2Ftls%2Fserver.key",
        "/media/5/1/hls/.hidden",
        "/covers/..%2Ftls%2Fserver.key",
        "/share/24-1",
        "/share/5-41",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        auto res = get(httpBase(), path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404);
        EXPECT_EQ(res->body.find("PRIVATE KEY"), std::string::npos);
    }
}

TEST_F(DemoServerTest, PagesCoversAndPlayerFilesAreServedLocally)
{
    auto removed = get(httpBase(), "/share/8-1");
    ASSERT_TRUE(removed);
    EXPECT_NE(removed->body.find("<pre>视频已经被移除</pre>"), std::string::npos);

    const json page = listing("&pg=1");
    ASSERT_TRUE(page.is_object());
    auto cover = getUrl(page["list"][0]["vod_pic"]);
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->status, 200);
    ASSERT_GT(cover->body.size(), 2u);
    EXPECT_EQ(cover->body.substr(0, 2), "\xFF\xD8") << "a JPEG picture";

    for (const char* path : {"/player/jx.php?url=x", "/m3u8/?url=x", "/share/5-1"}) {
        SCOPED_TRACE(path);
        auto res = get(httpBase(), path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        // The page may not load anything from outside loopback.
        const std::string policy = res->get_header_value("Content-Security-Policy");
        EXPECT_NE(policy.find("default-src 'self'"), std::string::npos);
        // Every script and style sheet of the page is one the server has.
        static const std::regex ref(R"re((?:src|href)="(/[^"]+)")re");
        int refs = 0;
        for (std::sregex_iterator it(res->body.begin(), res->body.end(), ref), end; it != end;
             ++it) {
            auto file = get(httpBase(), (*it)[1]);
            ASSERT_TRUE(file);
            EXPECT_EQ(file->status, 200) << (*it)[1];
            ++refs;
        }
        EXPECT_GE(refs, 2);
    }
    auto plugin = get(httpBase(), "/vendor/aliplayer-hls/aliplayer-hls-min.js");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->status, 200);
    EXPECT_NE(plugin->body.find("Hls"), std::string::npos);
}

// Player libraries go out as a plain file server sends them: the stored bytes with their length,
// whatever encodings the browser offers. (Compressing each request anew at the server library's
// highest brotli quality held a page's start up by most of a second.)
TEST_F(DemoServerTest, PlayerFilesAreSentAsStoredToABrowserOfferingCompression)
{
    const struct {
        const char* path;
        const char* file;
    } cases[] = {
        {"/vendor/hls.js/hls.min.js", "/node_modules/hls.js/dist/hls.min.js"},
        {"/vendor/dplayer/DPlayer.min.js", "/node_modules/dplayer/dist/DPlayer.min.js"},
        {"/vendor/aliplayer-hls/aliplayer-hls2-min.js", "/node_modules/hls.js/dist/hls.min.js"},
        {"/players/guard.js", "/players/guard.js"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        QFile stored(kDemoRoot + QString::fromLatin1(c.file));
        ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
        const QByteArray bytes = stored.readAll();
        httplib::Client client(httpBase());
        client.set_decompress(false);
        auto res = client.Get(c.path, {{"Accept-Encoding", "gzip, deflate, br"}});
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_FALSE(res->has_header("Content-Encoding"))
            << res->get_header_value("Content-Encoding");
        EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(bytes.size()));
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/javascript");
        EXPECT_TRUE(res->body == bytes.toStdString());
        // A range of it, as media elements and resuming clients ask.
        auto part = client.Get(c.path, {{"Range", "bytes=10-19"}});
        ASSERT_TRUE(part);
        EXPECT_EQ(part->status, 206);
        EXPECT_EQ(part->body, bytes.mid(10, 10).toStdString());
    }
}

// The two player pages in Qt WebEngine, started by script as the program starts them.
TEST_F(DemoServerTest, PlayerPagesPlayOfflineWhenStartedByScript)
{
    ASSERT_TRUE(QFile::exists(kPlayerCheck)) << "build the target qy_demo_playercheck first";
    struct Case {
        const char* endpoint;
        const char* kind;
        int id, episode;
    };
    const Case cases[] = {
        {"/player/jx.php?url=", "dplayer", 22, 3},
        {"/m3u8/?url=", "aliplayer", 22, 3},
        {"/player/jx.php?url=", "dplayer", 14, 1}, // AES-128 clip
        {"/m3u8/?url=", "aliplayer", 20, 1},       // two variants
    };
    for (const Case& c : cases) {
        const std::string url = httpBase() + c.endpoint + httpBase() + "/media/" +
                                std::to_string(c.id) + "/" + std::to_string(c.episode) +
                                "/index.m3u8";
        SCOPED_TRACE(url);
        QProcess check;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        check.setProcessEnvironment(env);
        check.start(kPlayerCheck, {QStringLiteral("--seconds"), QStringLiteral("6"),
                                   QString::fromStdString(url)});
        ASSERT_TRUE(check.waitForFinished(90000));
        const QString out = QString::fromUtf8(check.readAllStandardOutput());
        EXPECT_TRUE(out.contains(QStringLiteral("kind ") + QLatin1String(c.kind)))
            << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("started 1"))) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("advanced 1"))) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("outside 0"))) << out.toStdString();
        // Total time of a 20-30 s clip in the page's time text.
        static const QRegularExpression total(QStringLiteral("time \\d+:\\d+ / 00:(2\\d|30)"));
        EXPECT_TRUE(total.match(out).hasMatch()) << out.toStdString();
        if (QLatin1String(c.kind) == QLatin1String("dplayer")) {
            EXPECT_TRUE(out.contains(QStringLiteral("speed 2"))) << out.toStdString();
        }
        EXPECT_EQ(check.exitCode(), 0);
    }
}

TEST(DemoServerProcess, LogsEachRequestAndStopsOnSignal)
{
    ASSERT_TRUE(QFile::exists(kDemoServer));
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        DemoProcess server;
        ASSERT_TRUE(server.waitListening()) << server.errors().toStdString();
        httplib::Client client("https://127.0.0.1:" + std::to_string(server.httpsPort));
        client.set_ca_cert_path(kDemoCertificate);
        auto res = client.Get("/api.php/provide/vod/?ac=detail&pg=2");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        ::kill(static_cast<pid_t>(server.process().processId()), sig);
        ASSERT_TRUE(server.process().waitForFinished(10000));
        EXPECT_EQ(server.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.process().exitCode(), 0);
        EXPECT_TRUE(server.log().contains(
            QStringLiteral("https GET /api.php/provide/vod/?ac=detail&pg=2 200")))
            << server.log().toStdString();
    }
}

TEST(DemoServerProcess, RefusesBadOptions)
{
    ASSERT_TRUE(QFile::exists(kDemoServer));
    QTemporaryDir empty;
    struct Case {
        QStringList args;
        int exitCode;
    };
    const Case cases[] = {
        {{QStringLiteral("--bind"), QStringLiteral("0.0.0.0")}, 2},
        {{QStringLiteral("--https-port"), QStringLiteral("70000")}, 2},
        {{QStringLiteral("--colour")}, 2},
        {{QStringLiteral("--root"), empty.path()}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        DemoProcess server(c.args);
        ASSERT_TRUE(server.process().waitForFinished(10000));
        EXPECT_EQ(server.process().exitCode(), c.exitCode);
        EXPECT_FALSE(server.log().contains(QStringLiteral("listening")));
    }
}

} // namespace
