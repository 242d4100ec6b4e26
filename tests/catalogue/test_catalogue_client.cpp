#include "catalogue/catalogue_client.h"

#include "catalogue/catalogue_pages.h"
#include "support/test_server.h"

#include <gtest/gtest.h>


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
        {-1, "abc", 1, base + "&wd=abc&pg=1"},
        {-2, "ignored", 3, base + "&pg=3"},
        {9, "ignored", 4, base + "&t=9&pg=4"},
        {-1, "", 1, base + "&wd=&pg=1"},
        {20, "", 0, base + "&t=20&pg=0"},
        {-2, "", -1, base + "&pg=-1"},
        {0, "x", 1, ""},
        {-3, "x", 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(catalogueUrl("h.example:8443", c.mode, c.keyword, c.page), c.expected)
            << "mode " << c.mode;
}

TEST(CatalogueUrl, KeywordTravelsAsOneQueryValue)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a&t=5", "a%26t%3D5"},
        {"#1", "%231"},
        {"who?", "who%3F"},
        {"100%", "100%25"},
        {"a b", "a%20b"},
        {"海贼王", "%E6%B5%B7%E8%B4%BC%E7%8E%8B"},
        {"A-z_0.9~", "A-z_0.9~"},
        {"a+b/c", "a%2Bb%2Fc"},
    };
    for (const auto& [keyword, encoded] : cases)
        EXPECT_EQ(catalogueUrl("h", -1, keyword, 1),
                  "https://h/api.php/provide/vod/?ac=detail&wd=" + encoded + "&pg=1");
}

TEST(BlurbText, SpacesGoAndAnEmptyBlurbGetsTheStandIn)
{
    const std::pair<std::string, std::string> cases[] = {
        {"  一部 好剧 ", "一部好剧"},
        {"全\u3000角\u3000空格", "全角空格"},
        {"   ", "这个作者很懒, 暂无此剧简介"},
        {"\u3000 \u3000", "这个作者很懒, 暂无此剧简介"},
        {"", "这个作者很懒, 暂无此剧简介"},
        {"tab\tstays", "tab\tstays"},
    };
    for (const auto& [blurb, shown] : cases)
        EXPECT_EQ(blurbText(blurb), shown);
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

TEST(ReadCataloguePage, ItemsAreReadUpToTwentyAndMissingOnesSkipped)
{
    // The last page of 45 records holds 5 items; a page never yields more than 20 rows.
    EXPECT_EQ(readCataloguePage(cp::page(45, 3, cp::items("剧", 5))).items.size(), 5u);
    EXPECT_EQ(readCataloguePage(cp::page(45, 2, cp::items("剧", 25))).items.size(), 20u);
    // total below the page size limits the rows read.
    EXPECT_EQ(readCataloguePage(cp::page(3, 1, cp::items("剧", 5))).items.size(), 3u);

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
        cp::item("海贼王", "动漫", " 草帽\u3000一伙 ", "第01集$https:\\/\\/v\\/1.m3u8", "https://img/1.jpg"),
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
        {"many", "lots", Outcome::Listed, "null", "null", 0},
    };
    for (const Case& c : cases) {
        const CataloguePage page = readCataloguePage(cp::page(c.total, c.pagecount, cp::items("剧", 2)));
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

class FetchCataloguePage : public ::testing::Test {
protected:
    TestServer server{TestServer::Scheme::Https};
    // The test authority, trusted as the settings key 证书文件 names it.
    const TransferPolicy trusted{TestServer::certificateFile()};
    std::string url(const std::string& query) { return server.url("/api.php/provide/vod/" + query); }
};

TEST_F(FetchCataloguePage, OneGetWithTheKeywordIntact)
{
    server.on("/api.php/provide/vod/", CannedResponse{200, {"Content-Type: application/json"},
                                                      cp::page(45, 3, cp::items("剧", 20))});
    const std::string target = catalogueUrl(server.hostPort(), -1, "a&b #c?", 2);
    const CataloguePage page = fetchCataloguePage(target, {}, trusted);
    EXPECT_EQ(page.outcome, Outcome::Listed);
    EXPECT_EQ(page.items.size(), 20u);
    const std::vector<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/api.php/provide/vod/?ac=detail&wd=a%26b%20%23c%3F&pg=2");
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
    server.on("/api.php/provide/vod/", CannedResponse{200, {"Content-Type: application/json"}, body});
    const CataloguePage page = fetchCataloguePage(url("?ac=detail&pg=1"), {}, trusted);
    ASSERT_EQ(page.outcome, Outcome::Listed) << page.failure;
    ASSERT_EQ(page.items.size(), 20u);
    EXPECT_EQ(page.items[7].title, "剧8");
    EXPECT_EQ(page.items[7].blurb, "\xE4\xB8\x80\xEF\xBF\xBD");
    EXPECT_EQ(page.items[12].blurb, "第一\t第二");
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
}
