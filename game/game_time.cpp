// The game record, local time, pause and speed, the tick driver and the sync
// bookkeeping.

#include "game_time.h"

#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "gameplay_versions.h"
#include "networking_procedures.h"
#include "recording_procedures.h"
#include "state_hash.h"
#include "vesk_random.h"

static game_data game_record;
game_data *const game_ = &game_record;

int16_t local_player_index = NONE;
int16_t local_player_team_index = NONE;

const byte_swap_code sync_command_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _end_bs_array};
const byte_swap_code sync_chain_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _end_bs_array};

struct sync_snapshot
{
    int32_t time; // NONE: empty
    uint32_t random_seed;
    uint32_t state_hash;
    sync_chain_data chain; // first_tick NONE: none (sync chains not in use)
};

static struct game_time_globals
{
    bool unbounded_ticks;
    bool sync_originator;
    int32_t speed_remainder; // eighths of a tick carried to the next frame
    sync_snapshot snapshots[NUMBER_OF_SYNC_SNAPSHOTS]; // by (time / 512) modulo the count
    // By (time / 170) modulo the count: the ticks this machine's sync
    // commands name.  Films and peers of earlier builds name the 512 ones.
    sync_snapshot command_snapshots[NUMBER_OF_SYNC_SNAPSHOTS];
    bool unverifiable_sync_logged;
    bool unverifiable_chain_logged;
    // The chain of state hashes running since the last sync command's tick,
    // and the one that ended at the latest tick (`chain_time`).
    int32_t chain_first_tick;
    uint32_t chain_hash;
    int32_t chain_time; // NONE: no chain ended yet
    sync_chain_data last_chain;
    // The state a film or saved game recorded at its end, compared when the
    // game reaches that tick.
    bool final_state_expected;
    sync_command_data expected_final_state;
    bool final_chain_expected;
    sync_chain_data expected_final_chain;
    // The state as the last tick left it, kept while asked: what a recorded
    // game's film ends with, before the end of the game changes anything.
    bool tick_end_state_kept;
    // Held once the game ended outside any tick: later ticks are not the game's.
    bool tick_end_state_held;
    sync_command_data tick_end_state; // snapshot_time NONE: none yet
    sync_chain_data tick_end_chain;   // the chain up to that tick; first_tick NONE: none
    // The state hash the last snapshot computed, and its tick: the tick's end
    // state reuses it rather than hashing the world a second time a tick.
    uint32_t tick_hash;
    int32_t tick_hash_time; // NONE: none this tick
    int32_t out_of_sync_tick; // the first tick found out of step this game; NONE while in step
    int16_t replayed_type;    // the recorded type of the film or saved game about to begin
} game_time_globals;

// Eighths of normal speed; index 5 is normal.
static const int32_t game_speed_table[NUMBER_OF_GAME_SPEEDS] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 64};

static void clear_sync_snapshots(void)
{
    for (sync_snapshot &snapshot : game_time_globals.snapshots) snapshot.time = NONE;
    for (sync_snapshot &snapshot : game_time_globals.command_snapshots) snapshot.time = NONE;
    game_time_globals.unverifiable_sync_logged = false;
    game_time_globals.unverifiable_chain_logged = false;
    game_time_globals.chain_first_tick = 0;
    game_time_globals.chain_hash = 0;
    game_time_globals.chain_time = NONE;
    game_time_globals.final_state_expected = false;
    game_time_globals.final_chain_expected = false;
    game_time_globals.tick_end_state.snapshot_time = NONE;
    game_time_globals.tick_end_state_held = false;
    game_time_globals.tick_end_chain.first_tick = NONE;
    game_time_globals.tick_hash_time = NONE;
    game_time_globals.out_of_sync_tick = NONE;
}

void initialize_game_record(void)
{
    game_->state = _game_state_starting_up;
    game_->state_when_in_modal_loop = game_->state;
    game_->type = _game_type_local;
    game_->played_type = _game_type_local;
    game_->scoring = 0;
    game_->difficulty_level = DEFAULT_DIFFICULTY_LEVEL;
    game_->time_state = _game_time_pregame;
    game_->endgame_state = _endgame_unresolved;
    game_->forced_endgame_type = _forced_endgame_none;
    game_->winning_team_index = NONE;
    game_->game_speed = NORMAL_GAME_SPEED_INDEX;
    game_->option_flags = 0;
    game_->flags.store(0);
    game_->local_time.store(0);
    game_->game_time = 0;
    game_->target_time = 0;
    game_->time_limit = NONE;
    game_->pregame_time_limit = 0;
    game_->time_remaining = NONE;
    game_->game_time_at_end = NONE;
    local_player_index = NONE;
    local_player_team_index = NONE;
    current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;
    game_time_globals.unbounded_ticks = false;
    game_time_globals.sync_originator = false;
    game_time_globals.speed_remainder = 0;
    clear_sync_snapshots();
}

// The slot a snapshot of `time` is kept in, or null when no sync command
// names that tick.
static sync_snapshot *sync_snapshot_slot(int32_t time)
{
    if (time < 0) return nullptr;
    if (time % SYNC_SNAPSHOT_PERIOD == 0)
        return &game_time_globals.snapshots[(time / SYNC_SNAPSHOT_PERIOD) % NUMBER_OF_SYNC_SNAPSHOTS];
    if (time % SYNC_COMMAND_PERIOD == 0)
        return &game_time_globals.command_snapshots[(time / SYNC_COMMAND_PERIOD) % NUMBER_OF_SYNC_SNAPSHOTS];
    return nullptr;
}

bool sync_chains_in_use(void)
{
    return current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_SYNC_CHAINS;
}

// Takes the snapshot of the current tick when a sync command may name it:
// a multiple of 512 (what earlier builds name) or of 170 (what this one
// names).  A tick that is both is kept in both rings.  With sync chains, the
// state hash of every tick goes into the running chain, which starts again
// after each tick a sync command names.
static void take_sync_snapshot(void)
{
    const int32_t time = game_->game_time;
    const bool old_tick = time % SYNC_SNAPSHOT_PERIOD == 0, command_tick = time % SYNC_COMMAND_PERIOD == 0;
    const bool chained = sync_chains_in_use();
    if (!old_tick && !command_tick && !chained) return;
    const uint32_t hash = compute_state_hash();
    game_time_globals.tick_hash = hash;
    game_time_globals.tick_hash_time = time;
    sync_chain_data chain = {NONE, 0, 0};
    if (chained)
    {
        game_time_globals.chain_hash = sync_chain_step(game_time_globals.chain_hash, hash);
        chain.first_tick = game_time_globals.chain_first_tick;
        chain.chain_hash = game_time_globals.chain_hash;
        game_time_globals.last_chain = chain;
        game_time_globals.chain_time = time;
    }
    if (!old_tick && !command_tick) return;
    const sync_snapshot taken = {time, get_random_seed(), hash, chain};
    if (old_tick) game_time_globals.snapshots[(time / SYNC_SNAPSHOT_PERIOD) % NUMBER_OF_SYNC_SNAPSHOTS] = taken;
    if (command_tick)
    {
        game_time_globals.command_snapshots[(time / SYNC_COMMAND_PERIOD) % NUMBER_OF_SYNC_SNAPSHOTS] = taken;
        game_time_globals.chain_first_tick = time + 1;
        game_time_globals.chain_hash = 0;
    }
}

void note_replayed_game_type(int16_t played_type) { game_time_globals.replayed_type = played_type; }

void begin_game_time(const new_game_data *data)
{
    const new_game_parameter_data *parameters = &data->parameters;
    game_->type = parameters->type;
    game_->played_type = parameters->type == _game_type_replay ? game_time_globals.replayed_type : parameters->type;
    game_->scoring = parameters->scoring;
    game_->option_flags = parameters->option_flags;
    game_->difficulty_level = parameters->difficulty_level;
    game_->time_limit = parameters->time_limit > 0 ? parameters->time_limit : NONE;
    game_->pregame_time_limit = parameters->pregame_time_limit > 0 ? parameters->pregame_time_limit : 0;
    game_->game_time = 0;
    game_->target_time = 0;
    game_->flags.fetch_and(_game_is_local_time_paused_flag);
    game_->endgame_state = _endgame_unresolved;
    game_->forced_endgame_type = _forced_endgame_none;
    game_->winning_team_index = NONE;
    game_->game_time_at_end = NONE;
    if (game_->pregame_time_limit > 0)
    {
        game_->time_state = _game_time_pregame;
        game_->time_remaining = game_->pregame_time_limit;
    }
    else if (game_->time_limit != NONE)
    {
        game_->time_state = _game_time_countdown;
        game_->time_remaining = game_->time_limit;
    }
    else
    {
        game_->time_state = _game_time_no_countdown;
        game_->time_remaining = NONE;
    }
    // Every game starts at normal speed: a film sped up before it does not
    // hurry the next game on.
    game_->game_speed = NORMAL_GAME_SPEED_INDEX;
    game_time_globals.speed_remainder = 0;
    // A network game's host checks everybody: the networking layer says
    // whether this machine is it.
    game_time_globals.sync_originator = game_->type == _game_type_local || game_->type == _game_type_demo ||
                                        (game_->type == _game_type_networked && network_game_originator());
    set_random_seed(parameters->random_seed);
    // The first snapshot waits for the map start to place its markers
    // (begin_sync_snapshots): hashing the half-built world here would be thrown away.
    clear_sync_snapshots();
}

static void take_tick_end_state(void);

void begin_sync_snapshots(void)
{
    clear_sync_snapshots();
    take_sync_snapshot();
    // Tick 0 has run no tick: a game ended before its first one closes with
    // the state its map started with.
    take_tick_end_state();
}

// ---- local time, pause, speed ---------------------------------------------------

void advance_local_time(void)
{
    if (!(game_->flags.load() & _game_is_local_time_paused_flag)) game_->local_time.fetch_add(1);
}

void pause_local_time(bool pause)
{
    if (pause)
        game_->flags.fetch_or(_game_is_local_time_paused_flag);
    else
        game_->flags.fetch_and(~(uint32_t)_game_is_local_time_paused_flag);
}

void pause_game(bool pause)
{
    if (pause)
        game_->flags.fetch_or(_game_is_paused_flag);
    else
        game_->flags.fetch_and(~(uint32_t)_game_is_paused_flag);
}

bool game_is_paused(void)
{
    return (game_->flags.load() & _game_is_paused_flag) != 0;
}

int32_t game_speed_eighths(int16_t speed_index)
{
    return (speed_index >= 0 && speed_index < NUMBER_OF_GAME_SPEEDS) ? game_speed_table[speed_index] : 0;
}

bool set_game_speed(int16_t speed_index)
{
    if (speed_index < 0 || speed_index >= NUMBER_OF_GAME_SPEEDS) return false;
    if (game_->type == _game_type_networked && speed_index != NORMAL_GAME_SPEED_INDEX) return false;
    game_->game_speed = speed_index;
    return true;
}

void set_unbounded_game_ticks(bool unbounded)
{
    game_time_globals.unbounded_ticks = unbounded;
}

// ---- the tick driver ------------------------------------------------------------

void update_command_queue(int32_t ticks)
{
    switch (game_->type)
    {
    case _game_type_replay:
    {
        const auto update_replay = get_recording_procedures()->update_replay;
        if (update_replay) update_replay(ticks);
        break;
    }
    case _game_type_local:
    case _game_type_demo:
    {
        queue_local_commands_procedure queue_local_commands = get_queue_local_commands_procedure();
        if (queue_local_commands) queue_local_commands(game_->target_time, local_player_index);
        if (ticks > 0)
        {
            int32_t target = game_->target_time + ticks;
            const int32_t lead_limit = game_->game_time + MAXIMUM_LOCAL_TARGET_LEAD;
            if (!game_time_globals.unbounded_ticks && target > lead_limit)
                target = game_->target_time > lead_limit ? game_->target_time : lead_limit;
            game_->target_time = target;
        }
        break;
    }
    default: // network games: the network layer moves the target time
        break;
    }
}

int32_t update_vesk(int32_t local_ticks)
{
    int32_t ticks = 0;
    const bool paused = game_is_paused() && game_->type != _game_type_networked;
    if (!paused && local_ticks > 0)
    {
        // Speed applies in eighths, the remainder carried, so 3/8 x runs
        // exactly 3 ticks in 8 local ticks however the frames fall.
        int32_t eighths = game_speed_eighths(game_->game_speed);
        if (game_->type == _game_type_networked || eighths == 0) eighths = 8;
        const int64_t total = (int64_t)local_ticks * eighths + game_time_globals.speed_remainder;
        ticks = (int32_t)(total / 8 > INT32_MAX ? INT32_MAX : total / 8);
        game_time_globals.speed_remainder = (int32_t)(total % 8);
    }
    update_command_queue(ticks);

    int32_t ran = 0;
    while (game_->game_time < game_->target_time &&
           (game_time_globals.unbounded_ticks || ran < MAXIMUM_GAME_TICKS_PER_FRAME))
    {
        if (paused) break;
        update_game_tick();
        ++ran;
    }
    return ran;
}

static inline void call_tick(tick_step step)
{
    tick_procedure procedure = get_tick_procedure(step);
    if (procedure) procedure();
}

static void count_down_time_limit(void)
{
    if (game_->time_state == _game_time_pregame)
    {
        if (game_->time_remaining > 0) --game_->time_remaining;
        if (game_->time_remaining <= 0)
        {
            game_->time_state = game_->time_limit != NONE ? _game_time_countdown : _game_time_no_countdown;
            game_->time_remaining = game_->time_limit;
        }
    }
    else if (game_->time_state == _game_time_countdown && game_->time_remaining > 0)
    {
        if (--game_->time_remaining == 0) call_tick(_tick_time_limit_expired);
    }
}

// The snapshot the sync command sent at this tick names.  From 1.8.4 the
// tick itself: one naming the last 512-tick snapshot checks tick 0 three
// times over and never the last 170 to 680 ticks of a game.  Below, that
// last 512-tick snapshot still: every program that plays those rules (and
// every film of them) checks it, where a program of an earlier build cannot
// check the others and would let a drift pass.
static int32_t sync_command_snapshot_time(void)
{
    const int32_t time = game_->game_time;
    if (current_gameplay_version >= FIRST_GAMEPLAY_VERSION_SYNCING_THE_TICK_SENT) return time;
    return time - time % SYNC_SNAPSHOT_PERIOD;
}

void update_game_tick(void)
{
    call_tick(_tick_unit_commands);
    call_tick(_tick_lightning);
    call_tick(_tick_projectiles);
    call_tick(current_gameplay_version > 1300 ? _tick_units : _tick_units_1300);
    call_tick(_tick_mesh_effects);
    call_tick(_tick_map_actions);
    call_tick(_tick_explosions);
    call_tick(_tick_particle_clock);
    if (current_gameplay_version < 1701) call_tick(_tick_statistics);
    call_tick(_tick_model_effects);
    call_tick(_tick_fire);
    call_tick(_tick_mirror_groups);
    call_tick(_tick_camera_tracking);
    call_tick(_tick_scripted_camera);
    call_tick(_tick_connectors);
    call_tick(_tick_animating_scenery);
    call_tick(_tick_wind);
    call_tick(_tick_model_animations);
    call_tick(_tick_overhead_text);
    call_tick(_tick_fades);
    if (current_gameplay_version >= 1701) call_tick(_tick_statistics);

    ++game_->game_time;
    count_down_time_limit();
    call_tick(_tick_endgame);

    take_sync_snapshot();
    take_tick_end_state();
    if (game_time_globals.final_state_expected &&
        game_time_globals.expected_final_state.snapshot_time == game_->game_time)
    {
        game_time_globals.final_state_expected = false;
        if (check_final_state(&game_time_globals.expected_final_state) && game_time_globals.final_chain_expected)
            check_sync_chain(&game_time_globals.expected_final_state, &game_time_globals.expected_final_chain,
                             "recorded at its end");
    }
    if (game_->game_time % SYNC_COMMAND_PERIOD == 0 && game_time_globals.sync_originator)
    {
        queue_sync_command_procedure queue_sync_command = get_queue_sync_command_procedure();
        sync_command_data data;
        data.snapshot_time = sync_command_snapshot_time();
        if (queue_sync_command && get_sync_snapshot(data.snapshot_time, &data.random_seed, &data.state_hash))
            queue_sync_command(&data);
    }
    call_tick(_tick_autosave);

    tick_observer_procedure observer = get_tick_observer_procedure();
    if (observer) observer();
}

// ---- synchronization ------------------------------------------------------------

void set_sync_originator(bool originator)
{
    game_time_globals.sync_originator = originator;
}

bool is_sync_originator(void)
{
    return game_time_globals.sync_originator;
}

bool get_sync_snapshot(int32_t time, uint32_t *random_seed, uint32_t *state_hash)
{
    const sync_snapshot *snapshot = sync_snapshot_slot(time);
    if (!snapshot || snapshot->time != time) return false;
    if (random_seed) *random_seed = snapshot->random_seed;
    if (state_hash) *state_hash = snapshot->state_hash;
    return true;
}

static void mark_out_of_sync(const char *source, int32_t line, int32_t tick);

// Compares this machine's seed and hash of the tick `data` names with the
// other's (`whose` says where they come from); a difference is logged and
// puts the game out of sync at that tick.
static bool states_agree(uint32_t seed, uint32_t hash, const sync_command_data *data, const char *whose)
{
    if (seed == data->random_seed && hash == data->state_hash) return true;
    log_message(__FILE__, __LINE__, "tick %d: seed 0x%08x hash 0x%08x here, 0x%08x 0x%08x %s", data->snapshot_time, seed,
                hash, data->random_seed, data->state_hash, whose);
    mark_out_of_sync(__FILE__, __LINE__, data->snapshot_time);
    return false;
}

bool handle_sync_command(const sync_command_data *data)
{
    uint32_t seed, hash;
    if (!get_sync_snapshot(data->snapshot_time, &seed, &hash))
    {
        if (!game_time_globals.unverifiable_sync_logged)
            log_message(__FILE__, __LINE__, "sync command for tick %d cannot be checked at tick %d",
                        data->snapshot_time, game_->game_time);
        game_time_globals.unverifiable_sync_logged = true;
        return true;
    }
    // The game left step at the snapshot's tick, not at the later tick the
    // command arrived.
    return states_agree(seed, hash, data, "from the originator");
}

bool check_final_state(const sync_command_data *data)
{
    if (data->snapshot_time != game_->game_time)
    {
        log_message(__FILE__, __LINE__, "the state of tick %d cannot be checked at tick %d", data->snapshot_time,
                    game_->game_time);
        return true;
    }
    return states_agree(get_random_seed(), compute_state_hash(), data, "recorded at its end");
}

void expect_final_state(const sync_command_data *data, const sync_chain_data *chain)
{
    if (data->snapshot_time == game_->game_time)
    {
        if (check_final_state(data) && chain) check_sync_chain(data, chain, "recorded at its end");
        return;
    }
    game_time_globals.expected_final_state = *data;
    game_time_globals.final_state_expected = true;
    game_time_globals.final_chain_expected = chain != nullptr;
    if (chain) game_time_globals.expected_final_chain = *chain;
}

bool get_sync_chain(int32_t time, sync_chain_data *chain)
{
    if (time == NONE) return false;
    if (time == game_time_globals.chain_time)
        *chain = game_time_globals.last_chain;
    else if (time == game_time_globals.tick_end_state.snapshot_time &&
             game_time_globals.tick_end_chain.first_tick != NONE)
        *chain = game_time_globals.tick_end_chain;
    else
    {
        const sync_snapshot *snapshot = sync_snapshot_slot(time);
        if (!snapshot || snapshot->time != time || snapshot->chain.first_tick == NONE) return false;
        *chain = snapshot->chain;
    }
    chain->file_checksum = 0;
    return true;
}

bool get_sync_chain_from(int32_t first_tick, sync_chain_data *chain)
{
    if (first_tick == NONE) return false;
    // Only the ring of the ticks sync commands name: a 512-tick snapshot
    // between two of them holds the part of a chain run so far.
    for (const sync_snapshot &snapshot : game_time_globals.command_snapshots)
        if (snapshot.time != NONE && snapshot.chain.first_tick == first_tick)
        {
            *chain = snapshot.chain;
            chain->file_checksum = 0;
            return true;
        }
    return false;
}

// A sync command of this game named `tick`: under the rules before 1.8.4
// the last multiple of 512, from them the command's own tick.
static bool sync_command_named_tick(int32_t tick)
{
    if (tick <= 0 || tick > game_->game_time) return false;
    if (current_gameplay_version >= FIRST_GAMEPLAY_VERSION_SYNCING_THE_TICK_SENT) return tick % SYNC_COMMAND_PERIOD == 0;
    return tick % SYNC_SNAPSHOT_PERIOD == 0;
}

reported_state_check check_reported_state(int32_t tick, uint32_t random_seed, uint32_t state_hash, bool chained)
{
    if (tick <= 0 || tick > game_->game_time) return _reported_state_unchecked;
    if (chained)
    {
        sync_chain_data ours;
        if (!get_sync_chain_from(tick, &ours)) return _reported_state_unchecked;
        return ours.chain_hash == state_hash ? _reported_state_shared : _reported_state_differs;
    }
    uint32_t seed = 0, hash = 0;
    if (!sync_command_named_tick(tick) || !get_sync_snapshot(tick, &seed, &hash)) return _reported_state_unchecked;
    return seed == random_seed && hash == state_hash ? _reported_state_shared : _reported_state_differs;
}

bool check_sync_chain(const sync_command_data *data, const sync_chain_data *chain, const char *whose)
{
    sync_chain_data ours;
    if (!get_sync_chain(data->snapshot_time, &ours))
    {
        if (!game_time_globals.unverifiable_chain_logged)
            log_message(__FILE__, __LINE__, "the chain of states up to tick %d cannot be checked at tick %d",
                        data->snapshot_time, game_->game_time);
        game_time_globals.unverifiable_chain_logged = true;
        return true;
    }
    if (ours.first_tick == chain->first_tick && ours.chain_hash == chain->chain_hash) return true;
    // The states of both ends agree: somewhere in between the game left step
    // and came back (or the chain covers other ticks than this machine's).
    log_message(__FILE__, __LINE__,
                "ticks %d to %d: chain of states 0x%08x here, 0x%08x %s (from tick %d): the game left step "
                "between them",
                ours.first_tick, data->snapshot_time, ours.chain_hash, chain->chain_hash, whose, chain->first_tick);
    mark_out_of_sync(__FILE__, __LINE__, ours.first_tick);
    return false;
}

static void take_tick_end_state(void)
{
    if (!game_time_globals.tick_end_state_kept || game_time_globals.tick_end_state_held) return;
    sync_command_data *state = &game_time_globals.tick_end_state;
    state->snapshot_time = game_->game_time;
    state->random_seed = get_random_seed();
    state->state_hash = game_time_globals.tick_hash_time == game_->game_time ? game_time_globals.tick_hash
                                                                          : compute_state_hash();
    // The chain as this tick left it: a tick run after the game's end was
    // held (Quit between two ticks) moves the running chain on, not the end's.
    if (game_time_globals.chain_time == game_->game_time)
        game_time_globals.tick_end_chain = game_time_globals.last_chain;
    else
        game_time_globals.tick_end_chain.first_tick = NONE;
}

void set_tick_end_state(int16_t mode)
{
    switch (mode)
    {
    case _tick_end_state_held:
        if (game_time_globals.tick_end_state_kept && game_time_globals.tick_end_state.snapshot_time == game_->game_time)
            game_time_globals.tick_end_state_held = true;
        return;
    case _tick_end_state_not_kept:
    case _tick_end_state_kept:
    case _tick_end_state_kept_from_now:
        game_time_globals.tick_end_state_kept = mode != _tick_end_state_not_kept;
        game_time_globals.tick_end_state_held = false;
        if (mode == _tick_end_state_not_kept) game_time_globals.tick_end_state.snapshot_time = NONE;
        if (mode == _tick_end_state_kept_from_now) take_tick_end_state();
        return;
    default: VASSERT(false, "a known tick-end state mode"); return;
    }
}

int16_t get_tick_end_state(sync_command_data *data)
{
    if (game_time_globals.tick_end_state_held)
    {
        *data = game_time_globals.tick_end_state;
        return _tick_end_state_held;
    }
    if (game_time_globals.tick_end_state.snapshot_time != game_->game_time) return NONE;
    *data = game_time_globals.tick_end_state;
    return _tick_end_state_kept;
}

void get_final_state(sync_command_data *data)
{
    data->snapshot_time = game_->game_time;
    data->random_seed = get_random_seed();
    data->state_hash = compute_state_hash();
}

static void mark_out_of_sync(const char *source, int32_t line, int32_t tick)
{
    const uint32_t before = game_->flags.fetch_or(_game_is_out_of_sync_flag);
    if (before & _game_is_out_of_sync_flag)
    {
        if (tick < game_time_globals.out_of_sync_tick)
        {
            // Another machine's word: counted, however often it comes.
            LOG_REPEATED("the game was out of sync from tick %d already (%s:%d)", tick, source, line);
            game_time_globals.out_of_sync_tick = tick;
        }
        return;
    }
    game_time_globals.out_of_sync_tick = tick;
    // One tick in every message: the first known to differ.
    log_message(source, line, "the game is out of sync at tick %d (found at tick %d)", tick, game_->game_time);
    out_of_sync_procedure out_of_sync = get_out_of_sync_procedure();
    if (out_of_sync) out_of_sync();
}

void game_is_out_of_sync(const char *source, int32_t line) { mark_out_of_sync(source, line, game_->game_time); }

void game_is_out_of_sync_at_tick(const char *source, int32_t line, int32_t tick)
{
    mark_out_of_sync(source, line, tick);
}

int32_t get_out_of_sync_tick(void) { return game_time_globals.out_of_sync_tick; }

char *time_to_string_bounded(int32_t ticks, char *buffer, size_t size)
{
    const int32_t seconds = ticks > 0 ? ticks / GAME_TICKS_PER_SECOND : 0;
    if (seconds >= 3600)
        slprintf(buffer, size, "%d:%02d:%02d", seconds / 3600, (seconds / 60) % 60, seconds % 60);
    else
        slprintf(buffer, size, "%d:%02d", seconds / 60, seconds % 60);
    return buffer;
}

char *time_to_string(int32_t ticks, char *buffer, uint32_t flags)
{
    (void)flags;
    return time_to_string_bounded(ticks, buffer, TIME_STRING_SIZE);
}
