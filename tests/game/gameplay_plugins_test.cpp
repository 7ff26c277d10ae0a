// Gameplay plug-ins travel in a game's encoded plug-in list: the host adds
// those of the chosen rules, and removes them again before the game starts.

#include <gtest/gtest.h>

#include <cstring>

#include "game_records.h"
#include "gameplay_plugins.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

namespace gameplay_plugins_test_file {

namespace {

class gameplay_plugins_test : public ::testing::Test
{
protected:
    scratch_directory scratch;
    new_game_parameter_data parameters;

    void SetUp() override
    {
        make_store_folders();
        quiet_error_manager();
        // Plug-ins 0 "Maps" (ordinary), 1 rules for 1701, 2 rules for 1800.
        ASSERT_TRUE(write_foundation_files({}));
        ASSERT_TRUE(write_monolithic_file("plugins/Maps", _tag_file_type_plugin, {}, "Maps", "example.org/maps"));
        ASSERT_TRUE(write_monolithic_file("plugins/Rules 1701", _tag_file_type_gameplay_plugin, {}, "Rules 1701", "", 0, 1701));
        ASSERT_TRUE(write_monolithic_file("plugins/Rules 1800", _tag_file_type_gameplay_plugin, {}, "Rules 1800", "", 0, 1800));
        initialize_tag_files();
        ASSERT_EQ(tag_files_open(0, nullptr, 0, -1, 0), 0);
        ASSERT_EQ(tag_file_get_plugin_count(), 3);
        ASSERT_STREQ(get_plugin_data(0)->name, "Maps");
        ASSERT_STREQ(get_plugin_data(2)->name, "Rules 1800");
        reset_parameters();
    }
    // Parameters that list the ordinary plug-in only.
    void reset_parameters(void)
    {
        memset(&parameters, 0, sizeof(parameters));
        const int16_t maps[] = {0};
        ASSERT_GT(tag_file_plugins_encode(maps, 1, parameters.plugin_data), 0);
        parameters.plugin_count = 1;
    }
    void TearDown() override { dispose_tag_files(); }

    // What a peer decodes: the ordinary plug-ins and the highest gameplay version.
    void decoded(int32_t *count, int32_t *highest)
    {
        int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
        ASSERT_TRUE(tag_file_plugins_decode(indexes, count, parameters.plugin_data, highest, nullptr, 0));
        ASSERT_GE(*count, 1);
        EXPECT_EQ(indexes[0], 0) << "the ordinary plug-ins keep their place";
    }
};

TEST_F(gameplay_plugins_test, the_chosen_rules_are_added_and_removed_again)
{
    const struct
    {
        int32_t selector;
        int32_t highest;     // the gameplay version peers read; -1: none travels
        int16_t plugin_count;
    } cases[] = {
        {1800, 1800, 2}, // a positive selector names the version
        {1701, 1701, 2},
        {-1, -1, 1},     // the default rules need no plug-in
    };
    for (const auto &c : cases)
    {
        reset_parameters();
        ASSERT_TRUE(add_encoded_gameplay_plugins(&parameters, c.selector)) << c.selector;
        EXPECT_EQ(parameters.plugin_count, c.plugin_count) << c.selector;
        int32_t count = 0, highest = 0;
        decoded(&count, &highest);
        EXPECT_EQ(count, 1) << c.selector;
        EXPECT_EQ(highest, c.highest) << c.selector;

        ASSERT_TRUE(remove_encoded_gameplay_plugins(&parameters)) << c.selector;
        EXPECT_EQ(parameters.plugin_count, 1) << c.selector;
        decoded(&count, &highest);
        EXPECT_EQ(highest, -1) << c.selector;
    }
}

TEST_F(gameplay_plugins_test, a_list_that_does_not_decode_is_left_untouched)
{
    memset(parameters.plugin_data, 0xFF, sizeof(parameters.plugin_data));
    const new_game_parameter_data before = parameters;
    EXPECT_FALSE(add_encoded_gameplay_plugins(&parameters, 1800));
    EXPECT_FALSE(remove_encoded_gameplay_plugins(&parameters));
    EXPECT_EQ(memcmp(&before, &parameters, sizeof(parameters)), 0);
}

} // namespace

} // namespace gameplay_plugins_test_file
