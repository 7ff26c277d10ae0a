// The plug-in component files as the program loads and saves them: the round
// trip, an empty choice deleting the file, names refused for the default, and
// the first start's choice of interface.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "plugin_components.h"
#include "support/scratch.h"
#include "tag_files/preferences.h"

namespace plugin_components_test_file {

namespace
{

const std::string interface_file = "preferences/interface plugin";
const std::string lobby_file = "preferences/metaserver plugin";

int32_t screen_width = 0, screen_height = 0;
void test_screen_size(int32_t *width, int32_t *height)
{
    *width = screen_width;
    *height = screen_height;
}

class plugin_components : public ::testing::Test
{
protected:
    scratch_directory scratch;
    plugin_component_screen_size_procedure saved = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(scratch.entered);
        reset_plugin_components();
        saved = use_plugin_component_screen_size(test_screen_size);
    }
    void TearDown() override
    {
        use_plugin_component_screen_size(saved);
        reset_plugin_components();
    }
    static const char *chosen(int32_t index) { return get_plugin_component(index)->chosen_plugin; }
    static void store(const std::string &path, const std::string &text)
    {
        mkdir("preferences", 0755);
        ASSERT_TRUE(write_whole_file(path, text.data(), text.size()));
    }
};

TEST_F(plugin_components, choices_round_trip_and_an_empty_choice_deletes_the_file)
{
    strcpy(get_plugin_component(_metaserver_plugin_component)->chosen_plugin, "Other Lobby");
    strcpy(get_plugin_component(_interface_plugin_component)->chosen_plugin, "Big Interface");
    save_plugin_component_prefs(ALL_PLUGIN_COMPONENTS);
    EXPECT_EQ(read_whole_file(lobby_file), "Other Lobby");
    EXPECT_EQ(read_whole_file(interface_file), "Big Interface");

    reset_plugin_components();
    load_plugin_component_prefs(ALL_PLUGIN_COMPONENTS);
    EXPECT_STREQ(chosen(_metaserver_plugin_component), "Other Lobby");
    EXPECT_STREQ(chosen(_interface_plugin_component), "Big Interface");

    get_plugin_component(_metaserver_plugin_component)->chosen_plugin[0] = 0;
    save_plugin_component_prefs(_metaserver_plugin_component);
    EXPECT_EQ(access(lobby_file.c_str(), F_OK), -1);
    EXPECT_EQ(read_whole_file(interface_file), "Big Interface") << "only the one asked for";
    EXPECT_EQ(get_plugin_component(2), nullptr);
    save_plugin_component_prefs(7); // nothing to save: nothing happens
}

TEST_F(plugin_components, a_cut_empty_or_unprintable_name_is_ignored_for_the_default)
{
    const struct
    {
        const char *what;
        std::string text;
        bool cut;
        const char *loaded;
    } cases[] = {
        {"31 characters", std::string(31, 'a'), false, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"31 and a line break", std::string(31, 'b') + "\r\n", false, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
        {"32 characters", std::string(32, 'c'), true, DEFAULT_METASERVER_PLUGIN_NAME},
        {"a long file", std::string(500, 'd'), true, DEFAULT_METASERVER_PLUGIN_NAME},
        {"empty", "", false, DEFAULT_METASERVER_PLUGIN_NAME},
        {"a control character", "Lob\x01y", false, DEFAULT_METASERVER_PLUGIN_NAME},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        store(lobby_file, c.text);
        char name[64];
        bool cut = !c.cut;
        EXPECT_TRUE(read_plugin_component_file(METASERVER_PLUGIN_COMPONENT_FILE_NAME, name, sizeof(name), &cut));
        EXPECT_EQ(cut, c.cut);
        EXPECT_LE(strlen(name), 31u);
        reset_plugin_components();
        load_plugin_component_prefs(_metaserver_plugin_component);
        EXPECT_STREQ(chosen(_metaserver_plugin_component), c.loaded);
    }
}

TEST_F(plugin_components, a_first_start_chooses_the_larger_interface_only_when_it_is_there_and_fits)
{
    const struct
    {
        bool installed;
        int32_t width, height;
        const char *expected;
    } cases[] = {
        {true, 800, 600, LARGE_INTERFACE_PLUGIN_NAME},
        {true, 1920, 1080, LARGE_INTERFACE_PLUGIN_NAME},
        {true, 799, 600, "Vesk II Interface (640x480)"},
        {true, 800, 599, "Vesk II Interface (640x480)"},
        {false, 1920, 1080, "Vesk II Interface (640x480)"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.installed << " " << c.width << "x" << c.height);
        unlink(interface_file.c_str());
        unlink(("plugins/" LARGE_INTERFACE_PLUGIN_NAME));
        if (c.installed)
        {
            mkdir("plugins", 0755);
            ASSERT_TRUE(write_whole_file("plugins/" LARGE_INTERFACE_PLUGIN_NAME, "x", 1));
        }
        screen_width = c.width;
        screen_height = c.height;
        reset_plugin_components();
        load_plugin_component_prefs(ALL_PLUGIN_COMPONENTS);
        EXPECT_STREQ(chosen(_interface_plugin_component), c.expected);
        EXPECT_EQ(read_whole_file(interface_file), c.expected) << "the choice is written";
        EXPECT_STREQ(chosen(_metaserver_plugin_component), DEFAULT_METASERVER_PLUGIN_NAME);
        EXPECT_EQ(access(lobby_file.c_str(), F_OK), -1) << "the lobby's built-in choice is not written";
    }
    // Once written, the file decides: a smaller screen later keeps the choice.
    screen_width = 640;
    reset_plugin_components();
    mkdir("plugins", 0755);
    ASSERT_TRUE(write_whole_file("plugins/" LARGE_INTERFACE_PLUGIN_NAME, "x", 1));
    store(interface_file, LARGE_INTERFACE_PLUGIN_NAME);
    load_plugin_component_prefs(_interface_plugin_component);
    EXPECT_STREQ(chosen(_interface_plugin_component), LARGE_INTERFACE_PLUGIN_NAME);
}

} // namespace

} // namespace plugin_components_test_file
