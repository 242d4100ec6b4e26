// HashTable.load of a serialised form; what loads saves, and the saved form loads to an equal
// table.
#include "util/hash_table.h"
#include "fuzz_input.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    HashTable table;
    if (!table.load(std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    // The loaded table takes no more room than its serialised form held.
    const std::string saved = table.save();
    FUZZ_CHECK(saved.size() <= size);
    HashTable again;
    FUZZ_CHECK(again.load(saved));
    FUZZ_CHECK(again.count() == table.count());
    for (const HashItem& key : table.keys()) {
        FUZZ_CHECK(again.contains(key));
        table.get(key);
    }
    table.values();
    table.put(HashItem{std::string("k")}, HashItem{int32_t{1}});
    table.remove(HashItem{int32_t{7}});
    return 0;
}
