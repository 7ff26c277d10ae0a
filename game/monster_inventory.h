#pragma once
// Unit inventory, artifacts and effects: what a unit may pick up, carries,
// wields, throws and drops, how the wielded artifact changes the unit, the
// effect modifiers it takes damage with, group order sounds, the fade-in copy
// of an entrance and magical invisibility.
//
// Carried objects are dormant projectile objects (owner kind 4), invisible
// while held.  A unit whose definition carries several artifacts keeps up to
// `maximum_artifacts_carried` (at most nine) of them in `held_object_indexes`;
// one object, held or not, is wielded (`carrying_object_index`).
//
// Simulation: integer arithmetic; every vesk_random draw and its order is in
// docs/determinism.md ("Inventory and artifacts").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct artifact_definition;
struct command_inventory_data;
struct monster_data;
struct new_projectile_group_data;
struct object_data;

// Bits of monster_could_pick_up_object's answer.
enum monster_could_pick_up_flags : uint32_t
{
    _monster_could_pick_up_object_flag = 0x01,
    _monster_could_pick_up_flag_flag = 0x02,
    _monster_could_pick_up_ammunition_flag = 0x04,
    _monster_could_pick_up_by_promoting_flag = 0x08,
    _monster_could_pick_up_additional_flag = 0x10,
    _monster_could_pick_up_artifact_charge_flag = 0x20,
};

// Durations (ticks) of the fade-in copy of an entrance.
enum
{
    TELEPORT_IN_FADE_TICKS = 30,
    TAIN_IN_FADE_TICKS = 60,
    PLAIN_ENTRANCE_FADE_TICKS = 30,
    MAXIMUM_ENTRANCE_FADE_DELAY = 60,
};

// ---- picking up and giving ----------------------------------------------------------

// The projectile type an object stands for: a live projectile's type, a
// dormant one's owner_index; NONE for anything else (and for null).
int16_t object_projectile_type(const object_data *object);

// Whether the unit may take the object (index and identifier): 0 when not,
// else monster_could_pick_up_flags.  A flag object answers object | flag.
// Free slots, stale identifiers and invisible objects answer 0.
uint32_t monster_could_pick_up_object(int32_t monster_index, int32_t object_index, int16_t object_identifier);

// Gives the object to the unit: ammunition is counted and the object
// deleted, a charge goes into the artifact that takes it, anything else is
// wielded (and joins the inventory when it is an additional object).  The
// answer of monster_could_pick_up_object, 0 when refused (nothing changed).
uint32_t give_object_to_monster(int32_t monster_index, int32_t object_index);

// Re-derives the unit from what it wields: artifact, charges, expiry, the
// type an overriding artifact gives (speed, mana, collection, floating, local
// group), the slowest always-slow artifact held, and the action refresh.
// Nothing for a free slot.
void switch_monster_artifact(int32_t monster_index);

// The wielded artifact expired: it leaves the held list and the next held
// object is wielded.  The last held object stays wielded for one call (from
// version 1600) and is deleted by the next; a wielded object outside the list
// is deleted at once.
void delete_monster_carried_object_monsters(int32_t monster_index);

// A script takes the wielded object away: deleted; `monster_index_for_switch`
// (a unit index, NONE or a free slot for none) re-derives its artifact when
// the unit had one.
void delete_monster_carried_object_unit_control(int32_t monster_index, int32_t monster_index_for_switch);

// The initial artifacts of a new unit: each part of the projectile group
// definition makes its count of projectiles at the unit, each given to it
// (deleted when refused).  Both indexes must be valid (logged and ignored).
void give_artifacts_from_projectile_group(int32_t monster_index, int32_t projectile_group_index);

// ---- dropping -------------------------------------------------------------------------

// Drops an object the unit holds or wields: it leaves the list (the count
// drops only when it was in it) and the hand, is set visible at the unit's
// feet, and with a group request (a death) is woken into a projectile flung
// from the group's epicenter at its velocity; an artifact that is not dropped
// on death is deleted then instead.  The unit's artifact is not re-derived
// (the caller does, or the unit dies).  False when the object is not the
// unit's, or was deleted.
bool drop_carried_object(int32_t monster_index, int32_t object_index, const new_projectile_group_data *data);

// A command or script drops the held object of `held_slot` (0 ..
// held_object_count - 1; any other slot does nothing) and the unit
// re-derives its artifact.  `monster` must be the record at `monster_index`.
// False when nothing was dropped.
bool monster_command_drop_projectile(monster_data *monster, int32_t monster_index, int32_t held_slot);

// The executor of the inventory verbs (wield, drop, next, previous) for
// checked units (the unit commands call it).
void handle_monster_inventory_command(int16_t verb, int32_t player_index, const command_inventory_data *data,
                                      int32_t unit_count, const int16_t *unit_indexes);

// ---- artifacts and effects ------------------------------------------------------------

// Whether the artifact admits the unit: no restriction, the restriction's
// unit type is the unit's original type, or (from version 1511) the
// artifact is restricted by collection and the two definitions share it.
bool artifact_admits_monster(const artifact_definition *artifact, const monster_data *monster);

// Whether the artifact's override of the unit applies: it overrides the
// owner monster, without a restriction of its overrides or admitted by it.
bool artifact_overrides_monster(int32_t artifact_index, int32_t monster_index);

// The 16 effect modifiers the unit takes damage with (8.8; 256 takes a
// damage as it comes).  With `use_artifact` and an artifact: the unit's own
// when `prefer_monster_override_effects` and the artifact overrides the unit,
// else the artifact's bonus modifiers (from version 1601 not when the artifact
// declines to override them).  The unit's own are those of its object's type
// with `default_to_object_effect_modifiers`, else of its definition's object
// type; neutral ones (all 256) without a definition.  The pointer stays valid
// until the definitions change.
const short_fixed *get_monster_effect_modifiers(int32_t monster_index, bool use_artifact,
                                                bool prefer_monster_override_effects,
                                                bool default_to_object_effect_modifiers);

// One modifier under the version rules the action machine, pathfinding and
// damage reactions share: the artifact's override preferred up to version
// 1720, the object's own type from 1801.  256 for a free slot.
int32_t get_monster_effect_modifier(int32_t monster_index, int32_t effect_modifier_index);

// ---- sounds, fades, invisibility --------------------------------------------------------

// Order acknowledgements of a selection: the units of the most common type
// (the first type to reach the highest count) play `sound_type` (0..15;
// others logged and ignored); with more than two of them the single orders
// 0, 3, 5 become the group orders 1, 4, 6.
void play_monsters_sound(const int16_t *monster_indexes, int32_t monster_count, int16_t sound_type);

// The fade-in copy of an entrance: the unit's object is duplicated and the
// copy faded in over `fade_ticks` after (vesk_random() x 60) >> 16 ticks; the
// fade records the unit as owner and `visible_projectile_group_type` as its
// group.  False (the copy deleted) when no fade could be made.
bool new_monster_entrance_fade(int32_t monster_index, int16_t fade_ticks, int16_t visible_projectile_group_type);

// Sets or clears the unit's magical invisibility: the invisible, does-not-
// autotarget and cannot-be-autotargeted extra flags, and the object's
// no-shadow and transparent flags (clearing also clears not-rendered).
void set_monster_magical_invisibility(int32_t monster_index, bool invisible);
