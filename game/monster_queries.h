#pragma once
// Queries about one unit: names, experience, artifact charges, nearest enemy,
// sounds, and whether the local player sees it.

#include <cstdint>

#include "world.h"

enum
{
    MAXIMUM_RELEVANT_EXPERIENCE = 5,
};

// linear_distance_to_enemy's answer when there is no enemy.
enum : int32_t
{
    NO_ENEMY_DISTANCE = INT32_MAX,
};

// The experience that sharpens a unit's attacks: one step per kill credited,
// capped at MAXIMUM_RELEVANT_EXPERIENCE.  0 for a free slot or a bad index.
int32_t get_relevant_experience(int32_t monster_index);

// Simulation: the distance (floor of the Euclidean distance in the plane) from
// the unit's object to the nearest enemy unit's object: a used unit on the
// mesh, with an object, not ambient life, whose team is not allied with the
// unit's (units of no team are nobody's allies).  One pass over the unit
// array, squares in 64 bits.  NO_ENEMY_DISTANCE when there is none, or for a
// free slot, a bad index or a unit without an object.
world_distance linear_distance_to_enemy(int32_t monster_index);

// Local: whether the local player sees the unit.  False for a free slot or a
// bad index.  True without a local team (observers, films), and for units of
// the local team or of a team it counts as allied.  Any other unit is seen
// when it is on the mesh, its object is not invisible and
// get_local_object_visibility_lowlevel draws it on its cell of the front
// visibility buffer (without the limited-visibility option: always).
bool get_local_monster_visibility(int32_t monster_index);

// The unit's name: its own `name` when it has one (a rename), else row
// `original_name_string_index` (0..255) of its definition's names list.
// The text is copied into this module's buffer and always terminated, even
// when the stored name fills all 18 bytes; it stays valid until the next
// call.  "" for a free slot, a bad index or a definition without names.
const char *get_monster_name(int32_t monster_index);

// The spelling of monster definition `monster_type`: row 0 of its spelling
// list (singular) for a count of 1, else row 1 (plural), or row 0 when the
// list has no plural.  Owned by the string list.  "" without a definition or
// a spelling list.
const char *get_monster_spelling(int32_t monster_type, int32_t count);

// The charges of the wielded artifact: the carried object's `state`.  0 when
// the unit carries nothing, has no artifact, its object is gone or the count
// was never set (negative), and for a free slot or a bad index.
int32_t get_monster_artifact_charges(int32_t monster_index);
// The wielded artifact definition's `maximum_charges`; 0 without an artifact
// (or a negative maximum).
int32_t get_monster_artifact_charges_max(int32_t monster_index);

// Plays the unit's sound of `sound_type` (a monster_sound_type) at its object:
// the sound of the definition entry whose `sound_types` value is the type,
// one picked by local_random when several are.  Sound only: nothing
// synchronized changes and vesk_random is never drawn.  Nothing for a free
// slot, a unit without an object or a type the definition has no sound for.
void play_monster_sound(int32_t monster_index, int16_t sound_type);
