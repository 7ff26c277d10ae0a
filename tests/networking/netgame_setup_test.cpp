// The set-up model: the order-game and version rules,
// the players of a starting game (shared captain, computer players while
// there is room), and on a host with real peers the start itself
// (blacklisted builds, a cooperative game of 15 booting one) and its endings
// (a player who is not ready is left out).

#include "gameplay_versions.h"
#include "support/net_session_fixture.h"

#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"

namespace netgame_setup_test_file {

namespace {

new_player_data listed(int32_t id, int32_t captain = NONE)
{
    new_player_data player = test_net_player("p");
    player.unique_identifier = id;
    player.team_captain_identifier = captain;
    player.agreed_to_play = true;
    return player;
}

new_player_data ordered(int32_t captain, int16_t order)
{
    new_player_data player = listed(0, captain);
    player.order = order;
    return player;
}

new_player_data versioned(int16_t version, int16_t build)
{
    new_player_data player = listed(0);
    player.version = version;
    player.build_number = build;
    return player;
}

} // namespace

TEST(netgame_setup_rules, order_games_and_start_versions)
{
    struct order_row
    {
        const char *what;
        std::vector<new_player_data> players;
        bool order_game;
    };
    const order_row orders[] = {
        {"two teams of three of one order each", {ordered(1, 5), ordered(1, 5), ordered(1, 5), ordered(2, 7), ordered(2, 7), ordered(2, 7)}, true},
        {"a team of two", {ordered(1, 5), ordered(1, 5), ordered(2, 7), ordered(2, 7), ordered(2, 7)}, false},
        {"a team of mixed orders", {ordered(1, 5), ordered(1, 6), ordered(1, 5), ordered(2, 7), ordered(2, 7), ordered(2, 7)}, false},
        {"order 0", {ordered(1, 0), ordered(1, 0), ordered(1, 0), ordered(2, 7), ordered(2, 7), ordered(2, 7)}, false},
        {"one team", {ordered(1, 5), ordered(1, 5), ordered(1, 5)}, false},
        {"a player in no team", {ordered(1, 5), ordered(1, 5), ordered(1, 5), ordered(2, 7), ordered(2, 7), ordered(2, 7), ordered(NONE, 7)}, false},
    };
    for (const order_row &r : orders)
        EXPECT_EQ(players_make_order_game(r.players.data(), (int16_t)r.players.size()), r.order_game) << r.what;

    struct version_row
    {
        const char *what;
        std::vector<new_player_data> players;
        int32_t description_version, version, build;
    };
    const version_row versions[] = {
        {"everybody current", {versioned(2182, 443), versioned(2182, 443)}, 2182, 2182, 443},
        {"an older player", {versioned(2182, 443), versioned(2160, 400)}, 2182, 2160, 400},
        {"older than the oldest joinable", {versioned(2182, 443), versioned(2140, 300)}, 2182, 2151, 300},
        {"a newer player's lower build counts not", {versioned(2175, 430), versioned(2182, 300)}, 2182, 2175, 430},
        {"an older description", {versioned(2182, 443)}, 2170, 2170, 443},
    };
    for (const version_row &r : versions)
    {
        int32_t version, build;
        compute_start_version(r.players.data(), (int16_t)r.players.size(), r.description_version, &version, &build);
        EXPECT_EQ(version, r.version) << r.what;
        EXPECT_EQ(build, r.build) << r.what;
    }
}

TEST(netgame_setup_rules, the_players_of_a_starting_game)
{
    struct row
    {
        const char *what;
        int16_t humans;
        uint32_t options;
        int32_t last_captain; // the last human's captain
        int16_t player_count;
        int32_t shared_captain; // -2: captains untouched
        bool captain_chosen;
    };
    const uint32_t coop = _game_option_cooperative_flag, teams = _game_option_allow_multiplayer_teams_flag;
    const row rows[] = {
        {"an ordinary game", 4, 0, NONE, 4, -2, false},
        {"cooperative, 14 humans: Dark and Neutral", 14, coop, NONE, 16, 0, false},
        {"cooperative, 15 humans: Dark only", 15, coop, NONE, 16, 0, false},
        {"cooperative, 16 humans: no room", 16, coop, NONE, 16, 0, false},
        {"cooperative with teams: the last captain shared", 3, coop | teams, 2, 5, 2, true},
        {"cooperative with teams, no captain: none", 3, coop | teams, NONE, 5, NONE, false},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.what);
        std::vector<new_player_data> players;
        for (int16_t i = 0; i < r.humans; i++) players.push_back(listed(i == 0 ? 0 : 10 + i));
        players.back().team_captain_identifier = r.last_captain;
        new_game_data data;
        get_default_new_game_data(&data, _game_type_networked, 0);
        data.parameters.option_flags |= r.options;
        build_game_start_players(players.data(), (int16_t)players.size(), 11, &data);
        EXPECT_EQ(data.player_count, r.player_count);
        EXPECT_EQ(data.local_player_index >= 0 ? data.players[data.local_player_index].unique_identifier : NONE, 11);
        for (int16_t i = 0; i < r.humans && r.shared_captain != -2; i++)
        {
            EXPECT_EQ(data.players[i].team_captain_identifier, r.shared_captain);
        }
        EXPECT_EQ((data.parameters.option_flags & _game_option_team_captain_chosen_flag) != 0, r.captain_chosen);
        // Everybody came with the same colours: each team fields its own.
        for (int16_t i = 0; i < r.humans; i++)
            for (int16_t j = 0; j < i; j++)
            {
                const rgb_color &a = data.players[i].appearance.primary_color;
                const rgb_color &b = data.players[j].appearance.primary_color;
                const bool same = a.red == b.red && a.green == b.green && a.blue == b.blue;
                EXPECT_EQ(same, data.players[i].team_index == data.players[j].team_index) << i << " " << j;
            }
        for (int16_t i = r.humans; i < data.player_count; i++)
        {
            EXPECT_EQ(data.players[i].type, _player_is_computer);
            EXPECT_STREQ(data.players[i].appearance.name, i == r.humans ? "Dark" : "Neutral");
            EXPECT_EQ(data.players[i].team_index, i == r.humans ? 1 : 2);
        }
    }
}

class setup_host : public net_setup_host_fixture
{
protected:
    new_player_data build(int16_t build_number)
    {
        new_player_data player = test_net_player("Old build");
        player.build_number = build_number;
        return player;
    }
};

TEST_F(setup_host, blacklisted_builds_refuse_the_start_unless_autohosting)
{
    join_peer(build(BLACKLISTED_BUILD_NUMBER_0));
    char message[512];
    EXPECT_EQ(netgame_setup_start(false, false, message, sizeof(message)), _netgame_start_blacklisted_builds);
    EXPECT_NE(strstr(message, "(355, 422)"), nullptr) << message;
    EXPECT_TRUE(take_game_packets(0, _configuration_packet).empty());
    EXPECT_EQ(netgame_setup_start(true, false, message, sizeof(message)), _netgame_start_sent);
}

// The host's rules hold, patch bits and all: a 1.8.2 game stays 1.8.2, and
// a player who joined before the host chose rules he cannot play holds the
// start up, named, rather than lowering them.
TEST_F(setup_host, the_start_plays_the_hosts_rules_and_names_a_player_who_cannot)
{
    net_game_description chosen = *get_net_host_game_description();
    const auto choose = [&](int32_t rules) {
        ASSERT_TRUE(update_game_parameters_for_gameplay_version(rules, &chosen.parameters));
        set_net_originator_game_description(&chosen);
    };
    choose(1820);
    new_player_data old = test_net_player("Old hand");
    old.version = 2182;
    join_peer(old);
    char message[512];
    choose(1825);
    EXPECT_EQ(netgame_setup_start(false, false, message, sizeof(message)), _netgame_start_refused);
    EXPECT_NE(strstr(message, "Old hand cannot play the rules of Vesk II 1.8.2.5"), nullptr) << message;
    choose(1820);
    EXPECT_EQ(netgame_setup_start(false, false, message, sizeof(message)), _netgame_start_sent);
    EXPECT_EQ(compute_gameplay_version(&get_net_host_game_description()->parameters, -1), 1820);
}

TEST_F(setup_host, a_cooperative_game_of_fifteen_boots_one_and_starts)
{
    ASSERT_TRUE(change_net_host_game_option_flags(_game_option_cooperative_flag, 0));
    for (int i = 0; i < 14; i++) join_peer(test_net_player("Joiner"));
    ASSERT_EQ(get_net_player_count(), 15);
    char question[512];
    EXPECT_EQ(netgame_setup_start(false, false, question, sizeof(question)), _netgame_start_too_many_for_coop);
    EXPECT_NE(strstr(question, "over 14 human players"), nullptr) << question;
    EXPECT_EQ(get_net_player_count(), 15);

    EXPECT_EQ(netgame_setup_start(false, true, question, sizeof(question)), _netgame_start_sent);
    EXPECT_TRUE(pump_until([] { return get_net_player_count() == 14; }));
    std::vector<std::vector<uint8_t>> starts;
    EXPECT_TRUE(pump_until([&] {
        starts = take_game_packets(0, _configuration_packet);
        return !starts.empty();
    }));
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(packet_int16(starts[0], 10), _netgame_setup_game_starts_item);
    EXPECT_FALSE(take_game_packets(0, _vesk_game_description_packet).empty()) << "the description goes first";
}

TEST_F(setup_host, a_player_who_is_not_ready_is_left_out_of_the_start)
{
    join_peer(test_net_player("Joiner"));
    const vesk_networking_globals *globals = get_vesk_net_globals();
    // The local player's own mark, as a joiner's would be.
    new_player_data local = *get_net_player(0);
    local.agreed_to_play = false;
    set_net_player(0, &local);
    set_net_state(_net_configuring_game);
    new_game_data data;
    net_game_description game;
    memset(&game, 0, sizeof(game));
    EXPECT_FALSE(netgame_setup_finish(_netgame_setup_game_starts_item, false, _net_reenter_game, &data, &game));
    EXPECT_EQ(globals->state, _net_reenter_game);

    set_net_originator_game_description(&globals->originator_game_description_mem);
    local.agreed_to_play = true;
    set_net_player(0, &local);
    set_net_state(_net_configuring_game);
    ASSERT_TRUE(netgame_setup_finish(_netgame_setup_game_starts_item, false, _net_reenter_game, &data, &game));
    EXPECT_EQ(globals->state, _net_idle);
    EXPECT_EQ(data.player_count, 2);
    EXPECT_EQ(data.players[data.local_player_index].unique_identifier, 0);
    EXPECT_EQ(globals->player_count_at_game_start, 2);
    EXPECT_STREQ(game.name, "Test"); // the host's description
    EXPECT_EQ(globals->originator_game_description, nullptr);
}

// Changing the settings clears every ready mark but the persistent ones (and
// the host's own, which is always ready).
TEST_F(setup_host, new_settings_clear_the_ready_marks_but_the_persistent)
{
    new_player_data ready = test_net_player("Ready"), persistent = test_net_player("Persistent");
    ready.agreed_to_play = true;
    persistent.agreed_to_play = true;
    persistent.persistent_ready = true;
    join_peer(ready);
    join_peer(persistent);
    netgame_setup_clear_ready_marks();
    EXPECT_TRUE(get_net_player(0)->agreed_to_play);
    EXPECT_FALSE(get_net_player(find_net_player_index(id_of_peer(0)))->agreed_to_play);
    EXPECT_TRUE(get_net_player(find_net_player_index(id_of_peer(1)))->agreed_to_play);
}

// The ready item on the host's own record (replaced at once on the host).
TEST_F(setup_host, the_ready_item_toggles_and_says_when_shift_chose)
{
    struct row
    {
        bool shift, preference, ready_after, persistent_after;
        const char *message; // null: none
    };
    const row rows[] = {
        {false, false, false, false, nullptr}, // the host starts ready
        {false, false, true, false, nullptr},
        {false, false, false, false, nullptr},
        {true, false, true, true, "Ready Status is Persistent."},
        {true, true, false, false, nullptr},
        {true, true, true, false, "Ready Status is |iNot|p Persistent."},
        {false, true, false, false, nullptr},
        {false, true, true, true, nullptr},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++)
    {
        const row &r = rows[i];
        const char *message = netgame_setup_toggle_ready(r.shift, r.preference);
        EXPECT_STREQ(message ? message : "", r.message ? r.message : "") << "row " << i;
        EXPECT_EQ(get_net_player(0)->agreed_to_play != 0, r.ready_after) << "row " << i;
        EXPECT_EQ(get_net_player(0)->persistent_ready != 0, r.persistent_after) << "row " << i;
    }
}

// The automatic host waits for enough ready players outside its own team,
// in enough teams.
TEST(netgame_setup_rules, the_automatic_host_starts_with_enough_ready_players_in_enough_teams)
{
    struct row
    {
        const char *what;
        std::vector<new_player_data> joiners; // besides the host (id 0, in no team unless `host_captain`)
        int32_t host_captain;
        bool cooperative;
        int16_t players, ready, teams;
        bool may_start;
    };
    auto joiner = [](int32_t id, bool ready, int32_t captain = NONE) {
        new_player_data player = listed(id, captain);
        player.agreed_to_play = ready;
        return player;
    };
    const row rows[] = {
        {"five joiners, two ready: R must reach 3",
         {joiner(1, true), joiner(2, true), joiner(3, false), joiner(4, false), joiner(5, false)}, NONE, false, 5, 2, 2, false},
        {"five joiners, three ready",
         {joiner(1, true), joiner(2, true), joiner(3, true), joiner(4, false), joiner(5, false)}, NONE, false, 5, 3, 3, true},
        {"one ready joiner: never fewer than 2", {joiner(1, true)}, NONE, true, 1, 1, 1, false},
        {"two ready in one team count as one team", {joiner(1, true, 1), joiner(2, true, 1)}, NONE, false, 2, 2, 1, false},
        {"one team is enough in a cooperative game", {joiner(1, true, 1), joiner(2, true, 1)}, NONE, true, 2, 2, 1, true},
        {"the host's team is not counted", {joiner(1, true, 0), joiner(2, true), joiner(3, true)}, 0, false, 2, 2, 2, true},
    };
    for (const row &r : rows)
    {
        std::vector<new_player_data> players = {listed(0, r.host_captain)};
        players.insert(players.end(), r.joiners.begin(), r.joiners.end());
        const autohost_readiness readiness = count_autohost_readiness(players.data(), (int16_t)players.size(), 0);
        EXPECT_EQ(readiness.players, r.players) << r.what;
        EXPECT_EQ(readiness.ready, r.ready) << r.what;
        EXPECT_EQ(readiness.ready_teams, r.teams) << r.what;
        EXPECT_EQ(autohost_players_may_start(readiness, r.cooperative), r.may_start) << r.what;
    }
}

// The countdown on a test clock: it waits five seconds after the settings,
// speaks at 0, 10 and 15 seconds, starts after 20, and a player who stops
// being ready aborts it; it then begins again from 20 seconds.
TEST(netgame_setup_rules, the_automatic_hosts_countdown_aborts_and_restarts)
{
    struct step
    {
        uint32_t at_ms;
        bool may_start;
        autohost_countdown_event event;
        int32_t seconds_left;
    };
    const uint32_t settled = 0xFFFFF000u; // the clock wraps during the countdown
    const step steps[] = {
        {settled + 4999, true, _autohost_countdown_quiet, 20},
        {settled + 5000, true, _autohost_countdown_begun, 20},
        {settled + 14999, true, _autohost_countdown_quiet, 20},
        {settled + 15000, true, _autohost_countdown_announced, 10},
        {settled + 16000, false, _autohost_countdown_aborted, 20},
        {settled + 17000, false, _autohost_countdown_quiet, 20},
        {settled + 18000, true, _autohost_countdown_begun, 20},
        {settled + 28000, true, _autohost_countdown_announced, 10},
        {settled + 33000, true, _autohost_countdown_announced, 5},
        {settled + 37999, true, _autohost_countdown_quiet, 20},
        {settled + 38000, true, _autohost_countdown_finished, 0},
        {settled + 38001, true, _autohost_countdown_begun, 20},
    };
    autohost_countdown countdown = {};
    for (const step &s : steps)
    {
        int32_t seconds_left = -1;
        EXPECT_EQ(advance_autohost_countdown(&countdown, s.may_start, s.at_ms, settled, &seconds_left), s.event)
            << s.at_ms - settled;
        EXPECT_EQ(seconds_left, s.seconds_left) << s.at_ms - settled;
    }
}

} // namespace netgame_setup_test_file
