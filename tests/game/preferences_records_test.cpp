// Every preferences record the game keeps, saved through its own module over
// a stored record that was refused (cut by a crash, of the wrong size, of a
// version the game cannot read): the save writes the record whole, as on a
// clean start, and leaves no "~" file behind.

#include <filesystem>
#include <functional>
#include <string>

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

namespace
{
namespace fs = std::filesystem;

class preferences_records : public store_fixture::store_test
{
protected:
    // The screen record's defaults come from the devices found.
    void SetUp() override
    {
        store_test::SetUp();
        fake_sdl::install();
        fake_sdl::current().any_size = true;
        clear_screen_devices();
        query_for_screen_devices();
        original_screen_width = 1024;
        original_screen_height = 768;
    }
    void TearDown() override
    {
        clear_screen_devices();
        fake_sdl::uninstall();
        original_screen_width = original_screen_height = NONE;
        store_test::TearDown();
    }

    // The stored record's bytes and version; "" when there is none.
    std::string stored(const char *name, int16_t *version = nullptr)
    {
        const int32_t tag_index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, name);
        tag_file_info info;
        if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return "";
        if (version) *version = info.version;
        std::string bytes((size_t)info.size, '\0');
        EXPECT_TRUE(tag_file_read(tag_index, 0, info.size, bytes.data()));
        return bytes;
    }

    void restart_store(void)
    {
        dispose_tag_files();
        start_store();
    }
};

TEST_F(preferences_records, a_refused_record_is_rewritten_whole_at_the_next_save)
{
    input_definition definitions[NUMBER_OF_INPUT_SETS];
    mouse_control_data mouse[NUMBER_OF_INPUT_SETS];
    int16_t layout = 0;
    const struct
    {
        const char *name;
        std::function<bool(void)> save;
    } records[] = {
        {NETWORKING_PREFERENCES_NAME, [] { return save_last_joined_host("127.0.0.1"); }},
        {SCREEN_PREFERENCES_NAME,
         [] {
             screen_parameters record;
             load_screen_parameters(&record);
             return save_screen_parameters(&record);
         }},
        {METASERVER_PREFERENCES_NAME,
         [] {
             const bool written = read_metaserver_preferences() && write_metaserver_preferences();
             free_metaserver_preferences();
             return written;
         }},
        {AUTOHOST_PREFERENCES_NAME,
         [] {
             preferences_globals *store = get_autohost_preferences_store();
             const bool written = read_preferences_convert(store, nullptr) && write_preferences(store);
             free_preferences(store);
             return written;
         }},
        {GAME_PREFERENCES_NAME, [] { return initialize_game_preferences(true) && write_game_preferences(); }},
        {SOUND_PREFERENCES_NAME,
         [] {
             // The module writes only a changed record: the same change each time.
             use_sound_preferences_store(true);
             read_sound_preferences(true);
             get_sound_preferences()->master_volume = SOUND_PREFERENCES_MAXIMUM_VOLUME / 2;
             const bool written = write_sound_preferences();
             free_sound_preferences();
             return written;
         }},
        {INPUT_DEFINITIONS_PREFERENCES_NAME,
         [&] {
             load_input_definitions(definitions, mouse, &layout);
             return save_input_definitions(definitions, mouse, 0, layout);
         }},
    };
    enum damage
    {
        _cut,
        _wrong_size,
        _newer_version,
    };
    for (const auto &record : records)
    {
        for (const damage kind : {_cut, _wrong_size, _newer_version})
        {
            SCOPED_TRACE(std::string(record.name) + " damage " + std::to_string(kind));
            fs::remove_all(PREFERENCES_FOLDER);
            restart_store();
            ASSERT_TRUE(record.save());
            int16_t version = 0;
            const std::string clean = stored(record.name, &version);
            ASSERT_FALSE(clean.empty());
            const std::string path = std::string(PREFERENCES_FOLDER) + "/" + record.name;
            const std::string file = store_fixture::read_whole_file(path);
            switch (kind)
            {
            case _cut: store_fixture::write_whole_file(path, file.data(), 10); break;
            case _wrong_size:
                write_local_tag(PREFERENCES_GROUP_TAG, record.name, version, clean.data(), (int32_t)clean.size() - 1);
                break;
            case _newer_version:
                write_local_tag(PREFERENCES_GROUP_TAG, record.name, (int16_t)(version + 1), clean.data(),
                                (int32_t)clean.size());
                break;
            }
            // The next run: the refused record gives way to the defaults at the save.
            restart_store();
            EXPECT_TRUE(record.save());
            EXPECT_TRUE(record.save()) << "a second save";
            restart_store();
            EXPECT_EQ(stored(record.name), clean);
            EXPECT_FALSE(fs::exists(std::string(PREFERENCES_FOLDER) + "/~" + record.name));
        }
    }
}
} // namespace
