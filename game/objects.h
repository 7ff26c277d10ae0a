#pragma once
// Objects: the physical records of units, projectiles, scenery and flags.
// Every object lives in the "object" data array and, while a mesh is loaded,
// in exactly one cell chain: the chain of the cell under its position (a
// position off the map counts as the nearest edge cell).  Chains start at the
// cell's `first_object_index` and follow `next_object_index` to -1; a new or
// relinked object goes to the head of its chain.
//
// All of it is simulation: integer arithmetic, vesk_random drawn only where a
// contract says so, in the order it says.  Main thread only.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/data.h"
#include "world.h"

enum
{
    MAXIMUM_OBJECTS_PER_MAP = 2048, // grows in blocks of this size up to 32767
};

// Bits of object_data.flags.  Bit 0 must stay the new-frame flag: scripts of
// old gameplay versions test bit 0 for "carried".
enum object_flag_bits
{
    _object_animation_new_frame_bit = 0,
    _object_animation_key_frame_bit = 1,
    _object_animation_last_frame_bit = 2,
    _object_animation_transfer_finished_bit = 3,
    _object_on_ground_bit = 4, // bits 4-8: the movement state a move replaces
    _object_on_media_bit = 5,
    _object_partially_under_media_bit = 6,
    _object_wholly_under_media_bit = 7,
    _object_at_rest_bit = 8,
    _object_is_invisible_bit = 9,
    _object_is_solid_bit = 10,
    _object_floats_on_land_bit = 11,
    _object_floats_on_media_bit = 12,
    _object_is_permeable_bit = 13,
    _object_is_horizontally_mirrored_bit = 14,
    _object_is_vertically_mirrored_bit = 15,
    _object_is_selected_bit = 16,
    _object_is_flag_bit = 17,
    _object_must_be_included_in_explosions_bit = 18,
    _object_pausing_for_obstacle_to_move_bit = 19,
    _object_was_chosen_to_take_damage_bit = 20,
    _object_is_not_rendered_bit = 21,
    _object_has_no_shadow_bit = 22,
    _object_is_media_surface_effect_bit = 23,
    _object_cannot_be_accelerated_bit = 24,
    _object_animates_backwards_bit = 25,
    _object_respects_monster_visibility_bit = 26,
    _object_invisible_on_overhead_map_bit = 27,
    _object_rendered_transparently_bit = 28,
    _object_is_tracking_bit = 29,
    _object_attack_highlighted_bit = 30,
    _object_mouse_over_highlighted_bit = 31,
};

#define OBJECT_FLAG(name) name##_flag = FLAG(name##_bit)
enum object_flags : uint32_t
{
    OBJECT_FLAG(_object_animation_new_frame),
    OBJECT_FLAG(_object_animation_key_frame),
    OBJECT_FLAG(_object_animation_last_frame),
    OBJECT_FLAG(_object_animation_transfer_finished),
    OBJECT_FLAG(_object_on_ground),
    OBJECT_FLAG(_object_on_media),
    OBJECT_FLAG(_object_partially_under_media),
    OBJECT_FLAG(_object_wholly_under_media),
    OBJECT_FLAG(_object_at_rest),
    OBJECT_FLAG(_object_is_invisible),
    OBJECT_FLAG(_object_is_solid),
    OBJECT_FLAG(_object_floats_on_land),
    OBJECT_FLAG(_object_floats_on_media),
    OBJECT_FLAG(_object_is_permeable),
    OBJECT_FLAG(_object_is_horizontally_mirrored),
    OBJECT_FLAG(_object_is_vertically_mirrored),
    OBJECT_FLAG(_object_is_selected),
    OBJECT_FLAG(_object_is_flag),
    OBJECT_FLAG(_object_must_be_included_in_explosions),
    OBJECT_FLAG(_object_pausing_for_obstacle_to_move),
    OBJECT_FLAG(_object_was_chosen_to_take_damage),
    OBJECT_FLAG(_object_is_not_rendered),
    OBJECT_FLAG(_object_has_no_shadow),
    OBJECT_FLAG(_object_is_media_surface_effect),
    OBJECT_FLAG(_object_cannot_be_accelerated),
    OBJECT_FLAG(_object_animates_backwards),
    OBJECT_FLAG(_object_respects_monster_visibility),
    OBJECT_FLAG(_object_invisible_on_overhead_map),
    OBJECT_FLAG(_object_rendered_transparently),
    OBJECT_FLAG(_object_is_tracking),
    OBJECT_FLAG(_object_attack_highlighted),
    OBJECT_FLAG(_object_mouse_over_highlighted),

    _object_animation_flags = 0xF,
    _object_movement_flags = 0x1F0,
};
#undef OBJECT_FLAG

enum object_extra_flag_bits
{
    _object_is_being_carried_extra_bit = 0,
    _object_is_being_carried_extra_flag = FLAG(_object_is_being_carried_extra_bit),
};

enum object_owner_type
{
    _object_is_nothing = 0,
    _object_is_scenery = 1,
    _object_is_monster = 2,
    _object_is_projectile = 3,
    _object_is_dormant_projectile = 4,
    _object_is_special_projectile = 5,
    _object_is_flag = 6,
};

enum transfer_mode
{
    _transfer_mode_none = 0,
    _transfer_mode_transparent_fade_out,
    _transfer_mode_transparent_fade_in,
    _transfer_mode_shrink_out,
    _transfer_mode_shrink_in,
    _transfer_mode_appearing,
    _transfer_mode_disappearing, // 6: fading out as the renderer sees it
    _transfer_mode_cycle, // repeats: finishes at the end of every period
    NUMBER_OF_TRANSFER_MODES
};

// Shape flags of set_object_shape.
enum shape_flag_bits
{
    _random_sequence_frame_bit = 0,
    _random_sequence_phase_bit = 1,
    _random_sequence_view_bit = 2,
    _loop_sequence_frame_bit = 4,
    _ignore_duplicate_sequences_bit = 5,

    _random_sequence_frame_flag = FLAG(_random_sequence_frame_bit),
    _random_sequence_phase_flag = FLAG(_random_sequence_phase_bit),
    _random_sequence_view_flag = FLAG(_random_sequence_view_bit),
    _loop_sequence_frame_flag = FLAG(_loop_sequence_frame_bit),
    _ignore_duplicate_sequences_flag = FLAG(_ignore_duplicate_sequences_bit),
};

// One object.  In memory only; the state hash covers every field but the
// run-time shape bookkeeping noted below.
struct object_data
{
    int16_t identifier; // data-array identifier; may be forced (a marker's)
    int16_t type; // object definition index
    uint32_t flags; // object_flags
    uint16_t extra_flags;
    int8_t owner; // object_owner_type
    uint8_t tracking_priority; // 0: never offered to camera tracking
    int16_t owner_index;
    // Here, by the fields every walk of a cell chain reads, and not with the
    // other indexes: a walk then touches one cache line per object.
    int16_t next_object_index; // cell chain, -1 ends
    world_location3d location; // location.height: height kept above ground (constant-height objects)
    short_world_distance radius;
    short_world_distance height0, height1; // bottom and top above the position
    short_fixed scale; // 8.8

    int16_t shape_collection_index;
    int16_t shape_sequence_index;
    int16_t shape_frame_index;
    int16_t shape_view_index;
    int16_t shape_phase; // 1/256 ticks spent on the current frame
    int16_t shape_ticks_per_frame; // 0: the animation is frozen
    int16_t shape_rate; // 256 = normal speed
    uint16_t shape_flags; // shape_flag_bits the sequence was set with
    int16_t color_table_index;
    int16_t color_table_permutation;
    int16_t transfer_mode;
    int16_t transfer_phase;
    int16_t transfer_period;

    short_fixed vitality;
    short_fixed maximum_vitality;
    int16_t state; // charges of a carried object; NONE: not set
    int16_t expiry; // seconds left of a carried object

    int16_t parasitic_object_index;
    int16_t transparent_object_index;
    int16_t geometry_index; // -1: drawn as a sprite

    int16_t dormant_proj_flags;
    int16_t original_owner_player_index;

    // The cell whose chain holds the object, NONE while disconnected.
    int16_t cell_x, cell_y;
};

// What new_object makes an object from.
struct new_object_data
{
    uint32_t flags; // new_object_flag_bits
    int16_t type; // object definition index (NONE: a bare object)
    int8_t owner;
    uint8_t tracking_priority;
    int16_t owner_index;
    short_fixed scale; // 0: drawn from the definition's scale range (one vesk_random draw when it has a delta)
    world_location3d location;
    int16_t collection_index;
    int16_t color_table_index;
};

enum new_object_flag_bits
{
    _new_object_on_ground_bit = 0, // the position's z is set to the surface height (mode 0)
    _new_object_on_ground_flag = FLAG(_new_object_on_ground_bit),
};

// The damage a projectile, explosion or attack does (16 bytes stored, in
// the definitions of the units and projectiles that carry it).
struct damage_definition
{
    int16_t type; // damage_type
    uint16_t flags; // damage_flag_bits
    int16_t damage_lower_bound;
    int16_t damage_delta;
    int16_t radius_lower_bound;
    int16_t radius_delta;
    int16_t rate_of_expansion;
    int16_t damage_to_velocity;
};
static_assert(sizeof(damage_definition) == 16);
static_assert(offsetof(damage_definition, rate_of_expansion) == 12);

// Eight 16-bit fields; records that hold a damage nest these codes.
inline constexpr byte_swap_code damage_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _begin_bs_array, 8, _2byte, _end_bs_array, _end_bs_array};

enum damage_type
{
    _damage_explosion = 0,
    _damage_magical,
    _damage_hold,
    _damage_healing,
    _damage_kinetic,
    _damage_steel_slashing,
    _damage_stoning,
    _damage_claws_slashing,
    _damage_explosive_electricity,
    _damage_fire,
    _damage_gas,
    _damage_charm,
    NUMBER_OF_DAMAGE_TYPES
};

enum damage_flag_bits
{
    _damage_does_not_interrupt_events_bit = 0,
    _damage_cannot_be_blocked_bit = 1,
    _damage_is_long_range_bit = 2,
    _damage_does_not_make_monsters_flinch_bit = 3,
    // A unit this kills sets explosives off: its death group's explosive
    // projectiles, and explosive ammunition it would otherwise keep, go off at once.
    _damage_detonates_explosives_immediately_bit = 4,

    _damage_does_not_interrupt_events_flag = FLAG(_damage_does_not_interrupt_events_bit),
    _damage_cannot_be_blocked_flag = FLAG(_damage_cannot_be_blocked_bit),
    _damage_is_long_range_flag = FLAG(_damage_is_long_range_bit),
    _damage_does_not_make_monsters_flinch_flag = FLAG(_damage_does_not_make_monsters_flinch_bit),
    _damage_detonates_explosives_immediately_flag = FLAG(_damage_detonates_explosives_immediately_bit),

    DAMAGE_DEFINITION_FLAGS_MASK = 0x1F,
};

// Result bits of damage_object.
enum damage_result_flags
{
    _damage_result_paralysis_flag = 0x01,
    _damage_result_absorbed_flag = 0x02,
    _damage_result_confusion_flag = 0x04,
    _damage_result_always_shocked_flag = 0x08,
    _damage_result_charm_flag = 0x10,
    _damage_result_vitality_changed_flag = 0x20,
    _damage_result_stoning_flag = 0x40,
};

// Result flags of move_object.
enum move_object_flags
{
    _move_struck_ground_flag = 0x001,
    _move_struck_ceiling_flag = 0x002,
    _move_struck_object_flag = 0x004, // the struck object's index in bits 16-31
    _move_struck_objects_flag = 0x008, // more than one object was struck
    _move_struck_cell_flag = 0x010, // a hidden cell or a model stopped it
    _move_struck_edge_of_mesh_flag = 0x020,
    _move_struck_object_softly_flag = 0x040, // a permeable object: passed through
    _move_changed_cells_flag = 0x080,
    _move_entered_media_flag = 0x100,
    _move_exited_media_flag = 0x200,
};
inline int16_t move_flags_struck_object_index(int32_t flags) { return (int16_t)((uint32_t)flags >> 16); }

enum
{
    // Objects never rise above this height (the ceiling of move_object).
    MAXIMUM_OBJECT_HEIGHT = 16384,
};

// ---- life cycle ----------------------------------------------------------------

// Creates the object array (start-up).  False when it cannot be made.
bool initialize_objects(void);
// Empties the array for the map that begins (the mesh must be loaded first).
void initialize_objects_for_new_map(void);
void dispose_objects_from_old_map(void);

// ---- records -------------------------------------------------------------------

// The object array; only this module writes it (get_object reads it inline:
// every walk and every unit's tick asks for records many times).
extern datum_globals object_data_globals;
// Null for a free slot or an index out of range.
inline object_data *get_object(int32_t object_index)
{
    if (object_index < 0 || object_index >= object_data_globals.capacity) return nullptr;
    return (object_data *)get_datum(&object_data_globals, object_index);
}
// The object at `object_index` when it still holds `identifier`; null otherwise.
object_data *get_object_by_identifier(int32_t object_index, int16_t identifier);
int32_t get_object_count(void); // highest used index + 1 (walk 0..count-1, skip nulls)
struct datum_globals *get_object_array(void);

// Makes an object and links it into the chain of the cell under it.  Shape,
// vitality, radius and heights come from the definition (`type`) scaled by
// the scale.  Draws vesk_random once when data->scale is 0 and the
// definition has a scale delta.  -1 when the array is full (logged) or the
// definition does not exist.
int32_t new_object(const new_object_data *data);

// Unlinks the object from its chain and frees it.  Nothing for a free slot.
void delete_object(int32_t object_index);

// A copy of the object in a new slot (new identifier), linked at the head of
// its cell's chain; -1 when the array is full.
int32_t duplicate_object(int32_t object_index);

// The object `new_index` takes the place of `old_index`: its record moves into
// the old slot, keeping the old identifier and, when it stands in the same
// cell, the old place in the chain (else it goes to the head of its own cell's
// chain); the new slot is freed.  False (nothing changed) when either slot is
// free or both are the same.
bool replace_object(int32_t old_index, int32_t new_index);

// Unlinks the object from its chain / links it at the head of the chain of the
// cell under its position.  Callers that write `location.position` directly
// bracket the change with the two calls.  Disconnecting twice or reconnecting
// a linked object does nothing.
void disconnect_object_from_mesh(int32_t object_index);
void reconnect_object_to_mesh(int32_t object_index);

// ---- scan chains ---------------------------------------------------------------

// Beside each cell's chain this machine keeps the cell's scan chain: the
// objects of the chain that a collision, obstacle or target scan can meet,
// that is the solid objects and the units' objects (owner _object_is_monster),
// in the order of the cell's chain.  A scan that only looks for such objects
// walks the scan chain and meets the same objects in the same order as a walk
// of the whole chain, without the arrows and other debris lying around.  The
// scan chains are local (no hash covers them: the chains and links the hash
// reads are untouched) and follow every link, unlink and replacement here;
// code elsewhere that sets or clears an object's solid flag or changes its
// owner calls object_scan_membership_changed afterwards.  They also keep a
// bound on the radii of the objects they hold, raised as objects join them,
// move or are said to have changed: code elsewhere that writes the radius of
// an object a scan chain holds, and neither moves nor relinks it, calls
// object_scan_membership_changed too (move_object leaves out the side cells
// beyond that bound).
//
// The first object of the scan chain of cell (x, y); NONE when it is empty
// or the cell is off the mesh.
int32_t first_scanned_object(int32_t cell_x, int32_t cell_y);
// The first objects of the scan chains of row `cell_y`, one per column
// (mesh_width of them), for walks over many cells of a row: the same as
// first_scanned_object for each cell.  Null when the row is off the mesh.
// Valid until the next object is made, linked, unlinked or deleted.
const int16_t *get_scan_chain_row(int32_t cell_y);
// Rows first_y..end_y - 1 (all on the mesh) of get_scan_chain_row at once:
// the first, each next one mesh_width entries on; null when a row is off the
// mesh.  The checker sees each row as get_scan_chain_row would.
const int16_t *get_scan_chain_rows(int32_t first_y, int32_t end_y);
// The object after `object_index` in its scan chain; NONE at the end.  Only
// for an object first_scanned_object or this call returned.
int32_t next_scanned_object(int32_t object_index);
// next_scanned_object for every object a scan chain holds, as one array by
// object index, for walks over many cells; valid as get_scan_chain_row's row.
const int16_t *get_scan_chain_links(void);
// No object a scan chain holds has a radius above this (it only rises while
// the chains stand; the scan chain checker counts an object above it).
int32_t get_scan_chain_radius_bound(void);
// Puts the object into its cell's scan chain, at its place, or takes it out,
// as its solid flag and owner now say.  Nothing for a free slot.
void object_scan_membership_changed(int32_t object_index);

// What obstacle collection reads first of each object a scan chain holds,
// by object index, so that a walk refuses most objects without touching
// their records: the position, whether the object is refused whoever plans
// (not solid, invisible; a unit's object pausing for an obstacle, its unit
// gone or invisible, or idle with a path still to plan), and of a unit's
// object what refuses a moving ally (its facing, its unit's speed, team and
// whether it moves).  Kept equal to the records: code that writes an
// object's position or yaw, its solid, invisible or pausing flags, or its
// owner, or a unit's action, needs-new-path flag, invisible extra flag,
// speed or team calls obstacle_facts_changed(object_index) afterwards (a
// unit's fields: unit_obstacle_facts_changed in monsters.h) unless it moves
// the object through move_object, links it, or calls
// object_scan_membership_changed, which do it.
enum
{
    _obstacle_fact_refused_flag = 1, // no planner counts it
    _obstacle_fact_unit_flag = 2, // a unit's object
    _obstacle_fact_moving_flag = 4, // a unit's object, its unit moving
};
struct obstacle_facts
{
    int32_t x, y; // location.position.x and .y
    uint16_t yaw; // a unit's object: location.yaw; else 0
    int16_t speed; // a unit's object: its unit's base_movement_speed; else 0
    int8_t team; // a unit's object: its unit's owner_team_index; else 0
    uint8_t flags; // _obstacle_fact_* flags
};
static_assert(sizeof(obstacle_facts) == 16, "four to a cache line");
// The facts of every object, by object index; valid as get_scan_chain_row's
// row, for the objects a scan chain holds.
const obstacle_facts *get_obstacle_facts(void);
void obstacle_facts_changed(int32_t object_index);
// What a unit says of its object as an obstacle, kept with the object's
// facts (the unit layer works it out from the unit record and sets it after
// every write of the fields it reads; a unit's object made anew has a gone
// unit's, refused, until then).
struct obstacle_unit_facts
{
    bool refused; // gone or invisible, or idle with a path still to plan
    bool moving; // its action is moving
    int8_t team; // owner_team_index
    int16_t speed; // base_movement_speed
};
void set_obstacle_unit_facts(int32_t object_index, const obstacle_unit_facts &unit);
// The same, for a caller that calls obstacle_facts_changed or
// object_scan_membership_changed for the object next, which work its facts
// out again (once for both changes).
void keep_obstacle_unit_facts(int32_t object_index, const obstacle_unit_facts &unit);
// The facts of `object` (a unit's: with its unit's `unit`, null when it has
// none), as obstacle_facts_changed keeps them and the checker compares them.
obstacle_facts obstacle_facts_of(const object_data *object, const obstacle_unit_facts *unit);
// The checker: while on, obstacle collection compares the kept facts of
// every object of the scan chains it walks, and each cell's count of those
// not refused, with the records, and walks every cell with the records'
// facts (tests, and any debugging session); a difference is counted and the
// first few logged.
void set_obstacle_facts_checking(bool on); // also sets the count to 0
bool obstacle_facts_checking(void);
int64_t obstacle_facts_mismatches(void);
void count_obstacle_facts_mismatch(int32_t object_index); // NONE: a kept count of a row
// Test seam: a planted fault that leaves the object's kept facts as they are
// at every change from now on (NONE takes it back).
void plant_obstacle_facts_fault(int32_t object_index);

// What the kept facts say of a cell's open objects (those they do not
// refuse) taken together, so that an obstacle collection can refuse a cell
// of allies marching its way without reading each of them: whether any of
// them is other than a moving unit's object of team 0-15 and, of the moving
// units, the facings, teams and lowest speed.  Worked out again from the
// scan chain at the first look after the chain or the kept facts of one of
// its objects changed (its place within the cell aside).
struct scan_cell_motion
{
    uint64_t yaw_sectors; // bit k: one faces k * 1024 .. k * 1024 + 1023
    uint16_t teams; // bit t: one is of team t
    int16_t slowest; // the lowest speed among them; INT16_MAX without one
    bool others; // an open object that is not a moving unit's of team 0-15
    uint8_t stale; // not 0: out of date, read it through get_scan_cell_motion
};
// What a walk over the rows first_y..end_y - 1 reads, got at once, each
// per-cell array from the block's first row on (each next row mesh_width
// entries on), valid as get_scan_chain_row's row:
// - first_row: the rows of get_scan_chain_rows;
// - others: per cell, how many objects of its chain are not units' objects;
// - open: per cell, how many objects its kept obstacle facts do not refuse
//   (an obstacle collection passes over a cell whose count is 0);
// - still: per cell, how many open objects are not moving units of team
//   0-15 (only a cell whose count is 0 has a summary without `others`);
// - motion: the kept summaries, each current unless its `stale` is set;
// - links and facts: get_scan_chain_links and the kept facts by object index.
// The per-row pointers are null when the rows are not all on the mesh.
struct scan_chain_block
{
    const int16_t *first_row, *others, *open, *still;
    const scan_cell_motion *motion;
    const int16_t *links;
    const obstacle_facts *facts;
};
scan_chain_block get_scan_chain_block(int32_t first_y, int32_t end_y);
// The cell's summary as the kept facts say now (kept from here on); that of
// no object for a cell off the mesh.
scan_cell_motion get_scan_cell_motion(int32_t cell_x, int32_t cell_y);
// The checker's: the summary worked out from the scan chain, whatever is kept.
scan_cell_motion summarize_scan_cell_motion(int32_t cell_x, int32_t cell_y);
// Test seam: a planted fault that leaves each cell's summary as it is at
// every change from now on (false takes it back).
void plant_scan_cell_motion_fault(bool on);

// The checker (tests, and any debugging session): while on, every walk that
// starts at first_scanned_object first walks the cell's whole chain and
// compares the objects a scan can meet there with the scan chain, object by
// object, and checks that each stands in the cell and keeps within the
// radius bound and that the cell's count of objects other than units' is
// right; a difference is counted and logged (the first few).
struct scan_chain_check_counts
{
    int64_t cells_checked;
    int64_t mismatches;
};
void set_scan_chain_checking(bool on); // also sets the counts to 0
scan_chain_check_counts get_scan_chain_check_counts(void);
// Test seam: a planted fault that keeps the object out of every scan chain
// from now on (NONE takes it back), so that a test can see the checker and
// object_chains_are_consistent find it.  The object's slot is what is kept out.
void plant_scan_chain_fault(int32_t object_index);

// hash_objects keeps, per slot, the CRC of the bytes it last hashed and the
// record they came from, and uses the CRC again while the record is
// unchanged (state_hash.h; its checker finds a kept CRC gone wrong).
// Test seam: a planted fault that makes the slot's record count as unchanged
// (its kept CRC is not renewed) from now on; NONE takes it back.
void plant_object_hash_cache_fault(int32_t object_index);

// Moves a non-unit object (projectiles) one tick along its velocity under its
// definition's gravity and returns move_object_flags.  Steps, in order:
// gravity (velocity.k -= gravity, floored at -terminal_velocity); the new
// position = old + velocity; the mesh edge clamps x and y to the map (32, that
// velocity component zeroed); the ceiling clamps z (2); a constant-height
// object takes the surface height + location.height, any other object below
// the ground rests on it (1; k becomes -k * elasticity, or 0 with the at-rest
// flag when that is under 4); a hidden cell or a model surface above the point
// stops the move at the old position (16, velocity zeroed); solid objects whose
// cylinder holds the new point are struck (4 with the first struck index in
// the high bits, 8 when more than one; permeable ones 64 and the move goes on,
// others stop it at the old position); then the cell chain follows (128), and
// the media bits are updated (256 entering, 512 leaving).  0 for a free slot.
int32_t move_object(int32_t object_index);

// ---- shapes --------------------------------------------------------------------

// What the collection module knows of a sequence (frames per view, views,
// ticks per frame, key frame index or NONE), and the key point of a frame as
// offsets from the object's position: forward along its yaw, left, up, in
// world units at scale 1.0.  Until a module registers, every sequence has one
// frame and one view at one tick per frame, and key points lie on the position.
struct shape_sequence_information
{
    int16_t frames_per_view;
    int16_t number_of_views;
    int16_t ticks_per_frame;
    int16_t key_frame;
};
// What is known of a sequence (at least one frame and one view; ticks per frame 0 or more).
shape_sequence_information get_shape_sequence_information(int16_t collection_index, int16_t sequence_index);

// Sets the object's animation: the sequence at frame 0, phase 0, `rate`
// (256 = normal), the transfer mode and period.  With
// _ignore_duplicate_sequences_flag nothing changes when the sequence is already
// set.  vesk_random draws, in this order, one each for a random frame, a
// random phase and a random view when the flags ask.  Sets the new-frame flag.
void set_object_shape(int32_t object_index, int16_t sequence_index, int16_t rate, int16_t transfer_mode,
                      int16_t transfer_period, uint16_t shape_flags, int16_t unused);

// Advances the animation one tick.  Clears the four animation flags, then
// adds the rate to the phase; each time the phase reaches
// ticks_per_frame * 256 the frame steps (backward with
// _object_animates_backwards_flag) and the new-frame flag is set, the key-frame
// flag when the frame reached is the key frame, the last-frame flag when it is
// the sequence's last (first going backward).  Past the last frame every
// sequence starts over (the loop flag changes nothing here).  Frozen while
// shape_ticks_per_frame is 0.  The transfer phase counts ticks up to the
// period: the transfer-finished flag is set on the tick it gets there (and,
// for the cycle mode, at the end of every period).
void animate_object(int32_t object_index);

enum object_point_mode
{
    _object_point_position = 0,
    _object_point_middle = 1, // raised to the middle of height0 and height1
};
// False (out untouched) for a free slot.
bool get_object_point(int32_t mode, int32_t object_index, world_point3d *out);

// The key point of `sequence` (frame_index -1: its key frame, else that frame)
// for the object turned to `yaw`, scaled by the object's scale.  False for a
// free slot.
bool get_object_key_point(int32_t object_index, int16_t sequence_index, int16_t frame_index, angle yaw,
                          world_point3d *out);

// Turns datum identifiers into indexes in place: the existing objects are
// written to `indexes` in order (stale ones dropped); returns their count.
int32_t object_identifiers_to_object_indexes(const int32_t *identifiers, int16_t *indexes, int32_t count);

// ---- damage --------------------------------------------------------------------

// Applies `damage` (vitality units, 8.8) of the definition's type to the object.
// The arithmetic, which films depend on (all 32-bit, shifts are arithmetic):
//  1. m = the object definition's effect modifier for the type (see the table
//     in docs/formats.md; physical types use the long-range modifier when the
//     damage has _damage_is_long_range_flag); 256 without a definition.
//  2. d = (damage * m) >> 8.
//  3. Absorption, for d > 0 and absorbed_fraction > 0:
//     a = (d * absorbed_fraction) >> 16; d -= a; bit 2 when a > 0.
//  4. By type: hold sets bit 1 when d > 0 (no vitality change); stoning
//     sets bit 0x40 when d > 0; charm sets 0x10 when d > 0; healing adds d
//     to the vitality up to the maximum; every other type subtracts d, the
//     result clamped to 0..maximum; gas also sets 4 when the confusion
//     modifier is not 0 and d > 0; explosive electricity sets 8 when d > 0.
//  5. 0x20 when the vitality changed.  An object whose maximum vitality is 0
//     takes no damage (result 0).  `died` becomes true when the vitality
//     fell from above 0 to 0.  `damage_left` gets d.
// Returns the result bits (0: no effect).  `died`, `damage_left` may be null.
int32_t damage_object(int32_t object_index, const damage_definition *definition, int32_t damage,
                      fixed_fraction absorbed_fraction, bool *died, int32_t *damage_left);

// ---- camera tracking and motion interpolation ---------------------------------

// Objects offered to camera tracking: objects made or damaged with a
// tracking priority, and units whose action set one.  The camera is local:
// what it does with an offer never reaches the simulation.  The one point of
// the service: the units offer theirs through `offer_object_to_tracking` too.
typedef void (*object_tracking_procedure)(int32_t object_index);
bool register_object_tracking_procedure(object_tracking_procedure procedure);
// Offers the object to the registered tracking (nothing when none is).
void offer_object_to_tracking(int32_t object_index);

// Motion interpolation: with the preference off (the only mode built) these
// record nothing, and the interpolating calls return false so the renderer
// reads the records themselves.
void begin_motion_interpolated_frame(void);
bool interpolate_object_history(int32_t object_index, world_point3d *out);
void record_local_projectile_history(int32_t local_projectile_index, const world_point3d *position);
bool interpolate_local_projectile_history(int32_t local_projectile_index, world_point3d *out);

// ---- checks and the state hash ------------------------------------------------

// True when every object stands in exactly the chain of the cell under it,
// every chain ends with -1 without visiting a free slot or looping, and every
// cell's scan chain holds exactly the objects of its chain a scan can meet, in
// chain order, none with a radius above the scan chains' bound, and its
// counts of objects not refused and of those still are its kept facts'
// (objects.cpp).
// Writes the first problem to the log.  For tests and debugging.
bool object_chains_are_consistent(void);

// Adds the objects to the state hash (registered by initialize_objects).
void hash_objects(uint32_t *hash);
