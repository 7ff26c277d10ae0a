#pragma once
// The game record, game time and the tick driver.
//
// Game time counts ticks (30 per second of game time) since the game began.
// Each frame update_vesk advances the command stream, which moves the target
// time, then runs whole ticks while game time is behind the target, at most
// MAXIMUM_GAME_TICKS_PER_FRAME of them (no limit while a saved game is restored
// or films are checked).  One tick calls the tick hooks in their fixed order
// (game_hooks.h), then advances game time, counts the time limit down and does
// the sync bookkeeping.
//
// Local time counts 30 Hz ticks of this machine: the input timer thread
// advances it; everything else only reads it.
//
// Inside the tick: integers only, vesk_random only, no local state.

#include <atomic>
#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

struct new_game_data;

enum
{
    GAME_TICKS_PER_SECOND = 30,
    MAXIMUM_GAME_TICKS_PER_FRAME = 15,
    // How far a single-player or demo game's target time may run ahead of game
    // time: its commands are stamped with the target, so a longer lead would
    // delay the player's orders when the budget keeps cutting frames short.
    MAXIMUM_LOCAL_TARGET_LEAD = 2 * 30,
    SYNC_SNAPSHOT_PERIOD = 512,    // ticks between saved seeds and times
    SYNC_COMMAND_PERIOD = 170,     // ticks between the originator's sync commands
    NUMBER_OF_SYNC_SNAPSHOTS = 8,  // sync commands older than this many snapshots cannot be checked
    // From this version a sync command names the tick it is sent at; below
    // it, the last 512-tick snapshot, the only kind a program of an earlier
    // build keeps: only programs that play 1.8.4 check the other ticks.
    FIRST_GAMEPLAY_VERSION_SYNCING_THE_TICK_SENT = 1840,
    NUMBER_OF_GAME_SPEEDS = 11,
    NORMAL_GAME_SPEED_INDEX = 5,
};

enum game_flag_bits
{
    _game_is_over_flag = 1u << 1,
    _game_is_out_of_sync_flag = 1u << 3,
    _game_is_disabled_flag = 1u << 4,
    _game_is_paused_flag = 1u << 5,
    _game_is_local_time_paused_flag = 1u << 6,
    _game_is_suspended_flag = 1u << 7,
    // The flags every machine of a game agrees on (the others are local).
    SYNCHRONIZED_GAME_FLAGS = _game_is_over_flag | _game_is_suspended_flag,
};

enum game_time_state
{
    _game_time_pregame = 0,
    _game_time_no_countdown,
    _game_time_countdown,
    _game_time_random_endgame_countdown,
    _game_time_suspended_ending,
    _game_time_ending,
};

enum endgame_state
{
    _endgame_unresolved = 0,
    _endgame_successful_victory,
    _endgame_failed_victory,
    _endgame_resolved,
};

enum forced_endgame_type
{
    _forced_endgame_none = 0,
    _forced_endgame_quit,
    _forced_endgame_rehost,
    _forced_endgame_restart,
};

// The one game record.  In memory only (films and packets carry
// new_game_data).  `flags` and `local_time` are shared with the timer thread.
struct game_data
{
    int16_t state;                    // game_state
    int16_t state_when_in_modal_loop; // the state under the interrupting states
    int16_t type;                     // game_type
    int16_t played_type;              // the type the game was played as: a film's or saved game's recorded one
    int16_t scoring;
    int16_t difficulty_level;
    int16_t time_state;               // game_time_state
    int16_t endgame_state;
    int16_t forced_endgame_type;
    int16_t winning_team_index;       // NONE while nobody has won
    int16_t game_speed;               // index, NORMAL_GAME_SPEED_INDEX = 1x
    uint32_t option_flags;
    std::atomic<uint32_t> flags;      // game_flag_bits
    std::atomic<int32_t> local_time;
    int32_t game_time;
    int32_t target_time;              // the command stream lets the game run up to here
    int32_t time_limit;               // ticks; NONE or 0: none
    int32_t pregame_time_limit;
    int32_t time_remaining;           // of the pregame, then of the time limit; NONE without a limit
    int32_t game_time_at_end;
};

extern game_data *const game_;

// The local player and team of the game in progress; NONE for an observer or
// a film without a local player.
extern int16_t local_player_index;
extern int16_t local_player_team_index;

// Sync commands carry the originator's latest snapshot.  12 bytes, big-endian
// on the wire.
struct sync_command_data
{
    int32_t snapshot_time;
    uint32_t random_seed;
    uint32_t state_hash;
};
static_assert(sizeof(sync_command_data) == 12);
extern const byte_swap_code sync_command_data_byte_swapping_data[];

enum
{
    // From this version a sync command carries, after its sync_command_data,
    // the chain of the state hashes of every tick since the previous sync
    // command (sync_chain_data): a drift that heals between two checks is
    // still seen.  Below it a sync command holds sync_command_data alone.
    FIRST_GAMEPLAY_VERSION_WITH_SYNC_CHAINS = 1850,
};

// The tail of a sync command from FIRST_GAMEPLAY_VERSION_WITH_SYNC_CHAINS.
// 12 bytes, big-endian on the wire.
struct sync_chain_data
{
    int32_t first_tick;     // the first tick the chain covers (the tick after the previous sync command's)
    uint32_t chain_hash;    // sync_chain_step over the state hash of every tick first_tick..snapshot_time
    uint32_t file_checksum; // 0, but in the end record of a film or saved game: its file header checksum
};
static_assert(sizeof(sync_chain_data) == 12);
static_assert(offsetof(sync_chain_data, chain_hash) == 4);
static_assert(offsetof(sync_chain_data, file_checksum) == 8);
extern const byte_swap_code sync_chain_data_byte_swapping_data[];

// One step of a chain: its value after a tick whose state hash is `state_hash`.
// A chain starts at 0 (an empty chain) at the tick after each sync command's.
constexpr uint32_t sync_chain_step(uint32_t chain, uint32_t state_hash)
{
    const uint32_t mixed = ((chain << 5) | (chain >> 27)) ^ state_hash;
    return mixed * 0x9E3779B1u + 0x7F4A7C15u;
}

// True when the game in progress writes and checks sync chains.
bool sync_chains_in_use(void);

// Clears the game record: no game, state "starting up", normal speed, the
// default gameplay version.  The start-up's "game record" step.
void initialize_game_record(void);

// Sets the record up for a new game from its checked parameters: type,
// scoring, options, difficulty, time limits, times 0, flags cleared (the local
// ones kept), endgame unresolved, the synchronized seed from the parameters,
// sync snapshots emptied (the map start takes the first with
// begin_sync_snapshots once its markers are placed).
void begin_game_time(const new_game_data *data);
// The type a film or saved game was recorded as, said before its game begins
// (which then has type replay): the rules that hold for one kind of game
// only replay by it.
void note_replayed_game_type(int16_t played_type);

// ---- local time, pause, speed -------------------------------------------------

// Called 30 times a second by the input timer thread: local_time + 1 unless
// local time is paused.
void advance_local_time(void);
void pause_local_time(bool pause);

// Pauses or resumes the game: no ticks run while paused; local time goes on.
// A network game cannot be paused by one machine (peers' commands keep
// coming): there the flag is set for the interface but ticks go on.
void pause_game(bool pause);
bool game_is_paused(void);

// The game speed as an index into the speed table (1/8 x .. 8 x, index 5 = 1 x).
// False (unchanged) for an index out of range, or any speed but normal in a
// network game.
bool set_game_speed(int16_t speed_index);
// Eighths of normal speed of a speed index; 0 for an index out of range.
int32_t game_speed_eighths(int16_t speed_index);

// Lifts the per-frame tick budget (saved-game restore, film checking).
void set_unbounded_game_ticks(bool unbounded);

// ---- the tick driver ---------------------------------------------------------------

// Advances the command stream by `ticks` game ticks: films and saved games
// (type 0) hand over to the replay; single-player and demo games (2, 3) have
// their outgoing commands stamped with the target time and the local player,
// then the target time advances by `ticks`, to at most
// MAXIMUM_LOCAL_TARGET_LEAD ahead of game time (unless ticks are unbounded);
// network games (1) do nothing (the network layer moves the target time).
void update_command_queue(int32_t ticks);

// One frame of the game: scales `local_ticks` by the game speed (0 while
// paused), advances the command stream, runs ticks up to the target time
// within the budget.  Returns the number of ticks run.  Call only while a map
// is loaded (idle_vesk checks that).
int32_t update_vesk(int32_t local_ticks);

// One game tick (update_vesk calls it; tests call it alone): the tick steps
// in list order, game time + 1, the countdowns, the sync bookkeeping, the
// autosave step, then the tick observer (game_hooks.h).
void update_game_tick(void);

// ---- synchronization ---------------------------------------------------------------

// Forgets every snapshot and takes the one of the current tick (map start, once
// every marker is placed, so that it covers the placement's draws).
void begin_sync_snapshots(void);

// This machine queues the sync commands: the host of a network game, the
// local machine of a single-player game; nobody while a film plays.
void set_sync_originator(bool originator);
bool is_sync_originator(void);

// The snapshot taken at game time `time` (a multiple of 512 or of 170 still
// kept: the last eight of each).  False when there is none.
bool get_sync_snapshot(int32_t time, uint32_t *random_seed, uint32_t *state_hash);

// Checks a sync command against this machine's snapshot of the same tick: a
// different seed or hash makes the game out of sync.  A snapshot this machine
// no longer keeps (or never took) cannot be checked: logged, nothing else.
// Returns false when the command showed the game out of step.
bool handle_sync_command(const sync_command_data *data);

// The state of the current tick as a sync command names it (the tick, the
// seed and the state hash): what a film or saved game records at its end.
void get_final_state(sync_command_data *data);
// The chain of state hashes that ends at tick `time` (the current tick, or
// one a sync command still kept may name), file_checksum 0.  False when this
// machine keeps none for it (sync chains not in use, or a tick too old).
bool get_sync_chain(int32_t time, sync_chain_data *chain);
// The chain of state hashes that begins at `first_tick` (the tick after one
// a sync command named) and ends at the next tick a sync command named, as
// this machine keeps it (file_checksum 0).  False when it keeps none.
bool get_sync_chain_from(int32_t first_tick, sync_chain_data *chain);
// What another machine's word about this game is worth against this
// machine's record: its seed and state hash at `tick`, or with `chained`
// its chain of state hashes from `tick` (a chain's first tick) on.  Only a
// tick this game played that its sync commands named (or the first of a
// chain that ended at one), and that this machine still keeps, can be
// checked: tick 0 and earlier, a tick to come, one between two sync
// commands and one too old cannot.
enum reported_state_check
{
    _reported_state_unchecked = 0,
    _reported_state_shared,  // this machine's record is the same
    _reported_state_differs, // checked, and not this machine's game
};
reported_state_check check_reported_state(int32_t tick, uint32_t random_seed, uint32_t state_hash, bool chained);
// Checks a chain that ends at `data`'s tick against this machine's: one that
// covers other ticks or another hash puts the game out of sync at its first
// tick (logged with the span it lies in).  Not kept here: logged once,
// nothing else.  False when the game was found out of step.
bool check_sync_chain(const sync_command_data *data, const sync_chain_data *chain, const char *whose);
// Checks the current state against one recorded for this tick (the end of a
// film or saved game, the end of a network game): a different seed or hash
// makes the game out of sync at that tick.  A record of another tick cannot
// be checked (logged).  False when the game was found out of step.
bool check_final_state(const sync_command_data *data);

// The tick-end state: while kept, the state each tick ends with is taken (a
// state hash a tick).  Every recorded game keeps it: ending a game (Quit, the
// end of its countdown, a restart) changes hashed state outside any tick, and
// its film must close with what its last tick left, which is all a replay
// sees.
enum tick_end_state_mode
{
    _tick_end_state_not_kept = 0,
    // Taken at the end of every tick from now on.
    _tick_end_state_kept,
    // The same, and the state as it stands is taken as the one the current
    // tick left: only between ticks, before anything outside a tick changed
    // it (a restored saved game at its tick).
    _tick_end_state_kept_from_now,
    // The game ended outside any tick (the player quit): the state the last
    // tick left is held as the game's end, whatever ticks still run before
    // its map goes.  Nothing is held unless the state is kept and the
    // current tick has its own.
    _tick_end_state_held,
};
void set_tick_end_state(int16_t mode);
// The tick-end state into `data`: _tick_end_state_held when the game's end
// holds it (its tick is then the game's last, at any time), else
// _tick_end_state_kept when the current tick has its own; NONE when there
// is none (not kept, or no tick ran since), and `data` is left as it was.
int16_t get_tick_end_state(sync_command_data *data);

// Has the state of the tick `data` names checked as that tick ends (at
// once when the game is at it): a replay's or restore's last tick, whose
// check must not wait for a frame that may never come.
// `chain`, when not null, is the chain of state hashes that ends there
// (sync_chains_in_use): checked too, so a drift since the last sync command
// that healed by the end is still seen.
void expect_final_state(const sync_command_data *data, const sync_chain_data *chain);

// Reports that the game left lock-step (logged with `source` and `line`, the
// player told through the hook) and sets _game_is_out_of_sync_flag.  Only the
// first report of a game does anything; later ones are quiet.
void game_is_out_of_sync(const char *source, int32_t line);
// The same for a drift first found at `tick` (another machine's report of a
// network game): a game already out of step takes `tick` as its first when
// it is earlier, so every machine names the same one.
void game_is_out_of_sync_at_tick(const char *source, int32_t line, int32_t tick);
// The first tick of this game found out of step (a sync command's snapshot
// tick, else the tick of the report); NONE while the game is in step.
int32_t get_out_of_sync_tick(void);

// ---- game time as text ---------------------------------------------------------------

enum
{
    // Bytes that time_to_string may write: the longest text, that of the
    // largest 32-bit tick count ("19884:06:28"), and its terminator fit.
    TIME_STRING_SIZE = 16,
};

// Game time as text, as the script trace and the reports show it: "m:ss", or
// "h:mm:ss" from an hour on; negative times read as 0.  `buffer` holds at
// least TIME_STRING_SIZE bytes.  No flag is defined: pass 0 (other bits are
// ignored).  Returns `buffer`.
char *time_to_string(int32_t ticks, char *buffer, uint32_t flags);

// The same text cut to `size` bytes including the terminator.
char *time_to_string_bounded(int32_t ticks, char *buffer, size_t size);
