// The "networking" preferences record and the hosting settings: golden
// stored bytes with their raw-byte exceptions, the repairs of a damaged
// record, the password never reaching the disk, the owner-only file, and the
// hosting port with and without the power-user section; the automatic
// host's playlist record, which game comes next and the defaults that stand
// in for a damaged one.

#include "tag_files/store_fixture.h"

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "iniparser3.0b/inifile.h"
#include "tag_files/preferences.h"
#include "vesk_networking/autohost_preferences.h"
#include "vesk_networking/networking_preferences.h"

namespace networking_preferences_test_file {

namespace {

class networking_preferences_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        dispose_poweruser_settings();
        forget_net_hosting_prefs();
        start_store();
    }

    void TearDown() override
    {
        dispose_poweruser_settings();
        forget_net_hosting_prefs();
        store_test::TearDown();
    }

    std::string stored_bytes(void)
    {
        const int32_t tag_index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, NETWORKING_PREFERENCES_NAME);
        tag_file_info info;
        if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return "";
        std::string bytes((size_t)info.size, '\0');
        EXPECT_TRUE(tag_file_read(tag_index, 0, info.size, bytes.data()));
        return bytes;
    }

    // Stores `record` (host order) as the stored bytes of version 3.
    void store_raw(networking_preferences record)
    {
        ASSERT_TRUE(byte_swap_data("networking", &record, (int32_t)sizeof(record), 1, networking_preferences_byte_swapping_data));
        write_local_tag(PREFERENCES_GROUP_TAG, NETWORKING_PREFERENCES_NAME, NETWORKING_PREFERENCES_VERSION, &record,
                        (int32_t)sizeof(record));
    }

    // Stores the playlist `record` (host order) as `size` bytes of `version`.
    void store_raw_playlist(autohost_preferences record, int16_t version, int32_t size = sizeof(autohost_preferences))
    {
        ASSERT_TRUE(byte_swap_data("autohost", &record, (int32_t)sizeof(record), 1,
                                   autohost_preferences_byte_swapping_data));
        write_local_tag(PREFERENCES_GROUP_TAG, AUTOHOST_PREFERENCES_NAME, version, &record, size);
    }
    // Stores a playlist whose entries in `filled` hold a game named "game N".
    void store_playlist(const std::vector<int> &filled)
    {
        static autohost_preferences record;
        default_autohost_preferences(&record);
        for (net_game_description &entry : record.playlist) entry.parameters.scenario_tag = (tag)NONE;
        for (int i : filled)
        {
            record.playlist[i] = record.playlist[0];
            record.playlist[i].parameters.scenario_tag = FOUR_CHARACTER_CODE('m', 'a', 'p', '1');
            snprintf(record.playlist[i].name, sizeof(record.playlist[i].name), "game %d", i);
        }
        store_raw_playlist(record, AUTOHOST_PREFERENCES_VERSION);
    }

    static networking_preferences defaults(void)
    {
        networking_preferences record;
        default_networking_preferences(&record);
        return record;
    }
};

} // namespace

// The record as written: big-endian fields, `buildnum` before `unused`, and
// the raw bytes (player count, seconds remaining, the lobby bytes) in host order.
TEST_F(networking_preferences_test, the_stored_record_has_golden_bytes)
{
    networking_preferences record = defaults();
    record.game.player_count = 5;
    record.game.game_seconds_remaining = 0x0102;
    record.player.persistent_ready = 1;
    record.protocol_type = FOUR_CHARACTER_CODE('I', 'n', 'e', 't');
    record.plugin_count = 3;
    ASSERT_TRUE(save_netgame_preferences(&record.game, &record.player, nullptr, &record.protocol_type));
    const std::string bytes = stored_bytes();
    ASSERT_EQ(bytes.size(), 1612u);
    struct expectation
    {
        const char *what;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const uint16_t raw_seconds = 0x0102;
    const uint8_t *raw = (const uint8_t *)&raw_seconds;
    const expectation rows[] = {
        {"game type 1", 128, {0x00, 0x01}},
        {"buildnum 443 first, then unused", 128 + 32, {0x01, 0xBB, 0x00, 0x00}},
        {"version 2185", 128 + 36, {0x00, 0x00, 0x08, 0x89}},
        {"fresh union", 684, {0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}},
        {"port 3453", 692, {0x0D, 0x7D}},
        {"player count and unused byte raw", 708, {5, 0}},
        {"seconds remaining raw", 710, {raw[0], raw[1]}},
        {"player team -1, type 0, flags 1", 712, {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01}},
        {"persistent ready raw", 712 + 25, {1}},
        {"player version and build", 712 + 36, {0x08, 0x89, 0x01, 0xBB}},
        {"primary red", 712 + 40 + 68, {0x59, 0x98}},
        {"secondary red", 712 + 40 + 76, {0xC4, 0x24}},
        {"protocol", 836, {'I', 'n', 'e', 't'}},
    };
    for (const expectation &row : rows)
    {
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + (long)row.offset,
                                       bytes.begin() + (long)(row.offset + row.bytes.size())),
                  row.bytes)
            << row.what;
    }
    tag_file_info info;
    ASSERT_TRUE(tag_file_info_get(tag_file_find_by_name(PREFERENCES_GROUP_TAG, NETWORKING_PREFERENCES_NAME), &info));
    EXPECT_EQ(info.version, NETWORKING_PREFERENCES_VERSION);
}

// A damaged stored record is repaired on loading, field by field.
TEST_F(networking_preferences_test, a_damaged_record_is_repaired_when_loaded)
{
    typedef networking_preferences record;
    struct row
    {
        const char *what;
        void (*damage)(record &);
        int64_t (*field)(const record &);
        int64_t expected;
    };
    const row rows[] = {
        {"option flags 0x80000000", [](record &r) { r.game.parameters.option_flags = 0x80000000u; },
         [](const record &r) -> int64_t { return r.game.parameters.option_flags; },
         16436}, // the default options; the default rules have no version bit
        {"difficulty 7", [](record &r) { r.game.parameters.difficulty_level = 7; },
         [](const record &r) -> int64_t { return r.game.parameters.difficulty_level; }, 2},
        {"difficulty -1", [](record &r) { r.game.parameters.difficulty_level = -1; },
         [](const record &r) -> int64_t { return r.game.parameters.difficulty_level; }, 2},
        {"scoring 16", [](record &r) { r.game.parameters.scoring = 16; },
         [](const record &r) -> int64_t { return r.game.parameters.scoring; }, 2},
        {"a game of another type", [](record &r) { r.game.parameters.type = 2; },
         [](const record &r) -> int64_t { return r.game.parameters.type; }, 1},
        {"unterminated names",
         [](record &r) {
             memset(r.game.name, 'n', sizeof(r.game.name));
             memset(r.game.map_name, 'm', sizeof(r.game.map_name));
             memset(r.player.appearance.name, 'p', sizeof(r.player.appearance.name));
         },
         [](const record &r) -> int64_t {
             return (int64_t)(strlen(r.game.name) + strlen(r.game.map_name) + strlen(r.player.appearance.name));
         },
         31 + 63 + 31},
        {"a player on a team", [](record &r) { r.player.team_index = 4; },
         [](const record &r) -> int64_t { return r.player.team_index; }, -1},
        {"a player of an older version", [](record &r) { r.player.version = 2100; },
         [](const record &r) -> int64_t { return r.player.version; }, CURRENT_VERSION_IDENTIFIER},
        {"a map nobody has", [](record &r) { r.game.parameters.scenario_tag = FOUR_CHARACTER_CODE('n', 'o', 'p', 'e'); },
         [](const record &r) -> int64_t { return r.game.parameters.scenario_tag; }, DEFAULT_NETWORK_GAME_SCENARIO},
        {"a cooperative game's map nobody has",
         [](record &r) {
             r.game.parameters.scenario_tag = FOUR_CHARACTER_CODE('n', 'o', 'p', 'e');
             r.game.parameters.option_flags |= _game_option_cooperative_flag;
         },
         [](const record &r) -> int64_t { return r.game.parameters.scenario_tag; }, DEFAULT_COOPERATIVE_GAME_SCENARIO},
        {"a plug-in list that does not decode",
         [](record &r) {
             memset(r.game.parameters.plugin_data, 0xAB, sizeof(r.game.parameters.plugin_data));
             r.game.parameters.plugin_count = 2;
         },
         [](const record &r) -> int64_t { return r.game.parameters.plugin_count + r.game.parameters.plugin_data[0]; },
         0},
    };
    for (const row &r : rows)
    {
        record stored = defaults();
        r.damage(stored);
        store_raw(stored);
        record loaded;
        ASSERT_TRUE(load_netgame_preferences(&loaded.game, &loaded.player, nullptr, nullptr)) << r.what;
        EXPECT_EQ(r.field(loaded), r.expected) << r.what;
    }
}

// The last game's password never reaches the disk, and a loaded description
// never offers one; the record is readable by its owner alone.
TEST_F(networking_preferences_test, no_password_is_stored_and_the_file_is_the_owners_alone)
{
    const mode_t old_umask = umask(022);
    networking_preferences record = defaults();
    build_net_game_description(&record.game, "Friday", "hunter2", &record.game.parameters, 3453, 0, 1);
    EXPECT_TRUE(record.game.flags & _net_game_has_password_flag);
    new_game_data game_data;
    memset(&game_data, 0, sizeof(game_data));
    ASSERT_TRUE(save_netgame_preferences(&record.game, nullptr, &game_data, nullptr));

    const std::string bytes = stored_bytes();
    EXPECT_EQ(bytes.find("hunter2"), std::string::npos);
    EXPECT_NE(bytes.find("Friday"), std::string::npos);
    EXPECT_EQ(stored_file_mode(NETWORKING_PREFERENCES_NAME), 0600);

    // Even a record stored with a password by someone else is loaded without it.
    record.game.password[0] = 'x';
    store_raw(record);
    net_game_description loaded;
    ASSERT_TRUE(load_netgame_preferences(&loaded, nullptr, nullptr, nullptr));
    EXPECT_STREQ(loaded.name, "Friday");
    EXPECT_STREQ(loaded.password, "");
    umask(old_umask);
}

// The hosting port: 3453 and no log line without the section; the INI's port
// with a log line; a value that is no port refused with a log line.
TEST_F(networking_preferences_test, the_hosting_port_comes_from_the_poweruser_section)
{
    struct row
    {
        const char *ini;
        int32_t port;
        const char *logged; // null: nothing about the port
    };
    const row rows[] = {
        {nullptr, 3453, nullptr},
        {"[Other]\nPortNumber=1\n", 3453, nullptr},
        {"[Net.Hosting]\nPortNumber=4000\n", 4000, "Using Game Hosting Port Number = 4000"},
        {"[Net.Hosting]\nPortNumber=70000\n", 3453, "PortNumber 70000 is not a TCP port"},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.ini ? r.ini : "no file");
        dispose_poweruser_settings();
        forget_net_hosting_prefs();
        if (r.ini) { ASSERT_TRUE(load_poweruser_settings_from_buffer(r.ini, strlen(r.ini))); }
        const size_t log_before = log_text().size();
        EXPECT_EQ(get_net_hosting_prefs()->PortNumber, r.port);
        EXPECT_EQ(get_net_hosting_prefs()->PortNumber, r.port); // read once, kept
        const std::string logged = log_text().substr(log_before);
        if (r.logged)
            EXPECT_NE(logged.find(r.logged), std::string::npos) << logged;
        else
            EXPECT_EQ(logged.find("Port"), std::string::npos) << logged;
    }
}

// Advancing walks the filled entries and goes back to the first at the end
// of the list or at the first gap, never over it.
TEST_F(networking_preferences_test, the_next_game_wraps_to_the_first_at_the_end_or_at_an_empty_entry)
{
    std::vector<int> all;
    for (int i = 0; i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; ++i) all.push_back(i);
    const struct
    {
        std::vector<int> filled;
        int16_t from;
        int16_t expected;
    } cases[] = {
        {{0, 1, 3}, 1, 0}, // the gap at 2 ends the list: 3 is not reached
        {{0, 1, 3}, 0, 1},
        {{0}, 0, 0}, // a playlist of one game hosts it again
        {all, 30, 31},
        {all, 31, 0},
    };
    for (const auto &c : cases)
    {
        store_playlist(c.filled);
        net_game_description started = {};
        set_autohosted_game(c.from, &started);
        const net_game_description *next = get_next_autohosted_game_description();
        SCOPED_TRACE(testing::Message() << "from " << c.from << " over " << c.filled.size() << " games");
        EXPECT_EQ(get_autohost_playlist_index(), c.expected);
        EXPECT_EQ(std::string(next->name), "game " + std::to_string(c.expected));
        EXPECT_EQ(get_current_autohosted_game_description(), next);
        EXPECT_TRUE(next->parameters.option_flags & _game_option_server_is_observer_flag)
            << "the host of an automatic game only watches";
    }
}

// A record that is cut, of a later version or without a first game gives the
// default playlist: one game, hosted by an observer.
TEST_F(networking_preferences_test, a_damaged_record_gives_the_default_playlist)
{
    static autohost_preferences damaged;
    default_autohost_preferences(&damaged);
    strcpy(damaged.playlist[0].name, "kept?");
    const struct
    {
        const char *what;
        int16_t version;
        int32_t size;
        bool first_empty;
    } cases[] = {
        {"cut short", AUTOHOST_PREFERENCES_VERSION, 1000, false},
        {"a later version", AUTOHOST_PREFERENCES_VERSION + 1, sizeof(autohost_preferences), false},
        {"no first game", AUTOHOST_PREFERENCES_VERSION, sizeof(autohost_preferences), true},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        autohost_preferences record = damaged;
        if (c.first_empty) record.playlist[0].parameters.scenario_tag = (tag)NONE;
        record.playlist[5] = damaged.playlist[0]; // a second game a damaged record seems to hold
        store_raw_playlist(record, c.version, c.size);
        set_autohosted_game(0, &damaged.playlist[0]);
        const net_game_description *next = get_next_autohosted_game_description();
        EXPECT_EQ(std::string(next->name), "Autohosted Game");
        EXPECT_EQ(next->parameters.scenario_tag, DEFAULT_NETWORK_GAME_SCENARIO);
        EXPECT_EQ(next->port, WELLKNOWN_VESK_PORT);
        EXPECT_TRUE(next->parameters.option_flags & _game_option_server_is_observer_flag);
        EXPECT_EQ(get_autohost_playlist_index(), 0) << "the defaults hold one game";
        EXPECT_NE(tag_file_find_by_name(PREFERENCES_GROUP_TAG, AUTOHOST_PREFERENCES_NAME), NONE)
            << "reading never overwrites the stored record";
    }
}

TEST(networking_preferences_names, a_game_name_needs_a_visible_character)
{
    const std::pair<const char *, bool> rows[] = {{"", false}, {"   ", false}, {"\t\r\n", false},
                                                   {" a ", true}, {"\xC3\x9C", true}};
    for (const auto &r : rows) EXPECT_EQ(valid_netgame_name(r.first), r.second) << '"' << r.first << '"';
}

// A renamed player's team takes the new name unless the player named it.
TEST(networking_preferences_names, a_default_team_name_follows_the_players_new_name)
{
    const struct
    {
        const char *team, *old_name, *new_name, *result;
        bool changed;
    } rows[] = {
        {"root's Team", "root", "Bob", "Bob's Team", true},
        {"", "root", "Bob", "Bob's Team", true},
        {"Night Owls", "root", "Bob", "Night Owls", false},
        {"root's Team", "root", "root", "root's Team", false},
        {"root's Team", "root", "A name of thirty-one characters", "A name of thirty-one characters", true},
    };
    for (const auto &r : rows)
    {
        char team[PLAYER_NAME_SIZE];
        strlcpy(team, r.team, sizeof(team));
        EXPECT_EQ(team_name_follows_player_name(team, sizeof(team), r.old_name, r.new_name), r.changed) << r.team;
        EXPECT_STREQ(team, r.result) << r.team;
    }
}

} // namespace networking_preferences_test_file
