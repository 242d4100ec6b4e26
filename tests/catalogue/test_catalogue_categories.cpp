#include "catalogue/catalogue_categories.h"

#include "app/paths.h"
#include "app/settings_store.h"
#include "app/transfer_settings.h"
#include "catalogue/catalogue_client.h"
#include "catalogue/catalogue_pages.h"
#include "catalogue/maccms_server.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <map>
#include <string>
#include <vector>

namespace {

using Ids = std::vector<int>;
using Outcome = CataloguePage::Outcome;

int indexOf(const char* label)
{
    const std::optional<int> index = categoryIndexOf(label);
    EXPECT_TRUE(index.has_value()) << label;
    return index.value_or(0);
}

std::string typeListBody(const std::vector<maccms::Type>& types)
{
    maccms::Json classes = maccms::Json::array();
    for (const maccms::Type& t : types)
        classes.push_back(
            maccms::Json{{"type_id", t.id}, {"type_pid", t.parent}, {"type_name", t.name}});
    return maccms::Json{{"code", 1},
                        {"msg", "数据列表"},
                        {"page", 1},
                        {"pagecount", 1},
                        {"limit", "20"},
                        {"total", 0},
                        {"list", maccms::Json::array()},
                        {"class", classes}}
        .dump();
}

} // namespace

TEST(ReadTypeList, TheClassArrayOfAListAnswer)
{
    const std::optional<std::vector<ServerType>> types =
        readTypeList(typeListBody(maccms::stockTypes()));
    ASSERT_TRUE(types.has_value());
    ASSERT_EQ(types->size(), 15u);
    EXPECT_EQ((*types)[4].id, 6);
    EXPECT_EQ((*types)[4].parentId, 1);
    EXPECT_EQ((*types)[4].name, "动作片");

    // Ids sent as texts count; entries without a usable id or name are left out.
    const std::string mixed = R"({"class":[{"type_id":"5","type_pid":"0","type_name":"纪录片"},
        {"type_id":0,"type_name":"零"},{"type_id":7,"type_name":" "},{"type_name":"无编号"}]})";
    const std::optional<std::vector<ServerType>> some = readTypeList(mixed);
    ASSERT_TRUE(some.has_value());
    ASSERT_EQ(some->size(), 1u);
    EXPECT_EQ((*some)[0].id, 5);

    for (const std::string& body :
         {std::string(), std::string("closed"),
          catalogue_pages::page(3, 1, catalogue_pages::items("剧", 3)),
          std::string(R"({"class":[]})"), std::string(R"({"class":{"a":1}})")})
        EXPECT_FALSE(readTypeList(body).has_value()) << body;
}

TEST(MapCategories, ByNameThenSynonymWithChildTypes)
{
    const CategoryMapping stock =
        mapCategories(*readTypeList(typeListBody(maccms::stockTypes())), 1000);
    EXPECT_FALSE(stock.builtin);
    EXPECT_EQ(stock.readAt, 1000);
    const std::pair<const char*, Ids> cases[] = {
        {"电影", {1, 6, 7, 8, 9, 10, 11, 12}},
        {"连续剧", {2, 13, 14, 15, 16}},
        {"综艺", {3}},
        {"动漫", {4}},
        {"动作片", {6}},
        {"喜剧片", {7}},
        {"恐怖片", {10}},
        {"国产剧", {13}},
        {"香港剧", {14}}, // 港台剧
        {"台湾剧", {14}},
        {"日本剧", {15}}, // 日韩剧
        {"欧美剧", {16}},
        {"动画片", {}}, // the stock layout has none of these
        {"纪录片", {}},
        {"体育赛事", {}},
    };
    for (const auto& [label, ids] : cases)
        EXPECT_EQ(typeIdsFor(stock, indexOf(label)), ids) << label;
    EXPECT_EQ(stock.types.size(), 34u) << "every label but 最新";

    // Other names for the same types, and an exact name winning over a synonym.
    const std::vector<maccms::Type> renamed = {
        {20, 0, "电影片"},  {21, 0, "电视剧"},       {22, 0, "动漫片"},
        {23, 0, "综艺片"},  {24, 0, "动画"},         {25, 0, "动漫"},
        {26, 21, "大陆剧"}, {27, 26, "大陆剧 精选"}, {28, 0, " 纪录片 "}};
    const CategoryMapping other = mapCategories(*readTypeList(typeListBody(renamed)), 1);
    const std::pair<const char*, Ids> renamedCases[] = {
        {"电影", {20}},   {"连续剧", {21, 26, 27}}, {"综艺", {23}},   {"动漫", {25}},
        {"动画片", {24}}, {"国产剧", {26, 27}},     {"纪录片", {28}},
    };
    for (const auto& [label, ids] : renamedCases)
        EXPECT_EQ(typeIdsFor(other, indexOf(label)), ids) << label;

    // A type list whose parents form a loop still ends.
    const std::vector<maccms::Type> loop = {{1, 2, "电影"}, {2, 1, "动作片"}};
    const CategoryMapping looped = mapCategories(*readTypeList(typeListBody(loop)), 1);
    EXPECT_EQ(typeIdsFor(looped, indexOf("电影")), (Ids{1, 2}));
    EXPECT_EQ(typeIdsFor(looped, indexOf("动作片")), (Ids{2, 1}));

    // Without a type list the grid's own ids apply.
    const CategoryMapping builtin;
    EXPECT_EQ(typeIdsFor(builtin, indexOf("连续剧")), (Ids{3}));
    EXPECT_EQ(typeIdsFor(builtin, indexOf("动画片")), (Ids{20}));
}

TEST(CategoryMappingText, StoredFormReadsBack)
{
    const CategoryMapping stock =
        mapCategories(*readTypeList(typeListBody(maccms::stockTypes())), 1733900000);
    const std::string text = mappingText(stock);
    EXPECT_EQ(
        text.rfind("1733900000|电影=1,6,7,8,9,10,11,12;动漫=4;综艺=3;纪录片=;连续剧=2,13,14,15,16;",
                   0),
        0u)
        << text;
    const std::optional<CategoryMapping> back = parseMappingText(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_FALSE(back->builtin);
    EXPECT_EQ(back->readAt, 1733900000);
    EXPECT_EQ(back->types, stock.types);

    CategoryMapping builtin;
    builtin.readAt = 42;
    EXPECT_EQ(mappingText(builtin), "42|");
    const std::optional<CategoryMapping> marker = parseMappingText("42|");
    ASSERT_TRUE(marker.has_value());
    EXPECT_TRUE(marker->builtin);
    EXPECT_EQ(marker->readAt, 42);

    for (const std::string bad : {"", "|电影=1", "x|电影=1", "12", "12|nothing=3", "12;电影=1"})
        EXPECT_FALSE(parseMappingText(bad).has_value()) << bad;
    // Ids that are not numbers are left out; unknown labels are ignored.
    const std::optional<CategoryMapping> odd = parseMappingText("5|电影=1,x,-3,7;别的=9");
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(typeIdsFor(*odd, indexOf("电影")), (Ids{1, 7}));
    EXPECT_EQ(odd->types.count("别的"), 0u);
    // The latest cell lists no category: ids stored for it are ignored, so the text that is
    // written back reads as the same mapping.
    const std::optional<CategoryMapping> latest = parseMappingText("5|最新=1,6;电影=1");
    ASSERT_TRUE(latest.has_value());
    EXPECT_EQ(latest->types.count("最新"), 0u);
    const std::optional<CategoryMapping> again = parseMappingText(mappingText(*latest));
    ASSERT_TRUE(again.has_value());
    for (int k = 0; k < kCategoryCount; ++k)
        EXPECT_EQ(typeIdsFor(*again, k), typeIdsFor(*latest, k)) << k;
}

TEST(CategoryMappingText, ADayOldMappingIsReadAgain)
{
    CategoryMapping mapping;
    mapping.readAt = 100000;
    const std::pair<std::int64_t, bool> cases[] = {
        {100000, true},
        {100000 + kMappingLifetimeSeconds - 1, true},
        {100000 + kMappingLifetimeSeconds, false},
        {99999, false}, // the clock went back
    };
    for (const auto& [now, current] : cases)
        EXPECT_EQ(mappingIsCurrent(mapping, now), current) << now;
}

namespace {

// Pages of server types as a server answers them: type id -> record count, the page size the
// server uses, and whether the parent lists its children's records too.
struct FakeTypes {
    std::map<int, int> totals;
    int limit = 20;
    std::vector<std::pair<int, int>> fetched; // (type, page) in order

    CataloguePage page(int type, int serverPage)
    {
        fetched.emplace_back(type, serverPage);
        CataloguePage p;
        const int total = totals[type];
        if (total == 0) {
            p.outcome = Outcome::NothingFound;
            return p;
        }
        p.outcome = Outcome::Listed;
        p.totalCount = total;
        p.total = std::to_string(total);
        p.limit = limit;
        p.pageCount = std::to_string((total + limit - 1) / limit);
        for (int i = (serverPage - 1) * limit; i < std::min(total, serverPage * limit); ++i) {
            CatalogueItem item;
            item.title = "T" + std::to_string(type) + "-" + std::to_string(i + 1);
            p.items.push_back(item);
            p.typeIds.push_back(type);
        }
        return p;
    }
};

std::vector<std::string> titles(const CataloguePage& page)
{
    std::vector<std::string> list;
    for (const CatalogueItem& item : page.items)
        list.push_back(item.title);
    return list;
}

std::vector<std::string> names(int type, int from, int to)
{
    std::vector<std::string> list;
    for (int i = from; i <= to; ++i)
        list.push_back("T" + std::to_string(type) + "-" + std::to_string(i));
    return list;
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(CombinedTypePage, TypesPagedAsOneListing)
{
    struct Case {
        std::string name;
        int limit;
        int page;
        std::vector<std::string> rows;
    };
    // 电影 itself holds nothing; 动作片 25, 喜剧片 7, 爱情片 none, 科幻片 30.
    const Ids ids = {1, 6, 7, 8, 9};
    const Case cases[] = {
        {"first page", 20, 1, names(6, 1, 20)},
        {"across two types", 20, 2, join(join(names(6, 21, 25), names(7, 1, 7)), names(9, 1, 8))},
        {"inside one type, over two of its pages", 20, 3, names(9, 9, 28)},
        {"last page", 20, 4, names(9, 29, 30)},
        {"beyond the end", 20, 9, {}},
        {"page 0 is page 1", 20, 0, names(6, 1, 20)},
        {"a server paging by 30", 30, 2,
         join(join(names(6, 21, 25), names(7, 1, 7)), names(9, 1, 8))},
        {"a server paging by 30, later", 30, 3, names(9, 9, 28)},
    };
    for (const Case& c : cases) {
        FakeTypes server{{{1, 0}, {6, 25}, {7, 7}, {8, 0}, {9, 30}}, c.limit, {}};
        const CataloguePage page =
            combinedTypePage(ids, c.page, [&](int type, int pg) { return server.page(type, pg); });
        EXPECT_EQ(page.outcome, Outcome::Listed) << c.name;
        EXPECT_EQ(page.total, "62") << c.name;
        EXPECT_EQ(page.pageCount, "4") << c.name;
        EXPECT_EQ(titles(page), c.rows) << c.name;
    }

    // One request per type for the counts, then only the pages that hold the rows.
    FakeTypes server{{{1, 0}, {6, 25}, {7, 7}, {8, 0}, {9, 30}}, 20, {}};
    combinedTypePage(ids, 3, [&](int type, int pg) { return server.page(type, pg); });
    EXPECT_EQ(server.fetched,
              (std::vector<std::pair<int, int>>{{1, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {9, 2}}));
}

TEST(CombinedTypePage, ParentListingChildrenNothingAndFailures)
{
    // A server whose parent type lists its children's records already: the parent alone.
    FakeTypes includes{{{1, 45}}, 20, {}};
    auto parentWithChildren = [&](int type, int pg) {
        CataloguePage p = includes.page(type, pg);
        for (int& t : p.typeIds)
            t = 6;
        return p;
    };
    CataloguePage page = combinedTypePage({1, 6, 7}, 2, parentWithChildren);
    EXPECT_EQ(page.total, "45");
    EXPECT_EQ(page.pageCount, "3");
    EXPECT_EQ(titles(page), names(1, 21, 40));
    EXPECT_EQ(includes.fetched, (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}}));

    FakeTypes empty{{{1, 0}, {6, 0}}, 20, {}};
    page = combinedTypePage({1, 6}, 1, [&](int type, int pg) { return empty.page(type, pg); });
    EXPECT_EQ(page.outcome, Outcome::NothingFound);

    FakeTypes some{{{1, 0}, {6, 30}}, 20, {}};
    page = combinedTypePage({1, 6, 7}, 2, [&](int type, int pg) {
        if (type == 6 && pg == 2) {
            CataloguePage failed;
            failed.failure = "服务器响应超时";
            return failed;
        }
        return some.page(type, pg);
    });
    EXPECT_EQ(page.outcome, Outcome::Failed);
    EXPECT_EQ(page.failure, "服务器响应超时");
}

namespace {

// A program folder whose settings trust the loopback servers' certificate.
class MappingOverHttps : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolderForTesting(dir.path().toStdString());
        ASSERT_TRUE(ensureDataFolder());
        ASSERT_TRUE(writeSetting("配置项", "证书文件", TestServer::certificateFile()));
    }
    void TearDown() override { setProgramFolderForTesting(""); }

    QTemporaryDir dir;
    maccms::Server server;
};

constexpr std::int64_t kNow = 1733900000;

} // namespace

TEST_F(MappingOverHttps, ReadOnceStoredPerRouteAndReadAgainADayLater)
{
    EXPECT_TRUE(categoryMappingDue(server.host(), kNow));
    CategoryMapping mapping =
        categoryMappingFor(server.host(), kNow, true, {}, transferPolicyFromSettings());
    EXPECT_FALSE(mapping.builtin);
    EXPECT_EQ(typeIdsFor(mapping, indexOf("连续剧")), (Ids{2, 13, 14, 15, 16}));
    EXPECT_EQ(server.typeListTargets(),
              (std::vector<std::string>{"/api.php/provide/vod/?ac=list"}));
    const std::string stored = readSetting("分类映射", server.host());
    EXPECT_EQ(stored.rfind("1733900000|电影=1,6,7,8,9,10,11,12;", 0), 0u) << stored;
    EXPECT_FALSE(categoryMappingDue(server.host(), kNow + 60));

    // Within the day: what is stored, no request.
    mapping = categoryMappingFor(server.host(), kNow + kMappingLifetimeSeconds - 1, true, {},
                                 transferPolicyFromSettings());
    EXPECT_EQ(typeIdsFor(mapping, indexOf("综艺")), (Ids{3}));
    EXPECT_EQ(server.typeListTargets().size(), 1u);

    // A day later the list is read again; the admin has renamed a type meanwhile.
    std::vector<maccms::Type> types = maccms::stockTypes();
    types[2].name = "综艺节目";
    types.push_back({20, 0, "纪录片"});
    server.setTypes(types);
    EXPECT_TRUE(categoryMappingDue(server.host(), kNow + kMappingLifetimeSeconds));
    mapping = categoryMappingFor(server.host(), kNow + kMappingLifetimeSeconds, true, {},
                                 transferPolicyFromSettings());
    EXPECT_EQ(server.typeListTargets().size(), 2u);
    EXPECT_EQ(typeIdsFor(mapping, indexOf("综艺")), (Ids{3}));
    EXPECT_EQ(typeIdsFor(mapping, indexOf("纪录片")), (Ids{20}));
    EXPECT_EQ(parseMappingText(readSetting("分类映射", server.host()))->readAt,
              kNow + kMappingLifetimeSeconds);

    // Only what is stored: no request even when due.
    mapping = categoryMappingFor(server.host(), kNow + 10 * kMappingLifetimeSeconds, false, {},
                                 transferPolicyFromSettings());
    EXPECT_EQ(typeIdsFor(mapping, indexOf("纪录片")), (Ids{20}));
    EXPECT_EQ(server.typeListTargets().size(), 2u);
}

TEST_F(MappingOverHttps, WithoutATypeListTheBuiltInIdsStay)
{
    // A closed API: nothing is stored, and the next load asks again.
    server.close(true);
    CategoryMapping mapping =
        categoryMappingFor(server.host(), kNow, true, {}, transferPolicyFromSettings());
    EXPECT_TRUE(mapping.builtin);
    EXPECT_EQ(typeIdsFor(mapping, indexOf("连续剧")), (Ids{3}));
    EXPECT_EQ(readSetting("分类映射", server.host()), "");
    EXPECT_TRUE(categoryMappingDue(server.host(), kNow));

    // Read once the API is open; then closed again a day later: the older mapping stays.
    server.close(false);
    categoryMappingFor(server.host(), kNow, true, {}, transferPolicyFromSettings());
    server.close(true);
    mapping = categoryMappingFor(server.host(), kNow + kMappingLifetimeSeconds, true, {},
                                 transferPolicyFromSettings());
    EXPECT_FALSE(mapping.builtin);
    EXPECT_EQ(typeIdsFor(mapping, indexOf("连续剧")), (Ids{2, 13, 14, 15, 16}));
    EXPECT_EQ(server.typeListTargets().size(), 3u);

    // A server that answers listings but keeps no type list is stored as such for a day.
    TestServer plain(TestServer::Scheme::Https);
    plain.on("/api.php/provide/vod/",
             CannedResponse{200,
                            {"Content-Type: application/json"},
                            catalogue_pages::page(3, 1, catalogue_pages::items("剧", 3))});
    mapping = categoryMappingFor(plain.hostPort(), kNow, true, {}, transferPolicyFromSettings());
    EXPECT_TRUE(mapping.builtin);
    EXPECT_EQ(readSetting("分类映射", plain.hostPort()), "1733900000|");
    categoryMappingFor(plain.hostPort(), kNow + 60, true, {}, transferPolicyFromSettings());
    EXPECT_EQ(plain.count("/api.php/provide/vod/"), 1);

    // Unreachable: builtin, nothing stored.
    const std::string dead = "127.0.0.1:" + std::to_string(closedLoopbackPort());
    EXPECT_TRUE(categoryMappingFor(dead, kNow, true, {}, transferPolicyFromSettings()).builtin);
    EXPECT_EQ(readSetting("分类映射", dead), "");
}
