#pragma once
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// The object type of the JSON tree: members in insertion order (a vector of pairs, as
// nlohmann::ordered_map keeps them) plus a hash index from name to position, so that finding a
// member costs the same in an object of 80,000 members as in one of five. Small objects, the
// usual case, skip the index and are searched in place; the index is built once an object grows
// past indexThreshold members and then kept up to date by every change.
//
// The signature is the one nlohmann::basic_json expects of its ObjectType; the comparator
// argument is ignored, as ordered_map ignores it. Keys are std::string.
template <class Key, class T, class IgnoredLess = std::less<Key>,
          class Allocator = std::allocator<std::pair<const Key, T>>>
class JsonObjectMap {
    static_assert(std::is_same_v<Key, std::string>, "member names are std::string");

public:
    using key_type = Key;
    using mapped_type = T;
    using value_type = std::pair<const Key, T>;
    using Container = std::vector<value_type, Allocator>;
    using allocator_type = Allocator;
    using iterator = typename Container::iterator;
    using const_iterator = typename Container::const_iterator;
    using size_type = typename Container::size_type;
    using difference_type = typename Container::difference_type;
    using reference = value_type&;
    using const_reference = const value_type&;
    using key_compare = std::equal_to<>;

    // Objects with more members than this get a hash index. A catalogue item has about 50
    // members: searching them in place costs no more than building an index for each.
    static constexpr size_type indexThreshold = 64;

    JsonObjectMap() = default;
    explicit JsonObjectMap(const Allocator& alloc) : items(alloc) {}
    template <class It>
    JsonObjectMap(It first, It last, const Allocator& alloc = Allocator()) : items(alloc)
    {
        insert(first, last);
    }
    JsonObjectMap(std::initializer_list<value_type> init, const Allocator& alloc = Allocator())
            : items(alloc)
    {
        insert(init.begin(), init.end());
    }

    iterator begin() noexcept { return items.begin(); }
    iterator end() noexcept { return items.end(); }
    const_iterator begin() const noexcept { return items.begin(); }
    const_iterator end() const noexcept { return items.end(); }
    const_iterator cbegin() const noexcept { return items.cbegin(); }
    const_iterator cend() const noexcept { return items.cend(); }

    bool empty() const noexcept { return items.empty(); }
    size_type size() const noexcept { return items.size(); }
    size_type max_size() const noexcept { return items.max_size(); }

    void clear() noexcept
    {
        items.clear();
        index.clear();
    }

    // Adds the member unless the name is there already; either way the iterator names the
    // member of that name (an existing one keeps its value and place).
    template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
    std::pair<iterator, bool> emplace(K&& key, T&& value)
    {
        const std::string_view name(key);
        if (auto pos = position(name); pos != npos)
            return {items.begin() + static_cast<difference_type>(pos), false};
        items.emplace_back(std::forward<K>(key), std::move(value));
        noteAdded();
        return {std::prev(items.end()), true};
    }

    std::pair<iterator, bool> insert(value_type&& member)
    {
        return emplace(member.first, std::move(member.second));
    }
    std::pair<iterator, bool> insert(const value_type& member)
    {
        if (auto pos = position(member.first); pos != npos)
            return {items.begin() + static_cast<difference_type>(pos), false};
        items.push_back(member);
        noteAdded();
        return {std::prev(items.end()), true};
    }
    template <
        class InputIt,
        class = std::enable_if_t<std::is_convertible_v<
            typename std::iterator_traits<InputIt>::iterator_category, std::input_iterator_tag>>>
    void insert(InputIt first, InputIt last)
    {
        for (; first != last; ++first)
            insert(*first);
    }

    template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
    T& operator[](K&& key)
    {
        return emplace(std::forward<K>(key), T{}).first->second;
    }
    template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
    iterator find(const K& key)
    {
        const auto pos = position(std::string_view(key));
        return pos == npos ? items.end() : items.begin() + static_cast<difference_type>(pos);
    }
    template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
    const_iterator find(const K& key) const
    {
        const auto pos = position(std::string_view(key));
        return pos == npos ? items.end() : items.begin() + static_cast<difference_type>(pos);
    }

    template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
    size_type count(const K& key) const
    {
        return position(std::string_view(key)) == npos ? 0 : 1;
    }

    template <class K, std::enable_if_t<std::is_convertible_v<const K&, std::string_view>, int> = 0>
    size_type erase(const K& key)
    {
        auto it = find(key);
        if (it == end())
            return 0;
        erase(it);
        return 1;
    }
    iterator erase(const_iterator pos) { return erase(pos, std::next(pos)); }
    // Removes [first, last); the members after them move up and keep their order.
    iterator erase(const_iterator first, const_iterator last)
    {
        const auto from = static_cast<size_type>(first - items.cbegin());
        const auto count = static_cast<size_type>(last - first);
        if (count == 0)
            return items.begin() + static_cast<difference_type>(from);
        if (!index.empty())
            for (size_type k = from; k < from + count; ++k)
                index.erase(items[k].first);
        // The names are const, so the later members are rebuilt in place rather than assigned.
        for (size_type k = from; k + count < items.size(); ++k) {
            items[k].~value_type();
            ::new (static_cast<void*>(&items[k])) value_type(std::move(items[k + count]));
            if (!index.empty())
                index.find(std::string_view(items[k].first))->second = k;
        }
        for (size_type k = 0; k < count; ++k)
            items.pop_back();
        return items.begin() + static_cast<difference_type>(from);
    }

    friend bool operator==(const JsonObjectMap& a, const JsonObjectMap& b)
    {
        return a.items == b.items;
    }
    friend bool operator<(const JsonObjectMap& a, const JsonObjectMap& b)
    {
        return a.items < b.items;
    }

private:
    static constexpr size_type npos = static_cast<size_type>(-1);

    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept
        {
            return std::hash<std::string_view>{}(s);
        }
    };

    size_type position(std::string_view name) const
    {
        if (!index.empty()) {
            auto it = index.find(name);
            return it == index.end() ? npos : it->second;
        }
        for (size_type k = 0; k < items.size(); ++k)
            if (items[k].first == name)
                return k;
        return npos;
    }

    // Called after a member was appended: indexes it, or builds the index once the object has
    // grown past the threshold.
    void noteAdded()
    {
        if (!index.empty()) {
            index.emplace(items.back().first, items.size() - 1);
        } else if (items.size() > indexThreshold) {
            index.reserve(items.size() * 2);
            for (size_type k = 0; k < items.size(); ++k)
                index.emplace(items[k].first, k);
        }
    }

    Container items;
    // Name -> position in items; empty while the object is small (and then searched in place).
    std::unordered_map<std::string, size_type, NameHash, std::equal_to<>> index;
};
