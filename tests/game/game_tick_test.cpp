#include <gtest/gtest.h>

#include <algorithm>

#include "console_procedures.h"
#include "cseries/errors.h"
#include "game_hooks.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "recording_procedures.h"
#include "state_hash.h"
#include "support/game_core_fixture.h"
#include "vesk.h"
#include "vesk_random.h"

namespace game_tick_test_file {

// One recording procedure per tick step, by the step's own name.
#define TRACE_STEP(step) static void trace_##step(void) { game_core_trace.push_back(#step); }
TRACE_STEP(unit_commands)
TRACE_STEP(lightning)
TRACE_STEP(projectiles)
TRACE_STEP(units)
TRACE_STEP(units_1300)
TRACE_STEP(mesh_effects)
TRACE_STEP(map_actions)
TRACE_STEP(explosions)
TRACE_STEP(particle_clock)
TRACE_STEP(statistics)
TRACE_STEP(model_effects)
TRACE_STEP(fire)
TRACE_STEP(mirror_groups)
TRACE_STEP(camera_tracking)
TRACE_STEP(scripted_camera)
TRACE_STEP(connectors)
TRACE_STEP(animating_scenery)
TRACE_STEP(wind)
TRACE_STEP(model_animations)
TRACE_STEP(overhead_text)
TRACE_STEP(fades)
TRACE_STEP(endgame)
TRACE_STEP(autosave)

static void register_tracing_tick_steps(void)
{
    const tick_procedure procedures[NUMBER_OF_TICK_STEPS] = {
        trace_unit_commands, trace_lightning, trace_projectiles, trace_units, trace_units_1300,
        trace_mesh_effects, trace_map_actions, trace_explosions, trace_particle_clock, trace_statistics,
        trace_model_effects, trace_fire, trace_mirror_groups, trace_camera_tracking, trace_scripted_camera,
        trace_connectors, trace_animating_scenery, trace_wind, trace_model_animations, trace_overhead_text,
        trace_fades, nullptr, trace_endgame, trace_autosave};
    for (int32_t step = 0; step < NUMBER_OF_TICK_STEPS; ++step)
        if (procedures[step]) register_tick_procedure((tick_step)step, procedures[step]);
    register_tick_observer_procedure([] { game_core_trace.push_back("observer"); });
}

// The order the driver must follow, read from the one list: the units step
// of the version, statistics at its place below 1701 and after the fades from
// 1701 on, the expiry step only when a time limit runs out.
static std::string tick_order_from_list(int32_t version)
{
    std::string order;
#define EXPECTED_STEP(identifier, name)                                                              \
    if (_tick_##identifier == _tick_units_1300 ? version <= 1300                                     \
        : _tick_##identifier == _tick_units     ? version > 1300                                     \
        : _tick_##identifier == _tick_statistics ? version < 1701                                    \
                                                : _tick_##identifier != _tick_time_limit_expired)  \
        order += #identifier " ";                                                                    \
    if (_tick_##identifier == _tick_fades && version >= 1701) order += "statistics ";
    TICK_STEP_LIST(EXPECTED_STEP)
#undef EXPECTED_STEP
    return order + "observer ";
}

static std::string join(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names) text += name + " ";
    return text;
}

TEST(game_tick, runs_its_steps_in_order_under_each_version_gate)
{
    const std::string head = "unit_commands lightning projectiles ";
    const std::string middle = "mesh_effects map_actions explosions particle_clock ";
    const std::string tail = "model_effects fire mirror_groups camera_tracking scripted_camera connectors "
                             "animating_scenery wind model_animations overhead_text fades ";
    const struct
    {
        int32_t version;
        std::string order;
    } cases[] = {
        {1300, head + "units_1300 " + middle + "statistics " + tail + "endgame autosave observer "},
        {1500, head + "units " + middle + "statistics " + tail + "endgame autosave observer "},
        {1700, head + "units " + middle + "statistics " + tail + "endgame autosave observer "},
        {1710, head + "units " + middle + tail + "statistics endgame autosave observer "},
        {1820, head + "units " + middle + tail + "statistics endgame autosave observer "},
    };
    for (const auto &c : cases)
    {
        reset_game_core();
        register_tracing_tick_steps();
        ASSERT_TRUE(start_test_game(_game_type_local, c.version, 1));
        EXPECT_EQ(join(game_core_trace), "map_actions ") << "map actions update once at the end of map start";
        game_core_trace.clear();
        update_game_tick();
        EXPECT_EQ(join(game_core_trace), c.order) << "version " << c.version;
        EXPECT_EQ(join(game_core_trace), tick_order_from_list(c.version)) << "the list and the driver disagree";
        EXPECT_EQ(game_->game_time, 1);
    }
}

// The stated gates are 1300/1301 for units and 1700/1701 for statistics: the
// rows of the table hold no 1301 or 1701, so the gates are checked on the
// version number itself.
TEST(game_tick, version_gates_switch_exactly_at_the_stated_numbers)
{
    const struct
    {
        int32_t version;
        bool old_units, early_statistics;
    } cases[] = {{1300, true, true}, {1301, false, true}, {1700, false, true}, {1701, false, false}};
    for (const auto &c : cases)
    {
        reset_game_core();
        register_tracing_tick_steps();
        ASSERT_TRUE(start_test_game(_game_type_local, 1820, 1));
        current_gameplay_version = c.version;
        game_core_trace.clear();
        update_game_tick();
        EXPECT_EQ(game_core_trace[3], c.old_units ? "units_1300" : "units") << c.version;
        EXPECT_EQ(game_core_trace[8] == "statistics", c.early_statistics) << c.version;
        EXPECT_EQ(game_core_trace[game_core_trace.size() - 4] == "statistics", !c.early_statistics) << c.version;
    }
}

static int32_t replay_target_step;
static void replay_moves_target(int32_t ticks) { game_->target_time += ticks + replay_target_step; }
static int32_t stamped_commands;
static int32_t stamped_time;
static void stamp_commands(int32_t target_time, int16_t player)
{
    ++stamped_commands;
    stamped_time = target_time;
}

TEST(game_tick, target_time_speed_budget_and_pause)
{
    reset_game_core();
    static const recording_procedures films = {.update_replay = replay_moves_target};
    register_recording_procedures(&films);
    register_queue_local_commands_procedure(stamp_commands);

    // Single player: the target advances by the frame's ticks and exactly
    // those ticks run; commands are stamped with the target before it moves.
    ASSERT_TRUE(start_test_game(_game_type_local, 1820, 5));
    stamped_commands = 0;
    EXPECT_EQ(update_vesk(4), 4);
    EXPECT_EQ(game_->game_time, 4);
    EXPECT_EQ(game_->target_time, 4);
    EXPECT_EQ(stamped_commands, 1);
    EXPECT_EQ(stamped_time, 0);

    // The budget caps catch-up; the rest runs in later frames.
    EXPECT_EQ(update_vesk(40), MAXIMUM_GAME_TICKS_PER_FRAME);
    EXPECT_EQ(update_vesk(0), MAXIMUM_GAME_TICKS_PER_FRAME);
    EXPECT_EQ(update_vesk(0), 40 - 2 * MAXIMUM_GAME_TICKS_PER_FRAME);
    EXPECT_EQ(game_->game_time, 44);

    // When the budget keeps cutting frames short (8 x at a low frame rate),
    // the target's lead stays bounded, so the player's orders are not delayed
    // by a growing backlog.
    ASSERT_TRUE(set_game_speed(NUMBER_OF_GAME_SPEEDS - 1));
    for (int i = 0; i < 100; ++i) update_vesk(3);
    EXPECT_LE(game_->target_time - game_->game_time, (int32_t)MAXIMUM_LOCAL_TARGET_LEAD);
    stamped_time = NONE;
    update_vesk(0);
    EXPECT_LE(stamped_time - game_->game_time, (int32_t)MAXIMUM_LOCAL_TARGET_LEAD);
    while (game_->game_time < game_->target_time) update_vesk(0);
    ASSERT_TRUE(set_game_speed(NORMAL_GAME_SPEED_INDEX));

    // Speed in eighths with the remainder carried: 3/8 x gives 3 ticks per 8.
    ASSERT_TRUE(set_game_speed(2));
    int32_t ran = 0;
    for (int i = 0; i < 8; ++i) ran += update_vesk(1);
    EXPECT_EQ(ran, 3);
    ASSERT_TRUE(set_game_speed(7)); // 2 x
    EXPECT_EQ(update_vesk(3), 6);
    ASSERT_FALSE(set_game_speed(NUMBER_OF_GAME_SPEEDS));
    ASSERT_TRUE(set_game_speed(NORMAL_GAME_SPEED_INDEX));

    // Pause stops ticks but not local time; commands still get stamped.
    pause_game(true);
    const int32_t time_before = game_->game_time;
    const int32_t local_before = game_->local_time.load();
    advance_local_time();
    EXPECT_EQ(update_vesk(5), 0);
    EXPECT_EQ(game_->game_time, time_before);
    EXPECT_EQ(game_->local_time.load(), local_before + 1);
    pause_game(false);
    EXPECT_EQ(update_vesk(1), 1);

    // Paused local time stops the timer's advance.
    pause_local_time(true);
    advance_local_time();
    EXPECT_EQ(game_->local_time.load(), local_before + 1);
    pause_local_time(false);

    // A game (a film) sped up does not hurry the next one: each starts at
    // normal speed.
    for (const int16_t type : {_game_type_replay, _game_type_local})
    {
        ASSERT_TRUE(set_game_speed(NUMBER_OF_GAME_SPEEDS - 1));
        ASSERT_TRUE(start_test_game(type, 1820, 5));
        EXPECT_EQ(game_->game_speed, NORMAL_GAME_SPEED_INDEX) << type;
    }

    // Network: the core never moves the target; it only runs up to it, and
    // speed and pause do not apply.
    ASSERT_TRUE(start_test_game(_game_type_networked, 1820, 5));
    EXPECT_FALSE(set_game_speed(7));
    EXPECT_EQ(update_vesk(10), 0);
    game_->target_time = 3;
    pause_game(true);
    EXPECT_EQ(update_vesk(10), 3);
    EXPECT_EQ(game_->target_time, 3);
    pause_game(false);

    // Films: the replay sets the target (here local ticks + 2 per frame).
    replay_target_step = 2;
    ASSERT_TRUE(start_test_game(_game_type_replay, 1820, 5));
    EXPECT_EQ(update_vesk(3), 5);
    replay_target_step = 0;

    // Unbounded (film checks, saved-game restore): every tick up to the target.
    set_unbounded_game_ticks(true);
    EXPECT_EQ(update_vesk(100), 100);
    set_unbounded_game_ticks(false);
}

TEST(game_tick, time_limit_counts_down_after_the_pregame)
{
    reset_game_core();
    static int32_t expired;
    expired = 0;
    register_tick_procedure(_tick_time_limit_expired, [] { ++expired; });
    new_game_data data = make_test_game_data(_game_type_local, 1820, 1);
    data.parameters.pregame_time_limit = 3;
    data.parameters.time_limit = 4;
    ASSERT_TRUE(initialize_vesk_for_new_map(&data, false));
    EXPECT_EQ(game_->time_state, _game_time_pregame);
    for (int i = 0; i < 3; ++i) update_game_tick();
    EXPECT_EQ(game_->time_state, _game_time_countdown);
    EXPECT_EQ(game_->time_remaining, 4);
    for (int i = 0; i < 10; ++i) update_game_tick();
    EXPECT_EQ(game_->time_remaining, 0);
    EXPECT_EQ(expired, 1);

    data.parameters.pregame_time_limit = 0;
    data.parameters.time_limit = NONE;
    ASSERT_TRUE(initialize_vesk_for_new_map(&data, false));
    EXPECT_EQ(game_->time_state, _game_time_no_countdown);
    EXPECT_EQ(game_->time_remaining, NONE);
}

// ---- synchronization between peers ---------------------------------------------

static std::vector<sync_command_data> sent_sync_commands;
static void capture_sync_command(const sync_command_data *data) { sent_sync_commands.push_back(*data); }
static int32_t out_of_sync_reports;
static void count_out_of_sync(void) { ++out_of_sync_reports; }
static int32_t planted_fault_tick; // NONE: none
static void simulation_step(void)
{
    vesk_random(); // every machine draws the same
    if (game_->game_time == planted_fault_tick) vesk_random();
}

static void install_peer_hooks(void)
{
    register_queue_sync_command_procedure(capture_sync_command);
    static const console_procedures console = {.out_of_sync = count_out_of_sync};
    register_console_procedures(&console);
    register_tick_procedure(_tick_units, simulation_step);
}

TEST(game_sync, peers_in_step_agree_and_a_drifting_peer_is_caught_once)
{
    // The originator's sync commands every 170 ticks: from 1.8.4 each
    // carries the snapshot of the tick it is sent at, so the last 170 ticks
    // are never left unchecked; below, the last 512-tick snapshot, the only
    // one a program of an earlier build can check (it keeps no other), so
    // that a peer checking by that earlier rule still catches the drift.
    const struct
    {
        int32_t rules;
        bool earlier_builds_check; // the peer checks only what an earlier build could
        int32_t first_named, last_named, drift_tick;
    } cases[] = {
        {1820, true, 0, 1024, 1024},
        {1830, true, 0, 1024, 1024},
        {1840, false, SYNC_COMMAND_PERIOD, 7 * SYNC_COMMAND_PERIOD, 850},
    };
    std::vector<sync_command_data> originator;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.rules);
        reset_game_core();
        install_peer_hooks();
        planted_fault_tick = NONE;
        sent_sync_commands.clear();
        ASSERT_TRUE(start_test_game(_game_type_local, c.rules, 42));
        for (int32_t tick = 1; tick <= 1200; ++tick) update_game_tick();
        ASSERT_EQ(sent_sync_commands.size(), 7u);
        EXPECT_EQ(sent_sync_commands.front().snapshot_time, c.first_named);
        EXPECT_EQ(sent_sync_commands.back().snapshot_time, c.last_named);
        originator = sent_sync_commands;

        // A peer in step: same seed, same draws; it queues none and agrees with all.
        for (int32_t fault : {(int32_t)NONE, 700})
        {
            reset_game_core();
            install_peer_hooks();
            planted_fault_tick = fault;
            sent_sync_commands.clear();
            out_of_sync_reports = 0;
            ASSERT_TRUE(start_test_game(_game_type_networked, c.rules, 42));
            size_t next = 0;
            for (int32_t tick = 1; tick <= 1200; ++tick)
            {
                update_game_tick();
                // Each sync command executes a few ticks after it was sent.
                while (next < originator.size() && (int32_t)(next + 1) * SYNC_COMMAND_PERIOD + 5 == game_->game_time)
                {
                    const sync_command_data &command = originator[next++];
                    if (c.earlier_builds_check)
                    {
                        EXPECT_EQ(command.snapshot_time % SYNC_SNAPSHOT_PERIOD, 0);
                    }
                    handle_sync_command(&command);
                }
            }
            EXPECT_TRUE(sent_sync_commands.empty()) << "only the originator sends sync commands";
            const bool out_of_sync = game_->flags.load() & _game_is_out_of_sync_flag;
            EXPECT_EQ(out_of_sync, fault != NONE) << fault;
            EXPECT_EQ(out_of_sync_reports, fault != NONE ? 1 : 0) << "reported once, however many checks fail";
            // Named by the first snapshot whose hash differs, not the tick it was found.
            EXPECT_EQ(get_out_of_sync_tick(), fault != NONE ? c.drift_tick : NONE);
        }
    }

    // A seed that differs from the start is caught by the first sync command.
    reset_game_core();
    install_peer_hooks();
    planted_fault_tick = NONE;
    out_of_sync_reports = 0;
    ASSERT_TRUE(start_test_game(_game_type_networked, 1840, 43));
    for (int32_t tick = 1; tick <= 175; ++tick) update_game_tick();
    EXPECT_FALSE(handle_sync_command(&originator[0]));
    EXPECT_EQ(out_of_sync_reports, 1);
}

// A state that leaves step for ticks `from`..`to` and comes back: both ends
// of the span hash alike.
static int32_t transient_from = NONE, transient_to = NONE;
static void hash_transient_state(uint32_t *hash)
{
    const int32_t time = game_->game_time;
    state_hash_add_int32(hash, time >= transient_from && time <= transient_to ? 1 : 0);
}

// From 1850 each sync command carries the chain of every tick's state since
// the last one: a drift that heals between two checks is still caught, at
// the first tick of the span it lies in.  Below 1850 only the ends are seen.
TEST(game_sync, a_drift_that_heals_between_two_checks_is_caught_by_the_chain)
{
    struct row
    {
        int32_t version, from, to, caught_at;
    };
    const row rows[] = {
        {1850, NONE, NONE, NONE}, // in step
        {1850, 400, 409, 341},    // healed before 510: the span 341..510
        {1850, 171, 171, 171},    // a single tick at the span's start
        {1850, 340, 340, 340},    // at a checked tick: its own hash differs
        {1840, 400, 409, NONE},   // no chain before 1850
        {1840, 340, 340, 340},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << r.version << " " << r.from << ".." << r.to);
        reset_game_core();
        install_peer_hooks();
        register_state_hash_procedure(hash_transient_state);
        planted_fault_tick = NONE;
        transient_from = transient_to = NONE;
        sent_sync_commands.clear();
        ASSERT_TRUE(start_test_game(_game_type_local, r.version, 42));
        begin_sync_snapshots();
        for (int32_t tick = 1; tick <= 1200; ++tick) update_game_tick();
        const std::vector<sync_command_data> originator = sent_sync_commands;
        std::vector<sync_chain_data> chains(originator.size());
        for (size_t i = 0; i < originator.size(); ++i)
            EXPECT_EQ(get_sync_chain(originator[i].snapshot_time, &chains[i]), r.version >= 1850);

        reset_game_core();
        install_peer_hooks();
        register_state_hash_procedure(hash_transient_state);
        transient_from = r.from;
        transient_to = r.to;
        ASSERT_TRUE(start_test_game(_game_type_networked, r.version, 42));
        begin_sync_snapshots();
        size_t next = 0;
        for (int32_t tick = 1; tick <= 1200; ++tick)
        {
            update_game_tick();
            while (next < originator.size() && (int32_t)(next + 1) * SYNC_COMMAND_PERIOD + 5 == game_->game_time)
            {
                if (handle_sync_command(&originator[next]) && r.version >= 1850)
                    check_sync_chain(&originator[next], &chains[next], "from the originator");
                ++next;
            }
        }
        EXPECT_EQ(get_out_of_sync_tick(), r.caught_at);
        transient_from = transient_to = NONE;
    }
}

TEST(game_sync, state_hash_leaves_local_fields_out)
{
    reset_game_core();
    ASSERT_TRUE(start_test_game(_game_type_local, 1820, 9));
    const uint32_t hash = compute_state_hash();
    pause_game(true);
    pause_local_time(true);
    advance_local_time();
    set_game_speed(8);
    local_random();
    game_->target_time += 10;
    EXPECT_EQ(compute_state_hash(), hash) << "local state must not change the hash";

    vesk_random();
    EXPECT_NE(compute_state_hash(), hash);

    // A registered record joins the hash.
    static int32_t unit_vitality = 100;
    register_state_hash_procedure([](uint32_t *h) { state_hash_add_int32(h, unit_vitality); });
    const uint32_t with_record = compute_state_hash();
    unit_vitality = 99;
    EXPECT_NE(compute_state_hash(), with_record);
}

// Pieces of every kind and size a procedure adds, sized to cross the gathered
// block's end, the room a record may take and the block itself.
static void add_pieces_of_every_size(uint32_t *hash)
{
    static uint8_t bytes[40000];
    for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = (uint8_t)(i * 131 + 7);
    static int32_t values[300];
    for (int32_t i = 0; i < 300; ++i) values[i] = i * 2654435 - 77;
    for (int32_t i = 0; i < 400; ++i)
    {
        switch (i % 5)
        {
        case 0: state_hash_add_int32(hash, values[i % 300]); break;
        case 1: state_hash_add_int32s(hash, values, (size_t)(i % 200)); break;
        case 2: state_hash_add(hash, bytes + i, (size_t)((i * 37) % 3000)); break;
        default:
        {
            // A record written in place; now and then one larger than the room.
            const size_t count = i % 50 == 3 ? 2500 : (size_t)(i % 60);
            static uint8_t unbatched[4 * 2500];
            uint8_t *out = state_hash_begin_record(hash, 4 * count, unbatched);
            state_hash_cursor cursor = {out};
            for (size_t v = 0; v < count; ++v) cursor.put(values[v % 300] + i);
            state_hash_end_record(hash, out, cursor.out, unbatched, 4 * count);
        }
        }
    }
    state_hash_add(hash, bytes, sizeof(bytes));
}

TEST(game_sync, the_gathered_state_hash_equals_one_crc_call_per_piece)
{
    reset_game_core();
    ASSERT_TRUE(start_test_game(_game_type_local, 1820, 9));
    const uint32_t game_fields_only = compute_state_hash();
    // Called directly, a procedure hands each piece to the CRC at once.
    uint32_t expected = game_fields_only;
    add_pieces_of_every_size(&expected);
    register_state_hash_procedure(add_pieces_of_every_size);
    EXPECT_EQ(compute_state_hash(), expected);
    EXPECT_EQ(compute_state_hash(), expected) << "a second hash starts afresh";
}

// ---- checking films ----------------------------------------------------------------

static int32_t film_ends_at;
static int32_t films_in_folder;
static int32_t find_films(int32_t *films, int32_t maximum)
{
    films[0] = 0;
    films[1] = 1;
    return films_in_folder;
}
// Film 0 was recorded without the fault, film 1 with one: both carry the
// originator's sync commands of the clean game.
static std::vector<sync_command_data> recorded_sync;
static size_t next_recorded_sync;
static bool begin_film(int32_t film, new_game_data *data, char *name, size_t size)
{
    *data = make_test_game_data(_game_type_replay, 1840, 42);
    current_gameplay_version = 1840;
    planted_fault_tick = film == 1 ? 300 : NONE;
    next_recorded_sync = 0;
    slprintf(name, size, "film %d", film);
    return true;
}
static void film_replay(int32_t ticks) { game_->target_time = std::min(game_->target_time + ticks, film_ends_at); }
static bool film_over(void) { return game_->game_time >= film_ends_at; }
// A data error met after the drift (a missing effect, say) in film 1.
static bool plant_data_error;
static void execute_recorded_sync(void)
{
    if (plant_data_error && planted_fault_tick != NONE && game_->game_time == 800)
        ERROR_MESSAGE(_error_data_missing, "a local effect is missing");
    if (next_recorded_sync < recorded_sync.size() &&
        (int32_t)(next_recorded_sync + 1) * SYNC_COMMAND_PERIOD == game_->game_time)
        handle_sync_command(&recorded_sync[next_recorded_sync++]);
}

TEST(game_sync, film_check_reports_each_film_and_fails_on_a_drifting_one)
{
    reset_game_core();
    install_peer_hooks();
    planted_fault_tick = NONE;
    sent_sync_commands.clear();
    ASSERT_TRUE(start_test_game(_game_type_local, 1840, 42));
    for (int32_t tick = 1; tick <= 1000; ++tick) update_game_tick();
    recorded_sync = sent_sync_commands;

    reset_game_core();
    install_peer_hooks();
    static const recording_procedures films = {.update_replay = film_replay,
                                               .replay_over = film_over,
                                               .find_oos_checker_films = find_films,
                                               .begin_oos_checker_film = begin_film};
    register_recording_procedures(&films);
    register_tick_procedure(_tick_unit_commands, execute_recorded_sync);
    films_in_folder = 2;
    film_ends_at = 1000;
    EXPECT_EQ(run_out_of_sync_check(), 1);
    EXPECT_FALSE(vesk_map_is_loaded());
    // The drifting film (the last checked) left step by its check of tick 340;
    // it ends at 1000.
    EXPECT_EQ(get_out_of_sync_tick(), 340);

    // An error after the drift is told beside it and never hides it.
    plant_data_error = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_out_of_sync_check(), 1);
    const std::string told = testing::internal::GetCapturedStderr();
    plant_data_error = false;
    EXPECT_NE(told.find("\"film 1\": OUT OF SYNC at tick 340 (its end is tick 1000); then: a local effect is missing"),
              std::string::npos)
        << told;

    // Both clean: status 0.
    films_in_folder = 1;
    EXPECT_EQ(run_out_of_sync_check(), 0);
}

} // namespace game_tick_test_file

// The test programs compile their files together: this file's macros end here.
#undef TRACE_STEP
