#include "util/hash_table.h"

#include "util/section_lock.h"
#include "util/text_number.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <new>

namespace {

constexpr int32_t kDefaultBuckets = 11;
constexpr float kDefaultLoadFactor = 0.75f;
constexpr int32_t kSpinCount = 4000;

bool validKind(int32_t kind)
{
    return kind == HashInteger || kind == HashText || kind == HashBytes;
}

// A key or value as stored: the integer for kind 3, otherwise a copy of the bytes in the arena
// (a text copy carries its terminating zero after the length bytes).
struct Item {
    int32_t number = 0;
    uint32_t length = 0;
    char* data = nullptr;

    std::string_view bytes() const { return {data ? data : "", length}; }
};

struct Entry {
    int32_t hash;
    Item key;
    Item value;
    Entry* next;
};

// A caller's HashItem taken as the table's kind wants it; owns a converted text when needed.
class ItemView {
public:
    ItemView(const HashItem& item, int32_t kind)
    {
        if (kind == HashInteger) {
            if (const auto* n = std::get_if<int32_t>(&item))
                number_ = *n;
            else
                number_ = textToInt(std::get<std::string>(item));
            return;
        }
        if (const auto* s = std::get_if<std::string>(&item)) {
            bytes_ = *s;
        } else {
            converted_ = std::to_string(std::get<int32_t>(item));
            bytes_ = converted_;
        }
        // A text ends at its first zero byte, as its zero-terminated copy will.
        if (kind == HashText)
            bytes_ = bytes_.substr(0, bytes_.find('\0'));
    }

    int32_t number() const { return number_; }
    std::string_view bytes() const { return bytes_; }

private:
    int32_t number_ = 0;
    std::string converted_;
    std::string_view bytes_;
};

int32_t hashOf(const ItemView& item, int32_t kind)
{
    return kind == HashInteger ? item.number() : HashTable::hashBytes(item.bytes());
}

bool sameItem(const Item& stored, const ItemView& item, int32_t kind)
{
    if (kind == HashInteger)
        return stored.number == item.number();
    return stored.bytes() == item.bytes();
}

HashItem toHashItem(const Item& item, int32_t kind)
{
    if (kind == HashInteger)
        return item.number;
    return std::string(item.bytes());
}

int32_t thresholdFor(int32_t buckets, float loadFactor)
{
    const double t = std::trunc(static_cast<double>(static_cast<float>(buckets) * loadFactor));
    if (!(t >= 0))
        return 0;
    return t >= std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                    : static_cast<int32_t>(t);
}

} // namespace

// The shared table. Its arena is a private pool: every bucket array, entry and copy comes from
// it, removals give memory back to it, and destroying it frees everything at once.
struct HashTable::Core {
    std::pmr::unsynchronized_pool_resource arena;
    Entry** buckets = nullptr;
    int32_t bucketCount = 0;
    int32_t entryCount = 0;
    int32_t threshold = 0;
    float loadFactor = kDefaultLoadFactor;
    int32_t keyKind = HashInteger;
    int32_t valueKind = HashInteger;
    // Writers through every handle that shares this table take this lock.
    SectionLock lock{kSpinCount};

    Core(int32_t keys, int32_t values, int32_t count, float factor)
            : bucketCount(count), threshold(thresholdFor(count, factor)), loadFactor(factor),
              keyKind(keys), valueKind(values)
    {
        buckets = allocateBuckets(count);
    }

    // The buckets are an array of pointers, so the size of a pointer is meant.
    static size_t bucketBytes(int32_t count)
    {
        return sizeof(Entry*) * static_cast<size_t>(count); // NOLINT(bugprone-sizeof-expression)
    }

    Entry** allocateBuckets(int32_t count)
    {
        auto** array = static_cast<Entry**>(arena.allocate(bucketBytes(count), alignof(Entry*)));
        std::fill_n(array, count, nullptr);
        return array;
    }

    void freeBuckets(Entry** array, int32_t count)
    {
        arena.deallocate(array, bucketBytes(count), alignof(Entry*));
    }

    int32_t indexOf(int32_t hash) const
    {
        return static_cast<int32_t>(static_cast<uint32_t>(hash & 0x7FFFFFFF) %
                                    static_cast<uint32_t>(bucketCount));
    }

    Item copyItem(const ItemView& view, int32_t kind)
    {
        Item item;
        if (kind == HashInteger) {
            item.number = view.number();
            return item;
        }
        const std::string_view bytes = view.bytes();
        item.length = static_cast<uint32_t>(bytes.size());
        item.data = static_cast<char*>(arena.allocate(bytes.size() + 1, 1));
        std::memcpy(item.data, bytes.data(), bytes.size());
        item.data[bytes.size()] = '\0';
        return item;
    }

    void freeItem(Item& item)
    {
        if (item.data)
            arena.deallocate(item.data, item.length + size_t{1}, 1);
        item = Item{};
    }

    void freeEntry(Entry* entry)
    {
        freeItem(entry->key);
        freeItem(entry->value);
        arena.deallocate(entry, sizeof(Entry), alignof(Entry));
    }

    Entry* find(const ItemView& key, int32_t hash) const
    {
        for (Entry* e = buckets[indexOf(hash)]; e; e = e->next) {
            if (e->hash == hash && sameItem(e->key, key, keyKind))
                return e;
        }
        return nullptr;
    }

    void grow()
    {
        if (bucketCount > (std::numeric_limits<int32_t>::max() - 1) / 2)
            return;
        const int32_t newCount = bucketCount * 2 + 1;
        Entry** fresh = allocateBuckets(newCount);
        Entry** old = buckets;
        const int32_t oldCount = bucketCount;
        buckets = fresh;
        bucketCount = newCount;
        threshold = thresholdFor(newCount, loadFactor);
        for (int32_t i = 0; i < oldCount; ++i) {
            Entry* e = old[i];
            while (e) {
                Entry* next = e->next;
                const int32_t index = indexOf(e->hash);
                e->next = fresh[index];
                fresh[index] = e;
                e = next;
            }
        }
        freeBuckets(old, oldCount);
    }

    // Inserts or replaces; the caller holds the lock when other threads may write.
    int32_t put(const HashItem& keyItem, const HashItem& valueItem)
    {
        const ItemView key(keyItem, keyKind);
        const ItemView value(valueItem, valueKind);
        const int32_t hash = hashOf(key, keyKind);
        if (Entry* e = find(key, hash)) {
            Item copy = copyItem(value, valueKind);
            freeItem(e->value);
            e->value = copy;
            return 1;
        }
        if (entryCount >= threshold)
            grow();
        auto* entry = static_cast<Entry*>(arena.allocate(sizeof(Entry), alignof(Entry)));
        entry->hash = hash;
        entry->key = copyItem(key, keyKind);
        entry->value = copyItem(value, valueKind);
        const int32_t index = indexOf(hash);
        entry->next = buckets[index];
        buckets[index] = entry;
        ++entryCount;
        return 0;
    }

    template <class F>
    void forEach(F&& visit) const
    {
        for (int32_t i = 0; i < bucketCount; ++i) {
            for (const Entry* e = buckets[i]; e; e = e->next)
                visit(*e);
        }
    }
};

HashTable::HashTable() = default;
HashTable::~HashTable() = default;
HashTable::HashTable(const HashTable& other) = default;
HashTable& HashTable::operator=(const HashTable& other) = default;

bool HashTable::create(int32_t keyKind, int32_t valueKind, int32_t bucketCount, float loadFactor)
{
    if (bucketCount < 0 || !(loadFactor > 1e-7f) || !validKind(keyKind) || !validKind(valueKind))
        return false;
    try {
        auto core =
            std::make_shared<Core>(keyKind, valueKind, std::max(bucketCount, 1), loadFactor);
        core_ = std::move(core);
    } catch (const std::bad_alloc&) {
        return false;
    }
    created_ = 1;
    return true;
}

int32_t HashTable::isCreated() const
{
    return created_;
}

namespace {

constexpr char kMagic[4] = {'h', 'a', 's', 'h'};

void appendWord(std::string& out, int32_t word)
{
    const auto u = static_cast<uint32_t>(word);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((u >> shift) & 0xFF));
}

void putWord(std::string& out, size_t at, int32_t word)
{
    const auto u = static_cast<uint32_t>(word);
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

int32_t readWord(std::string_view in, size_t at)
{
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return static_cast<int32_t>(u);
}

// Reads the data-area item that word points at for the given kind into out; false when it lies
// outside the input.
bool readItem(std::string_view in, int32_t word, int32_t kind, HashItem& out)
{
    if (kind == HashInteger) {
        out = word;
        return true;
    }
    if (word < 0 || static_cast<size_t>(word) >= in.size())
        return false;
    const auto at = static_cast<size_t>(word);
    size_t begin = at;
    size_t length = 0;
    if (kind == HashText) {
        const size_t end = in.find('\0', at);
        if (end == std::string_view::npos)
            return false;
        length = end - at;
    } else {
        if (in.size() - at < 8)
            return false;
        length = static_cast<uint32_t>(readWord(in, at + 4));
        begin = at + 8;
        if (length > in.size() - begin)
            return false;
    }
    out = std::string(in.substr(begin, length));
    return true;
}

void appendData(std::string& out, const Item& item, int32_t kind)
{
    if (kind == HashText) {
        out.append(item.bytes());
        out.push_back('\0');
    } else {
        appendWord(out, 1);
        appendWord(out, static_cast<int32_t>(item.length));
        out.append(item.bytes());
    }
}

} // namespace

bool HashTable::load(std::string_view in)
{
    if (in.size() < 16 || in.substr(0, 4) != std::string_view(kMagic, 4))
        return false;
    const int32_t keyKind = readWord(in, 4);
    const int32_t valueKind = readWord(in, 8);
    const int32_t n = readWord(in, 12);
    if (!validKind(keyKind) || !validKind(valueKind) || n < 0 ||
        static_cast<uint64_t>(n) > (in.size() - 16) / 8)
        return false;
    // A serialised form holds every item's data once (save writes one copy per entry), so the
    // items of a genuine form never take more room than its data area. Words that point many
    // entries at one large item would multiply memory and time; such input is refused.
    size_t dataBudget = in.size() - 16 - 8 * static_cast<size_t>(n);
    auto spend = [&dataBudget](const HashItem& item, int32_t kind) {
        if (kind == HashInteger)
            return true;
        const size_t room = std::get<std::string>(item).size() + (kind == HashText ? 1 : 8);
        if (room > dataBudget)
            return false;
        dataBudget -= room;
        return true;
    };
    try {
        auto core =
            std::make_shared<Core>(keyKind, valueKind, n + kDefaultBuckets, kDefaultLoadFactor);
        for (int32_t i = 0; i < n; ++i) {
            const size_t at = 16 + 8 * static_cast<size_t>(i);
            HashItem key;
            HashItem value;
            if (!readItem(in, readWord(in, at), keyKind, key) || !spend(key, keyKind) ||
                !readItem(in, readWord(in, at + 4), valueKind, value) || !spend(value, valueKind))
                return false;
            core->put(key, value);
        }
        core_ = std::move(core);
    } catch (const std::bad_alloc&) {
        return false;
    }
    created_ = 1;
    return true;
}

std::string HashTable::save() const
{
    if (!core_)
        return {};
    const Core& c = *core_;
    std::string out(kMagic, 4);
    appendWord(out, c.keyKind);
    appendWord(out, c.valueKind);
    appendWord(out, c.entryCount);
    const size_t table = out.size();
    out.resize(table + 8 * static_cast<size_t>(c.entryCount));
    size_t slot = table;
    c.forEach([&](const Entry& e) {
        const std::pair<const Item*, int32_t> items[] = {{&e.key, c.keyKind},
                                                         {&e.value, c.valueKind}};
        for (const auto& [item, kind] : items) {
            if (kind == HashInteger) {
                putWord(out, slot, item->number);
            } else {
                putWord(out, slot, static_cast<int32_t>(out.size()));
                appendData(out, *item, kind);
            }
            slot += 4;
        }
    });
    return out;
}

int32_t HashTable::count() const
{
    return core_ ? core_->entryCount : 0;
}

int32_t HashTable::put(const HashItem& key, const HashItem& value)
{
    if (!core_)
        return -1;
    SectionLockGuard guard(core_->lock);
    try {
        return core_->put(key, value);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

HashItem HashTable::get(const HashItem& key) const
{
    if (!core_)
        return int32_t{0};
    const ItemView k(key, core_->keyKind);
    if (const Entry* e = core_->find(k, hashOf(k, core_->keyKind)))
        return toHashItem(e->value, core_->valueKind);
    if (core_->valueKind == HashInteger)
        return int32_t{0};
    return std::string();
}

std::string HashTable::getText(const HashItem& key) const
{
    if (!core_ || core_->valueKind != HashText)
        return {};
    return std::get<std::string>(get(key));
}

std::string HashTable::getBytes(const HashItem& key) const
{
    if (!core_ || core_->valueKind != HashBytes)
        return {};
    return std::get<std::string>(get(key));
}

int32_t HashTable::getNumber(const HashItem& key) const
{
    const HashItem value = get(key);
    if (const auto* n = std::get_if<int32_t>(&value))
        return *n;
    return textToInt(std::get<std::string>(value));
}

bool HashTable::containsValue(const HashItem& value) const
{
    if (!core_)
        return false;
    const ItemView v(value, core_->valueKind);
    bool found = false;
    core_->forEach(
        [&](const Entry& e) { found = found || sameItem(e.value, v, core_->valueKind); });
    return found;
}

bool HashTable::contains(const HashItem& key) const
{
    if (!core_)
        return false;
    const ItemView k(key, core_->keyKind);
    return core_->find(k, hashOf(k, core_->keyKind)) != nullptr;
}

bool HashTable::remove(const HashItem& key)
{
    if (!core_)
        return false;
    Core& c = *core_;
    SectionLockGuard guard(c.lock);
    const ItemView k(key, c.keyKind);
    const int32_t hash = hashOf(k, c.keyKind);
    Entry** link = &c.buckets[c.indexOf(hash)];
    for (Entry* e = *link; e; link = &e->next, e = e->next) {
        if (e->hash == hash && sameItem(e->key, k, c.keyKind)) {
            *link = e->next;
            --c.entryCount;
            c.freeEntry(e);
            return true;
        }
    }
    return false;
}

std::vector<HashItem> HashTable::keys() const
{
    std::vector<HashItem> out;
    if (!core_)
        return out;
    out.reserve(static_cast<size_t>(core_->entryCount));
    core_->forEach([&](const Entry& e) { out.push_back(toHashItem(e.key, core_->keyKind)); });
    return out;
}

std::vector<HashItem> HashTable::values() const
{
    std::vector<HashItem> out;
    if (!core_)
        return out;
    out.reserve(static_cast<size_t>(core_->entryCount));
    core_->forEach([&](const Entry& e) { out.push_back(toHashItem(e.value, core_->valueKind)); });
    return out;
}

void HashTable::clear()
{
    if (!core_)
        return;
    Core& c = *core_;
    SectionLockGuard guard(c.lock);
    for (int32_t i = 0; i < c.bucketCount; ++i) {
        for (Entry* e = c.buckets[i]; e;) {
            Entry* next = e->next;
            c.freeEntry(e);
            e = next;
        }
        c.buckets[i] = nullptr;
    }
    c.entryCount = 0;
}

std::pair<int32_t, int32_t> HashTable::kinds() const
{
    if (!core_)
        return {0, 0};
    return {core_->keyKind, core_->valueKind};
}

void HashTable::setKinds(int32_t keyKind, int32_t valueKind)
{
    if (!core_ || !validKind(keyKind) || !validKind(valueKind))
        return;
    core_->keyKind = keyKind;
    core_->valueKind = valueKind;
}

void HashTable::release()
{
    core_.reset();
    created_ = 0;
}

int32_t HashTable::bucketCount() const
{
    return core_ ? core_->bucketCount : 0;
}

int32_t HashTable::threshold() const
{
    return core_ ? core_->threshold : 0;
}

int32_t HashTable::hashBytes(std::string_view bytes)
{
    uint32_t h = 0;
    for (const char b : bytes)
        h = h * 31u + static_cast<unsigned char>(b);
    return static_cast<int32_t>(h);
}

namespace {

HashTable makeDefaultTable()
{
    HashTable table;
    table.create();
    return table;
}

} // namespace

HashTable& firstProcessTable()
{
    static HashTable table = makeDefaultTable();
    return table;
}

HashTable& secondProcessTable()
{
    static HashTable table = makeDefaultTable();
    return table;
}

void createProcessTables()
{
    firstProcessTable().create();
    secondProcessTable().create();
}
