#pragma once
// Registration points: how a lower module calls up into one built after it.
//
// A point is a table of typed slots (a single procedure is a table of one).
// The later module fills its slot once at start-up; the lower module calls it
// when it is filled and does its default otherwise.  Every point refuses, with
// an assertion, and changes nothing:
//   - a null procedure,
//   - a slot index outside the table,
//   - a slot that holds a procedure already, even the same one (the first
//     registration stays): a subsystem registers once per process.
//
// The slots live outside every module's globals record, so `initialize_X`
// and a map change never empty them.  Only `clear_all_registrations` (tests)
// does.
//
// Main thread only; register before the main loop starts.

#include <atomic>
#include <cstdint>

// Every procedure is stored as this type and cast back to its own on reading
// (a round trip through another function pointer type is exact).
typedef void (*any_procedure)(void);

struct registration_table
{
    const char *name;                        // "tick step", "flag moved", ...
    any_procedure *slots;
    int32_t count;
    const char *(*slot_name)(int32_t index); // null: slots are numbered
    registration_table *next;                // every table, for clearing and walking
};

// Links `table` into the list of every table.  The slot tables below call it
// from their constructors.
void link_registration_table(registration_table *table);

// Fills slot `index` of `table`, or refuses (assertion) as described above.
bool fill_registration_slot(registration_table *table, int32_t index, any_procedure procedure);

// Fills slot `index` of two tables together (the two halves of one owner's
// pair, e.g. a map step's initializer and disposer).  Either half may be null
// but not both; when either half is refused, neither is stored.
bool fill_registration_pair(registration_table *first, registration_table *second, int32_t index,
                            any_procedure first_procedure, any_procedure second_procedure);

// An ordered list of procedures: run in the order they were registered, or
// by descending key (a render effect's priority; equal keys in registration
// order), or one per key (a control type's tag).  It refuses, with the same
// logged assertion as a slot, and changes nothing:
//   - a null procedure,
//   - a procedure it holds already, even under another key (in a list of one
//     per key: a key it holds already),
//   - one more than it has room for.
// So a subsystem's registration run twice adds nothing twice.  A list filled
// from module start-ups, which tests and tools run again (a fixture's and its
// base's), takes their entries through `add_at_start_up`: the very entry again
// (the same procedure under the same key) is no change and no assertion;
// anything else is refused as above.  Like the
// tables, a list is emptied only by `clear_all_registrations` (tests) and by
// its owner's own reset.  Its count is published last, so a reader on another
// thread or in a signal handler sees only whole entries.
enum registration_list_order : uint8_t
{
    _in_registration_order,
    _by_descending_key,
    _one_per_key,
};

struct registration_list
{
    const char *name; // "unit died", "state hash", ...
    any_procedure *procedures;
    int32_t *keys;
    int32_t capacity;
    registration_list_order order;
    std::atomic<int32_t> count;
    registration_list *next; // every list, for clearing
};

void link_registration_list(registration_list *list);
// The first of all lists (walk with ->next); for tests.
registration_list *first_registration_list(void);
// Adds `procedure` (with `key`), or refuses (assertion) as described above;
// `at_start_up`: the very entry again is no change.
bool add_to_registration_list(registration_list *list, any_procedure procedure, int32_t key, bool at_start_up);
void clear_registration_list(registration_list *list);

// Empties every slot of every table and every list (tests, between cases).
void clear_all_registrations(void);

// The first of all tables (walk with ->next); for tests.
registration_table *first_registration_table(void);

// A typed table of `N` slots of procedure type `P`.
template <typename P, int32_t N>
class procedure_table
{
public:
    explicit procedure_table(const char *name, const char *(*slot_name)(int32_t) = nullptr)
        : table{name, slots, N, slot_name, nullptr}
    {
        link_registration_table(&table);
    }
    bool fill(int32_t index, P procedure)
    {
        return fill_registration_slot(&table, index, reinterpret_cast<any_procedure>(procedure));
    }
    // Null when the slot is empty or the index is outside the table.
    P get(int32_t index) const
    {
        return index >= 0 && index < N ? reinterpret_cast<P>(slots[index]) : nullptr;
    }
    registration_table *raw(void) { return &table; }

private:
    any_procedure slots[N] = {};
    registration_table table;
};

// One typed slot.
template <typename P>
class procedure_slot
{
public:
    explicit procedure_slot(const char *name) : slots(name) {}
    bool fill(P procedure) { return slots.fill(0, procedure); }
    P get(void) const { return slots.get(0); }
    registration_table *raw(void) { return slots.raw(); }

private:
    procedure_table<P, 1> slots;
};

// Fills two single slots that one owner fills together (fill_registration_pair).
template <typename A, typename B>
bool fill_procedure_pair(procedure_slot<A> *first, procedure_slot<B> *second, A first_procedure, B second_procedure)
{
    return fill_registration_pair(first->raw(), second->raw(), 0, reinterpret_cast<any_procedure>(first_procedure),
                                  reinterpret_cast<any_procedure>(second_procedure));
}

// A typed ordered list of at most `N` procedures of type `P`.
template <typename P, int32_t N>
class procedure_list
{
public:
    explicit procedure_list(const char *name, registration_list_order order = _in_registration_order)
        : list{name, procedures, keys, N, order, {0}, nullptr}
    {
        link_registration_list(&list);
    }
    bool add(P procedure, int32_t key = 0)
    {
        return add_to_registration_list(&list, reinterpret_cast<any_procedure>(procedure), key, false);
    }
    bool add_at_start_up(P procedure, int32_t key = 0)
    {
        return add_to_registration_list(&list, reinterpret_cast<any_procedure>(procedure), key, true);
    }
    int32_t count(void) const { return list.count.load(std::memory_order_acquire); }
    P get(int32_t index) const { return reinterpret_cast<P>(procedures[index]); }
    int32_t key(int32_t index) const { return keys[index]; }
    // The procedure registered under `key`; null when there is none.
    P find(int32_t key) const
    {
        for (int32_t i = 0, n = count(); i < n; ++i)
            if (keys[i] == key) return get(i);
        return nullptr;
    }
    void clear(void) { clear_registration_list(&list); }
    registration_list *raw(void) { return &list; }

private:
    any_procedure procedures[N] = {};
    int32_t keys[N] = {};
    registration_list list;
};
