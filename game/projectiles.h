#pragma once
// Projectiles: the synchronized missiles, debris, blood, sparks, contrail
// puffs and dropped items.  Each is a record of the "projectile" array plus an
// object owned by it (owner kind _object_is_projectile).  They move once per
// tick in update_projectiles, between the lightning and the units.
//
// Everything here is simulation: integer arithmetic, and vesk_random drawn
// only in the order docs/determinism.md ("Projectiles") writes down.  Main
// thread only.
//
// A projectile ends by detonating, by being promoted (replaced by a group, a
// projectile and/or a unit) or by falling asleep: its object then stays on the
// ground as a dormant projectile (owner kind _object_is_dormant_projectile,
// owner_index = the definition) without a record here.

#include "cseries/cseries.h"
#include "damage.h"
#include "objects.h"
#include "projectile_definitions.h"
#include "world.h"

struct definition_globals;
struct internal_projectile_group_request;
struct marker_data;
struct marker_palette_entry;

enum
{
    MAXIMUM_PROJECTILES_PER_MAP = 1024, // fixed: the array never grows
    MAXIMUM_PROMOTION_RECURSION_DEPTH = 256,
    MINIMUM_BOUNCE_STAIN_SEPARATION = 64,
    MAXIMUM_STAIN_HEIGHT = 1536,
    MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE = 16,
    // From this gameplay version a kinetic projectile that strikes something
    // is judged by the speed it struck with, whatever its direction.  Earlier
    // rules read its velocity after the move, which a solid object it struck
    // had already stopped (so an arrow never hurt a unit), and compared the
    // signed components (so one flying toward lower x, y and z was spent).
    FIRST_GAMEPLAY_VERSION_WITH_KINETIC_STRIKE_SPEED = 1830,
    GUIDED_PROJECTILE_THRESHOLD_DISTANCE = 64,
    PROJECTILE_GROUP_DELAY_DELTA = 30,
    NEARBY_TARGET_MONSTER_RADIUS = 4, // cells
    PROJECTILE_GOT_TIME_MASK = 31,
    GUIDED_PROJECTILE_MASK = 7,
    // Load shedding: above the first count blood and media-surface effects are
    // refused, from the second on purely decorative projectiles too.
    PROJECTILE_LOAD_SHEDDING_THRESHOLD = 924,
    DECORATIVE_PROJECTILE_LOAD_SHEDDING_THRESHOLD = 985,
};

// Bits of projectile_data.flags.
enum projectile_data_flag_bits
{
    _projectile_detonates_immediately = 0, // also set while a detonation runs
    _projectile_cannot_detonate,
    _projectile_is_masonary,
    _projectile_is_smoking,
    _projectile_has_valid_target_location,
    _projectile_originated_from_uncontrollable_monster,
    _projectile_originated_from_ambient_life_monster,
    _projectile_originated_from_monster_with_no_visibility,
    _projectile_has_no_lifespan,
};
enum projectile_data_flags : uint16_t
{
    _projectile_detonates_immediately_flag = FLAG(_projectile_detonates_immediately),
    _projectile_cannot_detonate_flag = FLAG(_projectile_cannot_detonate),
    _projectile_is_masonary_flag = FLAG(_projectile_is_masonary),
    _projectile_is_smoking_flag = FLAG(_projectile_is_smoking),
    _projectile_has_valid_target_location_flag = FLAG(_projectile_has_valid_target_location),
    _projectile_originated_from_uncontrollable_monster_flag = FLAG(_projectile_originated_from_uncontrollable_monster),
    _projectile_originated_from_ambient_life_monster_flag = FLAG(_projectile_originated_from_ambient_life_monster),
    _projectile_originated_from_monster_with_no_visibility_flag =
        FLAG(_projectile_originated_from_monster_with_no_visibility),
    _projectile_has_no_lifespan_flag = FLAG(_projectile_has_no_lifespan),
    // The three a dormant object keeps (dormant_proj_flags) and a child inherits.
    PROJECTILE_ORIGIN_FLAGS = 0xE0,
};

// One projectile.  In memory only; the state hash covers every field but
// local_projectile_group_index (a local effect).
struct projectile_data
{
    int16_t identifier;
    uint16_t flags; // projectile_data_flags
    int16_t type;   // 'proj' definition; NONE for a fading special projectile
    int16_t object_index;
    int16_t target_monster_index;
    int16_t owner_unit_index; // unit type of the firing unit
    int16_t owner_monster_index;
    short_fixed damage_scale;
    int16_t ticks_since_last_contrail;
    int16_t contrail_count;
    int16_t lifespan;
    fixed_fraction contrail_frequency;
    fixed_fraction particle_system_density;
    int16_t delay;
    world_point2d last_bounce_stain_position;
    int16_t lightning_index, lightning_identifier;
    world_point3d target_location;
    int16_t visible_projectile_group_type;
    int16_t original_owner_player_index;
    world_distance guided_speed;
    world_distance last_distance_to_target;
    int16_t local_projectile_group_index; // local, not hashed
};

// What new_projectile makes a projectile from.
struct new_projectile_data
{
    int16_t type;
    uint16_t flags; // projectile_data_flags to start with
    world_location3d location;
    short_fixed damage_scale;
    int16_t owner_monster_index, owner_projectile_index, owner_object_index, target_monster_index;
    world_point3d target_location;
};

enum new_projectile_group_flag_bits
{
    _new_projectile_group_uses_vector = 0,
    _new_projectile_group_uses_epicenter_as_origin,
    _new_projectile_group_has_masonary_source,
    _new_projectile_group_has_smoking_source,
    _new_projectile_group_cannot_detonate,
    _new_projectile_group_detonate_explosives,
    _new_projectile_group_central,
    _new_projectile_group_delayed,
    _new_projectile_group_no_blood,
};
enum new_projectile_group_flags : uint32_t
{
    _new_projectile_group_uses_vector_flag = FLAG(_new_projectile_group_uses_vector),
    _new_projectile_group_uses_epicenter_as_origin_flag = FLAG(_new_projectile_group_uses_epicenter_as_origin),
    _new_projectile_group_has_masonary_source_flag = FLAG(_new_projectile_group_has_masonary_source),
    _new_projectile_group_has_smoking_source_flag = FLAG(_new_projectile_group_has_smoking_source),
    _new_projectile_group_cannot_detonate_flag = FLAG(_new_projectile_group_cannot_detonate),
    _new_projectile_group_detonate_explosives_flag = FLAG(_new_projectile_group_detonate_explosives),
    _new_projectile_group_central_flag = FLAG(_new_projectile_group_central),
    _new_projectile_group_delayed_flag = FLAG(_new_projectile_group_delayed),
    _new_projectile_group_no_blood_flag = FLAG(_new_projectile_group_no_blood),
};

struct new_projectile_group_data
{
    uint32_t flags; // new_projectile_group_flags
    int16_t type;   // 'prgr' definition
    int16_t owner_object_index, bounds_object_index, owner_monster_index;
    world_point3d epicenter;
    world_distance velocity;
    world_vector3d vector;
};

enum update_projectile_state
{
    _update_projectile_null = 0,
    _update_projectile_detonate,
    _update_projectile_promote,
    _update_projectile_sleep,
};

enum internal_projectile_type
{
    _internal_projectile_masonary_dust = 0, // 'indc'
    _internal_projectile_smoke_trail,       // 'inst'
    NUMBER_OF_INTERNAL_PROJECTILES
};

// ---- life cycle ------------------------------------------------------------------

// Start-up: the array and the definition groups 'proj' and 'prgr'.
bool initialize_projectiles(void);
void initialize_projectiles_for_new_map(void);
void dispose_projectiles_from_old_map(void);
// Resolves the internal projectiles ('indc', 'inst') for the map; NONE when missing.
void initialize_internal_projectiles_for_new_map(void);

definition_globals *get_projectile_definition_group(void);
definition_globals *get_projectile_group_definition_group(void);
const projectile_definition *get_projectile_definition(int32_t type);
const projectile_group_definition *get_projectile_group_definition(int32_t type);
int16_t get_internal_projectile_type(int32_t internal_type);

projectile_data *get_projectile_data(int32_t projectile_index); // null for a free slot
int32_t get_projectile_slot_count(void);                        // high-water mark: walk 0..count-1
int32_t get_projectile_count(void);                             // slots in use

// ---- operations ------------------------------------------------------------------

int32_t new_projectile(const new_projectile_data *data);
void new_projectile_group(const new_projectile_group_data *data);
int32_t new_projectile_group_part(const new_projectile_group_data *data, short_fixed position_lower_bound,
                                  short_fixed position_delta, int16_t projectile_type, uint32_t part_flags,
                                  bool no_blood);
void detonate_projectile(const world_point3d *epicenter, short_world_distance velocity, int32_t projectile_index,
                         int32_t obstacle_index, bool remains_after_detonation);
void promote_projectile(int32_t projectile_index);
void accelerate_projectile(const damage_definition *definition, damage_data *data, int32_t object_index);
int32_t wake_projectile(int32_t object_index, int32_t owner_unit_index);
void sleep_projectile(int32_t projectile_index);
int32_t fade_object(bool out, int32_t object_index, int16_t delay, int16_t fade_ticks);
int32_t new_projectile_from_marker(marker_data *marker, marker_palette_entry *entry);
bool new_projectile_palette_entry(marker_palette_entry *entry);
void orphan_monster_projectiles(int32_t monster_index, uint32_t died_flags);
// The projectile group type of a 'prgr' tag (the unit action machine's
// internal groups, resolved per map); NONE when absent or before the groups load.
int16_t projectile_group_type_of_tag(tag group_tag);
// Makes the internal group the unit action machine asks for at the unit.
void new_projectile_group_for_unit(const internal_projectile_group_request *request);
void update_projectiles(void);

// The console line of a promotion chain stopped by the recursion guard, once
// per chain; the depth of the chain being made now.
int32_t get_projectile_recursion_depth(void);

// ---- registration points ---------------------------------------------------------
// Filled by the modules built after this one; until then each answers
// "nothing happened".

// A projectile reads what it needs of a unit (type, owner, object,
// identifier, origin flags, mana) from the unit record itself, and a
// mana-proportional detonation empties the owner's mana there: both live in
// this library, so no point stands between them.
// The units and the local projectile groups share this library: an owner
// stepping out of hiding (its location height from version 1710), promotion
// into a unit and a projectile's visual particle group are direct calls.

// A projectile's sounds (flight at creation, rebound after a strike that did
// not detonate, a group's sound on its bounds object) go to the sound table's
// `play_projectile_sound` (sound_procedures.h); silent until it is filled.

void preload_projectile_sequences(void);

// Registers start-up, per-map stores, map steps, the tick step, the marker
// row and accelerate_projectile (game/subsystems.cpp).
void register_projectile_hooks(void);
