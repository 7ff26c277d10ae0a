// Formations: slot layouts of the ten formation types and their per-map life.

#include "formations.h"

#include <cstring>

#include "monster_orders.h"

enum
{
    RADIAN = 10430, // angle units per radian, truncated
    MINIMUM_ENCIRCLEMENT_RADIUS = 4 * FORMATION_SPACING,
};

static struct formation_globals
{
    bool map_in_progress;
    // Scratch of the slot assignment: which units have a slot already.
    bool placed[MAXIMUM_UNITS_PER_FORMATION];
} formation_globals;

static const char *const formation_names[NUMBER_OF_FORMATION_TYPES] = {
    "short line", "long line", "loose line", "staggered line", "box",
    "mob", "shallow encirclement", "deep encirclement", "vanguard", "circle"};

bool valid_formation_index(int32_t formation_index)
{
    return formation_index >= 0 && formation_index < NUMBER_OF_FORMATION_TYPES;
}

const char *get_formation_name(int32_t formation_index)
{
    return valid_formation_index(formation_index) ? formation_names[formation_index] : "none";
}

// A slot relative to the destination: `forward` along the facing, `left` a
// quarter turn anticlockwise from it.
struct formation_offset
{
    int32_t forward, left;
};

// Ranks of `width` files, the front rank on the destination, centred across;
// odd ranks shifted half a spacing when `staggered`.
static formation_offset rank_slot(int32_t k, int32_t count, int32_t width, int32_t spacing, bool staggered)
{
    const int32_t rank = k / width, file = k % width;
    const int32_t in_rank = count - rank * width < width ? count - rank * width : width;
    formation_offset offset;
    offset.left = ((2 * file - (in_rank - 1)) * spacing) / 2;
    if (staggered && (rank & 1)) offset.left += spacing / 2;
    offset.forward = -rank * spacing;
    return offset;
}

static int32_t square_width(int32_t count)
{
    int32_t width = 1;
    while (width * width < count) ++width;
    return width;
}

// A crescent whose middle lies on the destination and whose wings reach
// forward, neighbours FORMATION_SPACING apart along the arc, spanning at most
// 2 x `half_span`.
static formation_offset encirclement_slot(int32_t k, int32_t count, int32_t half_span)
{
    formation_offset offset = {0, 0};
    if (count < 2) return offset;
    int32_t radius = (int32_t)(((int64_t)(count - 1) * FORMATION_SPACING * RADIAN) / (2 * half_span));
    if (radius < MINIMUM_ENCIRCLEMENT_RADIUS) radius = MINIMUM_ENCIRCLEMENT_RADIUS;
    const int32_t span = (int32_t)(((int64_t)(count - 1) * FORMATION_SPACING * RADIAN) / radius);
    const angle a = (angle)(-span / 2 + (span * k) / (count - 1));
    offset.forward = (int32_t)(((int64_t)radius * (TRIG_MAGNITUDE - cosine_rounded(a))) >> TRIG_SHIFT);
    offset.left = (int32_t)(-(((int64_t)radius * sine_rounded(a)) >> TRIG_SHIFT));
    return offset;
}

static formation_offset formation_slot(int32_t formation_index, int32_t k, int32_t count)
{
    const int32_t s = FORMATION_SPACING;
    switch (formation_index)
    {
    case _formation_short_line: return rank_slot(k, count, (count + 1) / 2, s, false);
    case _formation_long_line: return rank_slot(k, count, count, s, false);
    case _formation_loose_line: return rank_slot(k, count, count, 2 * s, false);
    case _formation_staggered_line: return rank_slot(k, count, (count + 1) / 2, s, true);
    case _formation_box: return rank_slot(k, count, square_width(count), s, false);
    case _formation_mob:
    {
        // A tighter box, each slot pushed by a fixed pattern of eighths.
        formation_offset offset = rank_slot(k, count, square_width(count), (3 * s) / 4, false);
        offset.left += (((k * 7) % 5) - 2) * (s / 8);
        offset.forward += (((k * 3) % 5) - 2) * (s / 8);
        return offset;
    }
    case _formation_shallow_encirclement: return encirclement_slot(k, count, QUARTER_CIRCLE * 2 / 3);
    case _formation_deep_encirclement: return encirclement_slot(k, count, QUARTER_CIRCLE * 4 / 3);
    case _formation_vanguard:
    {
        // A wedge: the point on the destination, pairs of wings behind it.
        formation_offset offset = {0, 0};
        if (k == 0) return offset;
        const int32_t row = (k + 1) / 2;
        offset.left = (k & 1) ? row * s : -row * s;
        offset.forward = -row * s;
        return offset;
    }
    case _formation_circle:
    default:
    {
        formation_offset offset = {0, 0};
        if (count < 2) return offset;
        int32_t radius = (int32_t)(((int64_t)count * s * RADIAN) / FULL_CIRCLE);
        if (radius < s) radius = s;
        const angle a = (angle)((FULL_CIRCLE * k) / count);
        offset.forward = (int32_t)(((int64_t)radius * cosine_rounded(a)) >> TRIG_SHIFT);
        offset.left = (int32_t)(((int64_t)radius * sine_rounded(a)) >> TRIG_SHIFT);
        return offset;
    }
    }
}

bool build_formation_slots(int32_t formation_index, int32_t count, const world_point2d *destination, angle facing,
                           world_point2d *slots)
{
    if (!valid_formation_index(formation_index) || count < 1 || count > MAXIMUM_UNITS_PER_FORMATION ||
        !destination || !slots)
        return false;
    const int64_t cosine = cosine_rounded(facing), sine = sine_rounded(facing);
    for (int32_t k = 0; k < count; ++k)
    {
        const formation_offset offset = formation_slot(formation_index, k, count);
        world_point2d slot;
        slot.x = destination->x + (world_distance)((offset.forward * cosine - offset.left * sine) >> TRIG_SHIFT);
        slot.y = destination->y + (world_distance)((offset.forward * sine + offset.left * cosine) >> TRIG_SHIFT);
        clamp_point_to_mesh(&slot);
        slots[k] = slot;
    }
    return true;
}

void assign_formation_slots(int32_t count, const world_point2d *positions, const world_point2d *centre,
                            const world_point2d *slots, int16_t *slot_of_unit)
{
    if (count < 1 || count > MAXIMUM_UNITS_PER_FORMATION || !positions || !centre || !slots || !slot_of_unit) return;
    int64_t sum_x = 0, sum_y = 0;
    for (int32_t k = 0; k < count; ++k)
    {
        sum_x += slots[k].x;
        sum_y += slots[k].y;
    }
    const int64_t slot_centre_x = sum_x / count, slot_centre_y = sum_y / count;
    bool *placed = formation_globals.placed;
    memset(placed, 0, sizeof(formation_globals.placed));
    for (int32_t k = 0; k < count; ++k)
    {
        const int64_t slot_x = slots[k].x - slot_centre_x, slot_y = slots[k].y - slot_centre_y;
        int32_t best = NONE;
        int64_t best_distance = 0;
        for (int32_t unit = 0; unit < count; ++unit)
        {
            if (placed[unit]) continue;
            const int64_t dx = (int64_t)positions[unit].x - centre->x - slot_x;
            const int64_t dy = (int64_t)positions[unit].y - centre->y - slot_y;
            const int64_t distance = dx * dx + dy * dy;
            if (best == NONE || distance < best_distance)
            {
                best = unit;
                best_distance = distance;
            }
        }
        placed[best] = true;
        slot_of_unit[best] = (int16_t)k;
    }
}

bool initialize_formations(void)
{
    memset(&formation_globals, 0, sizeof(formation_globals));
    return true;
}

bool initialize_formations_for_new_map(void)
{
    memset(formation_globals.placed, 0, sizeof(formation_globals.placed));
    formation_globals.map_in_progress = true;
    return true;
}

void dispose_formations_from_old_map(void)
{
    formation_globals.map_in_progress = false;
}
