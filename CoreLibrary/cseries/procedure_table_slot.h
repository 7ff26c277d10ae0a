#pragma once
// A subsystem's typed table of procedures, registered whole by one call
// (docs/architecture.md, "One table per subsystem").  The table is kept by
// pointer, so it must outlive the program's use (a static record).  The slot
// is an ordinary registration slot: a null table, or a second table while one
// is registered, is refused with an assertion and changes nothing, and
// `clear_all_registrations` empties it.
//
// Readers call `get`, which never gives null: until a table is registered it
// gives a table whose every member is null, and every caller does its
// documented default for a null member.
//
// Main thread only; register before the main loop starts.

#include "cseries/registration.h"

template <typename T>
class procedure_table_slot
{
public:
    explicit procedure_table_slot(const char *name) : slot(name) {}

    bool fill(const T *procedures)
    {
        if (!procedures) return slot.fill(nullptr); // refused and logged
        const T *previous = registered;
        registered = procedures;
        if (slot.fill(current)) return true;
        registered = previous;
        return false;
    }
    const T *get(void) const { return slot.get() ? registered : &empty; }
    // Whether a table is registered.
    bool filled(void) const { return slot.get() != nullptr; }

private:
    static const T *current(void) { return registered; }
    static inline const T *registered = nullptr;
    static inline const T empty = {};
    procedure_slot<const T *(*)(void)> slot;
};
