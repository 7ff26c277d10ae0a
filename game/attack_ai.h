#pragma once
// The attack AI: groups of units told by the scripts to attack, given targets after each script pass.
//
// During a pass of the map actions, procedures hand groups of units to the
// attack AI (`attack_with_monster_indexes`); each group is appended, with the
// units' indexes and identifiers and its configuration, to a buffer of
// ATTACK_AI_BUFFER_SIZE bytes that `reset_attack_ai` empties before the pass.
// After the pass `update_attack_ai` works the groups off in the order they
// were appended: each group's living units are sent against the nearest
// enemy spatial group through target commands carried out at once (internal
// command identifier -2).  The choice, the layout of the buffer and its
// budget are in docs/determinism.md ("The attack AI").
//
// Synchronized: it reads units and spatial groups in a fixed order and draws
// no random numbers; its buffer joins the state hash.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

enum
{
    ATTACK_AI_BUFFER_SIZE = 16384,
    ATTACK_AI_GROUP_HEADER_SIZE = 16, // flags, count, focus, radius
    ATTACK_AI_MONSTER_ENTRY_SIZE = 4, // index, identifier
};

enum attack_ai_flag_bits
{
    _attack_ai_no_focus_bit = 0,
    _attack_ai_no_focus_flag = FLAG(_attack_ai_no_focus_bit),
};

struct attack_ai_configuration
{
    uint16_t flags; // attack_ai_flag_bits
    world_point2d focus; // without the no-focus flag: only enemies near it are attacked
    world_distance radius; // around the focus; 0 or less: no limit
};

// ---- life cycle ------------------------------------------------------------------------

// Once at start-up: the empty buffer; registers the state hash.
bool initialize_attack_ai(void);
void initialize_attack_ai_for_new_map(void);
void dispose_attack_ai_from_old_map(void);

// ---- a pass of the map actions ----------------------------------------------------------

// Empties the buffer; before the procedures of a pass run.
void reset_attack_ai(void);
// Gives every buffered group its targets, in the order they were appended;
// after the procedures of a pass ran and after build_spatial_groups.
void update_attack_ai(void);

// ---- what the procedures call ------------------------------------------------------------

// The defaults: the no-focus flag, focus (0, 0), radius 0.
void new_attack_ai_configuration(attack_ai_configuration *configuration);

// The defaults, then what the map action `action_index` says: its parameter
// 'aifo' (a point) sets the focus and clears the no-focus flag, 'aira' (a
// distance) the radius; links are followed.  False when the action cannot be
// read (no reader is registered, or the reader knows no such action) or its
// radius is negative (logged); the configuration then keeps what could be read
// and a radius of 0.
bool parse_attack_ai_configuration(attack_ai_configuration *configuration, int32_t action_index);

// Appends a group: the units among `indexes` that exist (at most 400), with
// their identifiers and the configuration.  A group with no such unit adds
// nothing; one that does not fit in what is left of the buffer is dropped with
// the log line "### overwrote attack ai buffer".
void attack_with_monster_indexes(const attack_ai_configuration *configuration, int32_t count,
                                 const int16_t *indexes);

// Every unit of the team that is on the map, in index order, as one group
// with the default configuration.
void attack_with_all_monster_indexes(int16_t team_index);

// Adds the buffer to the state hash (registered by initialize_attack_ai).
void hash_attack_ai(uint32_t *hash);

// ---- registration point ------------------------------------------------------------------

