// Data arrays.  Records live in blocks of `maximum_count` records; a fixed
// array has one block, a growable one gains blocks as it fills and never moves
// a record.  Every slot at or beyond `count` is free (identifier 0): new,
// delete, import and compress all keep that true, and get_datum relies on it.

#include "tag_files/data.h"

#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"

// ---- record access -------------------------------------------------------

static uint8_t *record_address(const datum_globals *globals, int32_t index)
{
    // Most arrays never grow: their records all lie in the first block, and
    // the lookup then needs no division (it sits under every record access).
    if (index < globals->maximum_count) return globals->blocks[0] + (size_t)index * (size_t)globals->size;
    const int32_t block = index / globals->maximum_count;
    const int32_t slot = index % globals->maximum_count;
    return globals->blocks[block] + (size_t)slot * (size_t)globals->size;
}

// Identifiers are read and written through memcpy: the caller's record type
// decides the alignment, not this module.
static int16_t record_identifier(const uint8_t *record)
{
    int16_t identifier;
    memcpy(&identifier, record, sizeof(identifier));
    return identifier;
}

static void set_record_identifier(uint8_t *record, int16_t identifier)
{
    memcpy(record, &identifier, sizeof(identifier));
}

// ---- identifiers in use -------------------------------------------------
// An array with machine-unique identifiers counts, for each value of the
// sequence, the used slots that hold it, so finding an unused value costs the
// same with 10 or 30,000 live records.  Every write of an identifier by this
// module goes through note_slot_identifier; the counts then always equal what
// the records hold, unless a caller wrote an identifier into a record itself.

static bool tracks_identifiers(const datum_globals *globals) { return globals->identifier_counts != nullptr; }

// Records that slot `index` now holds `identifier` (0: free).
static void note_slot_identifier(datum_globals *globals, int32_t index, int16_t identifier)
{
    if (!tracks_identifiers(globals)) return;
    const int16_t previous = globals->slot_identifiers[index];
    if (previous > 0) --globals->identifier_counts[previous];
    globals->slot_identifiers[index] = identifier;
    if (identifier > 0) ++globals->identifier_counts[identifier];
}

// Writes the identifier into the record at `index` and keeps the counts.
static void write_slot_identifier(datum_globals *globals, int32_t index, int16_t identifier)
{
    set_record_identifier(record_address(globals, index), identifier);
    note_slot_identifier(globals, index, identifier);
}

// A record whose identifier differs from the one this module gave it was
// changed behind the array's back: said loudly, and the counts follow the record.
static void check_slot_identifier(datum_globals *globals, int32_t index, const char *procedure)
{
    if (!tracks_identifiers(globals)) return;
    const int16_t held = record_identifier(record_address(globals, index));
    if (held == globals->slot_identifiers[index]) return;
    char text[160];
    slprintf(text, sizeof(text), "%s: record #%d of data array '%s' holds identifier #%d, not #%d (written "
             "behind the array's back)", procedure, index, globals->name, held, globals->slot_identifiers[index]);
    assertion_failed(__FILE__, __LINE__, _assertion_vassert, "held==slot_identifiers[index]", text);
    note_slot_identifier(globals, index, held);
}

static bool slot_is_free(const datum_globals *globals, int32_t index)
{
    return record_identifier(record_address(globals, index)) == 0;
}

static bool array_is_ready(const datum_globals *globals, const char *procedure)
{
    if (globals && globals->blocks) return true;

    char text[128];
    slprintf(text, sizeof(text), "%s: data array '%s' used before initialize_data", procedure,
             globals ? globals->name : "(null)");
    assertion_failed(__FILE__, __LINE__, _assertion_vassert, "globals && globals->blocks", text);
    return false;
}

static bool index_is_valid(const datum_globals *globals, int32_t index, const char *procedure)
{
    if (!array_is_ready(globals, procedure)) return false;
    if (index >= 0 && index < globals->capacity) return true;

    char text[128];
    slprintf(text, sizeof(text), "%s: index #%d is outside data array '%s' of #%d records", procedure,
             index, globals->name, globals->capacity);
    assertion_failed(__FILE__, __LINE__, _assertion_vassert, "index>=0 && index<capacity", text);
    return false;
}

// ---- identifiers ---------------------------------------------------------

static bool identifier_in_use(const datum_globals *globals, int16_t identifier)
{
    if (tracks_identifiers(globals) && identifier > 0) return globals->identifier_counts[identifier] != 0;
    for (int32_t index = 0; index < globals->count; ++index)
    {
        if (record_identifier(record_address(globals, index)) == identifier) return true;
    }
    return false;
}

// The next value of the sequence, which then moves on (1 .. 0x7FFF, wrapping to 1).
static int16_t take_identifier(datum_globals *globals)
{
    const int16_t identifier = globals->next_identifier;
    globals->next_identifier = identifier >= MAXIMUM_DATUM_IDENTIFIER ? 1 : (int16_t)(identifier + 1);
    return identifier;
}

// The next value of the sequence that no used slot holds.  At most 32766 slots
// can be used while a record still needs a slot, so one of the 32767 values is
// always free; the bound only guards against a broken invariant.
static int16_t take_unused_identifier(datum_globals *globals)
{
    for (int32_t attempt = 0; attempt < MAXIMUM_DATUM_IDENTIFIER; ++attempt)
    {
        const int16_t identifier = take_identifier(globals);
        if (!identifier_in_use(globals, identifier)) return identifier;
    }
    VASSERT(false, "every datum identifier is in use");
    return take_identifier(globals);
}

// ---- slots ---------------------------------------------------------------

static bool grow_data(datum_globals *globals)
{
    if (!TEST_FLAG(globals->flags, _data_array_growable_bit)) return false;
    if (globals->capacity >= MAXIMUM_DATA_ARRAY_COUNT) return false;

    const int32_t block = globals->capacity / globals->maximum_count;
    if (!VASSERT(block < globals->block_count && !globals->blocks[block], "data array block table is broken"))
    {
        return false;
    }
    uint8_t *records = (uint8_t *)calloc((size_t)globals->maximum_count, (size_t)globals->size);
    if (!records)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't grow data array '%s' past #%d records", globals->name,
                      globals->capacity);
        return false;
    }
    globals->blocks[block] = records;
    globals->capacity += globals->maximum_count;
    if (globals->capacity > MAXIMUM_DATA_ARRAY_COUNT) globals->capacity = MAXIMUM_DATA_ARRAY_COUNT;
    return true;
}

// The lowest free slot at or after `first`, growing the array when it must;
// NONE when there is none.
static int32_t find_free_slot(datum_globals *globals, int32_t first)
{
    int32_t index = first > globals->first_free_hint ? first : globals->first_free_hint;
    for (; index < globals->count; ++index)
    {
        if (slot_is_free(globals, index)) return index;
    }
    while (index >= globals->capacity)
    {
        if (!grow_data(globals)) return NONE;
    }
    return index;
}

// Free slot positions the array can still offer, counting growth.
static int32_t available_slot_count(const datum_globals *globals)
{
    const int32_t limit =
        TEST_FLAG(globals->flags, _data_array_growable_bit) ? MAXIMUM_DATA_ARRAY_COUNT : globals->capacity;
    int32_t available = limit - globals->count;
    for (int32_t index = 0; index < globals->count; ++index)
    {
        if (slot_is_free(globals, index)) ++available;
    }
    return available;
}

static void lower_count_past_free_slots(datum_globals *globals)
{
    while (globals->count > 0 && slot_is_free(globals, globals->count - 1)) --globals->count;
}

// Frees every record, drops grown blocks and restarts the identifier sequence.
static void empty_data(datum_globals *globals)
{
    for (int32_t block = 1; block < globals->block_count; ++block)
    {
        free(globals->blocks[block]);
        globals->blocks[block] = nullptr;
    }
    memset(globals->blocks[0], 0, (size_t)globals->maximum_count * (size_t)globals->size);
    globals->capacity = globals->maximum_count;
    globals->count = 0;
    globals->next_identifier = 1;
    globals->first_free_hint = 0;
    if (tracks_identifiers(globals))
    {
        memset(globals->identifier_counts, 0, (size_t)(MAXIMUM_DATUM_IDENTIFIER + 1) * sizeof(uint16_t));
        memset(globals->slot_identifiers, 0,
               (size_t)globals->block_count * (size_t)globals->maximum_count * sizeof(int16_t));
    }
}

// ---- life cycle ----------------------------------------------------------

bool initialize_data(datum_globals *globals)
{
    if (!VASSERT(globals, "null data array")) return false;
    if (!VASSERT(!globals->blocks, "data array initialized twice")) return false;
    if (!VASSERT(globals->name[0] && memchr(globals->name, 0, sizeof(globals->name)), "data array without a name"))
    {
        return false;
    }
    if (!VASSERT(globals->size >= (int32_t)sizeof(int16_t), "data array records must hold their identifier"))
    {
        return false;
    }
    if (!VASSERT(globals->maximum_count >= 1 && globals->maximum_count <= MAXIMUM_DATA_ARRAY_COUNT,
                 "data array maximum_count must be 1..32767"))
    {
        return false;
    }

    const bool growable = TEST_FLAG(globals->flags, _data_array_growable_bit);
    const int32_t block_count =
        growable ? (MAXIMUM_DATA_ARRAY_COUNT + globals->maximum_count - 1) / globals->maximum_count : 1;
    uint8_t **blocks = (uint8_t **)calloc((size_t)block_count, sizeof(uint8_t *));
    uint8_t *records = (uint8_t *)calloc((size_t)globals->maximum_count, (size_t)globals->size);
    uint16_t *identifier_counts = nullptr;
    int16_t *slot_identifiers = nullptr;
    const bool muids = TEST_FLAG(globals->flags, _data_array_muids_bit);
    if (muids)
    {
        identifier_counts = (uint16_t *)calloc((size_t)MAXIMUM_DATUM_IDENTIFIER + 1, sizeof(uint16_t));
        slot_identifiers =
            (int16_t *)calloc((size_t)block_count * (size_t)globals->maximum_count, sizeof(int16_t));
    }
    if (!blocks || !records || (muids && (!identifier_counts || !slot_identifiers)))
    {
        free(blocks);
        free(records);
        free(identifier_counts);
        free(slot_identifiers);
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d records of #%d bytes for data array '%s'",
                      globals->maximum_count, globals->size, globals->name);
        return false;
    }
    blocks[0] = records;
    globals->blocks = blocks;
    globals->identifier_counts = identifier_counts;
    globals->slot_identifiers = slot_identifiers;
    globals->block_count = block_count;
    globals->capacity = globals->maximum_count;
    globals->count = 0;
    globals->next_identifier = 1;
    globals->first_free_hint = 0;
    return true;
}

void initialize_data_for_new_map(datum_globals *globals)
{
    if (!array_is_ready(globals, "initialize_data_for_new_map")) return;
    empty_data(globals);
}

void dispose_data_from_old_map(datum_globals *globals)
{
    if (!array_is_ready(globals, "dispose_data_from_old_map")) return;
    empty_data(globals);
}

void dispose_data(datum_globals *globals)
{
    if (!globals || !globals->blocks) return;
    for (int32_t block = 0; block < globals->block_count; ++block) free(globals->blocks[block]);
    free(globals->blocks);
    globals->blocks = nullptr;
    free(globals->identifier_counts);
    globals->identifier_counts = nullptr;
    free(globals->slot_identifiers);
    globals->slot_identifiers = nullptr;
    globals->block_count = 0;
    globals->capacity = 0;
    globals->count = 0;
    globals->next_identifier = 0;
    globals->first_free_hint = 0;
}

// ---- records -------------------------------------------------------------

int32_t new_datum(datum_globals *globals)
{
    if (!array_is_ready(globals, "new_datum")) return NONE;

    const int32_t index = find_free_slot(globals, 0);
    if (index == NONE) return NONE;
    check_slot_identifier(globals, index, "new_datum");

    const int16_t identifier = TEST_FLAG(globals->flags, _data_array_muids_bit) ? take_unused_identifier(globals)
                                                                               : take_identifier(globals);
    uint8_t *record = record_address(globals, index);
    memset(record, 0, (size_t)globals->size);
    write_slot_identifier(globals, index, identifier);
    if (index >= globals->count) globals->count = index + 1;
    globals->first_free_hint = index + 1;
    return index;
}

void delete_datum(datum_globals *globals, int32_t index)
{
    if (!index_is_valid(globals, index, "delete_datum")) return;
    uint8_t *record = record_address(globals, index);
    if (!VASSERT(record_identifier(record) != 0, "delete_datum of a free slot")) return;

    check_slot_identifier(globals, index, "delete_datum");
    write_slot_identifier(globals, index, 0);
    if (index < globals->first_free_hint) globals->first_free_hint = index;
    lower_count_past_free_slots(globals);
}

void set_datum_identifier(datum_globals *globals, int32_t index, int16_t identifier)
{
    if (!index_is_valid(globals, index, "set_datum_identifier")) return;
    uint8_t *record = record_address(globals, index);
    if (!VASSERT(record_identifier(record) != 0, "set_datum_identifier of a free slot")) return;
    if (!VASSERT(identifier != 0, "set_datum_identifier with identifier 0")) return;

    check_slot_identifier(globals, index, "set_datum_identifier");
    write_slot_identifier(globals, index, identifier);
}

void *get_datum_by_identifier(datum_globals *globals, int32_t index, int16_t identifier)
{
    if (!index_is_valid(globals, index, "get_datum_by_identifier")) return nullptr;
    uint8_t *record = record_address(globals, index);
    const int16_t held = record_identifier(record);
    return held != 0 && held == identifier ? record : nullptr;
}

void *get_datum_checked(datum_globals *globals, int32_t index)
{
    if (!index_is_valid(globals, index, "get_datum")) return nullptr;
    uint8_t *record = record_address(globals, index);
    return record_identifier(record) != 0 ? record : nullptr;
}

bool import_data(datum_globals *globals, const void *buffer, int32_t count)
{
    if (!array_is_ready(globals, "import_data")) return false;
    if (!VASSERT(count >= 0 && (buffer || count == 0), "import_data with a negative count or no buffer"))
    {
        return false;
    }
    if (count > available_slot_count(globals))
    {
        char text[128];
        slprintf(text, sizeof(text), "import_data: #%d records do not fit in data array '%s'", count,
                 globals->name);
        assertion_failed(__FILE__, __LINE__, _assertion_vassert, "count<=available", text);
        return false;
    }

    const uint8_t *source = (const uint8_t *)buffer;
    int32_t first = 0;
    for (int32_t record_index = 0; record_index < count; ++record_index, source += globals->size)
    {
        const int32_t index = find_free_slot(globals, first);
        if (index == NONE) return false; // out of memory while growing, already reported
        first = index + 1;

        const int16_t identifier = record_identifier(source);
        if (identifier == 0) continue;

        const bool clash = identifier_in_use(globals, identifier);
        uint8_t *record = record_address(globals, index);
        check_slot_identifier(globals, index, "import_data");
        memcpy(record, source, (size_t)globals->size);
        note_slot_identifier(globals, index, identifier);
        if (clash)
        {
            char text[128];
            slprintf(text, sizeof(text), "import_data: identifier #%d is already used in data array '%s'",
                     identifier, globals->name);
            assertion_failed(__FILE__, __LINE__, _assertion_vassert, "!identifier_in_use", text);
            write_slot_identifier(globals, index, take_unused_identifier(globals));
        }
        if (index >= globals->count) globals->count = index + 1;
    }
    return true;
}

void compress_data(datum_globals *globals)
{
    if (!array_is_ready(globals, "compress_data")) return;

    int32_t used = 0;
    for (int32_t index = 0; index < globals->count; ++index)
    {
        uint8_t *record = record_address(globals, index);
        if (record_identifier(record) == 0) continue;
        check_slot_identifier(globals, index, "compress_data");
        if (index != used)
        {
            memcpy(record_address(globals, used), record, (size_t)globals->size);
            note_slot_identifier(globals, used, record_identifier(record));
            write_slot_identifier(globals, index, 0);
        }
        ++used;
    }
    globals->count = used;
    globals->first_free_hint = used;
}

// ---- iteration -----------------------------------------------------------

data_iterator data_iterator_new(datum_globals *globals)
{
    data_iterator iterator;
    iterator.globals = globals;
    iterator.index = NONE;
    iterator.next_index = 0;
    return iterator;
}

void *data_iterator_next(data_iterator *iterator)
{
    datum_globals *globals = iterator->globals;
    if (iterator->next_index < MAXIMUM_DATA_ARRAY_COUNT && array_is_ready(globals, "data_iterator_next"))
    {
        for (int32_t index = iterator->next_index; index < globals->count; ++index)
        {
            uint8_t *record = record_address(globals, index);
            if (record_identifier(record) != 0)
            {
                iterator->index = index;
                iterator->next_index = index + 1;
                return record;
            }
        }
    }
    // Past every slot, so a further call stays at the end.
    iterator->index = NONE;
    iterator->next_index = MAXIMUM_DATA_ARRAY_COUNT;
    return nullptr;
}
