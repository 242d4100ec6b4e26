#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// Kind codes of a HashTable's keys and values; they also appear in the serialised form.
enum HashKind : int32_t {
    HashInteger = 3, // 32-bit signed integer
    HashText = 10,   // text (ends at its first zero byte)
    HashBytes = 11,  // byte string
};

// One key or value handed to or returned by a HashTable: an integer, or the bytes of a text or a
// byte string. The table's kind decides how an item is taken: an integer given to a text or
// byte-string table becomes its decimal text, a text given to an integer table becomes its
// leading digits (textToInt).
using HashItem = std::variant<int32_t, std::string>;

// A chained hash table whose keys and values each have one kind, fixed by create: 11 buckets by
// default, load factor 0.75, growth to 2n + 1 buckets, the 31-multiplier string hash, new entries
// at the head of their bucket's chain. Every entry and copy lives in the table's own arena, which
// goes away in one step with the last handle.
//
// Copying a handle shares the table. Writers (put, remove, clear) take the table's lock; lookups,
// enumeration, count, create, load, save and setKinds do not and must not overlap with writers.
class HashTable {
public:
    HashTable();
    ~HashTable();
    HashTable(const HashTable& other);
    HashTable& operator=(const HashTable& other);

    // Builds a new empty table; on success the previous one is released. Refuses (false, nothing
    // changed) a negative bucket count, a load factor not above 1e-7, or a kind other than 3, 10,
    // 11. A bucket count of 0 is taken as 1.
    bool create(int32_t keyKind = HashInteger, int32_t valueKind = HashInteger,
                int32_t bucketCount = 11, float loadFactor = 0.75f);
    bool createTextText() { return create(HashText, HashText); }
    bool createTextInteger() { return create(HashText, HashInteger); }
    bool createTextBytes() { return create(HashText, HashBytes); }
    bool createIntegerText() { return create(HashInteger, HashText); }
    bool createIntegerBytes() { return create(HashInteger, HashBytes); }
    bool createIntegerInteger() { return create(HashInteger, HashInteger); }
    bool createBytesText() { return create(HashBytes, HashText); }
    bool createBytesInteger() { return create(HashBytes, HashInteger); }
    bool createBytesBytes() { return create(HashBytes, HashBytes); }

    int32_t isCreated() const;

    // Replaces the table by one rebuilt from a serialised form; false (nothing changed) when the
    // bytes are not a well-formed serialised form, including one whose entries share data items
    // so that they would take more room than its data area holds.
    bool load(std::string_view serialised);
    // The serialised form: "hash", key kind, value kind, entry count, one key word and one value
    // word per entry in bucket order, then the data area (32-bit words little-endian).
    std::string save() const;

    int32_t count() const;
    // 0 = inserted, 1 = replaced the value of an existing key, -1 = no table.
    int32_t put(const HashItem& key, const HashItem& value);
    // A copy of the key's value; the value kind's empty value (0, empty text, empty bytes) when
    // the key is absent.
    HashItem get(const HashItem& key) const;
    // get restricted to one value kind: the empty text or bytes when the value kind differs.
    std::string getText(const HashItem& key) const;
    std::string getBytes(const HashItem& key) const;
    // get as a number: a text or byte-string value is converted with textToInt.
    int32_t getNumber(const HashItem& key) const;
    bool containsValue(const HashItem& value) const;
    bool contains(const HashItem& key) const;
    bool remove(const HashItem& key);
    // Copies of all keys / values, in bucket order (bucket 0 upward, each chain from its head).
    std::vector<HashItem> keys() const;
    std::vector<HashItem> values() const;
    // Removes every entry; the bucket count and threshold stay as they are.
    void clear();
    std::pair<int32_t, int32_t> kinds() const;
    // Overwrites the two kind codes without touching the entries (codes other than 3, 10, 11
    // are ignored).
    void setKinds(int32_t keyKind = HashInteger, int32_t valueKind = HashInteger);
    // Releases this handle's share of the table; create it again before further use.
    void release();

    // Bucket count and growth threshold of the current table (0 and 0 without one).
    int32_t bucketCount() const;
    int32_t threshold() const;

    // The hash of a text or byte-string key: h = h * 31 + byte over its bytes (unsigned), with
    // 32-bit wrap-around. "abc" gives 96354.
    static int32_t hashBytes(std::string_view bytes);

    struct Core;

private:
    std::shared_ptr<Core> core_;
    int32_t created_ = 0;
};

// The two process-wide tables. Both exist from their first use as integer -> integer tables with
// the defaults and live until the process ends; start-up creates them before the first window
// and the browser bridge re-creates them with the kinds it needs (the first as its set of
// prepared library file names, text -> integer).
HashTable& firstProcessTable();
HashTable& secondProcessTable();
// Start-up: (re-)creates both process-wide tables as integer -> integer tables.
void createProcessTables();
