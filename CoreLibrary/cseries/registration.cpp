// The registration points' shared refusal rules.

#include "registration.h"

#include "cstrings.h"
#include "log.h"

// Constant-initialized before any table's constructor runs.
static registration_table *first_table = nullptr;
static registration_list *first_list = nullptr;

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

// Every refusal, of a slot or of a list, is this one assertion.
static bool refuse_described(char *text, size_t size, const char *why)
{
    slprintfcat(text, size, " %s: registration refused", why);
    VASSERT(false, text);
    return false;
}

static bool refuse(const registration_table *table, int32_t index, const char *why)
{
    char text[160];
    describe_slot(table, index, text, sizeof(text));
    return refuse_described(text, sizeof(text), why);
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

// ---- ordered lists ----

void link_registration_list(registration_list *list)
{
    list->next = first_list;
    first_list = list;
}

registration_list *first_registration_list(void) { return first_list; }

// Null when `procedure` may join `list` under `key`, else why not.
static const char *list_refusal(const registration_list *list, any_procedure procedure, int32_t key)
{
    if (!procedure) return "was offered a null procedure";
    const int32_t count = list->count.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < count; ++i)
    {
        if (list->order == _one_per_key && list->keys[i] == key) return "holds that key already";
        if (list->order != _one_per_key && list->procedures[i] == procedure) return "holds that procedure already";
    }
    if (count >= list->capacity) return "is full";
    return nullptr;
}

bool add_to_registration_list(registration_list *list, any_procedure procedure, int32_t key, bool at_start_up)
{
    if (at_start_up && procedure)
        for (int32_t i = 0; i < list->count.load(std::memory_order_relaxed); ++i)
            if (list->procedures[i] == procedure && list->keys[i] == key) return true;
    if (const char *why = list_refusal(list, procedure, key))
    {
        char text[160];
        slprintf(text, sizeof(text), "%s list (key %d)", list->name, (int)key);
        return refuse_described(text, sizeof(text), why);
    }
    const int32_t count = list->count.load(std::memory_order_relaxed);
    int32_t at = count;
    if (list->order == _by_descending_key)
        while (at > 0 && list->keys[at - 1] < key) --at;
    for (int32_t i = count; i > at; --i)
    {
        list->procedures[i] = list->procedures[i - 1];
        list->keys[i] = list->keys[i - 1];
    }
    list->procedures[at] = procedure;
    list->keys[at] = key;
    list->count.store(count + 1, std::memory_order_release);
    return true;
}

void clear_registration_list(registration_list *list)
{
    list->count.store(0, std::memory_order_release);
    for (int32_t i = 0; i < list->capacity; ++i)
    {
        list->procedures[i] = nullptr;
        list->keys[i] = 0;
    }
}

void clear_all_registrations(void)
{
    for (registration_table *table = first_table; table; table = table->next)
        for (int32_t i = 0; i < table->count; ++i) table->slots[i] = nullptr;
    for (registration_list *list = first_list; list; list = list->next) clear_registration_list(list);
}

registration_table *first_registration_table(void)
{
    return first_table;
}
