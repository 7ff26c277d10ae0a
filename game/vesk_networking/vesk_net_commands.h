#pragma once
// The commands only a network game issues: adding a player who joined the
// game in progress, dropping a player who left, and the forced end of the
// game.  Their builders, and the executors of the add-player and
// forced-endgame verbs (the drop-player verb is the units', which tells this
// layer through its drop-player point).
//
// Main thread only; the executors run inside the tick and touch only
// synchronized state and, for the local player, the local indexes.

#include <cstddef>
#include <cstdint>

#include "commands.h"
#include "cseries/byte_swapping.h"
#include "game_records.h" // player_appearance_data

// The data of an add-player command; big-endian in the command.
struct command_add_player_data
{
    uint32_t player_id_to_add; // network id
    int16_t to_team_index;
    int16_t version;
    uint32_t metaserver_player_id;
    player_appearance_data appearance;
};
static_assert(sizeof(command_add_player_data) == 96);
static_assert(offsetof(command_add_player_data, to_team_index) == 4);
static_assert(offsetof(command_add_player_data, version) == 6);
static_assert(offsetof(command_add_player_data, metaserver_player_id) == 8);
static_assert(offsetof(command_add_player_data, appearance) == 12);
extern const byte_swap_code command_add_player_data_byte_swapping_data[];

// The data of a forced-endgame command: the forced_endgame_type.
struct command_forced_endgame_data
{
    int32_t type;
};
static_assert(sizeof(command_forced_endgame_data) == 4);
extern const byte_swap_code command_forced_endgame_data_byte_swapping_data[];

// Builds in `buffer` (MAXIMUM_COMMAND_SIZE bytes) and returns the header, or
// null when the codec refuses.
command_header *build_add_player_command(void *buffer, int32_t player_id, int16_t team_index, int16_t version,
                                         int32_t metaserver_player_id, const player_appearance_data *appearance);
// No data; `player_index` is the dropped player's network id; its time the
// local clock.
command_header *build_drop_player_command(void *buffer, int32_t player_id);
// Queues a forced-endgame command of `type` as outgoing (gameplay versions
// above 1720 only).
void handle_forced_endgame_command(int16_t type);

// Registers the executors of the add-player and forced-endgame verbs.
void register_net_command_verbs(void);
