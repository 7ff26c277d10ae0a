#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "game_preferences.h"
#include "cseries/errors.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "tag_files/tag_files.h"
#include "game_records.h"
#include "gameplay_versions.h"
#include "bitmap_dialogs/network_services.h"

namespace game_records_test_file {

static new_game_parameter_data sample_parameters(void)
{
    new_game_parameter_data p;
    memset(&p, 0, sizeof(p));
    p.type = 1;
    p.scoring = 0x0102;
    p.option_flags = 0x03040506;
    p.time_limit = 0x0708090A;
    p.scenario_tag = FOUR_CHARACTER_CODE('m', 'a', 'p', '1');
    p.difficulty_level = 0x0B0C;
    p.maximum_players = 0x0D0E;
    p.initial_team_random_seed = 0x0F10;
    p.maximum_teams = 0x1112;
    p.random_seed = 0x13141516;
    p.pregame_time_limit = 0x1718191A;
    p.unused = 0x1B1C;
    p.buildnum = 0x01BB; // 443
    p.version = 0x00000886; // 2182
    p.room_id = 0x1D1E;
    p.plugin_count = 0x0002;
    p.plugin_data[0] = 0xAA;
    p.plugin_data[511] = 0xBB;
    return p;
}

TEST(game_records, parameters_have_their_stored_bytes_and_round_trip)
{
    new_game_parameter_data p = sample_parameters();
    const new_game_parameter_data original = p;
    byte_swap_new_game_parameter_data(&p);
    const uint8_t expected[44] = {
        0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 'm', 'a', 'p', '1',
        0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A,
        0x01, 0xBB, 0x1B, 0x1C, // buildnum first, then unused
        0x00, 0x00, 0x08, 0x86, 0x1D, 0x1E, 0x00, 0x02};
    EXPECT_EQ(memcmp(&p, expected, sizeof(expected)), 0);
    EXPECT_EQ(((const uint8_t *)&p)[44], 0xAA) << "the plug-in list is stored as it is";
    EXPECT_EQ(((const uint8_t *)&p)[555], 0xBB);
    byte_swap_new_game_parameter_data(&p);
    EXPECT_EQ(memcmp(&p, &original, sizeof(p)), 0);
}

TEST(game_records, players_and_games_have_their_stored_bytes_and_round_trip)
{
    new_game_data data;
    memset(&data, 0, sizeof(data));
    data.parameters = sample_parameters();
    data.player_count = 2;
    data.local_player_index = 1;
    new_player_data *player = &data.players[1];
    player->team_index = 0x0102;
    player->flags = _player_uses_appearance_colors_flag;
    player->team_captain_identifier = 0x03040506;
    player->agreed_to_play = 1;
    player->metaserver_player_id = 0x0708090A;
    player->metaserver_player = 0x11;
    player->persistent_ready = 0x22;
    player->data_tags[9] = 0x33;
    player->version = CURRENT_VERSION_IDENTIFIER;
    player->build_number = CURRENT_BUILD_NUMBER;
    strcpy(player->appearance.name, "Ana");
    player->appearance.primary_color.red = 0x5998;
    player->appearance.secondary_color.flags = 0x0001;
    const new_game_data original = data;

    byte_swap_new_game_data(&data);
    const uint8_t *bytes = (const uint8_t *)&data;
    EXPECT_EQ(read_be16(bytes + 556), 2);
    EXPECT_EQ(read_be16(bytes + 558), 1);
    const uint8_t *stored = bytes + 572 + 124; // player 1
    EXPECT_EQ(read_be16(stored + 0), 0x0102);
    EXPECT_EQ(read_be16(stored + 4), 1);
    EXPECT_EQ(read_be32(stored + 8), 0x03040506u);
    EXPECT_EQ(stored[16], 1);
    EXPECT_EQ(read_be32(stored + 20), 0x0708090Au);
    EXPECT_EQ(stored[24], 0x11) << "raw bytes stay as they are";
    EXPECT_EQ(stored[25], 0x22);
    EXPECT_EQ(stored[35], 0x33);
    EXPECT_EQ(read_be16(stored + 36), CURRENT_VERSION_IDENTIFIER);
    EXPECT_EQ(read_be16(stored + 38), CURRENT_BUILD_NUMBER);
    EXPECT_EQ(memcmp(stored + 44, "Ana", 4), 0);
    EXPECT_EQ(read_be16(stored + 40 + 68), 0x5998);
    EXPECT_EQ(read_be16(stored + 40 + 82), 1);
    for (int32_t i = 572 + 2 * 124; i < 2556; ++i) ASSERT_EQ(bytes[i], 0) << "empty slots stay zero, byte " << i;
    byte_swap_new_game_data(&data);
    EXPECT_EQ(memcmp(&data, &original, sizeof(data)), 0);

    // One player swapped alone gives the same bytes as inside the game.
    new_player_data alone = original.players[1];
    byte_swap_new_player_data(&alone);
    byte_swap_new_game_data(&data);
    EXPECT_EQ(memcmp(&alone, stored, sizeof(alone)), 0);
}

// The listed game's stored and wire bytes: the fields after the parameters.
TEST(game_records, a_game_description_has_its_stored_bytes_and_round_trips)
{
    EXPECT_EQ(byte_swap_description_size(net_game_description_byte_swapping_data), 712);
    net_game_description d;
    memset(&d, 0, sizeof(d));
    strcpy(d.name, "abc");
    strcpy(d.password, "pw");
    d.parameters = sample_parameters();
    d.host_or_selector.fresh.mapset_checksum = 0;
    d.host_or_selector.fresh.gameplay_selector_value = 0x7FFFFFFF;
    d.port = 3453;
    d.flags = _net_game_has_password_flag | _net_game_supports_midgame_joining_flag;
    d.game_id = 0x01020304;
    d.public_tags_checksum = 0x05060708;
    d.private_tags_checksum = 0x090A0B0C;
    d.player_count = 3;
    d.game_seconds_remaining = 0x0D0E;
    const net_game_description original = d;
    ASSERT_TRUE(byte_swap_data("net_game_description", &d, sizeof(d), 1, net_game_description_byte_swapping_data));
    const uint8_t *bytes = (const uint8_t *)&d;
    EXPECT_STREQ((const char *)bytes + 96, "pw");
    EXPECT_EQ(bytes[128 + 1], 0x01) << "the parameters' type, big-endian";
    const uint8_t tail[] = {0x00, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0x0D, 0x7D, 0x00, 0x22, 0x01, 0x02,
                            0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x03, 0x00, 0x0D, 0x0E};
    EXPECT_EQ(memcmp(bytes + 684, tail, sizeof(tail)), 0);
    ASSERT_TRUE(byte_swap_data("net_game_description", &d, sizeof(d), 1, net_game_description_byte_swapping_data));
    EXPECT_EQ(memcmp(&d, &original, sizeof(d)), 0);
}

TEST(game_records, damaged_set_ups_are_repaired_or_refused)
{
    const struct
    {
        const char *what;
        void (*damage)(new_game_data *);
        bool accepted;
        void (*check)(const new_game_data *);
    } cases[] = {
        {"scoring 16", [](new_game_data *d) { d->parameters.scoring = 16; }, true,
         [](const new_game_data *d) { EXPECT_EQ(d->parameters.scoring, 2); }},
        {"scoring -1", [](new_game_data *d) { d->parameters.scoring = -1; }, true,
         [](const new_game_data *d) { EXPECT_EQ(d->parameters.scoring, 2); }},
        {"difficulty 5", [](new_game_data *d) { d->parameters.difficulty_level = 5; }, true,
         [](const new_game_data *d) { EXPECT_EQ(d->parameters.difficulty_level, 2); }},
        {"option bit 31", [](new_game_data *d) { d->parameters.option_flags = 0x80000001u; }, true,
         [](const new_game_data *d) { EXPECT_EQ(d->parameters.option_flags, 16436u); }},
        {"plug-in count 65", [](new_game_data *d) { d->parameters.plugin_count = 65; d->parameters.plugin_data[3] = 9; }, true,
         [](const new_game_data *d) { EXPECT_EQ(d->parameters.plugin_count, 0); EXPECT_EQ(d->parameters.plugin_data[3], 0); }},
        {"unterminated name", [](new_game_data *d) { memset(d->players[0].appearance.name, 'x', PLAYER_NAME_SIZE); }, true,
         [](const new_game_data *d) { EXPECT_EQ(strlen(d->players[0].appearance.name), PLAYER_NAME_SIZE - 1u); }},
        {"stale player past the count", [](new_game_data *d) { d->players[5].team_index = 7; }, true,
         [](const new_game_data *d) { EXPECT_EQ(d->players[5].team_index, 0); }},
        {"16 players", [](new_game_data *d) { d->player_count = 16; }, true, nullptr},
        {"17 players", [](new_game_data *d) { d->player_count = 17; }, false, nullptr},
        {"game type 4", [](new_game_data *d) { d->parameters.type = NUMBER_OF_GAME_TYPES; }, false, nullptr},
        {"local player 1 of 1", [](new_game_data *d) { d->local_player_index = 1; }, false, nullptr},
        {"no local player", [](new_game_data *d) { d->local_player_index = NONE; }, true, nullptr},
    };
    for (const auto &c : cases)
    {
        new_game_data data;
        get_default_new_game_data(&data, _game_type_local, FOUR_CHARACTER_CODE('m', 'a', 'p', '1'));
        data.player_count = 1;
        data.local_player_index = 0;
        c.damage(&data);
        EXPECT_EQ(verify_new_game_data(&data), c.accepted) << c.what;
        if (c.check) c.check(&data);
    }
}

TEST(game_records, minimum_build_number_and_defaults)
{
    new_player_data players[3];
    memset(players, 0, sizeof(players));
    players[0].build_number = 443;
    players[1].build_number = 400;
    players[2].build_number = 300;
    players[2].type = _player_is_computer; // only humans count
    EXPECT_EQ(compute_minimum_build_number_from_player(players, 3), 400);
    EXPECT_EQ(compute_minimum_build_number_from_player(players, 0), 32767);
    players[1].build_number = 0;
    EXPECT_EQ(compute_minimum_build_number_from_player(players, 3), NONE);

    for (int16_t type : {0, 1, 2, 3})
    {
        new_game_data data;
        get_default_new_game_data(&data, type, FOUR_CHARACTER_CODE('m', 'a', 'p', '1'));
        EXPECT_EQ(compute_gameplay_version(&data.parameters, -1), DEFAULT_GAMEPLAY_VERSION);
        EXPECT_EQ((data.parameters.option_flags & _game_option_limited_visibility_flag) != 0, type == 1 || type == 2);
        EXPECT_EQ(data.local_player_index, NONE);
        EXPECT_TRUE(verify_new_game_data(&data));
    }
}

TEST(gameplay_versions, every_row_maps_both_ways_and_unknown_versions_are_refused)
{
    for (int32_t i = 0; i < NUMBER_OF_GAMEPLAY_VERSIONS; ++i)
    {
        const gameplay_version_definition *row = get_gameplay_version_definition(i);
        new_game_parameter_data parameters;
        memset(&parameters, 0, sizeof(parameters));
        parameters.option_flags = GAMEPLAY_VERSION_OPTION_FLAGS | _game_option_cooperative_flag; // stale bits
        ASSERT_TRUE(update_game_parameters_for_gameplay_version(row->gameplay_version, &parameters));
        EXPECT_EQ(parameters.version, row->version_identifier);
        EXPECT_EQ(parameters.buildnum, CURRENT_BUILD_NUMBER);
        EXPECT_EQ(parameters.option_flags, row->option_flags | _game_option_cooperative_flag);
        EXPECT_EQ(compute_gameplay_version(&parameters, -1), row->gameplay_version);
        EXPECT_STREQ(gameplay_version_to_string(row->gameplay_version), row->name);
        if (i > 0) { EXPECT_GT(row->gameplay_version, get_gameplay_version_definition(i - 1)->gameplay_version); }
    }
    for (int32_t version : {1300, 1500, 1690, 1695, 1820}) EXPECT_TRUE(gameplay_version_is_known(version));

    new_game_parameter_data parameters;
    memset(&parameters, 0, sizeof(parameters));
    parameters.version = 2182;
    const new_game_parameter_data before = parameters;
    EXPECT_FALSE(update_game_parameters_for_gameplay_version(1821, &parameters));
    EXPECT_EQ(memcmp(&parameters, &before, sizeof(parameters)), 0) << "a refused version changes nothing";
    parameters.version = 2186;
    EXPECT_EQ(compute_gameplay_version(&parameters, -1), NONE);

    const struct { int32_t identifier, version; } from_identifier[] = {
        {0, 1300}, {2100, 1300}, {2151, 1510}, {2165, 1600}, {2169, 1690}, {2180, 1800}, {2182, 1820}, {2183, 1830}, {2184, 1840}, {2185, DEFAULT_GAMEPLAY_VERSION}, {2186, NONE}};
    for (const auto &c : from_identifier)
        EXPECT_EQ(gameplay_version_from_version_id(c.identifier, 443), c.version) << c.identifier;

    // Who plays what: lower identifiers' rows, one's own base row, and every
    // row for this program's players; a patch row of an older identifier is not trusted.
    const struct { int32_t identifier, version; bool plays; } plays[] = {
        {2183, 1830, true}, {2184, 1830, true}, {2182, 1830, false}, {2182, 1820, true}, {2182, 1825, false},
        {2183, 1825, true}, {2181, 1805, true}, {2180, 1805, false}, {2151, 1510, true}, {2183, 1831, false},
        {2183, 1840, false}, {2184, 1840, true}, {2184, 1850, false}, {2185, 1850, true}};
    for (const auto &c : plays)
        EXPECT_EQ(version_identifier_plays_gameplay_version(c.identifier, c.version), c.plays)
            << c.identifier << " " << c.version;

    EXPECT_STREQ(get_version_string(2180, true), "Vesk II 1.8");
    EXPECT_STREQ(get_version_string(2182, false), "1.8.2");
    EXPECT_STREQ(get_version_string(2151, false), "1.5.1");
    EXPECT_STREQ(get_version_string(2199, false), "version 2199");
}

TEST(gameplay_versions, selector_values_and_option_needs)
{
    const struct { int32_t value, version, minimum; bool valid; } cases[] = {
        {-1, DEFAULT_GAMEPLAY_VERSION, -1, true}, {1510, 1510, -1, true}, {-1601, DEFAULT_GAMEPLAY_VERSION, 1601, false},
        {-1600, DEFAULT_GAMEPLAY_VERSION, 1600, true}, {1234, 1234, -1, false}, {0, DEFAULT_GAMEPLAY_VERSION, -1, false}};
    for (const auto &c : cases)
    {
        int32_t version, minimum;
        get_gameplay_selector_settings(c.value, &version, &minimum);
        EXPECT_EQ(version, c.version) << c.value;
        EXPECT_EQ(minimum, c.minimum) << c.value;
        EXPECT_EQ(gameplay_selector_value_is_valid(c.value), c.valid) << c.value;
    }
    new_game_parameter_data parameters;
    memset(&parameters, 0, sizeof(parameters));
    EXPECT_EQ(get_minimum_gameplay_version_for_game_settings(&parameters), 1300);
    parameters.option_flags = _game_option_allow_alliances_flag | _game_option_uses_anticlump_flag;
    EXPECT_EQ(get_minimum_gameplay_version_for_game_settings(&parameters), 1800);
}

TEST(game_preferences, stored_bytes_round_trip_and_damage_is_repaired)
{
    game_preferences record;
    default_game_preferences(&record);
    EXPECT_TRUE(record.flags & _game_pref_use_persistent_ready_flag);
    record.flags = 0x01020304;
    record.overhead_map_scale_relative_to_default = 2.0f;
    record.visited_level_count = 1;
    record.visited_levels[0].mesh_tag = FOUR_CHARACTER_CODE('l', '1', ' ', ' ');
    record.visited_levels[0].plugin_index = 3;
    const game_preferences original = record;
    ASSERT_TRUE(byte_swap_data("game 2", &record, sizeof(record), 1, game_preferences_byte_swapping_data));
    const uint8_t *bytes = (const uint8_t *)&record;
    EXPECT_EQ(read_be32(bytes), 0x01020304u);
    EXPECT_EQ(read_be32(bytes + 8), 0x40000000u); // 2.0f
    EXPECT_EQ(read_be16(bytes + 14), 1);
    EXPECT_EQ(read_be16(bytes + 96 + 32), CURRENT_BUILD_NUMBER) << "embedded parameters keep their layout";
    EXPECT_EQ(read_be32(bytes + 1208), (uint32_t)FOUR_CHARACTER_CODE('l', '1', ' ', ' '));
    EXPECT_EQ(read_be16(bytes + 1212), 3);
    byte_swap_data("game 2", &record, sizeof(record), 1, game_preferences_byte_swapping_data);
    EXPECT_EQ(memcmp(&record, &original, sizeof(record)), 0);

    record.solo_gameplay_selector_value = 1234;
    record.multi_gameplay_selector_value = -1601;
    record.overhead_map_scale_relative_to_default = NAN;
    record.zoom_factor = 0;
    record.visited_level_count = 65;
    record.no_blood_password[NO_BLOOD_PASSWORD_SIZE - 1] = 'x';
    record.multi_new_game_params.scoring = 99;
    EXPECT_TRUE(verify_game_preferences(&record));
    EXPECT_EQ(record.solo_gameplay_selector_value, -1);
    EXPECT_EQ(record.multi_gameplay_selector_value, -1);
    EXPECT_EQ(record.overhead_map_scale_relative_to_default, 1.0f);
    EXPECT_EQ(record.zoom_factor, (int32_t)DEFAULT_ZOOM_FACTOR);
    EXPECT_EQ(record.visited_level_count, 0);
    EXPECT_EQ(record.no_blood_password[NO_BLOOD_PASSWORD_SIZE - 1], 0);
    EXPECT_EQ(record.multi_new_game_params.scoring, 2);
}

TEST(game_preferences, visited_levels_are_kept_once_and_the_oldest_makes_room)
{
    ASSERT_TRUE(initialize_game_preferences(false));
    EXPECT_FALSE(write_game_preferences()) << "no store: nothing claims to be saved";
    const tag first = FOUR_CHARACTER_CODE('l', 'v', 0, 0);
    for (int32_t i = 0; i < MAXIMUM_VISITED_SOLO_LEVELS; ++i) mark_solo_level_as_visited(first + i, NONE);
    mark_solo_level_as_visited(first, NONE);
    EXPECT_EQ(get_game_preferences()->visited_level_count, MAXIMUM_VISITED_SOLO_LEVELS);
    EXPECT_FALSE(solo_level_visited(first, 0)) << "the plug-in index is part of the level";
    mark_solo_level_as_visited(first + 100, NONE);
    EXPECT_FALSE(solo_level_visited(first, NONE));
    EXPECT_TRUE(solo_level_visited(first + 1, NONE));
    EXPECT_TRUE(solo_level_visited(first + 100, NONE));

}

// Loaded from the store, the record is written back there and read again
// whole; a store without the record gives the defaults.
TEST(game_preferences, the_store_gives_the_defaults_then_what_was_written)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    make_store_folders();
    ASSERT_TRUE(write_foundation_files({}));
    initialize_tag_files();
    tag_files_open(0, nullptr, -1, -1, 0);
    clear_pending_error();

    ASSERT_TRUE(initialize_game_preferences(true));
    EXPECT_TRUE(get_game_preferences()->flags & _game_pref_show_subtitles_flag);
    EXPECT_FALSE(get_game_preferences()->flags & _game_pref_censored_flag);
    get_game_preferences()->flags |= _game_pref_censored_flag;
    const tag level = FOUR_CHARACTER_CODE('l', 'v', 'l', '1');
    mark_solo_level_as_visited(level, NONE);
    EXPECT_TRUE(write_game_preferences());

    ASSERT_TRUE(initialize_game_preferences(false));
    EXPECT_FALSE(get_game_preferences()->flags & _game_pref_censored_flag) << "in memory: the defaults";
    EXPECT_FALSE(write_game_preferences());
    ASSERT_TRUE(initialize_game_preferences(true));
    EXPECT_TRUE(get_game_preferences()->flags & _game_pref_censored_flag);
    EXPECT_TRUE(solo_level_visited(level, NONE));
    dispose_tag_files();
}

} // namespace game_records_test_file
