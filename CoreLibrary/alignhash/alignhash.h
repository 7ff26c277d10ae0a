#pragma once
// An open-addressing hash table of plain keys and values, for hot lookups
// that must not allocate once warm (the texture cache's entries).
//
// - Buckets are a power of two (0 at creation).  Each slot has two flag bits,
//   sixteen slots to a 32-bit word: 2 = empty, 1 = deleted (a tombstone),
//   0 = live.  A fresh flag array is all empty (bytes 0xAA).
// - A key's home slot is (id x 1664525 + 1013904223) masked with buckets - 1,
//   where id is the key's `uintptr_t` from the traits' `hash_identifier`;
//   probing is linear, one slot at a time, wrapping.
// - Before every find-or-insert (hits included) the table doubles when the
//   occupied count (live plus tombstones) has reached the upper bound, which
//   is half the buckets (rounded: 1 for 2, 2 for 4): the table is never more
//   than half occupied, so every probe meets an empty slot.  Growing drops
//   the tombstones.  The table never shrinks.
// - Remove leaves a tombstone; a later insert of a key that probes past it
//   takes the last tombstone it passed.
//
// Keys and values are copied bytewise (trivially copyable types only).
// `Traits` gives `static uintptr_t hash_identifier(const K &)` and
// `static bool equal(const K &, const K &)`; keys that are equal must have the
// same identifier.  No exceptions: an allocation that fails is reported by
// the call that needed it and leaves the table as it was.
//
// Main thread only (no locking).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

enum alignhash_slot_flags : uint32_t
{
    _alignhash_deleted = 1,
    _alignhash_empty = 2,
};

// The home slot of identifier `id` among `bucket_count` buckets (a power of two).
inline uint32_t alignhash_home_slot(uintptr_t id, uint32_t bucket_count)
{
    return (uint32_t)((uintptr_t)(id * (uintptr_t)1664525u + (uintptr_t)1013904223u) & (uintptr_t)(bucket_count - 1));
}

template <typename K, typename V, typename Traits>
class alignhash_map
{
    static_assert(std::is_trivially_copyable_v<K> && std::is_trivially_copyable_v<V>);

public:
    static constexpr uint32_t NOT_FOUND = 0xFFFFFFFFu;

    alignhash_map(void) = default;
    ~alignhash_map(void) { release(); }
    alignhash_map(const alignhash_map &) = delete;
    alignhash_map &operator=(const alignhash_map &) = delete;

    // The slot holding `key`, inserting it when absent (its value then
    // zero-filled, `*inserted` true).  Grows first when full (see above).
    // NOT_FOUND only when growing was needed and the memory could not be had.
    uint32_t find_or_insert(const K &key, bool *inserted)
    {
        *inserted = false;
        if (occupied >= upper_bound && !resize(bucket_count ? bucket_count * 2 : 2)) return NOT_FOUND;
        const uint32_t mask = bucket_count - 1;
        uint32_t slot = alignhash_home_slot(Traits::hash_identifier(key), bucket_count);
        uint32_t tombstone = NOT_FOUND;
        for (;;)
        {
            const uint32_t flag = slot_flag(slot);
            if (flag & _alignhash_empty) break;
            if (flag & _alignhash_deleted) tombstone = slot;
            else if (Traits::equal(keys[slot], key)) return slot;
            slot = (slot + 1) & mask;
        }
        if (tombstone != NOT_FOUND) slot = tombstone;
        else ++occupied;
        ++live;
        set_slot_flag(slot, 0);
        memcpy((void *)&keys[slot], (const void *)&key, sizeof(K));
        memset((void *)&values[slot], 0, sizeof(V));
        *inserted = true;
        return slot;
    }

    // The slot holding `key`, or NOT_FOUND.  Never grows.
    uint32_t find(const K &key) const
    {
        if (!bucket_count) return NOT_FOUND;
        const uint32_t mask = bucket_count - 1;
        uint32_t slot = alignhash_home_slot(Traits::hash_identifier(key), bucket_count);
        for (uint32_t probes = 0; probes < bucket_count; ++probes, slot = (slot + 1) & mask)
        {
            const uint32_t flag = slot_flag(slot);
            if (flag & _alignhash_empty) return NOT_FOUND;
            if (!(flag & _alignhash_deleted) && Traits::equal(keys[slot], key)) return slot;
        }
        return NOT_FOUND;
    }

    // Removes `key`; false when it was not there.
    bool remove(const K &key)
    {
        const uint32_t slot = find(key);
        if (slot == NOT_FOUND) return false;
        set_slot_flag(slot, _alignhash_deleted);
        --live;
        return true;
    }

    V &value_at(uint32_t slot) { return values[slot]; }
    const K &key_at(uint32_t slot) const { return keys[slot]; }
    bool slot_is_live(uint32_t slot) const { return slot < bucket_count && slot_flag(slot) == 0; }

    uint32_t buckets(void) const { return bucket_count; }
    uint32_t size(void) const { return live; }
    uint32_t occupied_count(void) const { return occupied; }

private:
    uint32_t bucket_count = 0, live = 0, occupied = 0, upper_bound = 0;
    uint32_t *flags = nullptr;
    K *keys = nullptr;
    V *values = nullptr;

    static uint32_t flag_words(uint32_t buckets) { return buckets < 16 ? 1 : buckets / 16; }
    uint32_t slot_flag(uint32_t slot) const { return (flags[slot >> 4] >> ((slot & 15) * 2)) & 3; }
    void set_slot_flag(uint32_t slot, uint32_t flag)
    {
        const uint32_t shift = (slot & 15) * 2;
        flags[slot >> 4] = (flags[slot >> 4] & ~(3u << shift)) | (flag << shift);
    }

    void release(void)
    {
        free(flags);
        free(keys);
        free(values);
        flags = nullptr;
        keys = nullptr;
        values = nullptr;
        bucket_count = live = occupied = upper_bound = 0;
    }

    // Moves every live entry into `new_buckets` buckets, by home slot and
    // linear probing; the tombstones go.
    bool resize(uint32_t new_buckets)
    {
        if (!new_buckets) return false; // past 2^31 buckets
        uint32_t *new_flags = (uint32_t *)malloc(flag_words(new_buckets) * sizeof(uint32_t));
        K *new_keys = (K *)malloc((size_t)new_buckets * sizeof(K));
        V *new_values = (V *)malloc((size_t)new_buckets * sizeof(V));
        if (!new_flags || !new_keys || !new_values)
        {
            free(new_flags);
            free(new_keys);
            free(new_values);
            return false;
        }
        memset(new_flags, 0xAA, flag_words(new_buckets) * sizeof(uint32_t));
        const uint32_t mask = new_buckets - 1;
        for (uint32_t old = 0; old < bucket_count; ++old)
        {
            if (slot_flag(old) != 0) continue;
            uint32_t slot = alignhash_home_slot(Traits::hash_identifier(keys[old]), new_buckets);
            while (!((new_flags[slot >> 4] >> ((slot & 15) * 2)) & _alignhash_empty)) slot = (slot + 1) & mask;
            new_flags[slot >> 4] &= ~(3u << ((slot & 15) * 2));
            memcpy((void *)&new_keys[slot], (const void *)&keys[old], sizeof(K));
            memcpy((void *)&new_values[slot], (const void *)&values[old], sizeof(V));
        }
        const uint32_t kept = live;
        release();
        flags = new_flags;
        keys = new_keys;
        values = new_values;
        bucket_count = new_buckets;
        live = occupied = kept;
        upper_bound = (uint32_t)(new_buckets * 0.5 + 0.5);
        return true;
    }
};
