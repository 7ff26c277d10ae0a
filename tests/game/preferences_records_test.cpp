// Every preferences record the game keeps, saved through its own module over
// a stored record that was refused (cut by a crash, of the wrong size, of a
// version the game cannot read): the save writes it whole, as on a clean
// start, and leaves no "~" file behind.

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tag_files/store_fixture.h"

#include "fake_sdl_video.h"
#include "game_preferences.h"
#include "input/input_definitions.h"
#include "metaserver/metaserver_preferences.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "sound/sound_preferences.h"
#include "tag_files/preferences.h"
#include "vesk_networking/autohost_preferences.h"
#include "vesk_networking/networking_preferences.h"

namespace preferences_records_test_file {

namespace
{
class preferences_records : public store_fixture::store_test
{
protected:
    void SetUp() override // the screen record's defaults come from the devices found
    {
        store_test::SetUp(), fake_sdl::install(), fake_sdl::current().any_size = true, query_for_screen_devices();
        original_screen_width = 1024, original_screen_height = 768;
    }
    void TearDown() override
    {
        clear_screen_devices(), fake_sdl::uninstall(), original_screen_width = original_screen_height = NONE;
        store_test::TearDown();
    }
    // The stored record's bytes ("" when there is none) and version.
    std::string stored(const char *name, int16_t *version)
    {
        const int32_t index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, name);
        tag_file_info info = {};
        if (index == NONE || !tag_file_info_get(index, &info)) return "";
        *version = info.version;
        std::string bytes((size_t)info.size, '\0');
        return tag_file_read(index, 0, info.size, bytes.data()) ? bytes : "";
    }
    void restart_store(void) { dispose_tag_files(), start_store(); }
};

TEST_F(preferences_records, a_refused_record_is_rewritten_whole_at_the_next_save)
{
    input_definition definitions[NUMBER_OF_INPUT_SETS];
    mouse_control_data mouse[NUMBER_OF_INPUT_SETS];
    int16_t layout = 0;
    preferences_globals *autohost = get_autohost_preferences_store();
    const std::pair<const char *, std::function<bool(void)>> records[] = {
        {NETWORKING_PREFERENCES_NAME, [] { return save_last_joined_host("127.0.0.1"); }},
        {SCREEN_PREFERENCES_NAME,
         [] { screen_parameters p; return load_screen_parameters(&p), save_screen_parameters(&p); }},
        {METASERVER_PREFERENCES_NAME,
         [] {
             const bool written = read_metaserver_preferences() && write_metaserver_preferences();
             return free_metaserver_preferences(), written;
         }},
        {AUTOHOST_PREFERENCES_NAME,
         [=] {
             const bool written = read_preferences_convert(autohost, nullptr) && write_preferences(autohost);
             return free_preferences(autohost), written;
         }},
        {GAME_PREFERENCES_NAME, [] { return initialize_game_preferences(true) && write_game_preferences(); }},
        {SOUND_PREFERENCES_NAME, // written only when changed: the same change each time
         [] {
             use_sound_preferences_store(true), read_sound_preferences(true);
             get_sound_preferences()->master_volume = 128;
             const bool written = write_sound_preferences();
             return free_sound_preferences(), written;
         }},
        {INPUT_DEFINITIONS_PREFERENCES_NAME,
         [&] {
             load_input_definitions(definitions, mouse, &layout);
             return save_input_definitions(definitions, mouse, 0, layout);
         }},
    };
    for (const auto &[name, save] : records)
    {
        for (const char *damage : {"cut", "wrong size", "newer version"})
        {
            SCOPED_TRACE(std::string(name) + ": " + damage);
            std::filesystem::remove_all(PREFERENCES_FOLDER);
            restart_store();
            int16_t version = 0;
            ASSERT_TRUE(save());
            const std::string clean = stored(name, &version), path = std::string(PREFERENCES_FOLDER) + "/" + name;
            ASSERT_FALSE(clean.empty());
            const int32_t size = (int32_t)clean.size();
            if (damage[0] == 'c') write_whole_file(path, read_whole_file(path).data(), 10);
            if (damage[0] == 'w') write_local_tag(PREFERENCES_GROUP_TAG, name, version, clean.data(), size - 1);
            if (damage[0] == 'n') write_local_tag(PREFERENCES_GROUP_TAG, name, version + 1, clean.data(), size);
            restart_store(); // the next run
            EXPECT_TRUE(save());
            EXPECT_TRUE(save()) << "a second save";
            restart_store();
            EXPECT_EQ(stored(name, &version), clean);
            EXPECT_FALSE(std::filesystem::exists(std::string(PREFERENCES_FOLDER) + "/~" + name));
        }
    }
}
// Two processes of one folder (two games, a game and a tool) save the lobby
// record at the same moments: every save of both succeeds and the record
// left is one of theirs, whole, with nothing left aside.
TEST_F(preferences_records, two_processes_saving_the_lobby_record_at_once_both_succeed_and_leave_it_whole)
{
    std::filesystem::remove_all(PREFERENCES_FOLDER);
    restart_store();
    ASSERT_TRUE(read_metaserver_preferences() && write_metaserver_preferences());
    free_metaserver_preferences();
    pid_t children[2];
    for (int32_t child = 0; child < 2; ++child)
    {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] > 0) continue;
        int32_t failed = 0;
        for (int32_t save = 0; save < 200; ++save)
        {
            metaserver_parameters *record = read_metaserver_preferences();
            if (record) snprintf(record->user, sizeof(record->user), "child %d", (int)child);
            if (!record || !write_metaserver_preferences()) ++failed;
            free_metaserver_preferences();
        }
        _exit(failed ? 1 : 0);
    }
    for (const pid_t child : children)
    {
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
    }
    restart_store();
    const metaserver_parameters *record = read_metaserver_preferences();
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(!strcmp(record->user, "child 0") || !strcmp(record->user, "child 1")) << record->user;
    free_metaserver_preferences();
    EXPECT_FALSE(std::filesystem::exists(std::string(PREFERENCES_FOLDER) + "/~" + METASERVER_PREFERENCES_NAME));
}

} // namespace

} // namespace preferences_records_test_file
