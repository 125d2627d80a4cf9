#pragma once
// A map from connection id (EntryObj::Id: the id pair in one number, so that
// a lookup among many connections hashes no text) to entry that iterates in
// insertion order, so that rows keep their places from poll to poll and new
// connections come last. The map owns nothing: the connection table deletes
// entries itself.

#include <list>
#include <cstdint>
#include <unordered_map>
#include <utility>

class EntryObj;

class EntryMap {
public:
    using Item = std::pair<uint64_t, EntryObj*>;
    using Items = std::list<Item>;

    EntryObj* Find(uint64_t key) const {
        auto it = m_Index.find(key);
        return it == m_Index.end() ? nullptr : it->second->second;
    }
    bool Contains(uint64_t key) const { return m_Index.count(key) != 0; }
    // Inserts at the end; returns false (and stores nothing) when the key is there.
    bool Insert(uint64_t key, EntryObj* entry) {
        if (Contains(key)) return false;
        m_Items.emplace_back(key, entry);
        try {
            m_Index.emplace(key, std::prev(m_Items.end()));
        } catch (...) {
            m_Items.pop_back();  // out of memory: leave the map as it was
            throw;
        }
        return true;
    }
    // Removes the key; returns the entry it held, or null.
    EntryObj* Remove(uint64_t key) {
        auto it = m_Index.find(key);
        if (it == m_Index.end()) return nullptr;
        EntryObj* entry = it->second->second;
        m_Items.erase(it->second);
        m_Index.erase(it);
        return entry;
    }
    void Clear() {
        m_Items.clear();
        m_Index.clear();
    }
    // Exchanges the contents; every entry keeps its place in its new map.
    void Swap(EntryMap& other) noexcept {
        m_Items.swap(other.m_Items);
        m_Index.swap(other.m_Index);
    }
    size_t Size() const { return m_Items.size(); }
    bool Empty() const { return m_Items.empty(); }
    Items::const_iterator begin() const { return m_Items.begin(); }
    Items::const_iterator end() const { return m_Items.end(); }

private:
    Items m_Items;
    std::unordered_map<uint64_t, Items::iterator> m_Index;
};
