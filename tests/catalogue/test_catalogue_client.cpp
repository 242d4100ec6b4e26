#include "catalogue/catalogue_client.h"

#include "catalogue/catalogue_categories.h"

#include "app/paths.h"
#include "app/settings_store.h"
#include "app/transfer_settings.h"
#include "catalogue/catalogue_pages.h"
#include "catalogue/maccms_server.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace cp = catalogue_pages;
using Outcome = CataloguePage::Outcome;

TEST(CatalogueUrl, EachModeBuildsItsListing)
{
    struct Case {
        int mode;
        std::string keyword;
        int page;
        std::string expected;
    };
    const std::string base = "https://h.example:8443/api.php/provide/vod/?ac=detail";
    const Case cases[] = {
        {-1, "abc", 1, base + "&wd=abc&pg=1&pagesize=20"},
        {-2, "ignored", 3, base + "&pg=3&pagesize=20"},
        {9, "ignored", 4, base + "&t=9&pg=4&pagesize=20"},
        {-1, "", 1, base + "&wd=&pg=1&pagesize=20"},
        {20, "", 0, base + "&t=20&pg=0&pagesize=20"},
        {-2, "", -1, base + "&pg=-1&pagesize=20"},
        {0, "x", 1, ""},
        {-3, "x", 1, ""},
        {categoryMode(1), "x", 1, ""}, // a grid label needs the route's types first
    };
    for (const Case& c : cases)
        EXPECT_EQ(catalogueUrl("h.example:8443", c.mode, c.keyword, c.page), c.expected)
            << "mode " << c.mode;
}

TEST(CatalogueUrl, KeywordTravelsAsOneQueryValue)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a&t=5", "a%26t%3D5"},   {"#1", "%231"},         {"who?", "who%3F"},
        {"100%", "100%25"},       {"a b", "a%20b"},       {"海贼王", "%E6%B5%B7%E8%B4%BC%E7%8E%8B"},
        {"A-z_0.9~", "A-z_0.9~"}, {"a+b/c", "a%2Bb%2Fc"},
    };
    for (const auto& [keyword, encoded] : cases)
        EXPECT_EQ(catalogueUrl("h", -1, keyword, 1),
                  "https://h/api.php/provide/vod/?ac=detail&wd=" + encoded + "&pg=1&pagesize=20");
}

TEST(ReadCataloguePage, FirstPageOfSeveral)
{
    const CataloguePage page = readCataloguePage(cp::page(45, 3, cp::items("剧", 20)));
    ASSERT_EQ(page.outcome, Outcome::Listed);
    ASSERT_EQ(page.items.size(), 20u);
    EXPECT_EQ(page.items[0].title, "剧1");
    EXPECT_EQ(page.items[19].title, "剧20");
    EXPECT_EQ(page.total, "45");
    EXPECT_EQ(page.pageCount, "3");
}

TEST(ReadCataloguePage, EveryItemOfThePageIsReadAndMissingOnesSkipped)
{
    // The last page of 45 records holds 5 items; a server paging by 30 sends 30.
    EXPECT_EQ(readCataloguePage(cp::page(45, 3, cp::items("剧", 5))).items.size(), 5u);
    EXPECT_EQ(readCataloguePage(cp::page(45, 2, cp::items("剧", 30))).items.size(), 30u);
    EXPECT_EQ(readCataloguePage(cp::page(3, 1, cp::items("剧", 5))).items.size(), 5u);
    // What is read of one answer stays bounded.
    EXPECT_EQ(
        readCataloguePage(cp::page(5000, 1, cp::items("剧", kMaxRowsPerAnswer + 50))).items.size(),
        static_cast<std::size_t>(kMaxRowsPerAnswer));

    std::vector<cp::Json> list = cp::items("剧", 4);
    list[1]["vod_name"] = "";
    list[2].erase("vod_name");
    const CataloguePage page = readCataloguePage(cp::page(4, 1, list));
    ASSERT_EQ(page.items.size(), 2u);
    EXPECT_EQ(page.items[0].title, "剧1");
    EXPECT_EQ(page.items[1].title, "剧4");
}

TEST(ReadCataloguePage, ColumnsOfARow)
{
    std::vector<cp::Json> list = {
        cp::item("海贼王", "动漫", " 草帽\u3000一伙 ", "第01集$https:\\/\\/v\\/1.m3u8",
                 "https://img/1.jpg"),
        cp::item("下架剧", "剧情片", "   ", "", "https://img/2.jpg"),
    };
    const CataloguePage page = readCataloguePage(cp::page(2, 1, list));
    ASSERT_EQ(page.items.size(), 2u);
    const CatalogueItem& shown = page.items[0];
    EXPECT_EQ(shown.title, "海贼王");
    EXPECT_EQ(shown.typeName, "动漫");
    EXPECT_EQ(shown.blurb, "草帽一伙");
    EXPECT_EQ(shown.cover, "https://img/1.jpg");
    EXPECT_EQ(shown.playText, "第01集$https:\\/\\/v\\/1.m3u8");
    EXPECT_EQ(shown.historyUrl, "");
    EXPECT_EQ(shown.historyM3u8, "");
    const CatalogueItem& removed = page.items[1];
    EXPECT_EQ(removed.typeName, "已下架");
    EXPECT_EQ(removed.playText, "");
    EXPECT_EQ(removed.blurb, "这个作者很懒, 暂无此剧简介");
    EXPECT_EQ(removed.cover, "https://img/2.jpg");
}

TEST(ReadCataloguePage, TotalAndPageCountTexts)
{
    struct Case {
        cp::Json total;
        cp::Json pagecount;
        Outcome outcome;
        std::string totalText;
        std::string pageText;
        std::size_t rows;
    };
    const Case cases[] = {
        {0, 0, Outcome::NothingFound, "", "", 0},
        {"0", 1, Outcome::NothingFound, "", "", 0},
        {"45", "3", Outcome::Listed, "45", "3", 2},
        {"many", "lots", Outcome::Listed, "null", "null",
         2}, // the rows sent are shown all the same
    };
    for (const Case& c : cases) {
        const CataloguePage page =
            readCataloguePage(cp::page(c.total, c.pagecount, cp::items("剧", 2)));
        EXPECT_EQ(page.outcome, c.outcome) << c.total.dump();
        EXPECT_EQ(page.total, c.totalText) << c.total.dump();
        EXPECT_EQ(page.pageCount, c.pageText) << c.total.dump();
        EXPECT_EQ(page.items.size(), c.rows) << c.total.dump();
    }
    // A JSON answer without the counts lists nothing and shows empty counts.
    const CataloguePage bare = readCataloguePage("{\"code\":1}");
    EXPECT_EQ(bare.outcome, Outcome::Listed);
    EXPECT_TRUE(bare.items.empty());
    EXPECT_EQ(bare.total, "");
}

TEST(ReadCataloguePage, BodiesThatAreNotJsonFail)
{
    for (const std::string body : {"", "<html>502 Bad Gateway</html>", "{\"total\":", "null"}) {
        const CataloguePage page = readCataloguePage(body);
        EXPECT_EQ(page.outcome, Outcome::Failed) << body;
        EXPECT_FALSE(page.failure.empty()) << body;
    }
}

// The source names come with the play text; a server that sends none leaves them empty.
TEST(ReadCataloguePage, SourceNamesBesideThePlayText)
{
    cp::Json named =
        cp::item("长风渡", "国产剧", "简介",
                 "第01集$https:\\/\\/v.qq.com\\/a.html$$$第01集$https:\\/\\/v\\/1.m3u8");
    named["vod_play_from"] = "qq$$$lzm3u8";
    const CataloguePage page = readCataloguePage(cp::page(2, 1, {named, cp::item("旧剧")}));
    ASSERT_EQ(page.items.size(), 2u);
    EXPECT_EQ(page.items[0].playFrom, "qq$$$lzm3u8");
    EXPECT_EQ(page.items[1].playFrom, "");
}

class FetchCataloguePage : public ::testing::Test {
protected:
    TestServer server{TestServer::Scheme::Https};
    // The test authority, trusted as the settings key 证书文件 names it.
    const TransferPolicy trusted{TestServer::certificateFile()};
    std::string url(const std::string& query)
    {
        return server.url("/api.php/provide/vod/" + query);
    }
};

TEST_F(FetchCataloguePage, OneGetWithTheKeywordIntact)
{
    server.on("/api.php/provide/vod/", CannedResponse{200,
                                                      {"Content-Type: application/json"},
                                                      cp::page(45, 3, cp::items("剧", 20))});
    const std::string target = catalogueUrl(server.hostPort(), -1, "a&b #c?", 2);
    const CataloguePage page = fetchCataloguePage(target, {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Listed);
    EXPECT_EQ(page.items.size(), 20u);
    const std::vector<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target,
              "/api.php/provide/vod/?ac=detail&wd=a%26b%20%23c%3F&pg=2&pagesize=20");
    EXPECT_TRUE(requests[0].tls);
}

// A page as real servers send it: one blurb cut in the middle of a character, another with a raw
// TAB. Every row is listed; the broken character shows as U+FFFD.
TEST_F(FetchCataloguePage, BrokenBytesInOneBlurbKeepEveryRow)
{
    std::vector<cp::Json> list = cp::items("剧", 20);
    list[7]["vod_blurb"] = "CUT-HERE";
    list[12]["vod_blurb"] = "TAB-HERE";
    std::string body = cp::page(45, 3, list);
    // "好" is E5 A5 BD: the server cut it after two bytes.
    body.replace(body.find("CUT-HERE"), 8, "\xE4\xB8\x80\xE5\xA5");
    body.replace(body.find("TAB-HERE"), 8, "第一\t第二");
    server.on("/api.php/provide/vod/",
              CannedResponse{200, {"Content-Type: application/json"}, body});
    const CataloguePage page = fetchCataloguePage(url("?ac=detail&pg=1"), {}, trusted);
    ASSERT_EQ(page.outcome, Outcome::Listed) << page.failure;
    ASSERT_EQ(page.items.size(), 20u);
    EXPECT_EQ(page.items[7].title, "剧8");
    EXPECT_EQ(page.items[7].blurb, "\xE4\xB8\x80\xEF\xBF\xBD");
    EXPECT_EQ(page.items[12].blurb, "第一第二");
    EXPECT_EQ(page.items[19].title, "剧20");
    EXPECT_EQ(page.total, "45");
}

// A route is used only when its certificate verifies: issued by an authority the policy trusts, for
// the route's host. Otherwise no request goes out and the failure names the host and the reason.
TEST_F(FetchCataloguePage, ARouteWhoseCertificateDoesNotVerifyIsNotUsed)
{
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    for (TestServer* s : {&server, &wrong})
        s->on("/api.php/provide/vod/", CannedResponse{200,
                                                      {"Content-Type: application/json"},
                                                      cp::page(1, 1, cp::items("剧", 1))});
    struct Case {
        const char* what;
        TestServer* route;
        TransferPolicy policy;
        const char* failure; // empty: listed
    };
    const Case cases[] = {
        {"trusted, right name", &server, trusted, ""},
        {"the system store alone", &server, {}, "证书无效: 127.0.0.1 (SSL certificate problem"},
        {"trusted, wrong name", &wrong, trusted,
         "证书无效: 127.0.0.1 (SSL: no alternative certificate subject"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.route->clearRecords();
        const CataloguePage page =
            fetchCataloguePage(catalogueUrl(c.route->hostPort(), -2, "", 1), {}, c.policy);
        if (*c.failure == '\0') {
            EXPECT_EQ(page.outcome, Outcome::Listed) << page.failure;
            continue;
        }
        EXPECT_EQ(page.outcome, Outcome::Failed);
        EXPECT_EQ(page.failure.rfind(c.failure, 0), 0u) << page.failure;
        EXPECT_EQ(page.failure.back(), ')');
        EXPECT_TRUE(c.route->requests().empty());
    }
}

TEST_F(FetchCataloguePage, FailuresAreReportedWithAReason)
{
    server.on("/api.php/provide/vod/", CannedResponse{500, {}, "{\"total\":3}"});
    CataloguePage page = fetchCataloguePage(url("?ac=detail&pg=1"), {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Failed);
    EXPECT_NE(page.failure.find("HTTP 500"), std::string::npos) << page.failure;

    // Redirects are not followed: the redirect itself is the failure.
    server.on("/api.php/provide/vod/", CannedResponse{302, {"Location: /elsewhere"}, ""});
    server.on("/elsewhere", CannedResponse{200, {}, cp::page(1, 1, cp::items("剧", 1))});
    page = fetchCataloguePage(url("?ac=detail&pg=1"), {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Failed);
    EXPECT_NE(page.failure.find("HTTP 302"), std::string::npos) << page.failure;
    EXPECT_EQ(server.count("/elsewhere"), 0);

    server.on("/api.php/provide/vod/", CannedResponse{200, {}, "<html>维护中</html>"});
    page = fetchCataloguePage(url("?ac=detail&pg=1"), {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Failed);
    EXPECT_FALSE(page.failure.empty());

    page = fetchCataloguePage("https://127.0.0.1:" + std::to_string(closedLoopbackPort()) +
                                  "/api.php/provide/vod/?ac=detail&pg=1",
                              {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Failed);
    EXPECT_NE(page.failure.find("无法连接服务器"), std::string::npos) << page.failure;

    // A page that never ends is given up at the page limit, not read until memory runs out.
    server.on("/api.php/provide/vod/",
              CannedResponse{200, {}, cp::page(1, 1, cp::items("剧", 1))}.endless());
    page = fetchCataloguePage(url("?ac=detail&pg=1"), {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Failed);
    EXPECT_EQ(page.failure, "服务器的回答超过 16 MiB 上限,已放弃");
}

TEST(ReadCataloguePage, WhatAMacCmsSiteSends)
{
    // The page size the server used, a missing page count, the full description, covers in every
    // form the server passes through.
    std::vector<cp::Json> list = {
        cp::item("庆余年第二季", "国产剧", "", "第01集$https://v/1.m3u8",
                 "//img.example/covers/4.jpg"),
        cp::item("长相思", "国产剧", "&ldquo;相思&rdquo;&     ;一梦", "第01集$https://v/2.m3u8",
                 "/covers/5.jpg"),
        cp::item("繁花", "国产剧", "   ", "第01集$https://v/3.m3u8", "covers/6.jpg"),
    };
    list[0]["vod_content"] = "<p>庆余年 第二季 (Joy of Life 2)&nbsp;</p>";
    list[0]["type_id"] = 13;
    list[2]["type_id"] = "14";
    cp::Json body = cp::Json::parse(cp::page(61, 0, list));
    body.erase("pagecount");
    body["limit"] = "30";
    const CataloguePage page = readCataloguePage(
        body.dump(), "https://vod.example/api.php/provide/vod/?ac=detail&pg=1&pagesize=20");
    ASSERT_EQ(page.outcome, Outcome::Listed);
    ASSERT_EQ(page.items.size(), 3u);
    EXPECT_EQ(page.items[0].blurb, "庆余年第二季(Joy of Life 2)");
    EXPECT_EQ(page.items[1].blurb, "\u201C相思\u201D一梦");
    EXPECT_EQ(page.items[2].blurb, "这个作者很懒, 暂无此剧简介");
    EXPECT_EQ(page.items[0].cover, "https://img.example/covers/4.jpg");
    EXPECT_EQ(page.items[1].cover, "https://vod.example/covers/5.jpg");
    EXPECT_EQ(page.items[2].cover, "https://vod.example/covers/6.jpg");
    EXPECT_EQ(page.limit, 30);
    EXPECT_EQ(page.total, "61");
    EXPECT_EQ(page.pageCount, "3");
    EXPECT_EQ(page.typeIds, (std::vector<int>{13, 0, 14}));
    // The play text is read as it is.
    EXPECT_EQ(page.items[1].playText, "第01集$https://v/2.m3u8");
}

TEST(ReadCataloguePage, AClosedApiSaysSo)
{
    for (const std::string body : {"closed", "closed\n", "  closed  "}) {
        const CataloguePage page = readCataloguePage(body);
        EXPECT_EQ(page.outcome, Outcome::Failed) << body;
        EXPECT_EQ(page.problem, CataloguePage::Problem::ApiClosed) << body;
        EXPECT_EQ(page.failure, "该线路的接口未开放 (closed)") << body;
    }
    EXPECT_EQ(readCataloguePage("closedown").problem, CataloguePage::Problem::NotJson);
    EXPECT_EQ(readCataloguePage("").problem, CataloguePage::Problem::EmptyBody);
}

namespace {

// A MacCMS site on loopback HTTPS; the settings trust its certificate.
class MacCmsPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolderForTesting(dir.path().toStdString());
        ASSERT_TRUE(ensureDataFolder());
        ASSERT_TRUE(writeSetting("配置项", "证书文件", TestServer::certificateFile()));
        site.addRecords(13, "国产剧", 40);
    }
    void TearDown() override { setProgramFolderForTesting(""); }

    QTemporaryDir dir;
    maccms::Server site;
};

} // namespace

TEST_F(MacCmsPages, PagesOfTheSizeAskedOrOfTheServersOwn)
{
    // 40 records: asked for 20 a page, the site sends 2 pages of 20.
    CataloguePage page =
        fetchCataloguePage(typePageUrl(site.host(), 13, 2), {}, transferPolicyFromSettings());
    ASSERT_EQ(page.outcome, Outcome::Listed) << page.failure;
    EXPECT_EQ(page.items.size(), 20u);
    EXPECT_EQ(page.items.front().title, "国产剧21");
    EXPECT_EQ(page.items.back().title, "国产剧40");
    EXPECT_EQ(page.pageCount, "2");
    EXPECT_EQ(site.listingTargets(),
              (std::vector<std::string>{"/api.php/provide/vod/?ac=detail&t=13&pg=2&pagesize=20"}));

    // A site that keeps its own 30: 30 rows, and its page count.
    site.ignorePageSizeParameter(true);
    page = fetchCataloguePage(typePageUrl(site.host(), 13, 1), {}, transferPolicyFromSettings());
    EXPECT_EQ(page.items.size(), 30u);
    EXPECT_EQ(page.pageCount, "2");
    page = fetchCataloguePage(typePageUrl(site.host(), 13, 2), {}, transferPolicyFromSettings());
    ASSERT_EQ(page.items.size(), 10u);
    EXPECT_EQ(page.items.back().title, "国产剧40");

    site.close(true);
    page = fetchCataloguePage(typePageUrl(site.host(), 13, 1), {}, transferPolicyFromSettings());
    EXPECT_EQ(page.problem, CataloguePage::Problem::ApiClosed);
}
