// The registration points' shared refusal rules.

#include "registration.h"

#include "cstrings.h"
#include "log.h"

// Constant-initialized before any table's constructor runs.
static registration_table *first_table = nullptr;

void link_registration_table(registration_table *table)
{
    table->next = first_table;
    first_table = table;
}

static void describe_slot(const registration_table *table, int32_t index, char *buffer, size_t size)
{
    if (table->count == 1)
        slprintf(buffer, size, "%s", table->name);
    else if (table->slot_name && index >= 0 && index < table->count)
        slprintf(buffer, size, "%s '%s'", table->name, table->slot_name(index));
    else
        slprintf(buffer, size, "%s %d", table->name, index);
}

// Null when `procedure` may go into the slot, else why not.
static const char *slot_refusal(const registration_table *table, int32_t index, any_procedure procedure)
{
    if (index < 0 || index >= table->count) return "is outside its table";
    if (!procedure) return "was offered a null procedure";
    if (table->slots[index]) return "is taken already";
    return nullptr;
}

static bool refuse(const registration_table *table, int32_t index, const char *why)
{
    char text[160];
    describe_slot(table, index, text, sizeof(text));
    slprintfcat(text, sizeof(text), " %s: registration refused", why);
    VASSERT(false, text);
    return false;
}

bool fill_registration_slot(registration_table *table, int32_t index, any_procedure procedure)
{
    const char *why = slot_refusal(table, index, procedure);
    if (why) return refuse(table, index, why);
    table->slots[index] = procedure;
    return true;
}

bool fill_registration_pair(registration_table *first, registration_table *second, int32_t index,
                            any_procedure first_procedure, any_procedure second_procedure)
{
    if (!first_procedure && !second_procedure) return refuse(first, index, "was offered no procedure");
    const char *why = first_procedure ? slot_refusal(first, index, first_procedure) : nullptr;
    if (why) return refuse(first, index, why);
    why = second_procedure ? slot_refusal(second, index, second_procedure) : nullptr;
    if (why) return refuse(second, index, why);
    if (index < 0 || index >= first->count || index >= second->count)
        return refuse(first, index, "is outside its table");
    if (first_procedure) first->slots[index] = first_procedure;
    if (second_procedure) second->slots[index] = second_procedure;
    return true;
}

void clear_all_registrations(void)
{
    for (registration_table *table = first_table; table; table = table->next)
        for (int32_t i = 0; i < table->count; ++i) table->slots[i] = nullptr;
}

registration_table *first_registration_table(void)
{
    return first_table;
}
