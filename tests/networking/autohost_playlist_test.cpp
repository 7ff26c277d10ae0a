// The automatic host's playlist record: which game comes next, and the
// defaults that stand in for a record that is damaged or unreadable.

#include "tag_files/store_fixture.h"

#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "iniparser3.0b/inifile.h"
#include "tag_files/preferences.h"
#include "vesk_networking/autohost_preferences.h"
#include "vesk_networking/networking_preferences.h"

namespace {

constexpr tag SOME_MAP = FOUR_CHARACTER_CODE('m', 'a', 'p', '1');

class autohost_playlist : public store_fixture::store_test
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
        forget_net_hosting_prefs();
        store_test::TearDown();
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
            record.playlist[i].parameters.scenario_tag = SOME_MAP;
            snprintf(record.playlist[i].name, sizeof(record.playlist[i].name), "game %d", i);
        }
        store_raw(record, AUTOHOST_PREFERENCES_VERSION);
    }
    void store_raw(autohost_preferences record, int16_t version, int32_t size = sizeof(autohost_preferences))
    {
        ASSERT_TRUE(byte_swap_data("autohost", &record, (int32_t)sizeof(record), 1,
                                   autohost_preferences_byte_swapping_data));
        write_local_tag(PREFERENCES_GROUP_TAG, AUTOHOST_PREFERENCES_NAME, version, &record, size);
    }
};

} // namespace

// Advancing walks the filled entries and goes back to the first at the end
// of the list or at the first gap, never over it.
TEST_F(autohost_playlist, the_next_game_wraps_to_the_first_at_the_end_or_at_an_empty_entry)
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
TEST_F(autohost_playlist, a_damaged_record_gives_the_default_playlist)
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
        store_raw(record, c.version, c.size);
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
