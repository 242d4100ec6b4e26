#include "util/hash_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

std::vector<HashItem> ints(std::initializer_list<int32_t> values)
{
    return {values.begin(), values.end()};
}

// Little-endian 32-bit word, as the serialised form stores it.
std::string word(int32_t value)
{
    std::string out(4, '\0');
    std::memcpy(out.data(), &value, 4);
    return out;
}

TEST(HashTableHashTest, PolynomialHashOverUnsignedBytesWithWrapAround)
{
    EXPECT_EQ(HashTable::hashBytes("abc"), 96354);
    EXPECT_EQ(HashTable::hashBytes(""), 0);
    EXPECT_EQ(HashTable::hashBytes("hello world"), 1794106052);
    // Wraps around to exactly the smallest 32-bit value.
    EXPECT_EQ(HashTable::hashBytes("polygenelubricants"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(HashTable::hashBytes("\xE4"), 228) << "bytes count unsigned";
}

TEST(HashTableCreateTest, DefaultsAndRefusals)
{
    HashTable table;
    EXPECT_EQ(table.isCreated(), 0);
    EXPECT_EQ(table.put(1, 2), -1) << "no table yet";
    EXPECT_FALSE(table.contains(1));

    ASSERT_TRUE(table.create());
    EXPECT_EQ(table.isCreated(), 1);
    EXPECT_EQ(table.bucketCount(), 11);
    EXPECT_EQ(table.threshold(), 8);
    EXPECT_EQ(table.kinds(), std::make_pair(int32_t{HashInteger}, int32_t{HashInteger}));
    ASSERT_EQ(table.put(1, 2), 0);

    // Refused creations leave the existing table alone.
    EXPECT_FALSE(table.create(HashInteger, HashInteger, -1));
    EXPECT_FALSE(table.create(HashInteger, HashInteger, 11, 1e-8f));
    EXPECT_FALSE(table.create(HashInteger, HashInteger, 11, 0.0f));
    EXPECT_FALSE(table.create(7, HashInteger));
    EXPECT_EQ(table.getNumber(1), 2);

    // A table with no buckets still takes entries.
    HashTable empty;
    ASSERT_TRUE(empty.create(HashInteger, HashInteger, 0));
    for (int32_t i = 0; i < 10; ++i)
        EXPECT_EQ(empty.put(i, i), 0);
    EXPECT_EQ(empty.count(), 10);
    EXPECT_TRUE(empty.contains(9));

    EXPECT_TRUE(table.createTextBytes());
    EXPECT_EQ(table.kinds(), std::make_pair(int32_t{HashText}, int32_t{HashBytes}));
    EXPECT_EQ(table.count(), 0) << "create starts a new empty table";
}

TEST(HashTableTest, EightEntriesFitAndTheNinthGrowsTheTable)
{
    HashTable table;
    ASSERT_TRUE(table.create());
    for (int32_t i = 0; i < 8; ++i)
        ASSERT_EQ(table.put(i, i * 10), 0);
    EXPECT_EQ(table.bucketCount(), 11);
    ASSERT_EQ(table.put(8, 80), 0);
    EXPECT_EQ(table.bucketCount(), 23);
    EXPECT_EQ(table.threshold(), 17);
    EXPECT_EQ(table.count(), 9);
    for (int32_t i = 0; i < 9; ++i)
        EXPECT_EQ(table.getNumber(i), i * 10);
    for (int32_t i = 9; i < 18; ++i)
        table.put(i, i);
    EXPECT_EQ(table.bucketCount(), 47);
}

TEST(HashTableTest, PutReplacesExistingKeysAndTextKeysAreCaseSensitive)
{
    HashTable table;
    ASSERT_TRUE(table.createTextText());
    EXPECT_EQ(table.put("Name", "a"), 0);
    EXPECT_EQ(table.put("name", "b"), 0);
    EXPECT_EQ(table.put("Name", "c"), 1);
    EXPECT_EQ(table.count(), 2);
    EXPECT_EQ(table.getText("Name"), "c");
    EXPECT_EQ(table.getText("name"), "b");
    EXPECT_EQ(table.getText("NAME"), "");
    EXPECT_FALSE(table.contains("NAME"));
    // The empty text is a key like any other (its hash is 0).
    EXPECT_EQ(table.put("", "empty"), 0);
    EXPECT_EQ(table.getText(""), "empty");
}

TEST(HashTableTest, KeysAndValuesComeInBucketOrderNewestFirstInEachChain)
{
    HashTable table;
    ASSERT_TRUE(table.create());
    // 1, 12 and 23 share bucket 1 of 11; the newest heads the chain.
    table.put(1, 100);
    table.put(12, 112);
    table.put(23, 123);
    table.put(3, 103);
    EXPECT_EQ(table.keys(), ints({23, 12, 1, 3}));
    EXPECT_EQ(table.values(), ints({123, 112, 100, 103}));

    // Growing to 23 buckets re-sorts them: 23 -> bucket 0, 1 -> 1, 12 -> 12.
    for (int32_t k : {2, 4, 5, 6, 7})
        table.put(k, k);
    EXPECT_EQ(table.bucketCount(), 23);
    EXPECT_EQ(table.keys(), ints({23, 1, 2, 3, 4, 5, 6, 7, 12}));
}

TEST(HashTableTest, GrowthMovesEachChainHeadFirstWhichReversesSharedChains)
{
    HashTable table;
    ASSERT_TRUE(table.create());
    // 1 and 254 share a bucket both with 11 and with 23 buckets (253 = 11 x 23).
    table.put(1, 0);
    table.put(254, 0);
    for (int32_t k : {2, 3, 4, 5, 6, 7})
        table.put(k, 0);
    EXPECT_EQ(table.keys(), ints({254, 1, 2, 3, 4, 5, 6, 7}));
    table.put(8, 0);
    EXPECT_EQ(table.keys(), ints({1, 254, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(HashTableTest, RemoveClearAndContainsValue)
{
    HashTable table;
    ASSERT_TRUE(table.createIntegerText());
    table.put(1, "one");
    table.put(12, "twelve");
    table.put(23, "twenty-three");
    EXPECT_TRUE(table.containsValue("twelve"));
    EXPECT_FALSE(table.containsValue("Twelve"));

    EXPECT_TRUE(table.remove(12)) << "middle of a chain";
    EXPECT_FALSE(table.remove(12));
    EXPECT_TRUE(table.remove(23)) << "head of a chain";
    EXPECT_EQ(table.keys(), ints({1}));
    EXPECT_FALSE(table.containsValue("twelve"));
    EXPECT_EQ(table.count(), 1);

    for (int32_t i = 0; i < 30; ++i)
        table.put(i, std::to_string(i));
    const int32_t buckets = table.bucketCount();
    const int32_t threshold = table.threshold();
    table.clear();
    EXPECT_EQ(table.count(), 0);
    EXPECT_TRUE(table.keys().empty());
    EXPECT_EQ(table.bucketCount(), buckets);
    EXPECT_EQ(table.threshold(), threshold);
    EXPECT_EQ(table.put(5, "again"), 0);
    EXPECT_EQ(table.getText(5), "again");
}

TEST(HashTableTest, ByteStringKeysKeepEveryByteAndTextsEndAtTheirZero)
{
    HashTable bytes;
    ASSERT_TRUE(bytes.createBytesBytes());
    EXPECT_EQ(bytes.put("a\0b"s, "\0\1\2"s), 0);
    EXPECT_EQ(bytes.put("a\0c"s, "x"s), 0) << "differs after the zero byte";
    EXPECT_EQ(bytes.put(""s, ""s), 0);
    EXPECT_EQ(bytes.put(""s, "still empty key"s), 1) << "two empty byte strings are equal";
    EXPECT_EQ(bytes.getBytes("a\0b"s), "\0\1\2"s);
    EXPECT_EQ(bytes.getText("a\0b"s), "") << "not a text table";

    HashTable text;
    ASSERT_TRUE(text.createTextInteger());
    EXPECT_EQ(text.put("a\0b"s, 1), 0);
    EXPECT_EQ(text.put("a\0c"s, 2), 1) << "a text ends at its zero byte";
    EXPECT_TRUE(text.contains("a"));
}

TEST(HashTableTest, GetGivesTheEmptyValueOfTheKindAndConvertsNumbers)
{
    HashTable table;
    ASSERT_TRUE(table.createTextText());
    EXPECT_EQ(table.get("missing"), HashItem(""s));
    table.put("n", "42 apples");
    EXPECT_EQ(table.getNumber("n"), 42);
    // An integer handed to a text table is taken as its decimal text, and the other way round.
    table.put(7, "seven");
    EXPECT_EQ(table.getText("7"), "seven");

    HashTable numbers;
    ASSERT_TRUE(numbers.create());
    EXPECT_EQ(numbers.get(99), HashItem(int32_t{0}));
    numbers.put("12", "34");
    EXPECT_EQ(numbers.getNumber(12), 34);
}

TEST(HashTableTest, CopiesShareTheTableUntilReleased)
{
    HashTable table;
    ASSERT_TRUE(table.createTextInteger());
    HashTable copy = table;
    copy.put("shared", 1);
    EXPECT_TRUE(table.contains("shared"));
    table.release();
    EXPECT_EQ(table.isCreated(), 0);
    EXPECT_EQ(table.put("x", 1), -1);
    EXPECT_TRUE(copy.contains("shared")) << "the last handle keeps the table alive";
}

TEST(HashTableTest, SetKindsReinterpretsWithoutTouchingEntries)
{
    HashTable table;
    ASSERT_TRUE(table.createTextText());
    table.put("k", "v");
    table.setKinds(HashInteger, HashInteger);
    EXPECT_EQ(table.kinds(), std::make_pair(int32_t{HashInteger}, int32_t{HashInteger}));
    EXPECT_EQ(table.count(), 1);
    table.keys(); // reading entries under the new kinds is safe
    table.setKinds(HashText, HashText);
    EXPECT_EQ(table.getText("k"), "v");
}

TEST(HashTableSerialiseTest, SaveWritesTheSerialisedFormByteForByte)
{
    HashTable table;
    ASSERT_TRUE(table.createTextInteger());
    table.put("abc", 7); // 96354 % 11 = 5
    table.put("b", -1);  // 98 % 11 = 10
    const std::string expected = "hash"s + word(10) + word(3) + word(2) +
                                 // entries in bucket order: "abc" (bucket 5), then "b" (bucket 10)
                                 word(32) + word(7) + word(36) + word(-1) +
                                 // data area at 16 + 8 x 2 = 32
                                 "abc\0"s + "b\0"s;
    EXPECT_EQ(table.save(), expected);

    HashTable mixed;
    ASSERT_TRUE(mixed.createIntegerBytes());
    mixed.put(2, "\xff\0"s);
    mixed.put(1, ""s);
    const std::string bytes = "hash"s + word(3) + word(11) + word(2) + word(1) + word(32) +
                              word(2) + word(40) + word(1) + word(0) + word(1) + word(2) +
                              "\xff\0"s;
    EXPECT_EQ(mixed.save(), bytes);
}

TEST(HashTableSerialiseTest, LoadRebuildsWhatSaveWrote)
{
    HashTable table;
    ASSERT_TRUE(table.createBytesText());
    for (int i = 0; i < 40; ++i)
        table.put("key\0"s + std::to_string(i), "值" + std::to_string(i));
    HashTable loaded;
    ASSERT_TRUE(loaded.load(table.save()));
    EXPECT_EQ(loaded.isCreated(), 1);
    EXPECT_EQ(loaded.kinds(), table.kinds());
    EXPECT_EQ(loaded.count(), 40);
    // 40 + 11 = 51 buckets to start with (threshold 38), grown once while the entries go in.
    EXPECT_EQ(loaded.bucketCount(), 103);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(loaded.getText("key\0"s + std::to_string(i)), "值" + std::to_string(i));
}

TEST(HashTableSerialiseTest, LoadRefusesMalformedInputAndKeepsTheTable)
{
    HashTable source;
    ASSERT_TRUE(source.createTextBytes());
    source.put("k", "bytes");
    const std::string good = source.save();

    std::string badKind = good;
    badKind.replace(4, 4, word(4));
    std::string hugeCount = good;
    hugeCount.replace(12, 4, word(1000000));
    std::string negativeCount = good;
    negativeCount.replace(12, 4, word(-1));
    std::string offsetOutside = good;
    offsetOutside.replace(16, 4, word(5000));
    std::string lengthOutside = good;
    lengthOutside.replace(good.size() - 5 - 4, 4, word(999));
    std::string unterminated = good.substr(0, 24) + "k"; // text without its zero

    const std::string inputs[] = {"",
                                  "hash",
                                  "hush"s + good.substr(4),
                                  good.substr(0, 15),
                                  badKind,
                                  hugeCount,
                                  negativeCount,
                                  offsetOutside,
                                  lengthOutside,
                                  unterminated};
    HashTable table;
    ASSERT_TRUE(table.createTextInteger());
    table.put("kept", 1);
    for (const auto& input : inputs) {
        EXPECT_FALSE(table.load(input)) << testing::PrintToString(input);
        EXPECT_TRUE(table.contains("kept"));
    }
    EXPECT_TRUE(table.load(good));
    EXPECT_EQ(table.getBytes("k"), "bytes");
}

// Entries whose words all point at one large data item would make the table hold that item once
// per entry: such a form is refused, while a genuine form of the same entries still loads.
TEST(HashTableSerialiseTest, LoadRefusesEntriesSharingOneLargeItem)
{
    const int n = 20000;
    const std::string big(1 << 20, 'x');
    const int32_t data = 16 + 8 * n;
    std::string shared = "hash"s + word(3) + word(11) + word(n);
    for (int i = 0; i < n; ++i)
        shared += word(i) + word(data);
    shared += word(0) + word(static_cast<int32_t>(big.size())) + big;
    HashTable table;
    ASSERT_TRUE(table.createIntegerInteger());
    table.put(1, 1);
    EXPECT_FALSE(table.load(shared));
    EXPECT_TRUE(table.contains(1));

    // Two entries may not share an item either, but each may have its own copy.
    const std::string twoShared =
        "hash"s + word(3) + word(10) + word(2) + word(1) + word(32) + word(2) + word(32) + "abc\0"s;
    EXPECT_FALSE(table.load(twoShared));
    const std::string twoOwn = "hash"s + word(3) + word(10) + word(2) + word(1) + word(32) +
                               word(2) + word(36) + "abc\0"s + "abc\0"s;
    ASSERT_TRUE(table.load(twoOwn));
    EXPECT_EQ(table.getText(2), "abc");

    HashTable source;
    ASSERT_TRUE(source.createIntegerBytes());
    for (int i = 0; i < 50; ++i)
        source.put(i, std::string(1000, static_cast<char>('a' + i % 26)));
    EXPECT_TRUE(table.load(source.save()));
    EXPECT_EQ(table.count(), 50);
}

TEST(HashTableConcurrencyTest, WritersOnSeveralThreadsLoseNothing)
{
    HashTable table;
    ASSERT_TRUE(table.createTextInteger());
    HashTable copy = table; // writers through another handle take the same lock
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t, &table, &copy] {
            HashTable& target = t % 2 ? copy : table;
            for (int i = 0; i < 2000; ++i) {
                target.put("w" + std::to_string(t) + "-" + std::to_string(i), i);
                if (i % 3 == 0)
                    target.remove("w" + std::to_string(t) + "-" + std::to_string(i));
            }
        });
    }
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(table.count(), 4 * (2000 - 667));
    EXPECT_TRUE(table.contains("w3-1999"));
    EXPECT_FALSE(table.contains("w3-1998"));
}

TEST(HashTableProcessTablesTest, BothExistAsIntegerTablesAndCanBeRecreated)
{
    createProcessTables();
    for (HashTable* t : {&firstProcessTable(), &secondProcessTable()}) {
        EXPECT_EQ(t->isCreated(), 1);
        EXPECT_EQ(t->kinds(), std::make_pair(int32_t{HashInteger}, int32_t{HashInteger}));
    }
    ASSERT_TRUE(firstProcessTable().createTextInteger());
    EXPECT_FALSE(firstProcessTable().contains("WebView2Plus.so"));
    EXPECT_EQ(firstProcessTable().put("WebView2Plus.so", 1), 0);
    EXPECT_TRUE(firstProcessTable().contains("WebView2Plus.so"));
    EXPECT_FALSE(secondProcessTable().contains(1));
    createProcessTables();
    EXPECT_EQ(firstProcessTable().count(), 0);
}

} // namespace
