#pragma once
// Attack choice and execution and the line-of-fire services: which of a
// unit's attacks to use, how far it stands from where it can use it, how it
// aims (ballistic, straight or at a fixed pitch), what may block the shot
// (models, ground, objects, friends near the target), and the launch, miss or
// fumble of the projectile with the recovery that follows.
//
// Simulation: integer arithmetic (64-bit where a product would overflow 32
// bits, as docs/determinism.md "Attacks" lists), vesk_random drawn only in
// the order written down there.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct monster_attack_definition;
struct object_definition;

// Modes of choose_monster_attack_index.
enum monster_attack_choice_mode
{
    _choose_best_possible_attack_index = 0,
    _choose_best_immediate_attack_index,
    _choose_special_ability_attack_index,
    _choose_reflexive_special_ability_attack_index,
};

// States of handle_monster_attack.
enum monster_attack_state
{
    _monster_attack_aim = 0,
    _monster_attack_execute,
    _monster_attack_abort,
};

// Range status of a candidate attack.
enum
{
    _attack_under_minimum_range_flag = 1,
    _attack_over_maximum_range_flag = 2,
};

// Flags of an aim problem.
enum
{
    _aim_projectile_indirect_flag = 1, // the higher of two ballistic arcs
    _aim_projectile_check_gravity_flag = 2, // a straight shot must clear ground and models
};

enum
{
    MINIMUM_LOB_HEIGHT_DIFFERENCE = 768,
    MINIMUM_LOB_DISTANCE = 2048,
    ELEVATED_PROJECTILE_PITCH = 4096,
    DECLINED_PROJECTILE_PITCH = 64512,
    ABORTED_ATTACK_ERROR_ANGLE = 4096,
    TARGET_LOCATION_OBSTRUCTION_CHECK_DISTANCE = 768,
    DEFAULT_OBJECT_CHECK_DISTANCE = 2048,
    PREFLIGHT_RADIUS_INFLATION_AMOUNT = 512,
    MINIMUM_PROJECTILE_VELOCITY_FRACTION = 25, // of 256
    // A target point within this much of the target is its own ground: the
    // ground check stops short of it.
    GROUND_OBSTRUCTION_TARGET_MARGIN = 256,
    GROUND_OBSTRUCTION_STEP = 128,
    // A guided projectile steers round what lies farther along its line.
    GUIDED_OBJECT_CHECK_DISTANCE = 512,
    // Ticks a prediction looks ahead at most.
    MAXIMUM_TARGET_PREDICTION_TICKS = 255,
    // From this gameplay version a shot that a model or the ground blocks
    // leaves the unit without a targeting solution, as a straight shot of a
    // unit that moves to shoot uphill always did: a unit answering an attack
    // order then closes on its target to find a clear shot.  Earlier rules
    // left it in range and holding, so it waited for a shot that never came
    // (a bowman on the near slope of a ridge stood there for good).
    FIRST_GAMEPLAY_VERSION_CLOSING_ON_BLOCKED_SHOTS = 1830,
};

// ---- attacks -----------------------------------------------------------------

// The attack the unit would use in `mode`, or NONE (also for a free slot).
int32_t choose_monster_attack_index(int32_t monster_index, int32_t mode);

// The check of the kept ranges: a choice in a ranged mode that finds every
// candidate out of its ranges keeps its key (unit, tick, type, the unit's and
// the aim point's places); a choice of the best immediate attack with that
// key, for a unit neither retreating nor wielding an artifact, is answered
// "none" without its pass (the planning's choice and the attack's follow each
// other in a unit's tick).  With checking on, the pass is made all the same
// and an attack it chooses is logged and counted as a mismatch.  The fault
// (tests) keeps the key whatever the ranges held.
struct attack_choice_check_counts
{
    int64_t choices_answered, mismatches;
};
void set_attack_choice_checking(bool on); // also sets the counts to 0
attack_choice_check_counts get_attack_choice_check_counts(void);
void plant_attack_choice_fault(bool on);
// Forgets the kept key: the definitions it stands on are another map's.
void forget_kept_attack_ranges(void);

// How far the unit stands from where its best attack reaches the target:
// negative (the amount) when too close, positive when too far, 0 in range
// (then `path_destination` becomes its position); INT32_MIN when it must
// retreat.  0 for a free slot.
int32_t linear_distance_to_best_point_of_attack(int32_t monster_index);

// Chooses the best immediate attack and aims it.  True when an attack was
// started.  False for a free slot.
bool try_monster_attack(int32_t monster_index);

// The slot (0..3) of the attack's sequences to play at `pitch`.  Draws
// vesk_random exactly once on every call, also for a single candidate and for
// a null attack (which answers 0).
int32_t get_monster_attack_sequence_index(const monster_attack_definition *attack, angle pitch);

// Aims (state 0), executes on the key frame (1) or fumbles (2) the attack.
// Aim: true when the unit entered aiming.  Execute and abort: true once a
// launch was attempted, hit or miss.  False for NONE, a free slot, an attack
// index with no definition, an abort after the unit struck, a failed aim, and
// the aim of a non-immediate attack without a target.
bool handle_monster_attack(int32_t monster_index, int32_t attack_index, int32_t state);

// ---- services --------------------------------------------------------------------

// The attack definition of `attack_index` for the unit: the wielded
// artifact's override attack for ARTIFACT_ATTACK_INDEX (attack 0 from version
// 1511 when the unit wields none; null before), else the unit's attack under
// the index rules of docs/determinism.md; null for a free slot or a unit
// without a definition.
const monster_attack_definition *get_monster_attack_definition(int32_t monster_index, int32_t attack_index);

// The point the unit aims at.  A target location (with its flag) gives the
// location at the surface height there; a target unit (valid target index,
// a used record with an object) gives its object's position, raised to the
// middle of its height when `object_position` is true, moved `ticks_ahead`
// ticks (clamped to 0..255) along its facing at its base movement speed when
// it actually moved this tick.  False when the unit has no target: `out`
// then gets the unit's own position (a free slot leaves it untouched).
bool get_monster_target_location(int32_t monster_index, world_point3d *out, bool object_position,
                                 int32_t ticks_ahead);

// Whether the ground rises into the flight from `origin` toward `target`:
// points every GROUND_OBSTRUCTION_STEP along the line are compared with the
// ground, from the first step up to GROUND_OBSTRUCTION_TARGET_MARGIN short of
// the target; points off the mesh never obstruct.  The flight is the straight
// segment, or, for a falling object (`object` given with a positive gravity)
// launched at `pitch`, the parabola through both ends that leaves the origin
// at that pitch.  The first obstructed point (at ground height) goes to
// `obstruction` (may be null).
bool check_for_ground_obstruction(const world_point3d *origin, const world_point3d *target, angle pitch,
                                  world_point3d *obstruction, const object_definition *object);

// The nearest solid, visible object other than `source_object_index` whose
// footprint the line from `origin` toward `target` crosses within
// `maximum_check_distance` of the origin (GUIDED_OBJECT_CHECK_DISTANCE for a
// guided projectile, when shorter), before the target, or NONE.  An object
// whose footprint holds the target point is what is shot at, never an
// obstruction.  With `check_pitch` the line climbs at `pitch` from the origin
// and passes over or under objects outside their height; an allied unit of
// the source's unit blocks at any height when `dont_shoot_over_friendlies`.
// Without `check_pitch` heights are ignored.
int32_t check_for_object_obstruction(int32_t source_object_index, const world_point3d *origin,
                                     const world_point3d *target, int32_t maximum_check_distance, angle pitch,
                                     bool check_pitch, bool dont_shoot_over_friendlies, bool guided);

// ---- the aim solution ----------------------------------------------------------------

enum projectile_aim_kind
{
    _projectile_aim_ballistic = 0,
    _projectile_aim_straight,
    _projectile_aim_fixed_pitch,
};

// What the three aims solve: from the launch point toward the target for a
// projectile of speed `velocity` (after inertia) under `gravity` (the aim's
// signed vertical acceleration: negative falls; an object definition's
// downward `gravity` of 2 is -2 here).
struct projectile_aim_problem
{
    world_point3d origin; // the launch point L
    world_point3d target; // T
    world_point3d shooter; // the unit's object position (fixed pitch measures from it)
    int32_t velocity;
    int32_t gravity;
    uint32_t aim_flags; // _aim_projectile_indirect_flag
    bool fixed_pitch;
    bool lob_to_hit_lower_nearby_units;
};

struct projectile_aim_solution
{
    bool solved;
    int32_t kind; // projectile_aim_kind
    angle pitch;
    int32_t flight_time;
    int32_t velocity; // a fixed-pitch solution's launch speed, else the problem's
    world_point3d target; // a failed ballistic shot's reach, else the problem's target
};

// Solves the aim (docs/determinism.md "Attacks").  Never divides by zero: a
// zero speed or gravity, and a fixed-pitch flight of 0 ticks, fail.
void solve_projectile_aim(const projectile_aim_problem *problem, projectile_aim_solution *solution);
