#include "net/json_document.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

JsonDocument parsed(const std::string& text)
{
    JsonDocument doc;
    doc.parse(text);
    return doc;
}

// A document with the shapes callers read: a catalogue page, a history, Chinese names, and a
// member that happens to be called like the root.
const char* const sample = R"({
  "total": 45, "pagecount": 3,
  "list": [{"vod_name": "甲", "type_name": "剧集", "vod_pic": "http://p/1.jpg"},
           {"vod_name": "乙"}],
  "data": [{"名": "天下", "集": "03"}],
  "名": "顶层",
  "it's": "apostrophe",
  "da": {"x": "inner"}
})";

TEST(JsonDocumentPaths, ReadsEveryFormOfThePathLanguage)
{
    JsonDocument doc = parsed(sample);
    struct Case {
        const char* path;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"total", "45"},
        {"list[0]['vod_name']", "甲"},
        {"list[0].vod_name", "甲"},
        {"list[1][\"vod_name\"]", "乙"},
        {"['list'][0]['type_name']", "剧集"},
        {"list [ 0 ] . vod_pic", "http://p/1.jpg"},
        {"data[0].名", "天下"},
        {"['data'][0]['名']", "天下"},
        {"['data']['0']['集']", "03"}, // a quoted index still indexes an array
        {"名", "顶层"},
        {"['\\u540d']", "顶层"},
        {"['it\\'s']", "apostrophe"},
        {"list.length", "2"},
        {"data[0].名.length", "2"},
        {"da.total", "45"}, // the root by name
        {"da.list[1].vod_name", "乙"},
        {"da.x", "inner"},       // da.x does not exist, so the path is read as da.da.x
        {"", "[object Object]"}, // the root
        {"list[2].vod_name", ""},
        {"list[0].vod_name.x", ""},
        {"nosuch.member", ""},
        {"list[-1]", ""},
        // not member expressions
        {"list[0", ""},
        {"list[]", ""},
        {"list[0]x", ""},
        {"list..vod_name", ""},
        {"'total'", ""},
        {"list[0.5]", ""},
        {"total; 1", ""},
        {"[total]", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(doc.getText(c.path), c.text);
    }
}

TEST(JsonDocumentPaths, QualifyRewritesThePathAndTellsWhetherItNamesAValue)
{
    JsonDocument doc = parsed(R"({"list":[1],"data":[],"z":null})");
    struct Case {
        const char* path;
        const char* qualified;
        bool exists;
    };
    const std::vector<Case> cases = {
        {"", "da", true},
        {"[0]", "da[0]", false},
        {"['list']", "da['list']", true},
        {"list", "da.list", true},
        {"list[0]", "da.list[0]", true},
        {"da.list", "da.list", true},
        {"data", "da.data", true}, // begins with the root's letters but is a member
        {"da.nosuch", "da.da.nosuch", false},
        {"z", "da.z", false}, // null counts as missing
        {"list[", "da.list[", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string path = c.path;
        EXPECT_EQ(doc.qualifyPath(path), c.exists);
        EXPECT_EQ(path, c.qualified);
        EXPECT_EQ(doc.exists(c.path), c.exists);
    }
}

TEST(JsonDocumentReads, TypeCodesAndScriptTextForms)
{
    JsonDocument doc = parsed(R"({"s":"text","n":1.5,"t":true,"f":false,"z":null,"a":["a","b"],)"
                              R"("m":[1,[2,3],null,{},"x"],"o":{"k":1},"big":1e21,"e":[]})");
    struct Case {
        const char* path;
        int type;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"s", 6, "text"},
        {"n", 2, "1.5"},
        {"t", 1, "true"},
        {"f", 1, "false"},
        {"z", 0, ""},
        {"a", 5, "a,b"},
        {"m", 5, "1,2,3,,[object Object],x"},
        {"o", 4, "[object Object]"},
        {"big", 2, "1e+21"},
        {"e", 5, ""},
        {"missing", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(doc.typeOf(c.path), c.type);
        EXPECT_EQ(doc.getText(c.path), c.text);
    }
    EXPECT_EQ(doc.getText("o", true), R"({"k":1})");
    EXPECT_EQ(doc.jsonText("a"), R"(["a","b"])");
    EXPECT_EQ(doc.jsonText("z"), "null");
    EXPECT_EQ(doc.jsonText("missing"), "");
}

TEST(JsonDocumentReads, CountKeysNumberAndItems)
{
    JsonDocument doc = parsed(
        R"({"list":[{"a":1},"two",3],"o":{"b":1,"a":2,"名":3},"s":"abc","ns":" 12.5kg","t":true})");
    EXPECT_EQ(doc.count("list"), 3);
    EXPECT_EQ(doc.count("o"), 0);
    EXPECT_EQ(doc.count("s"), 0);
    EXPECT_EQ(doc.count("missing"), 0);

    std::vector<std::string> names{"stale"};
    EXPECT_EQ(doc.keys(names, "o"), 3);
    EXPECT_EQ(names, (std::vector<std::string>{"b", "a", "名"}));
    EXPECT_EQ(doc.keys(names, "list"), 0);
    EXPECT_TRUE(names.empty());

    EXPECT_EQ(doc.number("o.a"), 2);
    EXPECT_EQ(doc.number("ns"), 12.5);
    EXPECT_EQ(doc.number("s"), 0);
    EXPECT_EQ(doc.number("t"), 1);
    EXPECT_EQ(doc.number("missing"), 0);

    EXPECT_EQ(doc.itemText(1, "list"), "two");
    EXPECT_EQ(doc.itemText(2, "list"), ""); // not a text
    EXPECT_EQ(doc.itemText(2, "list", true), "3");
    EXPECT_EQ(doc.itemText(0, "list", true), R"({"a":1})");
    EXPECT_EQ(doc.itemText(5, "list", true), "");
    EXPECT_EQ(doc.itemDocument(0, "list").text(), R"({"a":1})");
    EXPECT_EQ(doc.itemDocument(1, "list").text(), "null");
}

TEST(JsonDocumentReads, LeafValuesInOrderWithAndWithoutNesting)
{
    JsonDocument doc = parsed(R"({"a":"x","b":1,"c":true,"d":null,"e":{"f":"y","g":[2,"z"]},)"
                              R"("h":"[2020年7月20日20时0分0秒]","i":""})");
    std::vector<std::string> leaves;
    EXPECT_EQ(doc.leafValues(leaves, ""), 5);
    // A value holding the separator text stays one value.
    EXPECT_EQ(leaves,
              (std::vector<std::string>{"x", "1", "true", JsonDocument::valueSeparator, ""}));
    EXPECT_EQ(doc.leafValues(leaves, "", true), 8);
    EXPECT_EQ(leaves, (std::vector<std::string>{"x", "1", "true", "y", "2", "z",
                                                JsonDocument::valueSeparator, ""}));
    EXPECT_EQ(doc.leafValues(leaves, "e.g"), 2);
    EXPECT_EQ(doc.leafValues(leaves, "a"), 0);
    EXPECT_EQ(doc.leafValues(leaves, "missing"), 0);
}

TEST(JsonDocumentParse, StrictJsonOnly)
{
    struct Case {
        std::string text;
        bool ok;
        const char* serialised;
    };
    const std::vector<Case> cases = {
        {R"({"a":1})", true, R"({"a":1})"},
        {"\xEF\xBB\xBF \r\n\t{\"a\":[1,2]} \n", true, R"({"a":[1,2]})"},
        {R"([1,"x"])", true, R"([1,"x"])"},
        {"", false, ""},
        {" \r\n ", false, ""},
        {"null", false, "null"},
        {"abc", false, "null"},
        {"alert(1)", false, "null"},
        {"da = {}", false, "null"},
        {"{'a':1}", false, "null"},
        {"{a:1}", false, "null"},
        {"[1,]", false, "null"},
        {R"({"a":1} x)", false, "null"},
        {"/* note */ {}", false, "null"},
        {"0x10", false, "null"},
        {"NaN", false, "null"},
        {"<html>502 Bad Gateway</html>", false, "null"},
        {R"({"a":1,"b":2,"a":3})", true, R"({"a":3,"b":2})"}, // the later twin wins, in place
        // A whole-text string is read as a number when it holds one, as callers expect.
        {R"("45")", true, "45"},
        {R"(" 1e3 ")", true, "1000"},
        {R"("abc")", false, "null"},
        {R"j("alert(1)")j", false, "null"},
        {std::string(200000, '[') + std::string(200000, ']'), false, "null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        JsonDocument doc;
        EXPECT_EQ(doc.parse(c.text), c.ok);
        EXPECT_EQ(doc.text(), c.serialised);
    }

    JsonDocument literal;
    EXPECT_TRUE(literal.parse(R"("abc")", true));
    EXPECT_EQ(literal.text(), R"("abc")");
}

// What real servers send: ill-formed UTF-8 reads as U+FFFD (one per maximal ill-formed part),
// raw control characters inside strings read as themselves (CR and LF still end the text), and
// a place in an error report is one of the caller's text.
TEST(JsonDocumentParse, BrokenBytesAndRawControlsOfRealServers)
{
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        const char* what;
        std::string text;
        bool ok;
        std::string value;      // getText("a")
        std::string serialised; // text()
    };
    const std::vector<Case> cases = {
        {"a three-byte character cut short", "{\"a\":\"x\xE5\xA5\",\"b\":1}", true, "x" + fffd,
         R"({"a":"x\ufffd","b":1})"}, // json2 writes U+FFFD as an escape
        {"a four-byte character cut short", "{\"a\":\"\xF0\x9F\x98\"}", true, fffd, ""},
        {"a stray continuation byte", "{\"a\":\"\x80y\"}", true, fffd + "y", ""},
        {"a byte that is never UTF-8", "{\"a\":\"\xFF\"}", true, fffd, ""},
        {"an overlong form", "{\"a\":\"\xC0\xAF\"}", true, fffd + fffd, ""},
        {"an encoded surrogate", "{\"a\":\"\xED\xA0\x80\"}", true, fffd + fffd + fffd, ""},
        {"a cut character at the very end of the text", "{\"a\":\"v\"}\xE4", false, "", "null"},
        {"well-formed text is kept", "{\"a\":\"\xE4\xB8\xAD\xF0\x9F\x98\x80\"}", true,
         "\xE4\xB8\xAD\xF0\x9F\x98\x80", ""},
        {"a raw TAB inside a string", "{\"a\":\"x\ty\"}", true, "x\ty", R"({"a":"x\ty"})"},
        {"a raw TAB after an escaped quote", "{\"a\":\"\\\"\t\"}", true, "\"\t", R"({"a":"\"\t"})"},
        {"other raw control characters", "{\"a\":\"\x01\x1f\"}", true, "\x01\x1f",
         R"({"a":"\u0001\u001f"})"},
        {"TABs between tokens stay white space", "{\t\"a\"\t:\t\"v\"}", true, "v", R"({"a":"v"})"},
        {"a raw line feed inside a string is still refused", "{\"a\":\"x\ny\"}", false, "", "null"},
        {"a raw carriage return likewise", "{\"a\":\"x\ry\"}", false, "", "null"},
        {"a script is still not run", "{\"a\":\"\t\"+alert(1)+\"\"}", false, "", "null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JsonDocument doc;
        EXPECT_EQ(doc.parse(c.text), c.ok);
        EXPECT_EQ(doc.getText("a"), c.value);
        if (!c.serialised.empty()) {
            EXPECT_EQ(doc.text(), c.serialised);
        }
    }

    JsonDocument doc;
    ParseError error;
    EXPECT_FALSE(doc.parse("{\"a\":\"\t\t\xFF\",\n  x}", false, &error));
    EXPECT_EQ(error.line, 2);
    EXPECT_EQ(error.column, 3);
}

TEST(JsonDocumentParse, FailedParseEmptiesEveryRead)
{
    for (const char* text : {"not json", ""}) {
        SCOPED_TRACE(text);
        JsonDocument doc;
        EXPECT_FALSE(doc.parse(text));
        std::vector<std::string> list;
        EXPECT_EQ(doc.getText("total"), "");
        EXPECT_EQ(doc.getText("list[0]['vod_name']"), "");
        EXPECT_EQ(doc.count("list"), 0);
        EXPECT_EQ(doc.subDocument("total").text(), "");
        EXPECT_FALSE(doc.exists("total"));
        EXPECT_EQ(doc.typeOf("total"), 0);
        EXPECT_EQ(doc.number("total"), 0);
        EXPECT_EQ(doc.keys(list, ""), 0);
        EXPECT_EQ(doc.leafValues(list, ""), 0);
        EXPECT_FALSE(doc.set("a", "b"));
    }
}

TEST(JsonDocumentParse, ErrorRecordSaysWhere)
{
    JsonDocument doc;
    ParseError error;
    EXPECT_FALSE(doc.parse("{\n  \"a\": x}", false, &error));
    EXPECT_EQ(error.number, 1002);
    EXPECT_EQ(error.source, "JsonDocument");
    EXPECT_FALSE(error.description.empty());
    EXPECT_EQ(error.line, 2);
    EXPECT_EQ(error.column, 8);
    EXPECT_EQ(error.text, "  \"a\": x}");

    EXPECT_TRUE(doc.parse("{}", false, &error));
    EXPECT_EQ(error.number, 0);
}

TEST(JsonDocumentSubDocument, CopiesTheValueAsItsJsonReadsBack)
{
    JsonDocument doc = parsed(
        R"({"n":37,"s":"45","t":"abc","e":"","o":{"a":[1,2]},"b":true,"z":null,"total":0,"list":[]})");
    struct Case {
        const char* path;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"n", "37"},   {"s", "45"},   {"t", "null"},   {"e", "null"},  {"o", R"({"a":[1,2]})"},
        {"b", "true"}, {"z", "null"}, {"missing", ""}, {"total", "0"}, {"list[0]", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(doc.subDocument(c.path).text(), c.text);
    }
    EXPECT_EQ(doc.getText("total"), "0");
    EXPECT_EQ(doc.count("list"), 0);
    EXPECT_EQ(doc.getText("list[0]['vod_name']"), "");

    JsonDocument copy = doc.subDocument("o");
    EXPECT_TRUE(copy.append("3", "a", true));
    EXPECT_EQ(copy.text(), R"({"a":[1,2,3]})");
    EXPECT_EQ(doc.jsonText("o"), R"({"a":[1,2]})");
}

TEST(JsonDocumentSerialise, Json2EscapesAndCreationOrder)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.set("b", "\b\t\n\f\r\"\\/\x01\x1f\x7f"));
    ASSERT_TRUE(doc.set("a", "\u0085\u00ad\u0600\u070f\u17b4\u200c\u2028\u2060\ufeff\ufff0\uffff"));
    ASSERT_TRUE(doc.set("c", "中文 \u00e9 \U0001F600 \u2027"));
    ASSERT_TRUE(doc.set("d", std::string("bad\xff\xc3", 5)));
    ASSERT_TRUE(doc.setNumber("名", 1));
    EXPECT_EQ(doc.text(),
              R"({"b":"\b\t\n\f\r\"\\/\u0001\u001f\u007f",)"
              R"("a":"\u0085\u00ad\u0600\u070f\u17b4\u200c\u2028\u2060\ufeff\ufff0\uffff",)"
              "\"c\":\"中文 \u00e9 \U0001F600 \u2027\","
              R"("d":"bad\ufffd\ufffd","名":1})");

    JsonDocument order = parsed(R"({"z":1,"1":2,"a":{"y":[],"b":{}}})");
    ASSERT_TRUE(order.set("m", "new"));
    EXPECT_EQ(order.text(), R"({"z":1,"1":2,"a":{"y":[],"b":{}},"m":"new"})");
}

TEST(JsonDocumentSerialise, JavaScriptNumberTexts)
{
    struct Case {
        const char* json;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"0", "0"},
        {"-0", "0"},
        {"-0.0", "0"},
        {"100", "100"},
        {"1.0", "1"},
        {"0.1", "0.1"},
        {"1.5", "1.5"},
        {"-2.25", "-2.25"},
        {"0.000001", "0.000001"},
        {"1e-7", "1e-7"},
        {"1.5e-7", "1.5e-7"},
        {"-1.23e-18", "-1.23e-18"},
        {"1e20", "100000000000000000000"},
        {"123456789012345680000", "123456789012345680000"},
        {"1e21", "1e+21"},
        {"1.5e300", "1.5e+300"},
        {"5e-324", "5e-324"},
        {"1.7976931348623157e308", "1.7976931348623157e+308"},
        {"0.30000000000000004", "0.30000000000000004"},
        {"9007199254740992", "9007199254740992"},
        {"9007199254740993", "9007199254740992"}, // an engine holds every number as a double
        {"-9223372036854775808", "-9223372036854776000"},
        {"12345678901234567890", "12345678901234567000"},
        {"123456.789", "123456.789"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        JsonDocument doc = parsed(std::string("[") + c.json + "]");
        EXPECT_EQ(doc.text(), std::string("[") + c.text + "]");
        EXPECT_EQ(doc.getText("[0]"), c.text);
    }

    JsonDocument doc;
    ASSERT_TRUE(doc.setNumber("nan", std::nan("")));
    ASSERT_TRUE(doc.setNumber("inf", std::numeric_limits<double>::infinity()));
    ASSERT_TRUE(doc.setNumber("ninf", -std::numeric_limits<double>::infinity()));
    ASSERT_TRUE(doc.setNumber("third", 1.0 / 3));
    EXPECT_EQ(doc.text(), R"({"nan":null,"inf":null,"ninf":null,"third":0.3333333333333333})");
    EXPECT_EQ(doc.getText("nan"), "NaN");
    EXPECT_EQ(doc.getText("ninf"), "-Infinity");
    EXPECT_EQ(doc.number("third"), 1.0 / 3);
}

TEST(JsonDocumentSet, TextsAreStoredExactlyAndReadBackAfterSerialising)
{
    // The history shape: parents first, then the four texts under a quoted index.
    const std::string name = "it's \"引号\"\r\nnext";
    const std::string url = "C:\\dir\\new\\x.m3u8"; // backslashes before letters that escape
    JsonDocument doc;
    ASSERT_TRUE(doc.set("['data']", "[]", true));
    ASSERT_TRUE(doc.set("['data'][0]", "{}", true));
    ASSERT_TRUE(doc.set("['data']['0']['名']", name));
    ASSERT_TRUE(doc.set("['data']['0']['集']", "03"));
    ASSERT_TRUE(doc.set("['data']['0']['URL']", url));
    ASSERT_TRUE(doc.set("['data']['0']['m3u8']", ""));
    const std::string text = doc.text();
    EXPECT_EQ(text, R"({"data":[{"名":"it's \"引号\"\r\nnext","集":"03",)"
                    R"("URL":"C:\\dir\\new\\x.m3u8","m3u8":""}]})");

    JsonDocument back;
    ASSERT_TRUE(back.parse(text));
    EXPECT_EQ(back.getText("data[0].名"), name);
    EXPECT_EQ(back.getText("data[0].URL"), url);
    EXPECT_EQ(back.text(), text);

    ASSERT_TRUE(back.set("data[0].集", "04")); // an existing member keeps its place
    EXPECT_EQ(back.getText("data[0]", true),
              R"({"名":"it's \"引号\"\r\nnext","集":"04","URL":"C:\\dir\\new\\x.m3u8","m3u8":""})");
}

TEST(JsonDocumentSet, ParentsMustExistAndValuesMustBeJson)
{
    JsonDocument doc = parsed(R"({"data":[{"名":"a"},{"名":"b"}],"s":"text","z":null})");
    EXPECT_FALSE(doc.exists("data[5]"));
    EXPECT_FALSE(doc.set("data[5].名", "x"));
    EXPECT_FALSE(doc.set("missing.member", "x"));
    EXPECT_FALSE(doc.set("s.member", "x"));
    EXPECT_FALSE(doc.set("z.member", "x"));
    EXPECT_FALSE(doc.set("data.length", "x"));
    EXPECT_FALSE(doc.set("data.name", "x"));
    EXPECT_FALSE(doc.set("list[", "x"));
    EXPECT_FALSE(doc.set("new", "{bad json", true));
    EXPECT_FALSE(doc.set("new", "alert(1)", true));
    EXPECT_FALSE(doc.setExpression("new", "1+1"));
    EXPECT_FALSE(doc.setItem(0, "data", "[1,", true));
    EXPECT_FALSE(doc.set("data[100000000]", "x")); // would need a hundred million empty slots
    EXPECT_EQ(doc.text(), R"({"data":[{"名":"a"},{"名":"b"}],"s":"text","z":null})");

    // Assigning past the end of an array leaves null in the gap.
    EXPECT_TRUE(doc.set("data[3]", "{}", true));
    EXPECT_EQ(doc.jsonText("data"), R"([{"名":"a"},{"名":"b"},null,{}])");
    EXPECT_EQ(doc.count("data"), 4);

    EXPECT_TRUE(doc.setExpression("e", R"({"k":[true,null]})"));
    EXPECT_TRUE(doc.set("q", R"("45")", true)); // a JSON string is read as parse() reads one
    EXPECT_FALSE(doc.set("q", R"("abc")", true));
    EXPECT_EQ(doc.jsonText("q"), "45");
    EXPECT_TRUE(doc.setItem(1, "data", R"({"名":"c"})", true));
    EXPECT_TRUE(doc.setItem(0, "data", "it's"));
    EXPECT_EQ(doc.jsonText("data"), R"(["it's",{"名":"c"},null,{}])");
    EXPECT_EQ(doc.jsonText("e"), R"({"k":[true,null]})");

    EXPECT_TRUE(doc.setExpression("", "[1]")); // the root itself
    EXPECT_EQ(doc.text(), "[1]");
}

TEST(JsonDocumentSet, JsonIntoAnObjectMerges)
{
    JsonDocument doc = parsed(R"({"o":{"a":"x","b":false,"n":1,"sub":{"p":1},"arr":[1]}})");
    ASSERT_TRUE(
        doc.set("o", R"({"a":"y","b":true,"sub":{"q":2},"arr":[2,3],"new":{"k":"v"}})", true));
    EXPECT_EQ(doc.jsonText("o"),
              R"({"a":"y","b":true,"n":1,"sub":{"p":1,"q":2},"arr":[1,2,3],"new":{"k":"v"}})");
    // A number member stops the merge; nothing of it is kept.
    EXPECT_FALSE(doc.set("o", R"({"a":"z","n":2})", true));
    EXPECT_EQ(doc.getText("o.a"), "y");
    EXPECT_EQ(doc.getText("o.n"), "1");
    // An empty value is the empty object: merging it changes nothing, on a missing member it adds
    // {}.
    EXPECT_TRUE(doc.set("o", "", true));
    EXPECT_TRUE(doc.set("fresh", "", true));
    EXPECT_EQ(doc.jsonText("fresh"), "{}");
    EXPECT_EQ(doc.count("o.arr"), 3);
}

TEST(JsonDocumentArrays, AppendAtEndAndFront)
{
    JsonDocument doc = parsed(R"({"data":[{"名":"a"},{"名":"b"}],"s":"text"})");
    EXPECT_TRUE(doc.append(R"({"名":"c"})", "data", true));
    EXPECT_TRUE(doc.append("front's \\ text", "data", false, true));
    EXPECT_EQ(doc.jsonText("data"), R"(["front's \\ text",{"名":"a"},{"名":"b"},{"名":"c"}])");
    EXPECT_EQ(doc.getText("data[0]"), "front's \\ text");

    // A missing or non-array member becomes an array first; member arrays keep creation order.
    JsonDocument list;
    EXPECT_TRUE(list.append("01", "集"));
    EXPECT_TRUE(list.append("http://h/1.m3u8", "地址"));
    EXPECT_TRUE(list.append("02", "集"));
    EXPECT_TRUE(list.append("http://h/2.m3u8", "地址"));
    EXPECT_EQ(list.text(), R"({"集":["01","02"],"地址":["http://h/1.m3u8","http://h/2.m3u8"]})");
    EXPECT_TRUE(doc.append("x", "s"));
    EXPECT_TRUE(doc.append(R"("abc")", "s", true)); // JSON items are taken as they are
    EXPECT_EQ(doc.jsonText("s"), R"(["x","abc"])");

    EXPECT_FALSE(doc.append("x", "missing.parent"));
    EXPECT_FALSE(doc.append("{bad", "data", true));
    EXPECT_EQ(doc.count("data"), 4);
}

TEST(JsonDocumentArrays, RemoveAtAndRemove)
{
    JsonDocument doc = parsed(R"({"data":[0,1,2,3],"o":{"a":1,"b":2},"s":"t"})");
    EXPECT_TRUE(doc.removeAt(1, "data"));
    EXPECT_TRUE(doc.removeAt(-1, "data")); // from the end
    EXPECT_FALSE(doc.removeAt(5, "data"));
    EXPECT_FALSE(doc.removeAt(0, "s"));
    EXPECT_FALSE(doc.removeAt(0, "missing"));
    EXPECT_EQ(doc.jsonText("data"), "[0,2]");

    EXPECT_TRUE(doc.remove("o.a"));
    EXPECT_TRUE(doc.remove("data[0]")); // leaves a null, the length stays
    EXPECT_FALSE(doc.remove("missing.a"));
    EXPECT_FALSE(doc.remove(""));
    EXPECT_EQ(doc.text(), R"({"data":[null,2],"o":{"b":2},"s":"t"})");
}

// A repeated member name keeps its first place and takes the last value, in a small object and
// in one wide enough to be looked up through an index.
TEST(JsonDocumentObjects, RepeatedNamesKeepTheFirstPlaceAndTheLastValue)
{
    EXPECT_EQ(parsed(R"({"a":1,"b":2,"a":{"x":3}})").text(), R"({"a":{"x":3},"b":2})");
    std::string wide = "{";
    std::string expected = "{";
    for (int i = 0; i < 100; ++i) {
        const std::string member = "\"m" + std::to_string(i) + "\":" + std::to_string(i);
        wide += member + ",";
        expected += (i == 3 ? std::string("\"m3\":\"again\"") : member) + (i < 99 ? "," : "}");
    }
    wide += R"("m3":"again"})";
    JsonDocument doc = parsed(wide);
    EXPECT_EQ(doc.text(), expected);
    EXPECT_EQ(doc.getText("m3"), "again");
    EXPECT_EQ(doc.getText("m99"), "99");
}

// An object of 80,000 members: every member is found with its value, the members keep their
// order, and removing, replacing, adding and merging members keep every other one findable.
TEST(JsonDocumentObjects, AWideObjectFindsEveryMemberAndKeepsItsOrder)
{
    constexpr int n = 80000;
    auto value = [](int i) {
        return i % 2 == 0 ? std::to_string(i) : "\"v" + std::to_string(i) + "\"";
    };
    std::string text = "{";
    for (int i = 0; i < n; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + value(i);
    text += "}";
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(text));
    EXPECT_EQ(doc.text(), text);
    std::vector<std::string> names;
    ASSERT_EQ(doc.keys(names, ""), n);
    int wrong = 0;
    for (int i = 0; i < n; ++i) {
        const std::string name = "k" + std::to_string(i);
        wrong += names[i] != name;
        wrong += doc.getText(name) != (i % 2 == 0 ? std::to_string(i) : "v" + std::to_string(i));
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(doc.getText("k80000"), "");
    EXPECT_FALSE(doc.exists("k-1"));

    ASSERT_TRUE(doc.remove("k100"));
    EXPECT_FALSE(doc.exists("k100"));
    ASSERT_TRUE(doc.set("k7", "seven"));
    ASSERT_TRUE(doc.set("k100", "back"));
    EXPECT_FALSE(doc.set("", R"({"k0":"zero"})", true)); // a number member is not merged over
    ASSERT_TRUE(doc.set("", R"({"k1":"one","new":{"a":1}})", true));
    wrong = 0;
    for (int i = 101; i < n; ++i)
        wrong += doc.getText("k" + std::to_string(i)) !=
                 (i % 2 == 0 ? std::to_string(i) : "v" + std::to_string(i));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(doc.getText("k99"), "v99");
    EXPECT_EQ(doc.getText("k7"), "seven");
    EXPECT_EQ(doc.getText("k0"), "0");
    EXPECT_EQ(doc.getText("k1"), "one");
    EXPECT_EQ(doc.getText("new.a"), "1");
    ASSERT_EQ(doc.keys(names, ""), n + 1);
    EXPECT_EQ(names[99], "k99");
    EXPECT_EQ(names[100], "k101");
    EXPECT_EQ(names[n - 1], "k100");
    EXPECT_EQ(names[n], "new");
    const std::string out = doc.text();
    EXPECT_EQ(out.substr(0, 23), R"({"k0":0,"k1":"one","k2")");
    const std::string tail = R"(,"k79999":"v79999","k100":"back","new":{"a":1}})";
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST(JsonDocumentLifecycle, ClonesShareDestroyEmptiesParseAndResetStartOver)
{
    JsonDocument doc = parsed(R"({"a":1})");
    JsonDocument twin = doc.clone();
    EXPECT_EQ(doc.engineRef(), twin.engineRef());
    ASSERT_TRUE(twin.set("b", "x"));
    EXPECT_EQ(doc.text(), R"({"a":1,"b":"x"})");

    // parse starts on a fresh value; the clone keeps the old one.
    ASSERT_TRUE(doc.parse("[1]"));
    EXPECT_EQ(twin.text(), R"({"a":1,"b":"x"})");
    EXPECT_NE(doc.engineRef(), twin.engineRef());

    ASSERT_TRUE(twin.reset());
    EXPECT_EQ(twin.text(), "{}");

    doc.destroy();
    EXPECT_EQ(doc.engineRef(), nullptr);
    EXPECT_EQ(doc.text(), "");
    EXPECT_FALSE(doc.parse("{}"));
    EXPECT_FALSE(doc.set("a", "b"));
    EXPECT_FALSE(doc.append("a", "b"));
    EXPECT_FALSE(doc.reset());
    EXPECT_EQ(doc.subDocument("").text(), "");
    EXPECT_TRUE(doc.init());
    EXPECT_EQ(doc.text(), "{}");

    JsonDocument fresh;
    EXPECT_EQ(fresh.text(), "{}");
    EXPECT_EQ(fresh.getText(""), "[object Object]");
}

} // namespace
