#pragma once
// Joining a cooperative game in progress.  The joiner is given the game's
// description, the players as they stood at the start and then every command
// of the host's history, in batches it asks for, so that its own game replays
// from tick 0 until it catches up; then the host marks it arrived and issues
// an add-player command, whose execution gives the joiner its place.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

enum
{
    MIDGAME_JOIN_MINIMUM_VERSION = 2182, // the joiner's record's `version`
    // A batch stops at an entry this many ticks after its first.
    MIDGAME_BATCH_TICK_SPAN = 900,
    MIDGAME_MAXIMUM_BATCH_BYTES = 4096,
    _networking_string_bad_player_record = 30,
};

// The host's admission check, called by the library for every join request:
// false refuses with the text in `message` (NET_ALLOW_JOIN_REASON_SIZE bytes).
// A joiner whose version cannot play the game's rules (the running game's,
// else those of the description set up) is refused with the two versions.
// A joiner whose record names other data than the host's (data tags, below)
// is refused with both.
bool allow_vesk_player_to_join(const void *data, int32_t length, char *message);

// The host: a player was added while the game is in progress.
void begin_late_joiner(int32_t player_id);
// The host: the joiner at list index `index` reported at the barrier.
void midgame_joiner_reported(int16_t index);
// Sends the players at the start of the game to one player.
bool send_begin_game_midgame_to_player(int32_t player_id);

void handle_begin_game_midgame_packet(void *packet);
void handle_request_more_commands_packet(void *packet);
void handle_coop_vets_data_packet(void *packet);

// The joiner: asks for more history when its game has caught up with what it
// has (each frame while joining).
void request_more_commands_if_needed(void);
bool request_more_commands_for_mid_game_join(void);
// The host, every frame while the game is in progress: feeds the joiners.
// `budget_limit` caps the bytes of one batch (tests pass less than 4096).
void idle_command_history(void);
void idle_command_history_with_budget(int32_t budget_limit);

// The remaining time of the join ("" when not joining).
void get_midgame_time_remaining_string(char *buffer, size_t size);
