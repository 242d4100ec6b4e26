#include "catalogue/catalogue_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

constexpr const char* kNoBlurb = "这个作者很懒, 暂无此剧简介";

} // namespace

TEST(DecodeHtmlEntities, NamedNumericAndBrokenReferences)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Tom &amp; Jerry", "Tom & Jerry"},
        {"&lt;&gt;&quot;&apos;&#39;", "<>\"''"},
        {"&ldquo;庆余年&rdquo;&hellip;&mdash;", "\u201C庆余年\u201D\u2026\u2014"},
        {"&eacute;t&eacute; &copy; &middot;", "\u00E9t\u00E9 \u00A9 \u00B7"},
        {"&#26469;&#x6765;&#X6765;", "来来来"},
        {"a&nbsp;b", "a\u00A0b"},
        // Remnants the server's blurb maker leaves: a name removed, a name without ";", a
        // reference cut off at the end.
        {"第一季&     ;第二季", "第一季 第二季"},
        {"A&;B", "A B"},
        {"主演&nbsp张三", "主演\u00A0张三"},
        {"剧情简介&nb", "剧情简介"},
        {"剧情简介&#26469", "剧情简介来"},
        {"剧情简介&#1", "剧情简介"},
        // Numeric references that name no character are dropped.
        {"x&#0;y&#xD800;z&#1114112;", "xyz"},
        {"a&#;b", "ab"},
        // An "&" that starts no reference stays.
        {"AT&T & co", "AT&T & co"},
        {"&unknown; &copyright", "&unknown; &copyright"},
        {"R&#x", "R"},
        // Escaped twice.
        {"a&amp;nbsp;b&amp;amp;c", "a\u00A0b&c"},
    };
    for (const auto& [text, decoded] : cases)
        EXPECT_EQ(decodeHtmlEntities(text), decoded) << text;
}

TEST(StripHtmlTags, TagsGoTextStays)
{
    const std::pair<std::string, std::string> cases[] = {
        {"<p>第一段</p><p>第二段</p>", " 第一段  第二段 "},
        {"<b>Joy</b> of <i>Life</i>", "Joy of Life"},
        {"a<br/>b<BR>c", "a b c"},
        {"<!-- note -->正文<span style=\"color:red\">红</span>", " 正文红"},
        {"1 < 2 and 3 > 2", "1 < 2 and 3 > 2"},
        {"a <b", "a <b"},
        {"<<p>x", "< x"},
    };
    for (const auto& [text, plain] : cases)
        EXPECT_EQ(stripHtmlTags(text), plain) << text;
}

TEST(BlurbText, ReadableTextFromBlurbOrContent)
{
    struct Case {
        std::string blurb;
        std::string content;
        std::string shown;
    };
    const Case cases[] = {
        // Spaces stay between Latin words and signs, never beside Chinese text.
        {"庆余年 第二季 (Joy of Life 2)", "", "庆余年第二季(Joy of Life 2)"},
        {"  一部 好剧 ", "", "一部好剧"},
        {"全\u3000角\u3000空格", "", "全角空格"},
        {"tab\tand\r\nlines", "", "tab and lines"},
        {"Caf\u00E9  Ol\u00E9 !", "", "Caf\u00E9 Ol\u00E9 !"},
        {"Tom &amp; Jerry - Season 2", "", "Tom & Jerry - Season 2"},
        {"第三季 ， 完结", "", "第三季，完结"},
        {"第一\t第二", "", "第一第二"},
        // Entities and remnants.
        {"&ldquo;范闲&rdquo;&nbsp;&nbsp;回到京都&     ;再起风云", "",
         "\u201C范闲\u201D回到京都再起风云"},
        {"Season&nbsp;2&nbsp", "", "Season 2"},
        {"\u200B零宽\uFEFF字符", "", "零宽字符"},
        // The content when the blurb holds nothing.
        {"", "<p>&nbsp;&nbsp;范闲回到京都。</p><p>Fan Xian returns.</p>",
         "范闲回到京都。Fan Xian returns."},
        {" &nbsp; ", "<div>内容<br>第二行</div>", "内容第二行"},
        {"", "&lt;p&gt;转义过的&lt;/p&gt;标签", "转义过的标签"},
        {"简介", "<p>内容</p>", "简介"},
        // Nothing at all.
        {"   ", "", kNoBlurb},
        {"\u3000 \u3000", "<p>&nbsp;</p>", kNoBlurb},
        {"", "", kNoBlurb},
        {"&     ;", "", kNoBlurb},
    };
    for (const Case& c : cases)
        EXPECT_EQ(blurbText(c.blurb, c.content), c.shown) << c.blurb << " | " << c.content;
}

TEST(ResolveCoverUrl, EveryFormResolvesAgainstTheRoute)
{
    const std::string page = "https://vod.example:8443/api.php/provide/vod/?ac=detail&pg=1";
    const std::pair<std::string, std::string> cases[] = {
        {"//img.example/covers/4.jpg", "https://img.example/covers/4.jpg"},
        {"/covers/4.jpg", "https://vod.example:8443/covers/4.jpg"},
        {"covers/4.jpg", "https://vod.example:8443/covers/4.jpg"},
        {"./covers/4.jpg", "https://vod.example:8443/covers/4.jpg"},
        {"upload/vod/20240101-1/a b.jpg", "https://vod.example:8443/upload/vod/20240101-1/a b.jpg"},
        {"http://img.example/4.jpg", "http://img.example/4.jpg"},
        {"HTTPS://img.example/4.jpg", "HTTPS://img.example/4.jpg"},
        {"mac://img.example/4.jpg", "mac://img.example/4.jpg"},
        {"  //img.example/4.jpg  ", "https://img.example/4.jpg"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& [cover, absolute] : cases)
        EXPECT_EQ(resolveCoverUrl(cover, page), absolute) << cover;
    // The scheme of the route, whatever it is; no route: nothing to resolve against.
    EXPECT_EQ(resolveCoverUrl("//img.example/4.jpg", "http://127.0.0.2:80/api.php"),
              "http://img.example/4.jpg");
    EXPECT_EQ(resolveCoverUrl("/4.jpg", "https://h"), "https://h/4.jpg");
    EXPECT_EQ(resolveCoverUrl("/4.jpg", ""), "/4.jpg");
}
