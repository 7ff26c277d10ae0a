// Services the core offers the later subsystems for this machine's session:
// cutscene decisions, the join's remaining-time text, sounds at objects,
// smoothing at the game's pace, and the registration points behind them.

#include <gtest/gtest.h>

#include "cseries/registration.h"

#include <cstring>
#include <string>
#include <vector>

#include "fire.h"
#include "game_records.h"
#include "game_speed_lerp.h"
#include "game_time.h"
#include "lobby_procedures.h"
#include "networking_procedures.h"
#include "session_state.h"
#include "sound_procedures.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "unit_facts.h"

namespace session_services_test_file {

namespace {

class session_services_test : public ::testing::Test
{
protected:
    void SetUp() override { reset_game_core(); }
    void TearDown() override
    {
        display_chat = false;
        joining_mid_game = false;
        set_restoring_from_saved_game(false);
        clear_all_registrations();
    }
};

TEST_F(session_services_test, cutscenes_are_prevented_in_network_games_without_the_option_and_while_catching_up)
{
    const struct
    {
        int16_t type;
        uint32_t options;
        bool restoring, joining;
        bool prevented;
    } cases[] = {
        {_game_type_local, 0, false, false, false},
        {_game_type_replay, 0, false, false, false},
        {_game_type_networked, 0, false, false, true},
        {_game_type_networked, _game_option_netgame_cutscenes_flag, false, false, false},
        {_game_type_networked, _game_option_netgame_cutscenes_flag, false, true, true},
        {_game_type_local, 0, true, false, true},
    };
    for (const auto &c : cases)
    {
        game_->type = c.type;
        game_->option_flags = c.options;
        set_restoring_from_saved_game(c.restoring);
        joining_mid_game = c.joining;
        EXPECT_EQ(restoring_from_saved_game(), c.restoring);
        EXPECT_EQ(prevent_cutscenes_from_playing(), c.prevented)
            << "type " << c.type << " options " << c.options << " restoring " << c.restoring << " joining "
            << c.joining;
    }
    EXPECT_FALSE(display_chat);
    EXPECT_TRUE(toggle_display_chat());
    EXPECT_FALSE(toggle_display_chat());
}

TEST_F(session_services_test, the_remaining_time_text_comes_from_the_network_layer_and_always_ends)
{
    char buffer[TIME_REMAINING_STRING_SIZE];
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_STREQ(get_time_remaining_string(buffer), "") << "empty until the network layer registers";

    static const networking_procedures careless = {.get_time_remaining_string = [](char *text, size_t size) {
        memset(text, 'y', size); // a careless writer: no terminator
    }};
    ASSERT_TRUE(register_networking_procedures(&careless));
    get_time_remaining_string(buffer);
    EXPECT_EQ(strlen(buffer), (size_t)TIME_REMAINING_STRING_SIZE - 1);

    clear_all_registrations();
    static const networking_procedures careful = {
        .get_time_remaining_string = [](char *text, size_t size) { snprintf(text, size, "0:42"); }};
    ASSERT_TRUE(register_networking_procedures(&careful));
    EXPECT_STREQ(get_time_remaining_string(buffer), "0:42");
}

std::vector<std::pair<int32_t, int16_t>> played;

TEST_F(session_services_test, object_sounds_reach_the_sound_layer_once_it_registers)
{
    played.clear();
    _play_object_sound(3, 7); // nobody listens yet
    static const sound_procedures sounds = {
        .play_object_sound = [](int32_t object, int16_t sound) { played.push_back({object, sound}); }};
    ASSERT_TRUE(register_sound_procedures(&sounds));
    _play_object_sound(3, 7);
    _play_object_sound(NONE, 7);
    _play_object_sound(3, NONE);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].first, 3);
    EXPECT_EQ(played[0].second, 7);
}

TEST_F(session_services_test, smoothing_keeps_pace_with_the_game_speed_and_stops_while_paused)
{
    game_->type = _game_type_local;
    // Local ticks passed between calls, the speed index in force for them, and
    // the fraction reached, for a span of 16 game ticks.
    const struct
    {
        int32_t local_ticks;
        int16_t speed_index; // 5 = normal (8 eighths), 7 = 2 x, 3 = 1/2 x
        bool paused;
        float fraction;
    } steps[] = {
        {0, 5, false, 0.0f},   {4, 5, false, 0.25f}, {4, 7, false, 0.75f}, {4, 7, true, 0.75f},
        {8, 3, false, 1.0f},   {8, 5, false, 1.0f},
    };
    lerp_logic_state state;
    memset(&state, 0, sizeof(state));
    game_->local_time = 100;
    for (const auto &s : steps)
    {
        game_->local_time += s.local_ticks;
        ASSERT_TRUE(set_game_speed(s.speed_index));
        pause_game(s.paused);
        // The speed of the interval is the speed at its end: callers step every frame.
        EXPECT_FLOAT_EQ(game_speed_aware_lerp_logic(&state, 40, 16), s.fraction)
            << s.local_ticks << " ticks at speed " << s.speed_index;
    }
    pause_game(false);
    ASSERT_TRUE(set_game_speed(NORMAL_GAME_SPEED_INDEX));

    // Another start begins again from 0; a span below 1 is done at once.
    EXPECT_FLOAT_EQ(game_speed_aware_lerp_logic(&state, 56, 16), 0.0f);
    game_->local_time += 8;
    EXPECT_FLOAT_EQ(game_speed_aware_lerp_logic(&state, 56, 16), 0.5f);
    EXPECT_FLOAT_EQ(game_speed_aware_lerp_logic(&state, 80, 0), 1.0f);
}

bool no_unit(int32_t, unit_facts *) { return false; }
bool no_listener(fire_sound_parameters *) { return false; }
const sound_procedures quiet_sounds = {.get_fire_sound_parameters = no_listener};
const sound_procedures other_sounds = {};
const networking_procedures offline = {};
const lobby_procedures outside_lobby = {};

// Each point takes one procedure (or one table): a null one or a second one
// is refused with an assertion, and the first stays.
TEST_F(session_services_test, each_registration_point_takes_one_procedure_and_refuses_the_rest)
{
    struct point
    {
        const char *name;
        bool (*register_null)(void);
        bool (*register_first)(void);
        bool (*register_again)(void);
    };
    const point points[] = {
        {"unit facts", [] { return register_unit_facts_procedure(nullptr); },
         [] { return register_unit_facts_procedure(no_unit); },
         [] { return register_unit_facts_procedure([](int32_t, unit_facts *) { return true; }); }},
        {"sound table", [] { return register_sound_procedures(nullptr); },
         [] { return register_sound_procedures(&quiet_sounds); },
         [] { return register_sound_procedures(&other_sounds); }},
        {"networking table", [] { return register_networking_procedures(nullptr); },
         [] { return register_networking_procedures(&offline); },
         [] { return register_networking_procedures(&offline); }},
        {"lobby table", [] { return register_lobby_procedures(nullptr); },
         [] { return register_lobby_procedures(&outside_lobby); },
         [] { return register_lobby_procedures(&outside_lobby); }},
    };
    for (const point &p : points)
    {
        {
            expected_assertions expect(1, "null");
            EXPECT_FALSE(p.register_null()) << p.name;
        }
        EXPECT_TRUE(p.register_first()) << p.name;
        expected_assertions expect(1, "taken already");
        EXPECT_FALSE(p.register_again()) << p.name;
    }
    // The first registrations answer: no unit exists, no listener hears the
    // fire, and a table's null members keep their defaults.
    unit_facts facts;
    EXPECT_FALSE(get_unit_facts(0, &facts));
    EXPECT_EQ(get_sound_procedures(), &quiet_sounds);
    EXPECT_EQ(get_networking_procedures(), &offline);
    EXPECT_FALSE(networked_game_supports_ping());
    EXPECT_EQ(get_local_player_latency(), 65535);
    EXPECT_EQ(get_player_latency(3), 0);
    EXPECT_EQ(get_player_buddy_status(3), 0);
    EXPECT_EQ(metaserver_room_count(), 0);
}

} // namespace

} // namespace session_services_test_file
