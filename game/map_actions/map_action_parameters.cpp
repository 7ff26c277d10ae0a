// Searching and editing map-action parameters, identifier lists, the trace.

#include "map_action_parameters.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "cseries/tags.h"
#include "game_hooks.h"
#include "game_time.h"
#include "rgb_color.h"
#include "tag_files/data.h"
#include "world.h"

namespace {

// A buffer for data copied out of the parameter buffer before an edit moves it.
struct scratch_copy
{
    uint8_t local[512];
    uint8_t *bytes = local;
    bool copy(const void *data, int32_t size)
    {
        if (size > (int32_t)sizeof(local))
        {
            bytes = (uint8_t *)malloc((size_t)size);
            if (!bytes) return false;
        }
        if (data && size > 0) memcpy(bytes, data, (size_t)size);
        return true;
    }
    ~scratch_copy()
    {
        if (bytes != local) free(bytes);
    }
};

} // namespace

// The index of one action's entries: a copy of each readable entry's header
// and where the entry begins in the action's run, so that a lookup scans a
// short array instead of walking the buffer and working out every entry's
// size.  Local to this machine and never hashed: it is rebuilt from the
// stored entries whenever its stamp (the generation, the record's
// identifier, parameter_count and parameters_size) no longer matches, and
// every edit made here keeps it right as it goes.  Offsets are counted from
// the run's start, so moving or settling a run leaves the index as it is.
struct entry_descriptor
{
    field_tag field_name;
    int16_t type;
    int16_t count;
    int32_t offset; // from the start of the run
    int32_t size; // header, values and padding
};

struct entry_index
{
    uint32_t generation; // current when it equals the globals' index_generation
    int16_t identifier;
    int16_t parameter_count;
    int16_t parameters_size;
    bool summarized; // summary, has_links and names hold
    bool has_links; // a 'link' list: searches that follow links must look further
    uint32_t summary;
    uint64_t names; // one bit (name_bit) per field name present: most lookups of a name it lacks stop here
    // Entries up to the first damaged one (all of them, for a run this
    // module or the import wrote).
    std::vector<entry_descriptor> entries;
};

constexpr uint32_t name_bucket(field_tag field_name) { return ((uint32_t)field_name * 0x9E3779B1u) >> 26; }
constexpr uint64_t name_bit(field_tag field_name) { return 1ull << name_bucket(field_name); }

// Where the runs lie while a script pass edits them.  The stored layout
// moves an edited run to the end of the buffer, closes the gap it leaves and
// lowers every offset past it, which costs the whole buffer and every record
// per edit.  During a pass an edit instead leaves a run of the same size
// where it is, or writes the new run after the last byte written
// (physical_end) and marks the old one dead; either way the move is noted
// in order, and the records hold physical offsets.  Settling then takes the
// noted runs out (as dead), closes every dead run in one sweep, lowers each
// other offset by the dead runs that began before it, and puts the noted
// runs after the rest in the order of their last moves.  That is the stored
// layout exactly: each edit's move, applied in turn, keeps the bytes in
// order less the runs it cut out and appends those in turn, and lowers an
// offset by a cut run exactly when the offset lay past the run's start (an
// empty run is a run of no bytes: moved, it is noted like any other).
enum
{
    ARENA_BITMAP_WORDS = PARAMETER_ARENA_SIZE / 64,
};
static_assert(PARAMETER_ARENA_SIZE % 64 == 0);
struct parameter_arena
{
    bool unsettled; // dead runs lie below physical_end; the records hold physical offsets
    int32_t physical_end; // while unsettled: the bytes written
    int32_t deferring; // passes open
    bool settle_every_edit;
    // The action whose run was written last, when no other action's offset
    // has been put past that run's start since: its run is the buffer's last
    // in the stored layout too, so moving it to the end leaves it in place.
    int32_t tail_action;
    const map_action_run_resize_observer *observer;
    uint64_t dead[ARENA_BITMAP_WORDS]; // one bit per byte: part of a run an edit moved away
    uint64_t run_starts[ARENA_BITMAP_WORDS]; // one bit per byte: such a run begins here
    int32_t dead_before[ARENA_BITMAP_WORDS]; // while settling: dead bytes before each bitmap word
    int32_t dead_total;
    // The moves of this pass in order; a slot's last one (by its number in
    // last_move) is the one that places it.
    uint32_t moves_made;
    uint32_t last_move[MAXIMUM_MAP_ACTIONS_PER_MAP]; // 0: not moved since the last settling
    std::vector<std::pair<int16_t, uint32_t>> moves;
};

static struct map_action_parameter_globals
{
    uint32_t index_generation = 1; // bumped when the slots are refilled or reordered; never 0
    entry_index indexes[MAXIMUM_MAP_ACTIONS_PER_MAP];
    const map_action_lookup_observer *lookup_observer;
    parameter_arena arena;
    // Bumped by every change to where or what the entries are (edits,
    // settling, a new map): resolved reads made before it are looked up again.
    uint32_t layout_changes;
    // The slot each identifier was last found in (identifiers are unique in the array).
    int16_t slot_of_identifier[1 << 16];
} map_action_parameter_globals;

// The engine's record lies at one address for the life of the program:
// every lookup and edit reads it, so it is not asked for each time.
static map_action_globals *const the_globals = get_map_action_globals();
static map_action_globals *globals(void) { return the_globals; }

static map_action_parameter_header *header_at(int32_t offset)
{
    return (map_action_parameter_header *)(globals()->parameter_buffer + offset);
}

static void changed(void)
{
    globals()->map_actions_state++;
    map_action_parameter_globals.layout_changes++;
}

// ---- the stored entries, walked ---------------------------------------------------
//
// What reading the headers one after the other gives: the reference the
// index answers for, and what the lookup observer compares it with.

// The size of the entry at `offset` when it is readable there, else NONE.
static int32_t readable_entry_size(int32_t offset)
{
    if (offset < 0 || offset > PARAMETER_ARENA_SIZE - MAP_ACTION_PARAMETER_HEADER_SIZE) return NONE;
    const map_action_parameter_header *header = header_at(offset);
    return map_action_parameter_entry_size(header->type, header->count);
}

// The offset of entry `parameter_index` of the action in the buffer, or NONE
// (outside the action, or at or past a damaged entry).
static int32_t walked_entry_offset(const map_action *action, int32_t parameter_index)
{
    if (parameter_index < 0 || parameter_index >= action->parameter_count) return NONE;
    int32_t offset = action->parameters_offset;
    for (int32_t i = 0; i < parameter_index; i++)
    {
        const int32_t size = readable_entry_size(offset);
        if (size == NONE) return NONE;
        offset += size;
    }
    return readable_entry_size(offset) == NONE ? NONE : offset;
}

// ---- the index of entries -----------------------------------------------------------

[[gnu::noinline]] static void build_index(entry_index *index, const map_action *action)
{
    index->entries.clear();
    int32_t offset = 0;
    for (int32_t i = 0; i < action->parameter_count; i++)
    {
        const int32_t size = readable_entry_size(action->parameters_offset + offset);
        if (size == NONE) break;
        const map_action_parameter_header *header = header_at(action->parameters_offset + offset);
        index->entries.push_back({header->field_name, header->type, header->count, offset, size});
        offset += size;
    }
    index->generation = map_action_parameter_globals.index_generation;
    index->identifier = action->identifier;
    index->parameter_count = action->parameter_count;
    index->parameters_size = action->parameters_size;
    index->summarized = false;
}

// The index of the action's entries, rebuilt when its stamp is stale; null
// for a slot past the array's capacity (walked instead).
[[gnu::always_inline]] static inline entry_index *index_of(int32_t action_index, const map_action *action)
{
    if (action_index < 0 || action_index >= MAXIMUM_MAP_ACTIONS_PER_MAP) return nullptr;
    entry_index *index = &map_action_parameter_globals.indexes[action_index];
    if (index->generation != map_action_parameter_globals.index_generation || index->identifier != action->identifier ||
        index->parameter_count != action->parameter_count || index->parameters_size != action->parameters_size)
        build_index(index, action);
    return index;
}

// An edit made here changed the action's entries and, with them, its index:
// the index takes the record's new counts as its stamp.
static void restamp_index(entry_index *index, const map_action *action)
{
    index->parameter_count = action->parameter_count;
    index->parameters_size = action->parameters_size;
}

// The index is rebuilt on its next use.
static void forget_index(int32_t action_index)
{
    if (action_index >= 0 && action_index < MAXIMUM_MAP_ACTIONS_PER_MAP)
        map_action_parameter_globals.indexes[action_index].generation = 0;
}

// Every index is rebuilt on its next use (the slots were refilled or reordered).
static void forget_every_index(void)
{
    map_action_parameter_globals.layout_changes++;
    if (++map_action_parameter_globals.index_generation == 0) map_action_parameter_globals.index_generation = 1;
}

static void report_lookup(int32_t action_index, const char *difference)
{
    const map_action_lookup_observer *observer = map_action_parameter_globals.lookup_observer;
    if (observer && observer->compared) observer->compared(action_index, difference);
}

// The offset of entry `parameter_index` of the action in the buffer, or NONE.
static int32_t entry_offset(int32_t action_index, const map_action *action, int32_t parameter_index)
{
    const entry_index *index = index_of(action_index, action);
    if (!index) return walked_entry_offset(action, parameter_index);
    const bool inside = parameter_index >= 0 && parameter_index < (int32_t)index->entries.size();
    const int32_t offset = inside ? action->parameters_offset + index->entries[parameter_index].offset : NONE;
    if (map_action_parameter_globals.lookup_observer)
    {
        const int32_t walked = walked_entry_offset(action, parameter_index);
        const entry_descriptor *entry = inside ? &index->entries[parameter_index] : nullptr;
        const map_action_parameter_header *header = walked == NONE ? nullptr : header_at(walked);
        char difference[128] = "";
        if (walked != offset)
            snprintf(difference, sizeof(difference), "entry %d at %d, walked %d", parameter_index, offset, walked);
        else if (entry && (entry->field_name != header->field_name || entry->type != header->type ||
                           entry->count != header->count))
            snprintf(difference, sizeof(difference), "entry %d indexed as '%s' type %d count %d, stored '%s' %d %d",
                     parameter_index, tag_to_string(entry->field_name), entry->type, entry->count,
                     tag_to_string(header->field_name), header->type, header->count);
        report_lookup(action_index, *difference ? difference : nullptr);
    }
    return offset;
}

// ---- the arena --------------------------------------------------------------------

static bool bit_at(const uint64_t *bits, int32_t position)
{
    return (bits[position >> 6] >> (position & 63)) & 1;
}

// Sets (or clears) the bits [first, first + count).
static void set_bits(uint64_t *bits, int32_t first, int32_t count, bool value)
{
    while (count > 0)
    {
        const int32_t shift = first & 63, taken = count < 64 - shift ? count : 64 - shift;
        const uint64_t mask = (taken == 64 ? ~0ull : ((1ull << taken) - 1)) << shift;
        if (value)
            bits[first >> 6] |= mask;
        else
            bits[first >> 6] &= ~mask;
        first += taken;
        count -= taken;
    }
}

// The first position at or after `from` and below `limit` whose bit is
// `value`, or `limit`.
static int32_t next_bit(const uint64_t *bits, int32_t from, int32_t limit, bool value)
{
    while (from < limit)
    {
        uint64_t word = bits[from >> 6];
        if (!value) word = ~word;
        word &= ~0ull << (from & 63);
        if (word)
        {
            const int32_t found = (from & ~63) + std::countr_zero(word);
            return found < limit ? found : limit;
        }
        from = (from & ~63) + 64;
    }
    return limit;
}

static int32_t physical_end(void)
{
    const parameter_arena *arena = &map_action_parameter_globals.arena;
    return arena->unsettled ? arena->physical_end : globals()->parameter_buffer_size;
}

// The bits set in a word, without the processor's own instruction (which a
// build for every x86-64 cannot assume, and which the library would call for).
static int32_t bits_set(uint64_t word)
{
    word = word - ((word >> 1) & 0x5555555555555555ull);
    word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
    word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (int32_t)((word * 0x0101010101010101ull) >> 56);
}

// Fills dead_before for the bitmap words below physical_end, and dead_total.
static void count_dead_bytes(void)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    const int32_t words = (arena->physical_end + 63) >> 6;
    int32_t dead = 0;
    for (int32_t i = 0; i < words; i++)
    {
        arena->dead_before[i] = dead;
        // Most words lie wholly inside or outside a dead run.
        const uint64_t word = arena->dead[i];
        dead += word == 0 ? 0 : word == ~0ull ? 64 : bits_set(word);
    }
    arena->dead_total = dead;
}

// The stored offset of a physical one, after count_dead_bytes: less every
// dead run that began before it (whole, even when the offset lies inside it,
// which only an empty run read from a block can do).
static int32_t settled_offset(int32_t offset)
{
    const parameter_arena *arena = &map_action_parameter_globals.arena;
    const int32_t end = arena->physical_end;
    if (offset <= 0) return offset;
    if (offset >= end) return offset - arena->dead_total;
    int32_t dead = arena->dead_before[offset >> 6] +
                   bits_set(arena->dead[offset >> 6] & ((1ull << (offset & 63)) - 1));
    if (bit_at(arena->dead, offset) && !bit_at(arena->run_starts, offset))
    {
        const int32_t next_start = next_bit(arena->run_starts, offset, end, true);
        const int32_t next_live = next_bit(arena->dead, offset, end, false);
        dead += (next_start < next_live ? next_start : next_live) - offset;
    }
    return offset - dead;
}

// Calls visit(physical offset, size) for each live stretch below physical_end, in order.
template <typename F>
static void for_each_live_stretch(F visit)
{
    const parameter_arena *arena = &map_action_parameter_globals.arena;
    const int32_t end = arena->physical_end;
    for (int32_t first = next_bit(arena->dead, 0, end, false); first < end;)
    {
        const int32_t last = next_bit(arena->dead, first, end, true);
        visit(first, last - first);
        first = next_bit(arena->dead, last, end, false);
    }
}

// Notes that the action's run moved to the end of the stored layout.
static void note_move(int32_t action_index)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    // The run moved last already (the second edit of one action in a row):
    // the order of the last moves stays as it is.
    if (action_index >= 0 && action_index < MAXIMUM_MAP_ACTIONS_PER_MAP && arena->moves_made != 0 &&
        arena->last_move[action_index] == arena->moves_made)
        return;
    if (!VASSERT(action_index >= 0 && action_index < MAXIMUM_MAP_ACTIONS_PER_MAP, "a moved run outside the array"))
        return;
    if (!arena->unsettled) arena->physical_end = globals()->parameter_buffer_size;
    arena->last_move[action_index] = ++arena->moves_made;
    arena->moves.emplace_back((int16_t)action_index, arena->moves_made);
    arena->unsettled = true;
}

// Calls visit(action index, record) for each used action whose run was
// moved since the last settling, in the order of their last moves.
template <typename F>
static void for_each_moved_run(F visit)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    for (const auto &[action_index, move] : arena->moves)
        if (arena->last_move[action_index] == move)
            if (map_action *action = get_map_action(action_index)) visit(action_index, action);
}

// Marks (or unmarks) the bytes of the moved runs as dead, as if each had
// been copied away: they are put after the rest.
static void mark_moved_runs(bool dead)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    for_each_moved_run([&](int32_t, const map_action *action) {
        if (action->parameters_size <= 0) return;
        set_bits(arena->dead, action->parameters_offset, action->parameters_size, dead);
        set_bits(arena->run_starts, action->parameters_offset, 1, dead);
    });
}

// Calls store(action index, stored offset) for every used action, after
// mark_moved_runs and count_dead_bytes: the others where they close up to,
// then the moved runs one after the other behind them.
template <typename F>
static void for_each_stored_offset(F store)
{
    const parameter_arena *arena = &map_action_parameter_globals.arena;
    datum_globals *array = get_map_action_array();
    for (int32_t index = 0; index < array->count; index++)
        if (const map_action *action = get_map_action(index))
            if (index >= MAXIMUM_MAP_ACTIONS_PER_MAP || arena->last_move[index] == 0)
                store(index, settled_offset(action->parameters_offset));
    int32_t offset = arena->physical_end - arena->dead_total;
    for_each_moved_run([&](int32_t index, const map_action *action) {
        store(index, offset);
        offset += action->parameters_size;
    });
}

static void forget_moves(void)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    for (const auto &[action_index, move] : arena->moves) arena->last_move[action_index] = 0;
    arena->moves.clear();
    arena->moves_made = 0;
}

// True when settling would change nothing: no run left dead bytes, the
// moved runs lie at the end one after the other in the order of their last
// moves (as a pass over a script that edits every action in slot order
// leaves them), and every other run, empty ones too, lies before them.
static bool moved_runs_lie_last(void)
{
    const parameter_arena *arena = &map_action_parameter_globals.arena;
    if (arena->physical_end != globals()->parameter_buffer_size) return false;
    int32_t moved = 0;
    for_each_moved_run([&](int32_t, const map_action *action) { moved += action->parameters_size; });
    const int32_t first = arena->physical_end - moved;
    int32_t position = first;
    bool in_order = true;
    for_each_moved_run([&](int32_t, const map_action *action) {
        in_order = in_order && action->parameters_offset == position;
        position += action->parameters_size;
    });
    if (!in_order) return false;
    datum_globals *array = get_map_action_array();
    for (int32_t index = 0; index < array->count; index++)
    {
        const map_action *action = get_map_action(index);
        if (action && (index >= MAXIMUM_MAP_ACTIONS_PER_MAP || arena->last_move[index] == 0) &&
            action->parameters_offset + action->parameters_size > first)
            return false;
    }
    return true;
}

void settle_map_action_parameters(void)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    if (!arena->unsettled) return;
    if (moved_runs_lie_last())
    {
        forget_moves();
        arena->unsettled = false;
        map_action_parameter_globals.layout_changes++;
        return;
    }
    map_action_globals *g = globals();
    uint8_t *buffer = g->parameter_buffer;
    // The moved runs wait aside while the rest closes up.
    static uint8_t moved[PARAMETER_BUFFER_SIZE];
    int32_t moved_size = 0;
    for_each_moved_run([&](int32_t, const map_action *action) {
        const int32_t size = action->parameters_size;
        if (size <= 0) return;
        if (VASSERT(moved_size + size <= PARAMETER_BUFFER_SIZE, "moved runs larger than the buffer"))
            memcpy(moved + moved_size, buffer + action->parameters_offset, (size_t)size);
        moved_size += size;
    });
    mark_moved_runs(true);
    count_dead_bytes();
    // Every offset is worked out from the physical ones before any changes.
    static int32_t offsets[MAXIMUM_MAP_ACTIONS_PER_MAP];
    datum_globals *array = get_map_action_array();
    for_each_stored_offset([&](int32_t index, int32_t offset) {
        if (index < MAXIMUM_MAP_ACTIONS_PER_MAP)
            offsets[index] = offset;
        else
            get_map_action(index)->parameters_offset = offset;
    });
    for (int32_t index = 0; index < array->count && index < MAXIMUM_MAP_ACTIONS_PER_MAP; index++)
        if (map_action *action = get_map_action(index)) action->parameters_offset = offsets[index];
    int32_t written = 0;
    for_each_live_stretch([&](int32_t first, int32_t size) {
        memmove(buffer + written, buffer + first, (size_t)size);
        written += size;
    });
    if (moved_size > 0 && moved_size <= PARAMETER_BUFFER_SIZE && written + moved_size <= PARAMETER_ARENA_SIZE)
        memcpy(buffer + written, moved, (size_t)moved_size);
    written += moved_size;
    VASSERT(written == g->parameter_buffer_size, "settled parameter bytes differ from the bytes in use");
    if (arena->physical_end > written) memset(buffer + written, 0, (size_t)(arena->physical_end - written));
    const int32_t words = (arena->physical_end + 63) >> 6;
    memset(arena->dead, 0, (size_t)words * sizeof(uint64_t));
    memset(arena->run_starts, 0, (size_t)words * sizeof(uint64_t));
    forget_moves();
    arena->unsettled = false;
    map_action_parameter_globals.layout_changes++;
}

void copy_settled_map_action_parameters(uint8_t *buffer, int32_t *offsets)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    const map_action_globals *g = globals();
    datum_globals *array = get_map_action_array();
    if (arena->unsettled)
    {
        mark_moved_runs(true);
        count_dead_bytes();
    }
    for (int32_t index = 0; index < array->count; index++)
    {
        const map_action *action = get_map_action(index);
        offsets[index] = !action ? NONE : action->parameters_offset;
    }
    if (arena->unsettled) for_each_stored_offset([&](int32_t index, int32_t offset) { offsets[index] = offset; });
    if (!arena->unsettled)
    {
        memcpy(buffer, g->parameter_buffer, PARAMETER_BUFFER_SIZE);
        return;
    }
    int32_t written = 0;
    auto copy = [&](int32_t first, int32_t size) {
        const int32_t copied = written + size <= PARAMETER_BUFFER_SIZE ? size : PARAMETER_BUFFER_SIZE - written;
        if (copied > 0) memcpy(buffer + written, g->parameter_buffer + first, (size_t)copied);
        written += size;
    };
    for_each_live_stretch(copy);
    for_each_moved_run([&](int32_t, const map_action *action) {
        if (action->parameters_size > 0) copy(action->parameters_offset, action->parameters_size);
    });
    if (written < PARAMETER_BUFFER_SIZE) memset(buffer + written, 0, (size_t)(PARAMETER_BUFFER_SIZE - written));
    mark_moved_runs(false);
}

void begin_map_action_parameter_edits(void) { map_action_parameter_globals.arena.deferring++; }

void end_map_action_parameter_edits(void)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    if (VASSERT(arena->deferring > 0, "end_map_action_parameter_edits without a beginning")) arena->deferring--;
    if (arena->deferring == 0) settle_map_action_parameters();
}

bool set_map_action_parameters_settled_every_edit(bool every_edit)
{
    return std::exchange(map_action_parameter_globals.arena.settle_every_edit, every_edit);
}

const map_action_run_resize_observer *set_map_action_run_resize_observer(const map_action_run_resize_observer *observer)
{
    return std::exchange(map_action_parameter_globals.arena.observer, observer);
}

const map_action_lookup_observer *set_map_action_lookup_observer(const map_action_lookup_observer *observer)
{
    // While an observer checks lookups, every summary is looked up afresh.
    map_action_last_summary.action_index = NONE;
    return std::exchange(map_action_parameter_globals.lookup_observer, observer);
}

// A new map or block: the buffer is rewritten, nothing of the old runs stays.
static void reset_arena(void)
{
    parameter_arena *arena = &map_action_parameter_globals.arena;
    if (arena->unsettled)
    {
        memset(arena->dead, 0, sizeof(arena->dead));
        memset(arena->run_starts, 0, sizeof(arena->run_starts));
    }
    arena->unsettled = false;
    arena->physical_end = 0;
    arena->tail_action = NONE;
    forget_moves();
}

void reset_map_action_parameter_cache(void)
{
    // A map whose actions share an identifier would otherwise find what an
    // earlier game in this process looked up: every game starts afresh.
    memset(map_action_parameter_globals.slot_of_identifier, 0xFF, sizeof(map_action_parameter_globals.slot_of_identifier));
    forget_every_index();
    reset_arena();
}

// The summary bit an entry gives (only flags and identifier lists are summarized).
static uint32_t entry_summary_bit(field_tag field_name, int16_t type, int16_t count)
{
    if (type != _parameter_flag && type != _parameter_action_identifier) return 0;
    const uint32_t bit = map_action_summary_bit(field_name);
    if (!bit) return 0;
    const map_action_summary_name &name = map_action_summary_names[std::countr_zero(bit)];
    return type == name.type && (count >= 1 || (name.empty_too && count == 0)) ? bit : 0;
}

static uint32_t walked_summary(const map_action *action)
{
    uint32_t bits = 0;
    int32_t offset = action->parameters_offset;
    for (int32_t i = 0; i < action->parameter_count; i++)
    {
        const int32_t size = readable_entry_size(offset);
        if (size == NONE) break;
        const map_action_parameter_header *header = header_at(offset);
        bits |= entry_summary_bit(header->field_name, header->type, header->count);
        offset += size;
    }
    return bits;
}

[[gnu::noinline]] static void summarize_entries(entry_index *index)
{
    uint32_t bits = 0;
    uint64_t names = 0;
    bool links = false;
    for (const entry_descriptor &entry : index->entries)
    {
        bits |= entry_summary_bit(entry.field_name, entry.type, entry.count);
        names |= name_bit(entry.field_name);
        links = links || (entry.type == _parameter_action_identifier && entry.field_name == _map_action_field_name_link);
    }
    index->summary = bits;
    index->names = names;
    index->has_links = links;
    index->summarized = true;
}

[[gnu::always_inline]] static inline void summarize(entry_index *index)
{
    if (!index->summarized) summarize_entries(index);
}

// ---- search ----------------------------------------------------------------------

static bool parameter_matches(uint32_t flags, field_tag name_filter, int16_t type_filter, field_tag name,
                              int16_t type, int16_t count)
{
    if (type_filter != NONE && type_filter != type) return false;
    if (name_filter != NONE && name_filter != name) return false;
    if (count >= 1) return !(flags & _only_return_one_element_arrays_flag) || count == 1;
    return count == 0 && (flags & _return_empty_arrays_flag);
}

// Queues the actions a 'link' list names: not one already searched, none
// past the stack's size.
static void push_linked_actions(find_map_action_parameter_state *state, const int16_t *identifiers, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
    {
        const int32_t linked = action_identifier_to_action_index(identifiers[i]);
        if (linked == NONE) continue;
        bool searched = false;
        for (int32_t j = 0; j < state->stack_index && !searched; j++) searched = state->stack[j].action_index == linked;
        if (searched || state->stack_size >= MAXIMUM_FIND_MAP_ACTION_PARAMETER_STACK_SIZE) continue;
        state->stack[state->stack_size].action_index = (int16_t)linked;
        state->stack[state->stack_size].parameter_index = 0;
        state->stack_size++;
    }
}

static bool is_link_entry(uint32_t flags, int16_t type, field_tag field_name)
{
    return !(flags & _dont_resolve_links_flag) && type == _parameter_action_identifier &&
           field_name == _map_action_field_name_link;
}

static void fill_handle(map_action_parameter *result, field_tag field_name, int16_t type, int16_t count,
                        int32_t action_index, int32_t parameter_index)
{
    if (!result) return;
    result->field_name = field_name;
    result->type = type;
    result->count = count;
    result->action_index = (int16_t)action_index;
    result->parameter_index = (int16_t)parameter_index;
}

// The search reading the stored headers one after the other.
static bool walked_find_next(find_map_action_parameter_state *state, map_action_parameter *result)
{
    while (state->stack_index < state->stack_size)
    {
        find_map_action_parameter_stack_entry *entry = &state->stack[state->stack_index];
        const map_action *action = get_map_action(entry->action_index);
        int32_t offset = action ? walked_entry_offset(action, entry->parameter_index) : NONE;
        while (action && offset != NONE && entry->parameter_index < action->parameter_count)
        {
            const int32_t size = readable_entry_size(offset);
            if (size == NONE) break;
            const map_action_parameter_header *header = header_at(offset);
            const int16_t parameter_index = entry->parameter_index++;
            offset += size;
            if (is_link_entry(state->flags, header->type, header->field_name))
            {
                push_linked_actions(state, (const int16_t *)(header + 1), header->count);
                entry = &state->stack[state->stack_index];
                continue;
            }
            if (parameter_matches(state->flags, state->field_name_filter, state->type_filter, header->field_name,
                                  header->type, header->count))
            {
                fill_handle(result, header->field_name, header->type, header->count, entry->action_index, parameter_index);
                return true;
            }
        }
        state->stack_index++;
    }
    return false;
}

// The same search over the indexes.
static bool indexed_find_next(find_map_action_parameter_state *state, map_action_parameter *result)
{
    const uint8_t *buffer = globals()->parameter_buffer;
    while (state->stack_index < state->stack_size)
    {
        find_map_action_parameter_stack_entry *entry = &state->stack[state->stack_index];
        const int32_t action_index = entry->action_index;
        const map_action *action = get_map_action(action_index);
        const entry_index *index = action ? index_of(action_index, action) : nullptr;
        if (action && !index) return walked_find_next(state, result);
        const int32_t readable = index ? (int32_t)index->entries.size() : 0;
        while (entry->parameter_index >= 0 && entry->parameter_index < readable)
        {
            const entry_descriptor *descriptor = &index->entries[entry->parameter_index];
            const int16_t parameter_index = entry->parameter_index++;
            if (is_link_entry(state->flags, descriptor->type, descriptor->field_name))
            {
                push_linked_actions(state,
                                    (const int16_t *)(buffer + action->parameters_offset + descriptor->offset +
                                                      MAP_ACTION_PARAMETER_HEADER_SIZE),
                                    descriptor->count);
                entry = &state->stack[state->stack_index];
                continue;
            }
            if (parameter_matches(state->flags, state->field_name_filter, state->type_filter, descriptor->field_name,
                                  descriptor->type, descriptor->count))
            {
                fill_handle(result, descriptor->field_name, descriptor->type, descriptor->count, action_index,
                            parameter_index);
                return true;
            }
        }
        state->stack_index++;
    }
    return false;
}

static void start_search(find_map_action_parameter_state *state, int32_t action_index, uint32_t flags,
                         field_tag field_name_filter, int16_t type_filter)
{
    // The stack past stack_size is never read: only what is used is set.
    state->flags = flags;
    state->field_name_filter = field_name_filter;
    state->type_filter = type_filter;
    state->stack[0].action_index = (int16_t)action_index;
    state->stack[0].parameter_index = 0;
    state->stack_size = 1;
    state->stack_index = 0;
}

void new_find_map_action_parameter_state(find_map_action_parameter_state *state, int32_t action_index,
                                         uint32_t flags, field_tag field_name_filter, int16_t type_filter)
{
    VASSERT(type_filter == NONE || (type_filter >= 0 && type_filter < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES),
            "type_filter==NONE || (type_filter>=0 && type_filter<NUMBER_OF_MAP_ACTION_PARAMETER_TYPES)");
    start_search(state, action_index, flags, field_name_filter, type_filter);
}

static bool same_handle(bool found, const map_action_parameter *a, bool walked, const map_action_parameter *b)
{
    if (found != walked) return false;
    return !found || (a->field_name == b->field_name && a->type == b->type && a->count == b->count &&
                      a->action_index == b->action_index && a->parameter_index == b->parameter_index);
}

static void describe_handles(char *text, size_t size, bool found, const map_action_parameter *a, bool walked,
                             const map_action_parameter *b)
{
    snprintf(text, size, "indexed %s '%s' %d/%d of %d, walked %s '%s' %d/%d of %d", found ? "found" : "none",
             found ? tag_to_string(a->field_name) : "", found ? a->parameter_index : 0, found ? a->count : 0,
             found ? a->action_index : 0, walked ? "found" : "none", walked ? tag_to_string(b->field_name) : "",
             walked ? b->parameter_index : 0, walked ? b->count : 0, walked ? b->action_index : 0);
}

bool find_next_map_action_parameter(find_map_action_parameter_state *state, map_action_parameter *result)
{
    if (!map_action_parameter_globals.lookup_observer) return indexed_find_next(state, result);
    find_map_action_parameter_state walked_state = *state;
    map_action_parameter indexed_result = {}, walked_result = {};
    const bool walked = walked_find_next(&walked_state, &walked_result);
    const bool found = indexed_find_next(state, &indexed_result);
    char difference[192] = "";
    if (!same_handle(found, &indexed_result, walked, &walked_result))
        describe_handles(difference, sizeof(difference), found, &indexed_result, walked, &walked_result);
    else if (walked_state.stack_index != state->stack_index || walked_state.stack_size != state->stack_size ||
             memcmp(walked_state.stack, state->stack, sizeof(state->stack[0]) * (size_t)state->stack_size) != 0)
        snprintf(difference, sizeof(difference), "search stack %d of %d, walked %d of %d", state->stack_index,
                 state->stack_size, walked_state.stack_index, walked_state.stack_size);
    report_lookup(state->stack[0].action_index, *difference ? difference : nullptr);
    if (found && result) *result = indexed_result;
    return found;
}

// The first match through the index: among the action's own entries when
// links are not followed or it has no 'link' list, else by the search.
static int32_t locate_parameter(const map_action_parameter *parameter);
// The first match by the search (an action with links, or one without an
// index), and the offset of its entry into `offset` (may be null).
[[gnu::noinline]] static bool searched_first_match(map_action_parameter *result, int32_t *offset, int32_t action_index,
                                                   bool indexed, uint32_t flags, field_tag field_name, int16_t type)
{
    find_map_action_parameter_state state;
    map_action_parameter found;
    start_search(&state, action_index, flags, field_name, type);
    if (!(indexed ? indexed_find_next(&state, &found) : walked_find_next(&state, &found))) return false;
    if (result) *result = found;
    if (offset) *offset = locate_parameter(&found);
    return true;
}

// The first match among the action's own entries, from its index.
static inline bool own_first_match(map_action_parameter *result, int32_t *offset, int32_t action_index,
                                   const map_action *action, const entry_index *index, uint32_t flags,
                                   field_tag field_name, int16_t type)
{
    if (field_name != NONE && !(index->names & name_bit(field_name))) return false;
    const entry_descriptor *entries = index->entries.data();
    const int32_t count = (int32_t)index->entries.size();
    for (int32_t i = 0; i < count; i++)
        if ((field_name == NONE || entries[i].field_name == field_name) &&
            parameter_matches(flags, NONE, type, entries[i].field_name, entries[i].type, entries[i].count))
        {
            fill_handle(result, entries[i].field_name, entries[i].type, entries[i].count, action_index, i);
            if (offset) *offset = action->parameters_offset + entries[i].offset;
            return true;
        }
    return false;
}

// indexed_first_match when the index must be built or summarized first, or
// the search must follow links.
[[gnu::noinline]] static bool prepared_first_match(map_action_parameter *result, int32_t *offset,
                                                   int32_t action_index, const map_action *action, uint32_t flags,
                                                   field_tag field_name, int16_t type)
{
    entry_index *index = index_of(action_index, action);
    if (!index) return searched_first_match(result, offset, action_index, false, flags, field_name, type);
    summarize(index);
    if (!(flags & _dont_resolve_links_flag) && index->has_links)
        return searched_first_match(result, offset, action_index, true, flags, field_name, type);
    return own_first_match(result, offset, action_index, action, index, flags, field_name, type);
}

// The first match through the index: among the action's own entries when
// links are not followed or it has no 'link' list, else by the search.
// Also the offset of the entry found into `offset` (may be null).  Most
// lookups find a current, summarized index of an action without links and
// call nothing.
[[gnu::always_inline]] static inline bool indexed_first_match(map_action_parameter *result, int32_t *offset,
                                                              int32_t action_index, const map_action *action,
                                                              uint32_t flags, field_tag field_name, int16_t type)
{
    if (action_index < 0 || action_index >= MAXIMUM_MAP_ACTIONS_PER_MAP)
        return prepared_first_match(result, offset, action_index, action, flags, field_name, type);
    const entry_index *index = &map_action_parameter_globals.indexes[action_index];
    if (index->generation != map_action_parameter_globals.index_generation || index->identifier != action->identifier ||
        index->parameter_count != action->parameter_count || index->parameters_size != action->parameters_size ||
        !index->summarized || (!(flags & _dont_resolve_links_flag) && index->has_links))
        return prepared_first_match(result, offset, action_index, action, flags, field_name, type);
    return own_first_match(result, offset, action_index, action, index, flags, field_name, type);
}

// The first match, and the offset of its entry in `offset` (may be null),
// checked against the walk while an observer is set.
[[gnu::noinline]] static bool checked_first_match(map_action_parameter *result, int32_t *offset, int32_t action_index,
                                                  const map_action *action, uint32_t flags, field_tag field_name,
                                                  int16_t type)
{
    find_map_action_parameter_state state;
    start_search(&state, action_index, flags, field_name, type);
    map_action_parameter indexed_result = {}, walked_result = {};
    int32_t indexed_offset = NONE;
    const bool walked = walked_find_next(&state, &walked_result);
    const bool found = indexed_first_match(&indexed_result, &indexed_offset, action_index, action, flags, field_name, type);
    char difference[192] = "";
    if (!same_handle(found, &indexed_result, walked, &walked_result))
        describe_handles(difference, sizeof(difference), found, &indexed_result, walked, &walked_result);
    else if (found)
    {
        const map_action *holder = get_map_action(walked_result.action_index);
        const int32_t walked_offset = holder ? walked_entry_offset(holder, walked_result.parameter_index) : NONE;
        if (walked_offset != indexed_offset)
            snprintf(difference, sizeof(difference), "first match at %d, walked %d", indexed_offset, walked_offset);
    }
    report_lookup(action_index, *difference ? difference : nullptr);
    if (found && result) *result = indexed_result;
    if (found && offset) *offset = indexed_offset;
    return found;
}

[[gnu::always_inline]] static inline bool first_match(map_action_parameter *result, int32_t *offset,
                                                      int32_t action_index, const map_action *action, uint32_t flags,
                                                      field_tag field_name, int16_t type)
{
    if (map_action_parameter_globals.lookup_observer)
        return checked_first_match(result, offset, action_index, action, flags, field_name, type);
    return indexed_first_match(result, offset, action_index, action, flags, field_name, type);
}

bool get_map_action_parameter(map_action_parameter *result, int32_t action_index, uint32_t flags,
                              field_tag field_name, int16_t type)
{
    const map_action *action = get_map_action(action_index);
    if (!action) return false;
    return first_match(result, nullptr, action_index, action, flags, field_name, type);
}

const void *find_own_map_action_parameter(map_action_parameter *result, int32_t action_index, field_tag field_name)
{
    const map_action *action = get_map_action(action_index);
    int32_t offset = NONE;
    if (!action || !first_match(result, &offset, action_index, action, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                field_name, NONE) ||
        offset == NONE)
        return nullptr;
    return globals()->parameter_buffer + offset + MAP_ACTION_PARAMETER_HEADER_SIZE;
}

int32_t get_combined_map_action_parameter(int32_t action_index, field_tag field_name, int16_t type, void *data,
                                          int32_t maximum_count)
{
    const parameter_definition *definition = get_parameter_definition(type);
    if (!definition || maximum_count <= 0) return 0;
    find_map_action_parameter_state state;
    new_find_map_action_parameter_state(&state, action_index, 0, field_name, type);
    map_action_parameter parameter;
    int32_t copied = 0;
    while (copied < maximum_count && find_next_map_action_parameter(&state, &parameter))
        copied += copy_map_action_parameter_values(
            &parameter, (uint8_t *)data + (int64_t)copied * definition->size, maximum_count - copied);
    return copied;
}

// The offset of the entry a handle names, checked against its stored header.
static int32_t locate_parameter(const map_action_parameter *parameter)
{
    const map_action *action = parameter ? get_map_action(parameter->action_index) : nullptr;
    if (!action) return NONE;
    const int32_t offset = entry_offset(parameter->action_index, action, parameter->parameter_index);
    if (offset == NONE) return NONE;
    const map_action_parameter_header *header = header_at(offset);
    if (!VASSERT(parameter->type == header->type, "parameter->type==header->type") ||
        !VASSERT(parameter->field_name == header->field_name, "parameter->field_name==header->field_name") ||
        !VASSERT(parameter->count == header->count, "parameter->count==header->count"))
        return NONE;
    return offset;
}

void *extract_parameter_array_address(const map_action_parameter *parameter)
{
    const int32_t offset = locate_parameter(parameter);
    return offset == NONE ? nullptr : globals()->parameter_buffer + offset + MAP_ACTION_PARAMETER_HEADER_SIZE;
}

int32_t copy_map_action_parameter_values(const map_action_parameter *parameter, void *data, int32_t count)
{
    const parameter_definition *definition = get_parameter_definition(parameter->type);
    const void *values = extract_parameter_array_address(parameter);
    if (!definition || !values || count <= 0) return 0;
    if (count > parameter->count) count = parameter->count;
    memcpy(data, values, (size_t)count * definition->size);
    return count;
}

bool build_map_action_parameter(map_action_parameter *result, int32_t action_index, int32_t parameter_index)
{
    const map_action_parameter_header *header = get_map_action_parameter_header(action_index, parameter_index);
    if (!header) return false;
    result->field_name = header->field_name;
    result->type = header->type;
    result->count = header->count;
    result->action_index = (int16_t)action_index;
    result->parameter_index = (int16_t)parameter_index;
    return true;
}

[[gnu::noinline]] static uint32_t prepared_summary(int32_t action_index, const map_action *action)
{
    entry_index *index = index_of(action_index, action);
    if (!index) return walked_summary(action);
    summarize(index);
    if (map_action_parameter_globals.lookup_observer)
    {
        const uint32_t walked = walked_summary(action);
        char difference[64] = "";
        if (walked != index->summary)
            snprintf(difference, sizeof(difference), "summary %#x, walked %#x", index->summary, walked);
        report_lookup(action_index, *difference ? difference : nullptr);
    }
    return index->summary;
}

map_action_summary_memo map_action_last_summary = {NONE, 0, 0, &map_action_parameter_globals.layout_changes};

uint32_t look_up_map_action_own_entry_summary(int32_t action_index)
{
    const map_action *action = get_map_action(action_index);
    if (!action) return 0;
    if (action_index < MAXIMUM_MAP_ACTIONS_PER_MAP && !map_action_parameter_globals.lookup_observer)
    {
        const uint32_t summary = prepared_summary(action_index, action);
        // Every change to an action's entries or its slot counts as a
        // layout change, so the answer holds until the next one.
        map_action_last_summary = {action_index, map_action_parameter_globals.layout_changes, summary,
                                   &map_action_parameter_globals.layout_changes};
        return summary;
    }
    return prepared_summary(action_index, action);
}

const map_action_parameter_header *get_map_action_parameter_header(int32_t action_index, int32_t parameter_index)
{
    const map_action *action = get_map_action(action_index);
    const int32_t offset = action ? entry_offset(action_index, action, parameter_index) : NONE;
    return offset == NONE ? nullptr : header_at(offset);
}

// ---- typed getters -----------------------------------------------------------------

static bool get_indexed_value(int32_t action_index, field_tag field_name, int16_t type, int32_t index, void *out,
                              int32_t values_per_item)
{
    const map_action *action = get_map_action(action_index);
    map_action_parameter parameter;
    int32_t offset;
    if (!action || !first_match(&parameter, &offset, action_index, action, 0, field_name, type)) return false;
    const parameter_definition *definition = get_parameter_definition(type);
    if (index < 0 || (int64_t)(index + 1) * values_per_item > parameter.count || offset == NONE) return false;
    const uint8_t *values = globals()->parameter_buffer + offset + MAP_ACTION_PARAMETER_HEADER_SIZE +
                            (int64_t)index * values_per_item * definition->size;
    // Most reads are one value of 1, 2 or 4 bytes: copied without a call.
    switch (definition->size * values_per_item)
    {
    case 1: memcpy(out, values, 1); break;
    case 2: memcpy(out, values, 2); break;
    case 4: memcpy(out, values, 4); break;
    default: memcpy(out, values, (size_t)definition->size * values_per_item); break;
    }
    return true;
}

bool get_indexed_long_integer_parameter(int32_t action_index, field_tag field_name, int16_t type, int32_t *out,
                                        int32_t index)
{
    const parameter_definition *definition = get_parameter_definition(type);
    if (!VASSERT(definition && definition->size == 4, "get_parameter_definition(type)->size==4")) return false;
    return get_indexed_value(action_index, field_name, type, index, out, 1);
}

bool get_indexed_short_integer_parameter(int32_t action_index, field_tag field_name, int16_t type, int16_t *out,
                                         int32_t index)
{
    const parameter_definition *definition = get_parameter_definition(type);
    if (!VASSERT(definition && definition->size == 2, "get_parameter_definition(type)->size==2")) return false;
    return get_indexed_value(action_index, field_name, type, index, out, 1);
}

bool get_indexed_byte_parameter(int32_t action_index, field_tag field_name, int16_t type, uint8_t *out,
                                int32_t index)
{
    const parameter_definition *definition = get_parameter_definition(type);
    if (!VASSERT(definition && definition->size == 1, "get_parameter_definition(type)->size==1")) return false;
    return get_indexed_value(action_index, field_name, type, index, out, 1);
}

bool get_indexed_world_point2d_parameter(int32_t action_index, field_tag field_name, world_point2d *out,
                                         int32_t index)
{
    return get_indexed_value(action_index, field_name, _parameter_world_point2d, index, out, 1);
}

bool get_indexed_world_point3d_parameter(int32_t action_index, field_tag field_name, world_point3d *out,
                                         int32_t index)
{
    return get_indexed_value(action_index, field_name, _parameter_world_point3d, index, out, 1);
}

bool get_indexed_world_rectangle2d_parameter(int32_t action_index, field_tag field_name, world_rectangle2d *out,
                                             int32_t index)
{
    return get_indexed_value(action_index, field_name, _parameter_world_rectangle2d, index, out, 1);
}

bool get_indexed_color_parameter(int32_t action_index, field_tag field_name, rgb_color *out, int32_t index)
{
    int32_t values[3];
    if (!get_indexed_value(action_index, field_name, _parameter_integer, index, values, 3)) return false;
    for (int32_t &value : values) value = value < 0 ? 0 : (value > 65535 ? 65535 : value);
    out->red = (uint16_t)values[0];
    out->green = (uint16_t)values[1];
    out->blue = (uint16_t)values[2];
    return true;
}

// ---- resolved reads ------------------------------------------------------------------

static uint32_t request_bucket(field_tag field_name)
{
    return ((uint32_t)field_name * 0x9E3779B1u) >> (32 - MAP_ACTION_PARAMETER_REQUEST_BUCKET_BITS);
}

void prepare_map_action_parameter_requests(map_action_parameter_request_set *set,
                                           const map_action_parameter_request *requests, int32_t count)
{
    if (!VASSERT(count >= 0 && count <= MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS, "too many parameter requests"))
        count = count < 0 ? 0 : MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS;
    *set = {};
    set->requests = requests;
    set->count = count;
    memset(set->first_of_bucket, 0xFF, sizeof(set->first_of_bucket));
    for (int32_t i = 0; i < count; i++)
    {
        // A request for every name is looked up on its own.
        const uint32_t bucket = request_bucket(requests[i].field_name);
        if (requests[i].field_name == NONE)
            set->any_name |= 1ull << i;
        else if (set->first_of_bucket[bucket] == NONE)
        {
            set->first_of_bucket[bucket] = (int8_t)i;
            set->first_names[bucket] = requests[i].field_name;
            set->by_name_hash[bucket] |= 1ull << i;
        }
        else
        {
            set->shared_buckets[bucket >> 6] |= 1ull << (bucket & 63);
            set->by_name_hash[bucket] |= 1ull << i;
        }
        if (requests[i].flags & _dont_resolve_links_flag) set->own_only |= 1ull << i;
        // Only a request of one type with the getters' flags answers for values.
        const parameter_definition *definition = get_parameter_definition(requests[i].type);
        set->value_sizes[i] = (int8_t)(definition && requests[i].flags == 0 ? definition->size : 0);
    }
}

// Each entry of the action in order answers the requests of its name that
// it matches and that no earlier entry answered: the first match of each.
static uint64_t resolve_from_entries(resolved_map_action_parameters *resolved, const map_action *action,
                                     const entry_index *index, uint64_t wanted)
{
    const map_action_parameter_request_set *set = resolved->set;
    uint64_t found = 0;
    const entry_descriptor *entries = index->entries.data();
    const int32_t count = (int32_t)index->entries.size();
    // Each entry's candidates depend on its name alone, so the entries'
    // lookups overlap; a request already answered is passed over.
    for (int32_t i = 0; i < count; i++)
    {
        const entry_descriptor &entry = entries[i];
        const uint32_t bucket = request_bucket(entry.field_name);
        if (!((set->shared_buckets[bucket >> 6] >> (bucket & 63)) & 1))
        {
            // The bucket's one request, or none.
            const int32_t request = set->first_of_bucket[bucket];
            if (request == NONE || set->first_names[bucket] != entry.field_name || !((wanted >> request) & 1) ||
                ((found >> request) & 1))
                continue;
            const map_action_parameter_request &asked = set->requests[request];
            if (!parameter_matches(asked.flags, NONE, asked.type, entry.field_name, entry.type, entry.count)) continue;
            fill_handle(&resolved->handles[request], entry.field_name, entry.type, entry.count, resolved->action_index, i);
            resolved->offsets[request] = action->parameters_offset + entry.offset;
            found |= 1ull << request;
            continue;
        }
        for (uint64_t candidates = set->by_name_hash[bucket] & wanted; candidates;
             candidates &= candidates - 1)
        {
            const int32_t request = std::countr_zero(candidates);
            const map_action_parameter_request &asked = set->requests[request];
            if (asked.field_name != entry.field_name || ((found >> request) & 1) ||
                !parameter_matches(asked.flags, NONE, asked.type, entry.field_name, entry.type, entry.count))
                continue;
            fill_handle(&resolved->handles[request], entry.field_name, entry.type, entry.count, resolved->action_index, i);
            resolved->offsets[request] = action->parameters_offset + entry.offset;
            found |= 1ull << request;
        }
    }
    return found;
}

void resolve_map_action_parameters(resolved_map_action_parameters *resolved, int32_t action_index,
                                   const map_action_parameter_request_set *set)
{
    resolved->action_index = action_index;
    resolved->set = set;
    resolved->found = 0;
    const map_action *action = get_map_action(action_index);
    entry_index *index = action ? index_of(action_index, action) : nullptr;
    if (action)
    {
        const uint64_t all = set->count >= 64 ? ~0ull : (1ull << set->count) - 1;
        // An action without links answers every request from its own
        // entries; a request that follows links, a checking observer or a
        // slot without an index take the lookup's own way.
        uint64_t own = 0;
        if (index && !map_action_parameter_globals.lookup_observer)
        {
            summarize(index);
            own = (index->has_links ? set->own_only : all) & ~set->any_name;
            resolved->found = resolve_from_entries(resolved, action, index, own);
        }
        for (uint64_t rest = all & ~own; rest; rest &= rest - 1)
        {
            const int32_t i = std::countr_zero(rest);
            const map_action_parameter_request &request = set->requests[i];
            if (first_match(&resolved->handles[i], &resolved->offsets[i], action_index, action, request.flags,
                            request.field_name, request.type))
                resolved->found |= 1ull << i;
        }
    }
    resolved->layout_changes = map_action_parameter_globals.layout_changes;
    resolved->layout_changes_now = &map_action_parameter_globals.layout_changes;
    resolved->parameter_buffer = globals()->parameter_buffer;
}

bool look_up_resolved_map_action_parameter(const resolved_map_action_parameters *resolved, int32_t request,
                                           map_action_parameter *result)
{
    if (request < 0 || request >= resolved->set->count) return false;
    const map_action_parameter_request &asked = resolved->set->requests[request];
    return get_map_action_parameter(result, resolved->action_index, asked.flags, asked.field_name, asked.type);
}

bool look_up_resolved_indexed_value(const resolved_map_action_parameters *resolved, int32_t request, int32_t index,
                                    void *out, int32_t out_size)
{
    if (request < 0 || request >= resolved->set->count) return false;
    if (!VASSERT(resolved->set->value_sizes[request] == out_size,
                 "a value is read from a request of its own size with flags 0"))
        return false;
    const map_action_parameter_request &asked = resolved->set->requests[request];
    return get_indexed_value(resolved->action_index, asked.field_name, asked.type, index, out, 1);
}

bool get_map_action_structure(int32_t action_index, field_tag field_name, int32_t size, void *buffer)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, field_name,
                                  _parameter_character) ||
        parameter.count != size)
        return false;
    return copy_map_action_parameter_values(&parameter, buffer, size) == size;
}

// ---- editors ---------------------------------------------------------------------------

bool adjust_map_action_parameters_size(int32_t action_index, int32_t new_parameters_size)
{
    map_action_globals *g = globals();
    parameter_arena *arena = &map_action_parameter_globals.arena;
    if (!VASSERT(g->initialized, "map_action_globals->initialized")) return false;
    if (!VASSERT(new_parameters_size >= 0, "#%d is an invalid parameter size")) return false;
    map_action *action = get_map_action(action_index);
    if (!action) return false;
    if (new_parameters_size > MAXIMUM_MAP_ACTION_RUN_SIZE)
    {
        map_action_debug(action_index, "parameters of #%d bytes do not fit a run", new_parameters_size);
        return false;
    }
    if (g->parameter_buffer_size + new_parameters_size >= PARAMETER_BUFFER_SIZE)
    {
        map_action_debug(action_index, "not enough MA params memory available for adjustments (%d bytes needed)",
                         new_parameters_size);
        return false;
    }
    const int32_t old_size = action->parameters_size;
    int32_t end = physical_end();
    // A run with bytes lies whole below the end; an empty one is checked by
    // its stored offset, which may lie anywhere a block put it.
    int32_t stored_offset = action->parameters_offset;
    if (old_size == 0 && arena->unsettled)
    {
        if (stored_offset == end)
            stored_offset = g->parameter_buffer_size;
        else
        {
            count_dead_bytes();
            stored_offset = settled_offset(stored_offset);
        }
    }
    if (!VASSERT(old_size >= 0 && action->parameters_offset >= 0 && action->parameters_offset + old_size <= end &&
                     stored_offset >= 0 && (old_size > 0 || stored_offset <= g->parameter_buffer_size),
                 "parameter run outside the buffer"))
        return false;
    if (arena->observer && arena->observer->before) arena->observer->before(action_index, new_parameters_size);
    uint8_t *buffer = g->parameter_buffer;
    if (action_index == arena->tail_action && action->parameters_offset + old_size == end &&
        action->parameters_offset + new_parameters_size <= PARAMETER_ARENA_SIZE)
    {
        // The last run resized where it lies: the bytes it gains or gives
        // back are zero, as at the end of the stored buffer.
        if (new_parameters_size > old_size)
            memset(buffer + end, 0, (size_t)(new_parameters_size - old_size));
        else
            memset(buffer + end - (old_size - new_parameters_size), 0, (size_t)(old_size - new_parameters_size));
        if (arena->unsettled)
        {
            arena->physical_end = end + new_parameters_size - old_size;
            // Runs noted since may lie after it in the stored layout.
            note_move(action_index);
        }
        action->parameters_size = (int16_t)new_parameters_size;
        g->parameter_buffer_size += new_parameters_size - old_size;
        changed();
        if (arena->observer && arena->observer->after) arena->observer->after(action_index, new_parameters_size);
        return true;
    }
    if (new_parameters_size == old_size && old_size > 0 && !arena->settle_every_edit)
    {
        // A run that keeps its size is moved by noting it: its bytes stay.
        note_move(action_index);
        if (arena->deferring == 0) settle_map_action_parameters();
        changed();
        if (arena->observer && arena->observer->after) arena->observer->after(action_index, new_parameters_size);
        return true;
    }
    if (end + new_parameters_size > PARAMETER_ARENA_SIZE)
    {
        settle_map_action_parameters();
        end = g->parameter_buffer_size;
    }
    // The new run goes after the last byte written; the old one stays, dead.
    const int32_t old_offset = action->parameters_offset;
    const int32_t kept = old_size < new_parameters_size ? old_size : new_parameters_size;
    memcpy(buffer + end, buffer + old_offset, (size_t)kept);
    memset(buffer + end + kept, 0, (size_t)(new_parameters_size - kept));
    if (old_size > 0)
    {
        set_bits(arena->dead, old_offset, old_size, true);
        set_bits(arena->run_starts, old_offset, 1, true);
        arena->unsettled = true;
    }
    note_move(action_index);
    arena->physical_end = end + new_parameters_size;
    action->parameters_offset = end;
    action->parameters_size = (int16_t)new_parameters_size;
    g->parameter_buffer_size += new_parameters_size - old_size;
    arena->tail_action = action_index;
    // Outside a pass every edit leaves the stored layout behind it.
    if (arena->deferring == 0 || arena->settle_every_edit) settle_map_action_parameters();
    changed();
    if (arena->observer && arena->observer->after) arena->observer->after(action_index, new_parameters_size);
    return true;
}

bool adjust_map_action_parameter_size(int32_t action_index, int32_t parameter_index, int32_t new_count)
{
    if (!VASSERT(new_count == NONE || new_count >= 0, "new_count==NONE || (new_count>=0)")) return false;
    map_action *action = get_map_action(action_index);
    const int32_t offset = action ? entry_offset(action_index, action, parameter_index) : NONE;
    if (offset == NONE) return false;
    const map_action_parameter_header old_header = *header_at(offset);
    // The index as it stood before the edit, which the edit then carries along.
    entry_index *index = index_of(action_index, action);
    const int16_t indexed_count = index ? index->parameter_count : 0, indexed_size = index ? index->parameters_size : 0;
    const int32_t relative = offset - action->parameters_offset;
    if (new_count > MAXIMUM_MAP_ACTION_RUN_SIZE)
    {
        map_action_debug(action_index, "parameter of #%d values does not fit a run", new_count);
        changed();
        return false;
    }
    const int32_t old_entry_size = map_action_parameter_entry_size(old_header.type, old_header.count);
    const int32_t new_entry_size = new_count == NONE ? 0 : map_action_parameter_entry_size(old_header.type, new_count);
    if (old_entry_size == NONE || new_entry_size == NONE) return false;
    const int32_t old_run_size = action->parameters_size;
    const int32_t new_run_size = old_run_size + new_entry_size - old_entry_size;
    if (new_run_size > MAXIMUM_MAP_ACTION_RUN_SIZE)
    {
        map_action_debug(action_index, "parameter of #%d values does not fit a run", new_count);
        changed();
        return false;
    }
    const int32_t tail = old_run_size - relative - old_entry_size;
    bool result = true;
    if (new_run_size > old_run_size)
    {
        if (!adjust_map_action_parameters_size(action_index, new_run_size))
        {
            changed();
            return false;
        }
    }
    else if (new_run_size < old_run_size &&
             get_map_action_globals()->parameter_buffer_size + new_run_size >= PARAMETER_BUFFER_SIZE)
    {
        // The shrink would be refused after the entries moved: refuse first.
        map_action_debug(action_index, "not enough MA params memory available for adjustments (%d bytes needed)",
                         new_run_size);
        changed();
        return false;
    }
    uint8_t *run = globals()->parameter_buffer + action->parameters_offset;
    memmove(run + relative + new_entry_size, run + relative + old_entry_size, (size_t)tail);
    if (new_count == NONE)
        action->parameter_count--;
    else
    {
        map_action_parameter_header *header = (map_action_parameter_header *)(run + relative);
        header->count = (int16_t)new_count;
        if (new_entry_size > old_entry_size)
        {
            const int32_t value_size = get_parameter_definition(old_header.type)->size;
            const int32_t kept = MAP_ACTION_PARAMETER_HEADER_SIZE + old_header.count * value_size;
            memset(run + relative + kept, 0, (size_t)(new_entry_size - kept));
        }
    }
    if (index && index->generation == map_action_parameter_globals.index_generation &&
        index->identifier == action->identifier && index->parameter_count == indexed_count &&
        index->parameters_size == indexed_size && parameter_index < (int32_t)index->entries.size())
    {
        std::vector<entry_descriptor> &entries = index->entries;
        // Only flags and identifier lists count in the summary; a removed
        // name may stay among the names (they only spare scans).
        if (old_header.type == _parameter_flag || old_header.type == _parameter_action_identifier)
            index->summarized = false;
        if (new_count == NONE)
            entries.erase(entries.begin() + parameter_index);
        else
        {
            entries[parameter_index].count = (int16_t)new_count;
            entries[parameter_index].size = new_entry_size;
        }
        for (size_t i = new_count == NONE ? (size_t)parameter_index : (size_t)parameter_index + 1; i < entries.size(); i++)
            entries[i].offset += new_entry_size - old_entry_size;
        restamp_index(index, action);
    }
    else
        forget_index(action_index);
    changed();
    if (new_run_size < old_run_size)
    {
        result = adjust_map_action_parameters_size(action_index, new_run_size);
        // The run shrank behind the entries, which stay as they are.
        if (index && index->generation == map_action_parameter_globals.index_generation &&
            index->identifier == action->identifier && index->parameter_count == action->parameter_count)
            restamp_index(index, action);
    }
    changed();
    return result;
}

bool new_map_action_parameter(map_action_parameter *result, int32_t action_index, field_tag field_name, int16_t type)
{
    map_action *action = get_map_action(action_index);
    if (!action || !get_parameter_definition(type) || action->parameter_count >= MAXIMUM_MAP_ACTION_RUN_SIZE)
        return false;
    const int32_t old_size = action->parameters_size;
    entry_index *index = index_of(action_index, action);
    const bool index_whole = index && (int32_t)index->entries.size() == action->parameter_count;
    if (!adjust_map_action_parameters_size(action_index, old_size + MAP_ACTION_PARAMETER_HEADER_SIZE)) return false;
    map_action_parameter_header *header = header_at(action->parameters_offset + old_size);
    header->type = type;
    header->count = 0;
    header->field_name = field_name;
    const int16_t parameter_index = action->parameter_count++;
    if (index_whole && index->generation == map_action_parameter_globals.index_generation &&
        index->identifier == action->identifier && index->parameter_count == parameter_index &&
        index->parameters_size == old_size)
    {
        index->entries.push_back({field_name, type, 0, old_size, MAP_ACTION_PARAMETER_HEADER_SIZE});
        restamp_index(index, action);
        index->summary |= entry_summary_bit(field_name, type, 0);
        index->names |= name_bit(field_name);
        index->has_links = index->has_links || (type == _parameter_action_identifier && field_name == _map_action_field_name_link);
    }
    else
        forget_index(action_index);
    changed();
    if (result)
    {
        result->field_name = field_name;
        result->type = type;
        result->count = 0;
        result->action_index = (int16_t)action_index;
        result->parameter_index = parameter_index;
    }
    return true;
}

bool set_map_action_parameter(map_action_parameter *parameter, int32_t new_count, const void *data)
{
    const parameter_definition *definition = get_parameter_definition(parameter->type);
    if (!definition || new_count < 0 || locate_parameter(parameter) == NONE) return false;
    scratch_copy copy;
    if (!copy.copy(data, new_count * definition->size)) return false;
    if (!adjust_map_action_parameter_size(parameter->action_index, parameter->parameter_index, new_count)) return false;
    parameter->count = (int16_t)new_count;
    uint8_t *values = (uint8_t *)extract_parameter_array_address(parameter);
    if (!values) return false;
    if (data)
        memcpy(values, copy.bytes, (size_t)new_count * definition->size);
    else
        memset(values, 0, (size_t)new_count * definition->size);
    changed();
    return true;
}

bool append_to_map_action_parameter(map_action_parameter *parameter, int32_t appended_count, const void *data)
{
    const parameter_definition *definition = get_parameter_definition(parameter->type);
    if (!definition || appended_count < 0 || locate_parameter(parameter) == NONE) return false;
    scratch_copy copy;
    if (!copy.copy(data, appended_count * definition->size)) return false;
    const int32_t old_count = parameter->count;
    if (!adjust_map_action_parameter_size(parameter->action_index, parameter->parameter_index, old_count + appended_count))
        return false;
    parameter->count = (int16_t)(old_count + appended_count);
    uint8_t *values = (uint8_t *)extract_parameter_array_address(parameter);
    if (!values) return false;
    if (data) memcpy(values + old_count * definition->size, copy.bytes, (size_t)appended_count * definition->size);
    changed();
    return true;
}

bool copy_map_action_parameter(const map_action_parameter *source, map_action_parameter *destination)
{
    if (!VASSERT(source->type == destination->type, "source->type==destination->type")) return false;
    const parameter_definition *definition = get_parameter_definition(source->type);
    const void *values = extract_parameter_array_address(source);
    if (!definition || !values) return false;
    scratch_copy copy;
    if (!copy.copy(values, source->count * definition->size)) return false;
    return set_map_action_parameter(destination, source->count, copy.bytes);
}

void delete_map_action_parameter(map_action_parameter *parameter)
{
    if (locate_parameter(parameter) == NONE) return;
    adjust_map_action_parameter_size(parameter->action_index, parameter->parameter_index, NONE);
}

// Writes a whole entry: its header, `count` values and zero padding.
static void write_entry(uint8_t *entry, field_tag field_name, int16_t type, int32_t count, int32_t entry_size,
                        const uint8_t *values)
{
    map_action_parameter_header *header = (map_action_parameter_header *)entry;
    header->type = type;
    header->count = (int16_t)count;
    header->field_name = field_name;
    const int32_t values_size = count * get_parameter_definition(type)->size;
    uint8_t *data = entry + MAP_ACTION_PARAMETER_HEADER_SIZE;
    if (values_size == 4)
        memcpy(data, values, 4);
    else if (values_size > 0)
        memcpy(data, values, (size_t)values_size);
    if (entry_size > MAP_ACTION_PARAMETER_HEADER_SIZE + values_size)
        memset(data + values_size, 0, (size_t)(entry_size - MAP_ACTION_PARAMETER_HEADER_SIZE - values_size));
}

// set_unique_map_action_parameter in one resize of the run, when none of
// its steps (each removal, the new entry, its values) could be refused: the
// entries of the name and type close up in place, the run is resized once
// (moving to the end of the buffer as the first step would have moved it,
// the later steps finding it there) and the new entry is written after the
// others.  The bytes and offsets are those the steps give.  NONE, with
// nothing changed, when the steps must be taken one by one; else whether the
// run could be resized (it always can, unless the run lies outside the buffer).
static int32_t replace_unique_entry(int32_t action_index, field_tag field_name, int16_t type, int32_t count,
                                    const uint8_t *values)
{
    map_action *action = get_map_action(action_index);
    entry_index *index = action ? index_of(action_index, action) : nullptr;
    const int32_t new_entry_size = map_action_parameter_entry_size(type, count);
    if (!index || (int32_t)index->entries.size() != action->parameter_count || new_entry_size == NONE ||
        count > MAXIMUM_MAP_ACTION_RUN_SIZE)
        return NONE;
    std::vector<entry_descriptor> &entries = index->entries;
    int32_t removed_size = 0, removed = 0;
    size_t first_removed = entries.size();
    bool summary_changes = false;
    for (size_t i = 0; i < entries.size(); i++)
        if (entries[i].field_name == field_name && entries[i].type == type)
        {
            if (!removed) first_removed = i;
            removed_size += entries[i].size;
            removed++;
        }
    const int32_t used = globals()->parameter_buffer_size, old_size = action->parameters_size;
    const int32_t kept_size = old_size - removed_size, new_size = kept_size + new_entry_size;
    if (new_size > MAXIMUM_MAP_ACTION_RUN_SIZE || action->parameter_count - removed >= MAXIMUM_MAP_ACTION_RUN_SIZE ||
        used + old_size >= PARAMETER_BUFFER_SIZE || used - removed_size + MAP_ACTION_PARAMETER_HEADER_SIZE + new_size >= PARAMETER_BUFFER_SIZE)
        return NONE;
    if (removed == 1 && entries[first_removed].size == new_entry_size)
    {
        // The usual case: one entry gives way to one of its size.  The run
        // keeps its size, so its one resize (the move to the end of the
        // buffer) comes first; then the entries after the old one close up
        // behind it and the new one goes last, as the steps leave them.
        // In a pass that move is only noted (the checks above cover the
        // resize's own: the buffer's room and the run's size).
        parameter_arena *arena = &map_action_parameter_globals.arena;
        // A kept summary (of this action or another) still holds after
        // this edit unless the entry is one a summary counts.
        const bool summary_holds = map_action_last_summary.layout_changes == map_action_parameter_globals.layout_changes &&
                                   (map_action_last_summary.action_index != action_index ||
                                    (type != _parameter_flag && type != _parameter_action_identifier));
        if (arena->deferring > 0 && !arena->settle_every_edit && !arena->observer &&
            action_index < MAXIMUM_MAP_ACTIONS_PER_MAP)
        {
            note_move(action_index);
            changed();
        }
        else if (!adjust_map_action_parameters_size(action_index, old_size))
            return NONE;
        uint8_t *run = globals()->parameter_buffer + action->parameters_offset;
        const int32_t gap = entries[first_removed].offset, after = gap + new_entry_size;
        if (old_size > after) memmove(run + gap, run + after, (size_t)(old_size - after));
        for (size_t i = first_removed + 1; i < entries.size(); i++)
        {
            entries[i - 1] = entries[i];
            entries[i - 1].offset -= new_entry_size;
        }
        entries.back() = {field_name, type, (int16_t)count, kept_size, new_entry_size};
        write_entry(run + kept_size, field_name, type, count, new_entry_size, values);
        if (type == _parameter_flag || type == _parameter_action_identifier) index->summarized = false;
        changed();
        if (summary_holds) map_action_last_summary.layout_changes = map_action_parameter_globals.layout_changes;
        return 1;
    }
    if (removed == 1 && entries.back().field_name == field_name && entries.back().type == type)
    {
        // The entry replaced is the last, nothing moves.
        entries.pop_back();
        action->parameter_count--;
        restamp_index(index, action);
        if (type == _parameter_flag || type == _parameter_action_identifier) index->summarized = false;
        changed();
    }
    else if (removed > 0)
    {
        // The entries before the first removed one stay where they are.
        uint8_t *run = globals()->parameter_buffer + action->parameters_offset;
        int32_t written = entries[first_removed].offset;
        size_t kept = first_removed;
        for (size_t i = first_removed; i < entries.size(); i++)
        {
            const entry_descriptor entry = entries[i];
            const int32_t size = entry.size;
            if (entry.field_name == field_name && entry.type == type)
            {
                summary_changes = summary_changes || type == _parameter_flag || type == _parameter_action_identifier;
                continue;
            }
            if (written != entry.offset) memmove(run + written, run + entry.offset, (size_t)size);
            entries[kept++] = {entry.field_name, entry.type, entry.count, written, size};
            written += size;
        }
        entries.resize(kept);
        action->parameter_count = (int16_t)kept;
        restamp_index(index, action);
        if (summary_changes) index->summarized = false;
        changed();
    }
    if (!adjust_map_action_parameters_size(action_index, new_size))
    {
        forget_index(action_index);
        return 0;
    }
    write_entry(globals()->parameter_buffer + action->parameters_offset + kept_size, field_name, type, count,
                new_entry_size, values);
    action->parameter_count++;
    entries.push_back({field_name, type, (int16_t)count, kept_size, new_entry_size});
    restamp_index(index, action);
    index->summary |= entry_summary_bit(field_name, type, (int16_t)count);
    index->names |= name_bit(field_name);
    index->has_links = index->has_links || (type == _parameter_action_identifier && field_name == _map_action_field_name_link);
    changed();
    return 1;
}

bool set_unique_map_action_parameter(int32_t action_index, field_tag field_name, int16_t type, int32_t count,
                                     const void *data)
{
    const parameter_definition *definition = get_parameter_definition(type);
    const map_action *action = get_map_action(action_index);
    if (!definition || !action || count < 0) return false;
    // Values that lie outside the buffer stay where they are through the edit.
    const uint8_t *bytes = (const uint8_t *)data, *buffer = globals()->parameter_buffer;
    const bool outside = !bytes || bytes + (int64_t)count * definition->size <= buffer || bytes >= buffer + PARAMETER_ARENA_SIZE;
    int32_t replaced = outside ? replace_unique_entry(action_index, field_name, type, data && count >= 1 ? count : 0, bytes) : NONE;
    if (replaced != NONE) return replaced != 0;
    scratch_copy copy;
    if (!copy.copy(data, count * definition->size)) return false;
    replaced = replace_unique_entry(action_index, field_name, type, data && count >= 1 ? count : 0, copy.bytes);
    if (replaced != NONE) return replaced != 0;
    // Every readable entry of the name and type goes, whatever its count.
    for (int32_t i = 0;;)
    {
        const entry_index *index = index_of(action_index, action);
        if (!index)
        {
            const map_action_parameter_header *header = get_map_action_parameter_header(action_index, i);
            if (i >= action->parameter_count) break;
            if (header && header->field_name == field_name && header->type == type)
            {
                if (!adjust_map_action_parameter_size(action_index, i, NONE)) return false;
            }
            else
                i++;
            continue;
        }
        if (i >= (int32_t)index->entries.size()) break;
        if (map_action_parameter_globals.lookup_observer) entry_offset(action_index, action, i);
        const entry_descriptor &entry = index->entries[i];
        if (entry.field_name == field_name && entry.type == type)
        {
            if (!adjust_map_action_parameter_size(action_index, i, NONE)) return false;
        }
        else
            i++;
    }
    map_action_parameter parameter;
    if (!new_map_action_parameter(&parameter, action_index, field_name, type)) return false;
    if (data && count >= 1) return set_map_action_parameter(&parameter, count, copy.bytes);
    return true;
}

// set_unique_map_action_parameters inside a pass when every value gives way
// to one entry of its own size: the entries of the other names close up in
// order and the new ones follow in the order given, which is where the
// replacements one by one leave them, and the run's move is noted once, as
// the second and later notes of one run in a row change nothing.  False,
// with nothing changed, when the values must be set one by one.
static bool replace_unique_entries(int32_t action_index, const map_action_parameter_value *values, int32_t count)
{
    enum { MOST_REPLACED = 4 };
    const parameter_arena *arena = &map_action_parameter_globals.arena;
    map_action *action = get_map_action(action_index);
    if (count < 1 || count > MOST_REPLACED || !action || action_index >= MAXIMUM_MAP_ACTIONS_PER_MAP ||
        arena->deferring <= 0 || arena->settle_every_edit || arena->observer)
        return false;
    entry_index *index = index_of(action_index, action);
    if (!index || (int32_t)index->entries.size() != action->parameter_count) return false;
    const uint8_t *buffer = globals()->parameter_buffer;
    entry_descriptor *entries = index->entries.data();
    const int32_t entry_count = action->parameter_count;
    int32_t sizes[MOST_REPLACED], positions[MOST_REPLACED];
    bool summarized_names = false, last_in_order = entry_count >= count;
    for (int32_t v = 0; v < count; v++)
    {
        const map_action_parameter_value value = values[v];
        const parameter_definition *definition = get_parameter_definition(value.type);
        const uint8_t *bytes = (const uint8_t *)value.data;
        if (!definition || !bytes || value.count < 1 || value.count > MAXIMUM_MAP_ACTION_RUN_SIZE ||
            (bytes + (int64_t)value.count * definition->size > buffer && bytes < buffer + PARAMETER_ARENA_SIZE))
            return false;
        sizes[v] = map_action_parameter_entry_size(value.type, value.count);
        for (int32_t w = 0; w < v; w++)
            if (values[w].field_name == value.field_name && values[w].type == value.type) return false;
        // The one entry of the name and type, of the new entry's size.
        positions[v] = NONE;
        for (int32_t i = 0; i < entry_count; i++)
            if (entries[i].field_name == value.field_name && entries[i].type == value.type)
            {
                if (positions[v] != NONE || entries[i].size != sizes[v]) return false;
                positions[v] = i;
            }
        if (positions[v] == NONE) return false;
        last_in_order = last_in_order && positions[v] == entry_count - count + v;
        summarized_names = summarized_names || value.type == _parameter_flag || value.type == _parameter_action_identifier;
    }
    // The checks each replacement makes; the run keeps its size throughout.
    const int32_t used = globals()->parameter_buffer_size, size = action->parameters_size;
    if (size > MAXIMUM_MAP_ACTION_RUN_SIZE || entry_count - 1 >= MAXIMUM_MAP_ACTION_RUN_SIZE ||
        used + MAP_ACTION_PARAMETER_HEADER_SIZE + size >= PARAMETER_BUFFER_SIZE)
        return false;
    const bool summary_holds = map_action_last_summary.layout_changes == map_action_parameter_globals.layout_changes &&
                               (map_action_last_summary.action_index != action_index || !summarized_names);
    note_move(action_index);
    uint8_t *run = globals()->parameter_buffer + action->parameters_offset;
    if (last_in_order)
    {
        // The entries replaced already lie last in the order given (a
        // counter storing its results pass after pass): nothing moves.
        for (int32_t v = 0; v < count; v++)
        {
            entry_descriptor &entry = entries[positions[v]];
            write_entry(run + entry.offset, values[v].field_name, values[v].type, values[v].count, sizes[v],
                        (const uint8_t *)values[v].data);
            entry.count = (int16_t)values[v].count;
        }
    }
    else
    {
        int32_t written = 0, kept = 0;
        for (int32_t i = 0; i < entry_count; i++)
        {
            const entry_descriptor entry = entries[i];
            bool replaced = false;
            for (int32_t v = 0; v < count && !replaced; v++) replaced = positions[v] == i;
            if (replaced) continue;
            if (written != entry.offset) memmove(run + written, run + entry.offset, (size_t)entry.size);
            entries[kept++] = {entry.field_name, entry.type, entry.count, written, entry.size};
            written += entry.size;
        }
        for (int32_t v = 0; v < count; v++)
        {
            write_entry(run + written, values[v].field_name, values[v].type, values[v].count, sizes[v],
                        (const uint8_t *)values[v].data);
            entries[kept++] = {values[v].field_name, values[v].type, (int16_t)values[v].count, written, sizes[v]};
            written += sizes[v];
        }
    }
    if (summarized_names) index->summarized = false;
    changed();
    if (summary_holds) map_action_last_summary.layout_changes = map_action_parameter_globals.layout_changes;
    return true;
}

bool set_unique_map_action_parameters(int32_t action_index, const map_action_parameter_value *values, int32_t count)
{
    if (replace_unique_entries(action_index, values, count)) return true;
    bool all = true;
    for (int32_t v = 0; v < count; v++)
        all = set_unique_map_action_parameter(action_index, values[v].field_name, values[v].type, values[v].count,
                                              values[v].data) &&
              all;
    return all;
}

void set_map_action_parameter_type(map_action_parameter *parameter, int16_t type)
{
    if (!get_parameter_definition(type) || locate_parameter(parameter) == NONE || parameter->type == type) return;
    if (!adjust_map_action_parameter_size(parameter->action_index, parameter->parameter_index, 0)) return;
    parameter->count = 0;
    header_at(locate_parameter(parameter))->type = type;
    parameter->type = type;
    forget_index(parameter->action_index);
    changed();
}

void set_map_action_parameter_field_name(map_action_parameter *parameter, field_tag field_name)
{
    const int32_t offset = locate_parameter(parameter);
    if (offset == NONE) return;
    header_at(offset)->field_name = field_name;
    parameter->field_name = field_name;
    forget_index(parameter->action_index);
    changed();
}

int32_t new_map_action(int32_t parent_action_index)
{
    datum_globals *array = get_map_action_array();
    const int32_t action_index = new_datum(array);
    if (action_index == NONE) return NONE;
    map_action *action = get_map_action(action_index);
    const int16_t identifier = action->identifier;
    const map_action *parent = parent_action_index == NONE ? nullptr : get_map_action(parent_action_index);
    if (parent) *action = *parent;
    action->identifier = identifier;
    if (!parent) action->tag = NONE;
    action->parameters_offset = physical_end();
    map_action_parameter_globals.arena.tail_action = NONE;
    // Its empty run sits at the end of the stored layout, after the runs moved so far.
    if (map_action_parameter_globals.arena.unsettled) note_move(action_index);
    action->parameter_count = 0;
    action->parameters_size = 0;
    forget_index(action_index);
    changed();
    if (parent && parent->parameters_size > 0)
    {
        const int32_t size = parent->parameters_size;
        const int16_t parameter_count = parent->parameter_count;
        scratch_copy copy;
        if (copy.copy(globals()->parameter_buffer + parent->parameters_offset, size) &&
            adjust_map_action_parameters_size(action_index, size))
        {
            memcpy(globals()->parameter_buffer + action->parameters_offset, copy.bytes, (size_t)size);
            action->parameter_count = parameter_count;
        }
    }
    return action_index;
}

void delete_map_action(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action) return;
    map_action_debug(action_index, "deleted");
    if (action->parameters_size > 0) adjust_map_action_parameters_size(action_index, 0);
    // A free slot is never settled again: it keeps the stored offset it has now.
    settle_map_action_parameters();
    if (map_action_parameter_globals.arena.tail_action == action_index) map_action_parameter_globals.arena.tail_action = NONE;
    action->parameter_count = 0;
    action->parameters_size = 0;
    action->flags &= ~(uint32_t)_map_action_runtime_flags;
    delete_datum(get_map_action_array(), action_index);
    forget_index(action_index);
    changed();
}

// ---- identifier lists ------------------------------------------------------------------------

int32_t action_identifier_to_action_index(int32_t identifier)
{
    if (identifier == 0 || identifier == NONE) return NONE;
    datum_globals *array = get_map_action_array();
    if (!array->blocks) return NONE;
    // The array keeps identifiers unique, so a slot that still holds the
    // identifier is the first that does.
    int16_t *remembered = &map_action_parameter_globals.slot_of_identifier[(uint16_t)identifier];
    const map_action *found = get_map_action(*remembered);
    if (found && found->identifier == identifier) return *remembered;
    for (int32_t index = 0; index < array->count; index++)
    {
        const map_action *action = get_map_action(index);
        if (action && action->identifier == identifier)
        {
            *remembered = (int16_t)index;
            return index;
        }
    }
    return NONE;
}

void call_function_with_action_identifiers(map_action_function function, const int16_t *identifiers, int32_t count)
{
    int16_t copied[MAXIMUM_LOCAL_ACTION_IDENTIFIERS];
    if (count > MAXIMUM_LOCAL_ACTION_IDENTIFIERS) count = MAXIMUM_LOCAL_ACTION_IDENTIFIERS;
    if (count <= 0) return;
    memcpy(copied, identifiers, (size_t)count * sizeof(int16_t));
    for (int32_t i = 0; i < count; i++) function(action_identifier_to_action_index(copied[i]));
}

bool call_functions_with_actions_in_parameter(map_action_function function, int32_t action_index, field_tag field_name)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, 0, field_name, _parameter_action_identifier)) return false;
    int16_t identifiers[MAXIMUM_LOCAL_ACTION_IDENTIFIERS];
    const int32_t count = copy_map_action_parameter_values(&parameter, identifiers, MAXIMUM_LOCAL_ACTION_IDENTIFIERS);
    call_function_with_action_identifiers(function, identifiers, count);
    return true;
}

bool test_actions_for_success(const int16_t *identifiers, int32_t count, bool all)
{
    for (int32_t i = 0; i < count; i++)
    {
        const map_action *action = get_map_action(action_identifier_to_action_index(identifiers[i]));
        if (!action) continue;
        const bool succeeded = (action->flags & _map_action_succeeded_flag) != 0;
        if (all && !succeeded) return false;
        if (!all && succeeded) return true;
    }
    return all;
}

// ---- trace ---------------------------------------------------------------------------------------

static bool has_debug_entry(int32_t action_index)
{
    // Most actions have neither a 'debg' entry nor links: the search could
    // only come back empty, so it is spared.
    constexpr uint32_t mask =
        map_action_summary_bit(_map_action_field_name_debug) | map_action_summary_bit(_map_action_field_name_link);
    if (!(get_map_action_own_entry_summary(action_index) & mask)) return false;
    return get_map_action(action_index) &&
           get_map_action_parameter(nullptr, action_index, _return_empty_arrays_flag, _map_action_field_name_debug,
                                    _parameter_flag);
}

bool map_action_debug_wanted(int32_t action_index)
{
    if (globals()->debug) return true;
    return action_index != NONE && has_debug_entry(action_index);
}

void map_action_debug_varargs(int32_t action_index, bool error, const char *format, va_list arguments)
{
    enum { TRACE_LINE_SIZE = 256 };
    char line[TRACE_LINE_SIZE];
    int32_t length;
    const map_action *action = action_index == NONE ? nullptr : get_map_action(action_index);
    if (!action)
        length = snprintf(line, sizeof(line), "%s", error ? "xxx " : "--- ");
    else
    {
        char time_text[TIME_STRING_SIZE];
        length = snprintf(line, sizeof(line), "@game_time %d (%s) %s MA [%s] %s  ", (int)game_->game_time,
                          time_to_string(game_->game_time, time_text, 0), error ? "XXX" : "###",
                          tag_to_string(action->tag), get_map_action_name(action_index));
    }
    if (length < 0) length = 0;
    if (length < TRACE_LINE_SIZE - 1) vsnprintf(line + length, sizeof(line) - (size_t)length, format, arguments);
    write_to_error_file(line, false);
    if (action && (action->flags & _map_action_initially_active_flag) && has_debug_entry(action_index))
        globals()->debug = true;
}

void map_action_debug(int32_t action_index, const char *format, ...)
{
    if (!map_action_debug_enabled(action_index)) return;
    va_list arguments;
    va_start(arguments, format);
    map_action_debug_varargs(action_index, false, format, arguments);
    va_end(arguments);
}

void map_action_error(int32_t action_index, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    map_action_debug_varargs(action_index, true, format, arguments);
    va_end(arguments);
}

void set_map_action_debug_status(int32_t new_status)
{
    map_action_globals *g = globals();
    switch (new_status)
    {
    case _map_action_debug_on: g->debug = true; break;
    case _map_action_debug_off: g->debug = false; break;
    case _map_action_debug_toggle: g->debug = !g->debug; break;
    default: return;
    }
    const char *text = g->debug ? "map action debugging on" : "map action debugging off";
    write_to_error_file(text, false);
    if (print_to_console_procedure print = get_print_to_console_procedure()) print(text);
}
