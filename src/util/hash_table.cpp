#include "util/hash_table.h"

struct HashTable::Core {};

HashTable::HashTable() = default;
HashTable::~HashTable() = default;
HashTable::HashTable(const HashTable&) = default;
HashTable& HashTable::operator=(const HashTable&) = default;
bool HashTable::create(int32_t, int32_t, int32_t, float) { return false; }
int32_t HashTable::isCreated() const { return created_; }
bool HashTable::load(std::string_view) { return false; }
std::string HashTable::save() const { return {}; }
int32_t HashTable::count() const { return 0; }
int32_t HashTable::put(const HashItem&, const HashItem&) { return -1; }
HashItem HashTable::get(const HashItem&) const { return 0; }
std::string HashTable::getText(const HashItem&) const { return {}; }
std::string HashTable::getBytes(const HashItem&) const { return {}; }
int32_t HashTable::getNumber(const HashItem&) const { return 0; }
bool HashTable::containsValue(const HashItem&) const { return false; }
bool HashTable::contains(const HashItem&) const { return false; }
bool HashTable::remove(const HashItem&) { return false; }
std::vector<HashItem> HashTable::keys() const { return {}; }
std::vector<HashItem> HashTable::values() const { return {}; }
void HashTable::clear() {}
std::pair<int32_t, int32_t> HashTable::kinds() const { return {0, 0}; }
void HashTable::setKinds(int32_t, int32_t) {}
void HashTable::release() { core_.reset(); created_ = 0; }
int32_t HashTable::bucketCount() const { return 0; }
int32_t HashTable::threshold() const { return 0; }
int32_t HashTable::hashBytes(std::string_view) { return 0; }

HashTable& firstProcessTable() { static HashTable t; return t; }
HashTable& secondProcessTable() { static HashTable t; return t; }
void createProcessTables() {}
