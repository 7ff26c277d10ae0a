// Objects and their cell chains.  See objects.h.

#include "objects.h"

#include "cseries/registration.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "cseries/log.h"
#include "mesh.h"
#include "models.h"
#include "object_definitions.h"
#include "sound_procedures.h"
#include "state_hash_kept_records.h"
#include "tag_files/collection_procedures.h"
#include "tag_files/data.h"
#include "vesk_random.h"

datum_globals object_data_globals = {
    .name = "object", .size = sizeof(object_data), .maximum_count = MAXIMUM_OBJECTS_PER_MAP,
    .flags = _data_array_muids_flag | _data_array_growable_flag};

// get_object, inline for the walks of this module.
static inline object_data *object_in_slot(int32_t object_index)
{
    if (object_index < 0 || object_index >= object_data_globals.capacity) return nullptr;
    return (object_data *)get_datum(&object_data_globals, object_index);
}

enum
{
    NOT_IN_SCAN_CHAIN = -2, // scan_next of an object no scan chain holds
    SCAN_CHAIN_MISMATCHES_LOGGED = 8,
    OBSTACLE_FACTS_MISMATCHES_LOGGED = 8,
    // scan_counted: the cell counts an object is counted in
    COUNTED_OTHER = 1, // scan_others
    COUNTED_OPEN = 2, // scan_open
    COUNTED_STILL = 4, // scan_still
};

struct kept_unit_facts
{
    obstacle_unit_facts facts;
    bool known;
};

static struct object_globals
{
    bool initialized;

    // The scan chains (objects.h): local, never hashed.  `scan_first` has one
    // head per cell of the mesh they were built for (`scan_width` x
    // `scan_height` cells; 0 x 0 when forgotten or without a mesh), and they
    // are built again from the cells' chains before any use on another.
    std::vector<int16_t> scan_first;
    std::vector<int16_t> scan_next; // by object index: the next in its scan chain, NONE, or NOT_IN_SCAN_CHAIN
    // Per cell, how many objects of its scan chain are not units' objects,
    // and how many its kept obstacle facts do not refuse; by object index,
    // which of those counts the object is in (COUNTED_*).
    std::vector<int16_t> scan_others;
    std::vector<int16_t> scan_open;
    // Per cell, how many of those not refused are other than a moving unit's
    // object of team 0-15 (a cell summary's `others`).
    std::vector<int16_t> scan_still;
    std::vector<uint8_t> scan_counted;
    // By object index: what obstacle collection reads first (objects.h),
    // and what a unit's object's unit last said of itself.
    std::vector<obstacle_facts> scan_facts;
    std::vector<kept_unit_facts> scan_units;
    // Per cell, what its open objects say taken together (objects.h).
    std::vector<scan_cell_motion> scan_motion;
    bool motion_fault; // the planted fault: changes leave the summaries as they are
    int32_t facts_fault_object; // the planted fault's slot, NONE without one
    bool facts_checking;
    int64_t facts_mismatches;
    int32_t scan_width, scan_height;
    int32_t scan_fault_object; // the planted fault's slot, NONE without one
    // No object of a scan chain has a radius above this: raised whenever an
    // object joins a scan chain, moves, or is said to have changed, and only
    // lowered when the scan chains are built again.
    int32_t scan_radius_bound;
    bool scan_checking;
    scan_chain_check_counts scan_counts;

    // Each slot's record as the hash last wrote it and the CRC of its bytes
    // (state_hash.h): local, never hashed.
    state_hash_record_cache hash_records;
} object_globals = {.facts_fault_object = NONE, .scan_fault_object = NONE};

// Outside object_globals: a module's start-up and map changes never empty a registration.
static procedure_slot<object_tracking_procedure> tracking_slot("object tracking");

// ---- helpers -------------------------------------------------------------------

// The cell whose chain an object at `position` belongs to: the cell under it,
// clamped to the map.  False without a mesh.
static bool cell_for_position(const world_point3d *position, int16_t *cell_x, int16_t *cell_y)
{
    if (mesh_width <= 0 || mesh_height <= 0) return false;
    *cell_x = (int16_t)clamp32(position->x >> WORLD_FRACTIONAL_BITS, 0, mesh_width - 1);
    *cell_y = (int16_t)clamp32(position->y >> WORLD_FRACTIONAL_BITS, 0, mesh_height - 1);
    return true;
}

// ---- scan chains ---------------------------------------------------------------

// Whether a scan can meet the object: every scan that walks the scan chains
// looks only for solid objects or units' objects.
static inline bool object_can_be_scanned(const object_data *object)
{
    return (object->flags & _object_is_solid_flag) || object->owner == _object_is_monster;
}

static inline bool belongs_in_scan_chain(int32_t object_index, const object_data *object)
{
    return object_index != object_globals.scan_fault_object && object_can_be_scanned(object);
}

static inline void raise_scan_radius_bound(const object_data *object)
{
    if (object->radius > object_globals.scan_radius_bound) object_globals.scan_radius_bound = object->radius;
}

static inline int16_t *scan_head(int32_t cell_x, int32_t cell_y)
{
    return &object_globals.scan_first[(size_t)cell_x + (size_t)cell_y * (size_t)object_globals.scan_width];
}

static void make_room_in_scan_next(void)
{
    const size_t capacity = (size_t)(object_data_globals.capacity > 0 ? object_data_globals.capacity : 0);
    if (object_globals.scan_next.size() < capacity) object_globals.scan_next.resize(capacity, NOT_IN_SCAN_CHAIN);
    if (object_globals.scan_counted.size() < capacity) object_globals.scan_counted.resize(capacity, 0);
    if (object_globals.scan_facts.size() < capacity)
        object_globals.scan_facts.resize(capacity, {0, 0, 0, 0, 0, _obstacle_fact_refused_flag});
    if (object_globals.scan_units.size() < capacity) object_globals.scan_units.resize(capacity, {});
}

static inline obstacle_facts facts_of_object(const object_data *object, const obstacle_unit_facts *unit)
{
    const uint32_t flags = object->flags;
    obstacle_facts facts = {object->location.position.x, object->location.position.y, 0, 0, 0, 0};
    bool refused = !(flags & _object_is_solid_flag) || (flags & _object_is_invisible_flag);
    if (object->owner == _object_is_monster)
    {
        facts.flags |= _obstacle_fact_unit_flag;
        if ((flags & _object_pausing_for_obstacle_to_move_flag) || !unit || unit->refused) refused = true;
        if (unit)
        {
            facts.yaw = object->location.yaw;
            facts.speed = unit->speed;
            facts.team = unit->team;
            if (unit->moving) facts.flags |= _obstacle_fact_moving_flag;
        }
    }
    if (refused) facts.flags |= _obstacle_fact_refused_flag;
    return facts;
}

obstacle_facts obstacle_facts_of(const object_data *object, const obstacle_unit_facts *unit)
{
    return facts_of_object(object, unit);
}

void set_obstacle_unit_facts(int32_t object_index, const obstacle_unit_facts &unit)
{
    if ((size_t)object_index >= object_globals.scan_units.size()) return;
    object_globals.scan_units[(size_t)object_index] = {unit, true};
    obstacle_facts_changed(object_index);
}

void keep_obstacle_unit_facts(int32_t object_index, const obstacle_unit_facts &unit)
{
    if ((size_t)object_index < object_globals.scan_units.size())
        object_globals.scan_units[(size_t)object_index] = {unit, true};
}

// A new record in the slot: its unit, if any, has not said anything yet.
static void forget_obstacle_unit_facts(int32_t object_index)
{
    make_room_in_scan_next();
    if ((size_t)object_index < object_globals.scan_units.size()) object_globals.scan_units[(size_t)object_index] = {};
}

static inline void recount_scanned_object(int32_t object_index, const object_data *object, bool in_chain);
static bool scan_chain_cell(const object_data *object);

// The summary of the object's cell (in a scan chain's cell) is out of date:
// its chain changed, or a summed-up fact of one of its objects.
static inline void cell_motion_changed(const object_data *object)
{
    if (object_globals.motion_fault) return;
    object_globals.scan_motion[(size_t)object->cell_x + (size_t)object->cell_y * (size_t)object_globals.scan_width]
        .stale = 1;
}

// The facts a cell summary reads (yaw, speed, team and flags, the six bytes
// after the position) as one word, to tell a change of them at once.
static inline uint64_t summarized_facts(const obstacle_facts &facts)
{
    static_assert(offsetof(obstacle_facts, yaw) == 8 && offsetof(obstacle_facts, speed) == 10 &&
                      offsetof(obstacle_facts, team) == 12 && offsetof(obstacle_facts, flags) == 13,
                  "the six bytes after the position");
    uint64_t word;
    memcpy(&word, (const uint8_t *)&facts + 8, sizeof(word));
    return word & 0xFFFFFFFFFFFFull; // the two bytes of padding left out
}

// Whether the facts (not refused) are those of a moving unit's object of
// team 0-15: what a cell summary sums up; anything else makes it `others`.
static inline bool facts_of_moving_unit(const obstacle_facts &facts)
{
    return (facts.flags & _obstacle_fact_unit_flag) && (facts.flags & _obstacle_fact_moving_flag) &&
           facts.team >= 0 && facts.team < 16;
}

// Works out the object's facts again; true when it counted the object in its
// cell afterwards (its facts changed while it is in a scan chain).
static inline __attribute__((always_inline)) bool refresh_obstacle_facts(int32_t object_index)
{
    if ((size_t)object_index >= object_globals.scan_facts.size() ||
        object_index == object_globals.facts_fault_object)
        return false;
    const object_data *object = object_in_slot(object_index);
    if (!object)
    {
        object_globals.scan_facts[(size_t)object_index] = {0, 0, 0, 0, 0, _obstacle_fact_refused_flag};
        return false;
    }
    const kept_unit_facts &unit = object_globals.scan_units[(size_t)object_index];
    obstacle_facts &kept = object_globals.scan_facts[(size_t)object_index];
    const obstacle_facts facts = facts_of_object(object, unit.known ? &unit.facts : nullptr);
    // Most calls change nothing but the place, or nothing at all (a unit's
    // action said again): the counts and the summary were made from these
    // very facts, whenever the object joined its chain or they last changed
    // there (a move within the cell leaves its summary as it is), and an
    // owner's change is counted by whoever changes it
    // (object_scan_membership_changed).
    if (summarized_facts(facts) == summarized_facts(kept))
    {
        kept.x = facts.x;
        kept.y = facts.y;
        return false;
    }
    kept = facts;
    if (object_globals.scan_next[(size_t)object_index] == NOT_IN_SCAN_CHAIN || !scan_chain_cell(object)) return false;
    cell_motion_changed(object);
    recount_scanned_object(object_index, object, true);
    return true;
}

void obstacle_facts_changed(int32_t object_index) { (void)refresh_obstacle_facts(object_index); }

void set_obstacle_facts_checking(bool on)
{
    object_globals.facts_checking = on;
    object_globals.facts_mismatches = 0;
}

bool obstacle_facts_checking(void) { return object_globals.facts_checking; }

int64_t obstacle_facts_mismatches(void) { return object_globals.facts_mismatches; }

void count_obstacle_facts_mismatch(int32_t object_index)
{
    if (object_globals.facts_mismatches < OBSTACLE_FACTS_MISMATCHES_LOGGED)
    {
        if (object_index == NONE)
            log_message(__FILE__, __LINE__, "a row's kept count of objects not refused differs from its cells'");
        else
            log_message(__FILE__, __LINE__, "object #%d: the kept obstacle facts differ from its records",
                        (int)object_index);
    }
    object_globals.facts_mismatches += 1;
}

void plant_obstacle_facts_fault(int32_t object_index) { object_globals.facts_fault_object = object_index; }

// Moves the object between its cell's counts (objects.cpp's COUNTED_*).
static void move_between_counts(const object_data *object, uint8_t counted, uint8_t &was)
{
    const size_t cell = (size_t)object->cell_x + (size_t)object->cell_y * (size_t)object_globals.scan_width;
    if ((counted ^ was) & COUNTED_OTHER) object_globals.scan_others[cell] += (counted & COUNTED_OTHER) ? 1 : -1;
    if ((counted ^ was) & COUNTED_OPEN) object_globals.scan_open[cell] += (counted & COUNTED_OPEN) ? 1 : -1;
    if ((counted ^ was) & COUNTED_STILL) object_globals.scan_still[cell] += (counted & COUNTED_STILL) ? 1 : -1;
    was = counted;
}

// Counts the object among its cell's objects other than units' as its owner
// now says, and among those its kept obstacle facts do not refuse (it is in
// the cell's scan chain, or has just left it with `in_chain` false).
static inline void recount_scanned_object(int32_t object_index, const object_data *object, bool in_chain)
{
    const obstacle_facts *facts = (size_t)object_index < object_globals.scan_facts.size()
                                      ? &object_globals.scan_facts[(size_t)object_index]
                                      : nullptr;
    const bool open = facts && !(facts->flags & _obstacle_fact_refused_flag);
    const bool still = open && !facts_of_moving_unit(*facts);
    const uint8_t counted = (in_chain && object->owner != _object_is_monster ? COUNTED_OTHER : 0) |
                            (in_chain && open ? COUNTED_OPEN : 0) | (in_chain && still ? COUNTED_STILL : 0);
    uint8_t &was = object_globals.scan_counted[(size_t)object_index];
    if (counted != was) move_between_counts(object, counted, was);
}

// Builds every scan chain from the cells' chains (a new map, a new mesh).
static void rebuild_scan_chains(void)
{
    const bool loaded = mesh_width > 0 && mesh_height > 0;
    object_globals.scan_width = loaded ? mesh_width : 0;
    object_globals.scan_height = loaded ? mesh_height : 0;
    object_globals.scan_first.assign((size_t)object_globals.scan_width * (size_t)object_globals.scan_height, NONE);
    object_globals.scan_next.assign(0, NOT_IN_SCAN_CHAIN);
    object_globals.scan_others.assign(object_globals.scan_first.size(), 0);
    object_globals.scan_open.assign(object_globals.scan_first.size(), 0);
    object_globals.scan_still.assign(object_globals.scan_first.size(), 0);
    object_globals.scan_motion.assign(object_globals.scan_first.size(), {0, 0, INT16_MAX, false, 1});
    object_globals.scan_counted.assign(0, 0);
    object_globals.scan_facts.assign(0, {});
    object_globals.scan_radius_bound = 0;
    make_room_in_scan_next();
    for (int32_t y = 0; y < object_globals.scan_height; ++y)
        for (int32_t x = 0; x < object_globals.scan_width; ++x)
        {
            int16_t *tail = scan_head(x, y);
            int32_t steps = 0;
            for (int32_t index = get_mesh_cell(x, y)->first_object_index; index != NONE; ++steps)
            {
                const object_data *object = get_object(index);
                if (!object || steps > object_data_globals.count) break; // a broken chain is never followed
                if (belongs_in_scan_chain(index, object))
                {
                    raise_scan_radius_bound(object);
                    obstacle_facts_changed(index);
                    *tail = (int16_t)index;
                    tail = &object_globals.scan_next[(size_t)index];
                    *tail = NONE;
                    recount_scanned_object(index, object, true);
                }
                index = object->next_object_index;
            }
        }
}

// The scan chains fit the mesh that is loaded now (built again when not).
// A map's objects start after its mesh and end before it (the chains are
// forgotten then), so a mesh of another size is the only change to look for.
static inline void make_scan_chains_current(void)
{
    const int32_t width = mesh_width > 0 && mesh_height > 0 ? mesh_width : 0;
    const int32_t height = width ? mesh_height : 0;
    if (object_globals.scan_width == width && object_globals.scan_height == height) return;
    rebuild_scan_chains();
}

// Forgets the scan chains: the next use builds them from the cells' chains.
static void forget_scan_chains(void)
{
    object_globals.scan_width = object_globals.scan_height = 0;
    object_globals.scan_radius_bound = 0;
    object_globals.scan_first.clear();
    object_globals.scan_next.clear();
    object_globals.scan_others.clear();
    object_globals.scan_open.clear();
    object_globals.scan_still.clear();
    object_globals.scan_motion.clear();
    object_globals.scan_counted.clear();
    object_globals.scan_facts.clear();
}

static bool scan_chain_cell(const object_data *object)
{
    return object->cell_x != NONE && object->cell_x < object_globals.scan_width && object->cell_y >= 0 &&
           object->cell_y < object_globals.scan_height;
}

// Takes the object out of its cell's scan chain (nothing when it is in none).
static void remove_from_scan_chain(int32_t object_index, const object_data *object)
{
    if ((size_t)object_index >= object_globals.scan_next.size()) return;
    int16_t &next = object_globals.scan_next[(size_t)object_index];
    if (next == NOT_IN_SCAN_CHAIN) return;
    if (scan_chain_cell(object))
    {
        int16_t *link = scan_head(object->cell_x, object->cell_y);
        for (int32_t steps = 0; *link != NONE && steps <= object_data_globals.count; ++steps)
        {
            if (*link == object_index)
            {
                *link = next;
                break;
            }
            link = &object_globals.scan_next[(size_t)*link];
        }
        cell_motion_changed(object);
        recount_scanned_object(object_index, object, false);
    }
    next = NOT_IN_SCAN_CHAIN;
}

// Puts the object into its cell's scan chain at the place its cell's chain
// gives it: after the last scanned object before it in that chain.
static void insert_into_scan_chain(int32_t object_index, const object_data *object)
{
    if (!scan_chain_cell(object)) return;
    make_room_in_scan_next();
    raise_scan_radius_bound(object);
    int16_t *link = scan_head(object->cell_x, object->cell_y);
    int32_t steps = 0;
    for (int32_t index = get_mesh_cell(object->cell_x, object->cell_y)->first_object_index;
         index != NONE && index != object_index && steps <= object_data_globals.count; ++steps)
    {
        const object_data *other = get_object(index);
        if (!other) break;
        if (object_globals.scan_next[(size_t)index] != NOT_IN_SCAN_CHAIN) link = &object_globals.scan_next[(size_t)index];
        index = other->next_object_index;
    }
    object_globals.scan_next[(size_t)object_index] = *link;
    *link = (int16_t)object_index;
    cell_motion_changed(object);
    recount_scanned_object(object_index, object, true);
    obstacle_facts_changed(object_index);
}

int32_t first_scanned_object(int32_t cell_x, int32_t cell_y)
{
    make_scan_chains_current();
    if (cell_x < 0 || cell_y < 0 || cell_x >= object_globals.scan_width || cell_y >= object_globals.scan_height)
        return NONE;
    const int32_t first = *scan_head(cell_x, cell_y);
    if (object_globals.scan_checking)
    {
        // The walk a scan did before the scan chains: the whole chain, each
        // object a scan can meet in turn against the scan chain's.
        object_globals.scan_counts.cells_checked += 1;
        int32_t scanned = first, steps = 0, others = 0;
        bool same = true;
        bool bounded = true;
        for (int32_t index = get_mesh_cell(cell_x, cell_y)->first_object_index; index != NONE && same; ++steps)
        {
            const object_data *object = get_object(index);
            if (!object || steps > object_data_globals.count) break;
            if (object_can_be_scanned(object))
            {
                same = scanned == index;
                if (same) scanned = object_globals.scan_next[(size_t)scanned];
                if (object->owner != _object_is_monster) others += 1;
                // What move_object's skipping of out-of-reach cells rests on.
                int16_t x, y;
                if (object->radius > object_globals.scan_radius_bound ||
                    !cell_for_position(&object->location.position, &x, &y) || x != cell_x || y != cell_y)
                    bounded = false;
            }
            index = object->next_object_index;
        }
        const bool counted = others == object_globals.scan_others[(size_t)cell_x + (size_t)cell_y * (size_t)object_globals.scan_width];
        if (!same || scanned != NONE || !bounded || !counted)
        {
            if (object_globals.scan_counts.mismatches < SCAN_CHAIN_MISMATCHES_LOGGED)
                log_message(__FILE__, __LINE__,
                            !bounded ? "cell (%d, %d): an object of the scan chain stands outside the cell or has a "
                                       "radius above the scan chains' bound"
                            : !counted ? "cell (%d, %d): the count of objects other than units' differs from its chain"
                                       : "cell (%d, %d): the scan chain differs from the objects of its chain",
                            (int)cell_x, (int)cell_y);
            object_globals.scan_counts.mismatches += 1;
        }
    }
    return first;
}

const int16_t *get_scan_chain_row(int32_t cell_y)
{
    make_scan_chains_current();
    if (cell_y < 0 || cell_y >= object_globals.scan_height) return nullptr;
    // The checker sees each cell of the row as a walk from it would.
    if (object_globals.scan_checking)
        for (int32_t x = 0; x < object_globals.scan_width; ++x) first_scanned_object(x, cell_y);
    return scan_head(0, cell_y);
}

const int16_t *get_scan_chain_rows(int32_t first_y, int32_t end_y)
{
    make_scan_chains_current();
    if (first_y < 0 || end_y > object_globals.scan_height || first_y >= end_y) return nullptr;
    if (object_globals.scan_checking)
        for (int32_t y = first_y; y < end_y; ++y) get_scan_chain_row(y);
    return scan_head(0, first_y);
}

scan_chain_block get_scan_chain_block(int32_t first_y, int32_t end_y)
{
    const int16_t *first_row = get_scan_chain_rows(first_y, end_y);
    if (!first_row) return {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    const size_t row = (size_t)first_y * (size_t)object_globals.scan_width;
    return {first_row,
            &object_globals.scan_others[row],
            &object_globals.scan_open[row],
            &object_globals.scan_still[row],
            &object_globals.scan_motion[row],
            object_globals.scan_next.data(),
            object_globals.scan_facts.data()};
}

static scan_cell_motion summarize_cell_motion(size_t cell)
{
    scan_cell_motion motion = {0, 0, INT16_MAX, false, 0};
    for (int32_t index = object_globals.scan_first[cell]; index != NONE; index = object_globals.scan_next[(size_t)index])
    {
        const obstacle_facts &facts = object_globals.scan_facts[(size_t)index];
        if (facts.flags & _obstacle_fact_refused_flag) continue;
        if (!facts_of_moving_unit(facts))
        {
            motion.others = true;
            break;
        }
        motion.yaw_sectors |= (uint64_t)1 << (facts.yaw >> 10);
        motion.teams |= (uint16_t)(1u << facts.team);
        if (facts.speed < motion.slowest) motion.slowest = facts.speed;
    }
    return motion;
}

// The cell's index in the per-cell arrays, or -1 off the mesh.
static int64_t scan_cell(int32_t cell_x, int32_t cell_y)
{
    make_scan_chains_current();
    if (cell_x < 0 || cell_y < 0 || cell_x >= object_globals.scan_width || cell_y >= object_globals.scan_height)
        return -1;
    return (int64_t)cell_x + (int64_t)cell_y * object_globals.scan_width;
}

scan_cell_motion get_scan_cell_motion(int32_t cell_x, int32_t cell_y)
{
    const int64_t cell = scan_cell(cell_x, cell_y);
    if (cell < 0) return {0, 0, INT16_MAX, false, 0};
    scan_cell_motion &kept = object_globals.scan_motion[(size_t)cell];
    if (kept.stale) kept = summarize_cell_motion((size_t)cell);
    return kept;
}

scan_cell_motion summarize_scan_cell_motion(int32_t cell_x, int32_t cell_y)
{
    const int64_t cell = scan_cell(cell_x, cell_y);
    return cell < 0 ? scan_cell_motion{0, 0, INT16_MAX, false, 0} : summarize_cell_motion((size_t)cell);
}

void plant_scan_cell_motion_fault(bool on) { object_globals.motion_fault = on; }

const int16_t *get_scan_chain_links(void)
{
    make_scan_chains_current();
    return object_globals.scan_next.data();
}

int32_t get_scan_chain_radius_bound(void)
{
    make_scan_chains_current();
    return object_globals.scan_radius_bound;
}

const obstacle_facts *get_obstacle_facts(void)
{
    make_scan_chains_current();
    return object_globals.scan_facts.data();
}

int32_t next_scanned_object(int32_t object_index)
{
    return (size_t)object_index < object_globals.scan_next.size() ? object_globals.scan_next[(size_t)object_index]
                                                                   : (int32_t)NONE;
}

void object_scan_membership_changed(int32_t object_index)
{
    const object_data *object = get_object(object_index);
    if (!object) return;
    if (object->cell_x == NONE)
    {
        // In no chain: only its facts (a unit's may have been kept for this call).
        obstacle_facts_changed(object_index);
        return;
    }
    make_scan_chains_current();
    const bool in = (size_t)object_index < object_globals.scan_next.size() &&
                    object_globals.scan_next[(size_t)object_index] != NOT_IN_SCAN_CHAIN;
    raise_scan_radius_bound(object); // its radius may have changed with the rest
    const bool recounted = refresh_obstacle_facts(object_index); // its flags or owner may have changed
    if (in == belongs_in_scan_chain(object_index, object))
    {
        // Its owner may have changed, with facts that did not.
        if (in && !recounted && scan_chain_cell(object)) recount_scanned_object(object_index, object, true);
        return;
    }
    if (in) remove_from_scan_chain(object_index, object);
    else insert_into_scan_chain(object_index, object);
}

void set_scan_chain_checking(bool on)
{
    object_globals.scan_checking = on;
    object_globals.scan_counts = {0, 0};
}

scan_chain_check_counts get_scan_chain_check_counts(void) { return object_globals.scan_counts; }

void plant_scan_chain_fault(int32_t object_index)
{
    const int32_t previous = object_globals.scan_fault_object;
    object_globals.scan_fault_object = object_index;
    if (previous != NONE) object_scan_membership_changed(previous);
    if (object_index != NONE) object_scan_membership_changed(object_index);
}

static void link_object(int32_t object_index, object_data *object)
{
    int16_t cell_x, cell_y;
    if (object->cell_x != NONE || !cell_for_position(&object->location.position, &cell_x, &cell_y)) return;
    make_scan_chains_current();
    mesh_cell *cell = get_mesh_cell(cell_x, cell_y);
    object->next_object_index = cell->first_object_index;
    cell->first_object_index = (int16_t)object_index;
    object->cell_x = cell_x;
    object->cell_y = cell_y;
    // The head of the chain is the head of the scan chain too.
    make_room_in_scan_next();
    if (belongs_in_scan_chain(object_index, object) && scan_chain_cell(object))
    {
        raise_scan_radius_bound(object);
        int16_t *head = scan_head(cell_x, cell_y);
        object_globals.scan_next[(size_t)object_index] = *head;
        *head = (int16_t)object_index;
        cell_motion_changed(object);
        recount_scanned_object(object_index, object, true);
    }
    obstacle_facts_changed(object_index);
}

static void unlink_object(int32_t object_index, object_data *object)
{
    if (object->cell_x == NONE) return;
    make_scan_chains_current();
    remove_from_scan_chain(object_index, object);
    if (mesh_cell_in_bounds(object->cell_x, object->cell_y))
    {
        mesh_cell *cell = get_mesh_cell(object->cell_x, object->cell_y);
        int16_t *link = &cell->first_object_index;
        // Chains are short; a walk bounded by the array's size cannot loop forever
        // even on a damaged chain.
        for (int32_t steps = 0; *link != NONE && steps <= object_data_globals.count; ++steps)
        {
            if (*link == object_index)
            {
                *link = object->next_object_index;
                break;
            }
            object_data *other = get_object(*link);
            if (!VASSERT(other, "object chain runs through a free slot")) break;
            link = &other->next_object_index;
        }
    }
    object->next_object_index = NONE;
    object->cell_x = object->cell_y = NONE;
}

shape_sequence_information get_shape_sequence_information(int16_t collection_index, int16_t sequence_index)
{
    shape_sequence_information information = {1, 1, 1, NONE};
    const auto sequence_information = get_collection_procedures()->shape_sequence_information;
    if (sequence_information && !sequence_information(collection_index, sequence_index, &information))
        information = {1, 1, 1, NONE};
    if (information.frames_per_view < 1) information.frames_per_view = 1;
    if (information.number_of_views < 1) information.number_of_views = 1;
    if (information.ticks_per_frame < 0) information.ticks_per_frame = 0;
    return information;
}

static int16_t scaled(int32_t value, short_fixed scale)
{
    return (int16_t)clamp32((value * scale) >> SHORT_FIXED_FRACTIONAL_BITS, -32768, 32767);
}

// ---- life cycle ----------------------------------------------------------------

bool initialize_objects(void)
{
    if (object_globals.initialized) return true;
    if (!initialize_data(&object_data_globals)) return false;
    if (!initialize_object_definitions()) return false;
    register_state_hash_procedure_at_start_up(hash_objects);
    object_globals.initialized = true;
    return true;
}

void initialize_objects_for_new_map(void)
{
    initialize_data_for_new_map(&object_data_globals);
    forget_scan_chains();
    object_globals.hash_records.forget();
}

void dispose_objects_from_old_map(void)
{
    dispose_data_from_old_map(&object_data_globals);
    forget_scan_chains();
    object_globals.hash_records.forget();
}

// ---- records -------------------------------------------------------------------

object_data *get_object_by_identifier(int32_t object_index, int16_t identifier)
{
    if (object_index < 0 || object_index >= object_data_globals.capacity) return nullptr;
    return (object_data *)get_datum_by_identifier(&object_data_globals, object_index, identifier);
}

int32_t get_object_count(void) { return object_data_globals.count; }

datum_globals *get_object_array(void) { return &object_data_globals; }

int32_t new_object(const new_object_data *data)
{
    const object_definition *definition = nullptr;
    if (data->type != NONE)
    {
        definition = get_object_definition(data->type);
        if (!definition)
        {
            log_message(__FILE__, __LINE__, "new_object: object definition #%d does not exist", (int)data->type);
            return NONE;
        }
    }
    short_fixed scale = data->scale;
    if (scale == 0)
    {
        scale = SHORT_FIXED_ONE;
        if (definition)
        {
            if (definition->scale_lower_bound > 0) scale = definition->scale_lower_bound;
            if (definition->scale_delta > 0)
                scale = (short_fixed)clamp32(scale + ((vesk_random() * definition->scale_delta) >> 16), 1, 32767);
        }
    }

    const int32_t object_index = new_datum(&object_data_globals);
    if (object_index == NONE)
    {
        log_message(__FILE__, __LINE__, "new_object: the object array is full");
        return NONE;
    }
    object_data *object = get_object(object_index);
    object->type = data->type;
    object->flags = 0; // new-object flags are requests, not object flags
    object->owner = data->owner;
    object->owner_index = data->owner_index;
    object->tracking_priority = data->tracking_priority;
    object->location = data->location;
    object->scale = scale;
    object->shape_collection_index = data->collection_index;
    object->shape_sequence_index = NONE;
    object->shape_rate = SHORT_FIXED_ONE;
    object->shape_ticks_per_frame = 1;
    object->color_table_index = data->color_table_index;
    object->state = NONE;
    object->next_object_index = NONE;
    object->parasitic_object_index = NONE;
    object->transparent_object_index = NONE;
    object->geometry_index = NONE;
    object->original_owner_player_index = NONE;
    object->cell_x = object->cell_y = NONE;
    forget_obstacle_unit_facts(object_index);
    if (definition)
    {
        object->radius = scaled(definition->radius, scale);
        object->height1 = scaled(definition->height, scale);
        object->maximum_vitality = definition->maximum_vitality;
        object->vitality = definition->maximum_vitality;
        if (definition->flags & _object_definition_is_solid_flag) object->flags |= _object_is_solid_flag;
        if (definition->flags & _object_definition_is_permeable_flag) object->flags |= _object_is_permeable_flag;
        if (definition->flags & _object_definition_floats_on_media_flag)
            object->flags |= _object_floats_on_media_flag;
    }
    if (data->flags & _new_object_on_ground_flag)
    {
        const world_point2d point = {object->location.position.x, object->location.position.y};
        const world_distance surface = get_mesh_height(&point, _mesh_surface_height);
        if (surface != MESH_NO_HEIGHT) object->location.position.z = surface;
        object->flags |= _object_on_ground_flag;
    }
    link_object(object_index, object);
    if (object->tracking_priority) offer_object_to_tracking(object_index);
    return object_index;
}

void delete_object(int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (!VASSERT(object, "delete_object: no object there")) return;
    _orphan_object_sounds(object_index);
    unlink_object(object_index, object);
    delete_datum(&object_data_globals, object_index);
}

int32_t duplicate_object(int32_t object_index)
{
    object_data *original = get_object(object_index);
    if (!VASSERT(original, "duplicate_object: no object there")) return NONE;
    const int32_t copy_index = new_datum(&object_data_globals);
    if (copy_index == NONE)
    {
        log_message(__FILE__, __LINE__, "duplicate_object: the object array is full");
        return NONE;
    }
    original = get_object(object_index); // blocks never move, but read it again for clarity
    object_data *copy = get_object(copy_index);
    const int16_t identifier = copy->identifier;
    *copy = *original;
    copy->identifier = identifier;
    copy->next_object_index = NONE;
    copy->cell_x = copy->cell_y = NONE;
    copy->flags &= ~(uint32_t)(_object_is_selected_flag | _object_is_tracking_flag);
    copy->parasitic_object_index = NONE;
    copy->transparent_object_index = NONE;
    make_room_in_scan_next();
    object_globals.scan_units[(size_t)copy_index] = object_globals.scan_units[(size_t)object_index];
    link_object(copy_index, copy);
    return copy_index;
}

bool replace_object(int32_t old_index, int32_t new_index)
{
    object_data *old_object = get_object(old_index);
    object_data *new_object_record = get_object(new_index);
    if (old_index == new_index || !old_object || !new_object_record)
    {
        VASSERT(false, "replace_object: both objects must exist and differ");
        return false;
    }
    unlink_object(new_index, new_object_record);
    const int16_t identifier = old_object->identifier;
    const int16_t next = old_object->next_object_index;
    const int16_t cell_x = old_object->cell_x, cell_y = old_object->cell_y;
    int16_t new_cell_x = NONE, new_cell_y = NONE;
    const bool has_cell = cell_for_position(&new_object_record->location.position, &new_cell_x, &new_cell_y);

    *old_object = *new_object_record;
    make_room_in_scan_next();
    object_globals.scan_units[(size_t)old_index] = object_globals.scan_units[(size_t)new_index];
    old_object->identifier = identifier;
    old_object->next_object_index = next;
    old_object->cell_x = cell_x;
    old_object->cell_y = cell_y;
    // In the same cell the record keeps the old place in the chain; else it
    // leaves the old cell's chain and joins its own.
    if (!has_cell || cell_x != new_cell_x || cell_y != new_cell_y)
    {
        unlink_object(old_index, old_object);
        link_object(old_index, old_object);
    }
    else object_scan_membership_changed(old_index); // the place is kept; what a scan meets there may not be
    delete_datum(&object_data_globals, new_index);
    return true;
}

void disconnect_object_from_mesh(int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (VASSERT(object, "disconnect_object_from_mesh: no object there")) unlink_object(object_index, object);
}

void reconnect_object_to_mesh(int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (VASSERT(object, "reconnect_object_to_mesh: no object there")) link_object(object_index, object);
}

// ---- movement ------------------------------------------------------------------

// Media state of a point: 0 dry, 1 partially (the top is above the surface),
// 2 wholly under.
static int32_t media_state(const world_point3d *position, int32_t top)
{
    const world_point2d point = {position->x, position->y};
    const world_distance surface = get_mesh_height(&point, _media_height);
    if (surface == MESH_NO_HEIGHT || position->z >= surface) return 0;
    return position->z + top < surface ? 2 : 1;
}

// Whether the object moving to `to` is stopped by the cell there: a hidden
// cell, or a model whose surface at that point lies above `to.z`.
static bool cell_blocks(const world_point3d *to)
{
    const int32_t cell_x = to->x >> WORLD_FRACTIONAL_BITS, cell_y = to->y >> WORLD_FRACTIONAL_BITS;
    if (!mesh_cell_in_bounds(cell_x, cell_y)) return false;
    const mesh_cell *cell = get_mesh_cell(cell_x, cell_y);
    if (cell->flags & _mesh_cell_is_not_rendered_flag) return true;
    if (cell->model_index == NONE) return false;
    // Models count as solid from their highest surface over the point down to
    // the ground (a mover cannot pass under a bridge).
    const world_distance top =
        get_model_height_at_position(cell->model_index, to->x, to->y, 2 * MAXIMUM_OBJECT_HEIGHT);
    return top != MESH_NO_HEIGHT && top > to->z;
}

// The checker's look at a cell move_object leaves out: the whole chain, where
// nothing may be struck.
template <typename strike_test> static void check_cell_out_of_reach(int32_t cell_x, int32_t cell_y, strike_test strikes)
{
    object_globals.scan_counts.cells_checked += 1;
    int32_t steps = 0;
    for (int32_t index = get_mesh_cell(cell_x, cell_y)->first_object_index; index != NONE; ++steps)
    {
        const object_data *other = get_object(index);
        if (!other || steps > object_data_globals.count) break;
        if (strikes(index, other))
        {
            if (object_globals.scan_counts.mismatches < SCAN_CHAIN_MISMATCHES_LOGGED)
                log_message(__FILE__, __LINE__, "cell (%d, %d) was left out by a move but object %d there is struck",
                            (int)cell_x, (int)cell_y, (int)index);
            object_globals.scan_counts.mismatches += 1;
        }
        index = other->next_object_index;
    }
}

// Keeps an object that holds its height above the ground there; any other
// lands on the ground it would sink into, bouncing by its elasticity or
// coming to rest.  Returns the movement flags it gains.
static uint32_t meet_the_ground(const object_definition *definition, world_location3d *location, world_point3d *to_in,
                                int32_t *result_in)
{
    world_point3d &to = *to_in;
    int32_t &result = *result_in;
    uint32_t movement = 0;
    const world_point2d point = {to.x, to.y};
    if (definition && (definition->flags & _maintains_constant_height_above_ground_flag))
    {
        const world_distance surface = get_mesh_height(&point, _mesh_surface_height);
        if (surface != MESH_NO_HEIGHT) to.z = surface + location->height;
        location->velocity.k = 0;
    }
    else
    {
        const world_distance ground = get_mesh_height(&point, _mesh_ground_height);
        if (ground != MESH_NO_HEIGHT && to.z <= ground)
        {
            to.z = ground;
            result |= _move_struck_ground_flag;
            movement |= _object_on_ground_flag;
            const int32_t elasticity = definition ? definition->elasticity : 0;
            const int32_t k = location->velocity.k < 0 ? -location->velocity.k : location->velocity.k;
            const int32_t bounce = (int32_t)(((int64_t)k * elasticity) >> 16);
            if (bounce < 4)
            {
                location->velocity.k = 0;
                if (location->velocity.i == 0 && location->velocity.j == 0) movement |= _object_at_rest_flag;
            }
            else location->velocity.k = (int16_t)bounce;
        }
    }
    return movement;
}

// The solid objects in the cells around `to` that the object would stand in:
// the first struck goes into `result`, a permeable one strikes softly, any
// other stops the move.
static void strike_solid_objects(int32_t object_index, object_data *object, const world_point3d &to, int32_t *result_in,
                                 int32_t *struck_count_in, bool *stopped_in)
{
    int32_t &result = *result_in;
    int32_t &struck_count = *struck_count_in;
    bool &stopped = *stopped_in;
    const int32_t cell_x = clamp32(to.x >> WORLD_FRACTIONAL_BITS, 0, mesh_width - 1);
    const int32_t cell_y = clamp32(to.y >> WORLD_FRACTIONAL_BITS, 0, mesh_height - 1);
    // Every object of a cell's scan chain stands in that cell (the side
    // cells of the mesh reach past its edge) and none has a radius above
    // the bound, so a side cell whose near edge lies `widest` or more
    // from `to` along one axis holds nothing the test below could strike:
    // leaving it out changes no result and no order.
    make_scan_chains_current();
    if (belongs_in_scan_chain(object_index, object)) raise_scan_radius_bound(object);
    const int64_t widest = (int64_t)object->radius + object_globals.scan_radius_bound;
    const int64_t left = (int64_t)to.x - ((int64_t)cell_x << WORLD_FRACTIONAL_BITS) + 1;
    const int64_t right = ((int64_t)(cell_x + 1) << WORLD_FRACTIONAL_BITS) - to.x;
    const int64_t top = (int64_t)to.y - ((int64_t)cell_y << WORLD_FRACTIONAL_BITS) + 1;
    const int64_t bottom = ((int64_t)(cell_y + 1) << WORLD_FRACTIONAL_BITS) - to.y;
    const int32_t first_x = left >= widest ? cell_x : cell_x - 1, last_x = right >= widest ? cell_x : cell_x + 1;
    const int32_t first_y = top >= widest ? cell_y : cell_y - 1, last_y = bottom >= widest ? cell_y : cell_y + 1;
    // distance2d (the floor root of dx² + dy²) is below `reach` exactly
    // when dx² + dy² is below reach²; a side of reach or more settles it
    // first, and keeps the squares small.
    const auto strikes = [&](int32_t other_index, const object_data *other) {
        if (other_index == object_index || !(other->flags & _object_is_solid_flag) ||
            (other->flags & _object_is_invisible_flag))
            return false;
        const int64_t dx = (int64_t)other->location.position.x - to.x;
        const int64_t dy = (int64_t)other->location.position.y - to.y;
        const int64_t reach = (int64_t)object->radius + other->radius;
        const int32_t dz = to.z - other->location.position.z;
        return dz >= other->height0 && dz <= other->height1 && dx < reach && -dx < reach && dy < reach &&
               -dy < reach && dx * dx + dy * dy < reach * reach;
    };
    // The centre is clamped into the mesh, so it is out of bounds only
    // when the mesh has no cells; the cells scanned are the reachable
    // ones of the 3 x 3 around it inside the mesh, row by row.
    const bool have_cells = mesh_cell_in_bounds(cell_x, cell_y);
    const int32_t low_x = first_x < 0 ? 0 : first_x, high_x = last_x >= mesh_width ? mesh_width - 1 : last_x;
    const int32_t low_y = first_y < 0 ? 0 : first_y, high_y = last_y >= mesh_height ? mesh_height - 1 : last_y;
    if (have_cells && object_globals.scan_checking)
    {
        // The cells left out; the checker makes sure nothing there could be struck.
        for (int32_t y = cell_y - 1; y <= cell_y + 1; ++y)
            for (int32_t x = cell_x - 1; x <= cell_x + 1; ++x)
                if (mesh_cell_in_bounds(x, y) && (x < low_x || x > high_x || y < low_y || y > high_y))
                    check_cell_out_of_reach(x, y, strikes);
    }
    // Most objects of those cells lie `widest` or more from `to` along one
    // axis too: their kept obstacle facts give their place without their
    // records (the facts checker compares each place read here).
    const obstacle_facts *facts = object_globals.scan_facts.data();
    const bool facts_checking = object_globals.facts_checking;
    // -widest < d < widest as one unsigned comparison (never, for a widest
    // below 1: nothing can be struck then either).
    const uint64_t near_span = widest >= 1 ? (uint64_t)(2 * widest - 1) : 0;
    const auto near = [&](int64_t d) { return (uint64_t)(d + widest - 1) < near_span; };
    for (int32_t y = low_y; have_cells && y <= high_y; ++y)
        for (int32_t x = low_x; x <= high_x; ++x)
        {
            // The chains are current (above): the head is read directly
            // unless the checker wants its look at the cell.
            for (int32_t other_index = object_globals.scan_checking ? first_scanned_object(x, y) : *scan_head(x, y);
                 other_index != NONE;)
            {
                const int32_t next = object_globals.scan_next[(size_t)other_index];
                int64_t fx = facts[other_index].x, fy = facts[other_index].y;
                if (facts_checking)
                    if (const object_data *record = object_in_slot(other_index))
                        if (record->location.position.x != fx || record->location.position.y != fy)
                        {
                            count_obstacle_facts_mismatch(other_index);
                            fx = record->location.position.x;
                            fy = record->location.position.y;
                        }
                if (!near(fx - to.x) || !near(fy - to.y))
                {
                    other_index = next;
                    continue;
                }
                const object_data *other = object_in_slot(other_index);
                if (!other) break;
                if (strikes(other_index, other))
                {
                    if (struck_count == 0) result |= (int32_t)((uint32_t)(uint16_t)other_index << 16);
                    struck_count += 1;
                    if (other->flags & _object_is_permeable_flag) result |= _move_struck_object_softly_flag;
                    else stopped = true;
                }
                other_index = next;
            }
        }
}

int32_t move_object(int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (!object) return 0;
    const object_definition *definition = get_object_definition(object->type);
    int32_t result = 0;
    world_location3d *location = &object->location;
    const world_point3d old_position = location->position;
    const int32_t old_media = media_state(&old_position, object->height1);

    if (definition && definition->gravity)
    {
        int32_t k = location->velocity.k - definition->gravity;
        if (definition->terminal_velocity > 0 && k < -definition->terminal_velocity)
            k = -definition->terminal_velocity;
        location->velocity.k = (int16_t)clamp32(k, -32768, 32767);
    }
    world_point3d to = {old_position.x + location->velocity.i, old_position.y + location->velocity.j,
                        old_position.z + location->velocity.k};

    // Edge of the mesh.
    if (mesh_width > 0 && mesh_height > 0)
    {
        const world_distance right = mesh_width * WORLD_ONE - 1, bottom = mesh_height * WORLD_ONE - 1;
        if (to.x < 0 || to.x > right)
        {
            to.x = clamp32(to.x, 0, right);
            location->velocity.i = 0;
            result |= _move_struck_edge_of_mesh_flag;
        }
        if (to.y < 0 || to.y > bottom)
        {
            to.y = clamp32(to.y, 0, bottom);
            location->velocity.j = 0;
            result |= _move_struck_edge_of_mesh_flag;
        }
    }
    if (to.z > MAXIMUM_OBJECT_HEIGHT)
    {
        to.z = MAXIMUM_OBJECT_HEIGHT;
        if (location->velocity.k > 0) location->velocity.k = 0;
        result |= _move_struck_ceiling_flag;
    }

    // Ground.
    uint32_t movement = meet_the_ground(definition, location, &to, &result);

    // Hidden cells and models.
    if (cell_blocks(&to))
    {
        to = old_position;
        location->velocity = {0, 0, 0};
        result |= _move_struck_cell_flag;
    }

    // Solid objects in the cells around the new point.
    int32_t struck_count = 0;
    bool stopped = false;
    if (mesh_width > 0 && !(result & _move_struck_cell_flag))
        strike_solid_objects(object_index, object, to, &result, &struck_count, &stopped);
    if (struck_count > 0) result |= _move_struck_object_flag;
    if (struck_count > 1) result |= _move_struck_objects_flag;
    if (stopped)
    {
        to = old_position;
        location->velocity = {0, 0, 0};
    }

    // Relink and the media state.
    int16_t old_cell_x = object->cell_x, old_cell_y = object->cell_y;
    if (to.x != old_position.x || to.y != old_position.y)
    {
        int16_t new_cell_x, new_cell_y;
        if (cell_for_position(&to, &new_cell_x, &new_cell_y) && (new_cell_x != old_cell_x || new_cell_y != old_cell_y))
        {
            unlink_object(object_index, object);
            location->position = to;
            link_object(object_index, object);
            result |= _move_changed_cells_flag;
        }
    }
    location->position = to;
    if (to.x != old_position.x || to.y != old_position.y) obstacle_facts_changed(object_index);

    // The media state is a function of the point (and the object's height,
    // which a move keeps): an object that stayed put is where it was.
    const int32_t new_media = to.x == old_position.x && to.y == old_position.y && to.z == old_position.z
                                  ? old_media
                                  : media_state(&to, object->height1);
    if (new_media == 1) movement |= _object_partially_under_media_flag;
    if (new_media == 2) movement |= _object_wholly_under_media_flag;
    if (new_media && (object->flags & _object_floats_on_media_flag)) movement |= _object_on_media_flag;
    if (!old_media && new_media) result |= _move_entered_media_flag;
    if (old_media && !new_media) result |= _move_exited_media_flag;
    object->flags = (object->flags & ~(uint32_t)_object_movement_flags) | movement;
    return result;
}

// ---- shapes --------------------------------------------------------------------

void set_object_shape(int32_t object_index, int16_t sequence_index, int16_t rate, int16_t transfer_mode,
                      int16_t transfer_period, uint16_t shape_flags, int16_t)
{
    object_data *object = get_object(object_index);
    if (!VASSERT(object, "set_object_shape: no object there")) return;
    if ((shape_flags & _ignore_duplicate_sequences_flag) && object->shape_sequence_index == sequence_index) return;
    const shape_sequence_information information =
        get_shape_sequence_information(object->shape_collection_index, sequence_index);
    object->shape_sequence_index = sequence_index;
    object->shape_flags = shape_flags;
    object->shape_rate = rate;
    object->shape_ticks_per_frame = information.ticks_per_frame;
    object->shape_frame_index = 0;
    object->shape_phase = 0;
    object->transfer_mode = (transfer_mode >= 0 && transfer_mode < NUMBER_OF_TRANSFER_MODES) ? transfer_mode : 0;
    object->transfer_period = transfer_period > 0 ? transfer_period : 0;
    object->transfer_phase = 0;
    if (shape_flags & _random_sequence_frame_flag)
        object->shape_frame_index = (int16_t)(vesk_random() % information.frames_per_view);
    if (shape_flags & _random_sequence_phase_flag)
    {
        const int32_t span = information.ticks_per_frame * SHORT_FIXED_ONE;
        const uint16_t draw = vesk_random();
        object->shape_phase = span > 0 ? (int16_t)(draw % span) : 0;
    }
    if (shape_flags & _random_sequence_view_flag)
        object->shape_view_index = (int16_t)(vesk_random() % information.number_of_views);
    object->flags = (object->flags & ~(uint32_t)_object_animation_flags) | _object_animation_new_frame_flag;
}

void animate_object(int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (!VASSERT(object, "animate_object: no object there")) return;
    uint32_t flags = object->flags & ~(uint32_t)_object_animation_flags;

    const int32_t rate = object->shape_rate > 0 ? object->shape_rate : 0;
    if (object->shape_ticks_per_frame > 0 && object->shape_sequence_index != NONE &&
        object->shape_phase + rate < object->shape_ticks_per_frame * SHORT_FIXED_ONE && object->shape_frame_index == 0)
    {
        // No frame to step and the first frame, which every sequence has: the
        // sequence's facts would change nothing (most objects wait so).
        object->shape_phase = (int16_t)(object->shape_phase + rate);
    }
    else if (object->shape_ticks_per_frame > 0 && object->shape_sequence_index != NONE)
    {
        const shape_sequence_information information =
            get_shape_sequence_information(object->shape_collection_index, object->shape_sequence_index);
        const int32_t span = object->shape_ticks_per_frame * SHORT_FIXED_ONE;
        const int32_t last = information.frames_per_view - 1;
        const bool backwards = (object->flags & _object_animates_backwards_flag) != 0;
        int32_t phase = object->shape_phase + (object->shape_rate > 0 ? object->shape_rate : 0);
        int32_t frame = clamp32(object->shape_frame_index, 0, last);
        // At most one full pass of the sequence per tick: a huge rate cannot spin here.
        for (int32_t steps = 0; phase >= span && steps <= last + 1; ++steps)
        {
            phase -= span;
            const int32_t end = backwards ? 0 : last;
            // Every sequence cycles: a unit walks, idles and repeats its
            // strikes on the frames of one sequence set once.
            if (frame == end)
                frame = backwards ? last : 0;
            else frame += backwards ? -1 : 1;
            flags |= _object_animation_new_frame_flag;
            if (frame == information.key_frame) flags |= _object_animation_key_frame_flag;
            if (frame == end) flags |= _object_animation_last_frame_flag;
        }
        if (phase >= span) phase %= span;
        object->shape_phase = (int16_t)phase;
        object->shape_frame_index = (int16_t)frame;
    }

    if (object->transfer_mode != _transfer_mode_none && object->transfer_period > 0)
    {
        if (object->transfer_phase < object->transfer_period)
        {
            object->transfer_phase += 1;
            if (object->transfer_phase == object->transfer_period)
            {
                flags |= _object_animation_transfer_finished_flag;
                if (object->transfer_mode == _transfer_mode_cycle) object->transfer_phase = 0;
            }
        }
    }
    object->flags = flags;
}

bool get_object_point(int32_t mode, int32_t object_index, world_point3d *out)
{
    const object_data *object = get_object(object_index);
    if (!object) return false;
    *out = object->location.position;
    if (mode == _object_point_middle) out->z += (object->height0 + object->height1) / 2;
    return true;
}

bool get_object_key_point(int32_t object_index, int16_t sequence_index, int16_t frame_index, angle yaw,
                          world_point3d *out)
{
    const object_data *object = get_object(object_index);
    if (!object) return false;
    *out = object->location.position;
    const auto key_point = get_collection_procedures()->shape_key_point;
    if (!key_point) return true;
    int16_t frame = frame_index;
    if (frame < 0)
    {
        frame = get_shape_sequence_information(object->shape_collection_index, sequence_index).key_frame;
        if (frame < 0) frame = 0;
    }
    world_point3d offset = {0, 0, 0};
    if (!key_point(object->shape_collection_index, sequence_index, frame, &offset)) return true;
    const int32_t forward = (offset.x * object->scale) >> SHORT_FIXED_FRACTIONAL_BITS;
    const int32_t left = (offset.y * object->scale) >> SHORT_FIXED_FRACTIONAL_BITS;
    const int32_t up = (offset.z * object->scale) >> SHORT_FIXED_FRACTIONAL_BITS;
    const int64_t c = cosine_rounded(yaw), s = sine_rounded(yaw);
    out->x += (int32_t)((forward * c - left * s) >> TRIG_SHIFT);
    out->y += (int32_t)((forward * s + left * c) >> TRIG_SHIFT);
    out->z += up;
    return true;
}

int32_t object_identifiers_to_object_indexes(const int32_t *identifiers, int16_t *indexes, int32_t count)
{
    int32_t found = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const int16_t index = datum_identifier_to_index(identifiers[i]);
        if (get_object_by_identifier(index, datum_identifier_to_identifier(identifiers[i])))
            indexes[found++] = index;
    }
    return found;
}

// ---- damage --------------------------------------------------------------------

static int32_t effect_modifier_for_damage(const damage_definition *damage)
{
    const bool long_range = (damage->flags & _damage_is_long_range_flag) != 0;
    const int32_t physical = long_range ? _effect_modifier_long_range_physical : _effect_modifier_close_range_physical;
    static const int8_t modifier_by_type[NUMBER_OF_DAMAGE_TYPES] = {
        _effect_modifier_explosive, _effect_modifier_magical, _effect_modifier_paralysis,
        _effect_modifier_healing, -1, -1, _effect_modifier_stone, -1, _effect_modifier_electrical,
        _effect_modifier_fire, _effect_modifier_gas, _effect_modifier_charm};
    if (damage->type < 0 || damage->type >= NUMBER_OF_DAMAGE_TYPES) return physical;
    const int32_t modifier = modifier_by_type[damage->type];
    return modifier < 0 ? physical : modifier;
}

int32_t damage_object(int32_t object_index, const damage_definition *damage, int32_t amount,
                      fixed_fraction absorbed_fraction, bool *died, int32_t *damage_left)
{
    if (died) *died = false;
    if (damage_left) *damage_left = 0;
    object_data *object = get_object(object_index);
    if (!object || !damage || object->maximum_vitality <= 0) return 0;
    const object_definition *definition = get_object_definition(object->type);
    const int32_t modifier =
        definition ? definition->effect_modifiers[effect_modifier_for_damage(damage)] : (int32_t)SHORT_FIXED_ONE;

    int32_t result = 0;
    int32_t d = wrap_multiply32(amount, modifier) >> SHORT_FIXED_FRACTIONAL_BITS;
    if (d > 0 && absorbed_fraction > 0)
    {
        const int32_t absorbed = (int32_t)(((int64_t)d * absorbed_fraction) >> 16);
        d -= absorbed;
        if (absorbed > 0) result |= _damage_result_absorbed_flag;
    }
    if (damage_left) *damage_left = d;

    const int32_t vitality = object->vitality;
    int32_t new_vitality = vitality;
    switch (damage->type)
    {
    case _damage_hold:
        if (d > 0) result |= _damage_result_paralysis_flag;
        break;
    case _damage_stoning:
        if (d > 0) result |= _damage_result_stoning_flag;
        break;
    case _damage_charm:
        if (d > 0) result |= _damage_result_charm_flag;
        break;
    case _damage_healing:
        new_vitality = clamp32(vitality + d, 0, object->maximum_vitality);
        if (new_vitality < vitality) new_vitality = vitality; // healing never hurts
        break;
    default:
        new_vitality = clamp32(vitality - d, 0, object->maximum_vitality);
        if (damage->type == _damage_gas && d > 0 && definition &&
            definition->effect_modifiers[_effect_modifier_confusion] != 0)
            result |= _damage_result_confusion_flag;
        if (damage->type == _damage_explosive_electricity && d > 0) result |= _damage_result_always_shocked_flag;
        break;
    }
    if (new_vitality != vitality)
    {
        object->vitality = (short_fixed)new_vitality;
        result |= _damage_result_vitality_changed_flag;
        if (vitality > 0 && new_vitality == 0 && died) *died = true;
    }
    if (result && object->tracking_priority) offer_object_to_tracking(object_index);
    return result;
}

// ---- tracking and interpolation ------------------------------------------------

bool register_object_tracking_procedure(object_tracking_procedure procedure) { return tracking_slot.fill(procedure); }

void offer_object_to_tracking(int32_t object_index)
{
    if (object_tracking_procedure procedure = tracking_slot.get()) procedure(object_index);
}

void begin_motion_interpolated_frame(void) {}
bool interpolate_object_history(int32_t, world_point3d *) { return false; }
void record_local_projectile_history(int32_t, const world_point3d *) {}
bool interpolate_local_projectile_history(int32_t, world_point3d *) { return false; }

// ---- checks and hash -----------------------------------------------------------

bool object_chains_are_consistent(void)
{
    const int32_t count = object_data_globals.count;
    int32_t linked = 0;
    for (int32_t y = 0; y < mesh_height; ++y)
        for (int32_t x = 0; x < mesh_width; ++x)
        {
            int32_t steps = 0;
            for (int32_t index = get_mesh_cell(x, y)->first_object_index; index != NONE; ++steps)
            {
                const object_data *object = get_object(index);
                if (!object || steps > count)
                {
                    log_message(__FILE__, __LINE__, "cell (%d, %d): chain reaches a free slot or loops", (int)x,
                                (int)y);
                    return false;
                }
                int16_t cell_x = NONE, cell_y = NONE;
                cell_for_position(&object->location.position, &cell_x, &cell_y);
                if (cell_x != x || cell_y != y || object->cell_x != x || object->cell_y != y)
                {
                    log_message(__FILE__, __LINE__, "object %d stands in cell (%d, %d) but is chained in (%d, %d)",
                                (int)index, (int)cell_x, (int)cell_y, (int)x, (int)y);
                    return false;
                }
                linked += 1;
                index = object->next_object_index;
            }
        }
    int32_t used = 0;
    for (int32_t index = 0; index < count; ++index)
        if (get_object(index)) used += 1;
    if (mesh_width > 0 && linked != used)
    {
        log_message(__FILE__, __LINE__, "%d objects exist but %d are chained", (int)used, (int)linked);
        return false;
    }
    // The scan chains: each the objects of its cell's chain a scan can meet, in order.
    make_scan_chains_current();
    int32_t scanned = 0;
    for (int32_t y = 0; y < object_globals.scan_height; ++y)
        for (int32_t x = 0; x < object_globals.scan_width; ++x)
        {
            int32_t expected = NONE, steps = 0, others = 0, open = 0, still = 0;
            int32_t next_scanned = *scan_head(x, y);
            for (int32_t index = get_mesh_cell(x, y)->first_object_index;; ++steps)
            {
                // The next object of the chain a scan can meet (NONE at its end).
                while (index != NONE && !object_can_be_scanned(get_object(index)))
                    index = get_object(index)->next_object_index;
                expected = index;
                if (expected != next_scanned || steps > count)
                {
                    log_message(__FILE__, __LINE__, "cell (%d, %d): scan chain holds %d where its chain has %d",
                                (int)x, (int)y, (int)next_scanned, (int)expected);
                    return false;
                }
                if (expected == NONE)
                {
                    if (others != object_globals.scan_others[(size_t)x + (size_t)y * (size_t)object_globals.scan_width])
                    {
                        log_message(__FILE__, __LINE__, "cell (%d, %d): %d objects other than units' counted, %d chained",
                                    (int)x, (int)y,
                                    (int)object_globals.scan_others[(size_t)x + (size_t)y * (size_t)object_globals.scan_width],
                                    (int)others);
                        return false;
                    }
                    const size_t cell = (size_t)x + (size_t)y * (size_t)object_globals.scan_width;
                    if (open != object_globals.scan_open[cell] || still != object_globals.scan_still[cell])
                    {
                        log_message(__FILE__, __LINE__,
                                    "cell (%d, %d): %d and %d objects counted open and still, %d and %d kept so",
                                    (int)x, (int)y, (int)object_globals.scan_open[cell],
                                    (int)object_globals.scan_still[cell], (int)open, (int)still);
                        return false;
                    }
                    break;
                }
                if (get_object(index)->owner != _object_is_monster) others += 1;
                if ((size_t)index < object_globals.scan_facts.size())
                {
                    const obstacle_facts &facts = object_globals.scan_facts[(size_t)index];
                    const bool is_open = !(facts.flags & _obstacle_fact_refused_flag);
                    open += is_open ? 1 : 0;
                    still += is_open && !facts_of_moving_unit(facts) ? 1 : 0;
                }
                if (get_object(index)->radius > object_globals.scan_radius_bound)
                {
                    log_message(__FILE__, __LINE__, "object %d has radius %d, above the scan chains' bound %d",
                                (int)index, (int)get_object(index)->radius, (int)object_globals.scan_radius_bound);
                    return false;
                }
                scanned += 1;
                index = get_object(index)->next_object_index;
                next_scanned = object_globals.scan_next[(size_t)next_scanned];
            }
        }
    int32_t marked = 0;
    for (const int16_t next : object_globals.scan_next)
        if (next != NOT_IN_SCAN_CHAIN) marked += 1;
    if (marked != scanned)
    {
        log_message(__FILE__, __LINE__, "%d objects are marked as in scan chains but %d are in them", (int)marked,
                    (int)scanned);
        return false;
    }
    return true;
}

// Flags only this machine's interface and camera set, and the one its blood
// lock (a preference) sets on bloody effects it does not draw: nothing the
// game computes reads them, and two machines may differ in each.
static const uint32_t LOCAL_OBJECT_FLAGS = _object_is_selected_flag | _object_is_tracking_flag |
                                           _object_attack_highlighted_flag | _object_mouse_over_highlighted_flag |
                                           _object_is_not_rendered_flag;

enum { OBJECT_HASH_SIZE = 34 * 4 };

// The hashed bytes of the object in slot `index`, written from `out` on.
static void write_object_hash_bytes(int32_t index, const object_data *object, uint8_t *out)
{
    state_hash_cursor cursor = {out};
    auto put = [&cursor](int32_t value) { cursor.put(value); };
    put(index); put(object->identifier); put(object->type); put((int32_t)(object->flags & ~LOCAL_OBJECT_FLAGS));
    put(object->extra_flags); put(object->owner); put(object->owner_index); put(object->location.position.x);
    put(object->location.position.y); put(object->location.position.z); put(object->location.velocity.i);
    put(object->location.velocity.j); put(object->location.velocity.k); put(object->location.height);
    put(object->location.yaw); put(object->location.pitch); put(object->radius); put(object->height0);
    put(object->height1); put(object->scale); put(object->shape_sequence_index); put(object->shape_frame_index);
    put(object->shape_view_index); put(object->shape_phase); put(object->shape_ticks_per_frame);
    put(object->transfer_mode); put(object->transfer_phase); put(object->vitality); put(object->maximum_vitality);
    put(object->state); put(object->expiry); put(object->next_object_index); put(object->parasitic_object_index);
    put(object->color_table_permutation);
    VASSERT(cursor.out == out + OBJECT_HASH_SIZE, "object hash record of the wrong size");
}

// Slots whose record did not change since the last hash (the arrows lying on
// the ground, the scenery, the resting dead: most objects of a long battle)
// cost a comparison and a table step instead of thirty-four byte swaps and
// the CRC of their bytes.
void hash_objects(uint32_t *hash)
{
    const int32_t count = object_data_globals.count;
    state_hash_add_int32(hash, count);
    state_hash_add_kept_records<object_data, OBJECT_HASH_SIZE>(hash, &object_globals.hash_records,
                                                               &object_data_globals, count, write_object_hash_bytes);
}

void plant_object_hash_cache_fault(int32_t object_index) { object_globals.hash_records.fault_slot = object_index; }
