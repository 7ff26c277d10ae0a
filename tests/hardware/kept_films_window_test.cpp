// A player keeps a film by copying "films/Last Game", as the README invites,
// between two games of Skirmish Hill played in a real window: the second game
// is recorded whole and saved, the copy stays as it was, and both films and
// the save are listed under their own names.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "game_states.h"
#include "game_time.h"
#include "recording_format.h"
#include "saved_games.h"
#include "support/demo_data.h"
#include "support/game_window.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

namespace kept_films_window_test_file {

namespace {

namespace fs = std::filesystem;

class kept_films_window : public game_window_fixture
{
protected:
    // The names the store lists in `group`.
    static std::set<std::string> listed(tag group)
    {
        tag_file_info filter;
        tag_file_info_new(&filter);
        filter.group_tag = group;
        std::vector<int32_t> indexes(64);
        const int32_t count = tag_file_enumerate(&filter, indexes.data(), (int32_t)indexes.size());
        std::set<std::string> names;
        for (int32_t i = 0; i < count; ++i) names.insert(tag_file_name_get(indexes[(size_t)i]));
        return names;
    }
    // The film at `path`: its ending time, and whether its blocks run whole to a last one.
    static bool film_is_whole(const std::string &path, int32_t *ending_time)
    {
        const std::vector<uint8_t> file = read_file_bytes(path);
        const size_t local = sizeof(local_tag_file_header);
        if (file.size() < local + RECORDING_FILE_HEADER_SIZE) return false;
        recording_file_header header;
        memcpy(&header, &file[local], sizeof(header));
        byte_swap_recording_header(&header);
        *ending_time = header.recording_ending_time;
        for (size_t at = local + (size_t)header.data_offset; at + 8 <= file.size();)
        {
            if (read_be32(&file[at]) & 1) return at + 8 + read_be16(&file[at + 4]) == file.size();
            at += 8 + read_be16(&file[at + 4]);
        }
        return false;
    }
};

TEST_F(kept_films_window, a_copy_of_the_last_film_leaves_the_next_game_recorded_and_saved)
{
    std::vector<test_tag> map;
    ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), "skirmish_hill.map", "skir", &map));
    ASSERT_NO_FATAL_FAILURE(start_program(map));
    const std::string last = std::string(FILMS_FOLDER) + "/Last Game", copy = std::string(FILMS_FOLDER) + "/My Battle";

    start_map("skir", 60);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    dispose_vesk_from_old_map();
    int32_t first_end = 0;
    ASSERT_TRUE(film_is_whole(last, &first_end));
    fs::copy_file(last, copy);
    const std::vector<uint8_t> kept = read_file_bytes(copy);

    start_map("skir", 90);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    ASSERT_TRUE(create_saved_game("Second game")) << read_whole_file("game.log");
    run_frames(30);
    const int32_t second_time = game_->game_time;
    dispose_vesk_from_old_map();

    int32_t second_end = 0;
    EXPECT_TRUE(film_is_whole(last, &second_end)) << "the second game's film";
    EXPECT_EQ(second_end, second_time);
    EXPECT_TRUE(read_file_bytes(copy) == kept) << "the copy is as it was";
    int32_t copy_end = 0;
    EXPECT_TRUE(film_is_whole(copy, &copy_end));
    EXPECT_EQ(copy_end, first_end);
    tag_files_open(-1, nullptr, -1, -1, 0);
    EXPECT_EQ(listed(RECORDING_GROUP_TAG), std::set<std::string>({"Last Game", "My Battle"}));
    EXPECT_EQ(listed(SAVED_GAME_GROUP_TAG), std::set<std::string>({"Second game"}));
    const int32_t save = tag_file_find_by_name(SAVED_GAME_GROUP_TAG, "Second game");
    recording_file_header file_header;
    save_game_header header;
    tag_file_info info;
    ASSERT_TRUE(read_saved_game_headers(save, &file_header, &header) && tag_file_info_get(save, &info));
    EXPECT_EQ(recording_file_problem(save, &file_header, info.size), nullptr) << "the save loads";
    const std::string log = stop_program();
    EXPECT_EQ(log.find("couldn't read recording tag"), std::string::npos) << log;
    EXPECT_EQ(log.find("Unable to read the current recording"), std::string::npos) << log;
}

} // namespace

} // namespace kept_films_window_test_file
